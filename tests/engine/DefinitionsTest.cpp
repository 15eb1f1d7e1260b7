#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"
#include "platform/XMLU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Doc(const std::string &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<fixwell ver=\"9.9\">" + body + "</fixwell>";
}

std::string Ids(const TfwCategory *c)
{
    std::string s;
    if (!c) return "(none)";
    for (const TfwGroup *g : c->Groups) s += (s.empty() ? "" : ",") + g->Id;
    return s;
}

struct LanguageGuard {
    std::string saved = UILanguage();
    ~LanguageGuard() { SetUILanguage(saved); }
};

TEST(Definitions, CategoriesMergeAndGroupsSortByOrder)
{
    TfwMain m;
    m.LoadDefinitionsFromText(
        "\xEF\xBB\xBF" +
        Doc("<fix><group id=\"c\" order=\"3\"><items type=\"clsid\"/></group>"
            "<group id=\"a1\" order=\"1\"><items type=\"clsid\"/></group></fix>"
            "<FIX><group id=\"b\" order=\"2\"><items type=\"clsid\"/></group>"
            "<group id=\"a2\" order=\"1\"><items type=\"clsid\"/></group>"
            "<group id=\"z\" order=\"x\" progsize=\"y\"><items type=\"clsid\"/></group></FIX>"));
    EXPECT_EQ(m.Version, "9.9");
    ASSERT_NE(m.Fix, nullptr);
    EXPECT_EQ(m.Boost, nullptr);
    // Not a number sorts as 0; equal orders keep document order across both elements.
    EXPECT_EQ(Ids(m.Fix), "z,a1,a2,b,c");
    EXPECT_EQ(m.Fix->Groups[0]->Order, 0);
    EXPECT_EQ(m.Fix->Groups[0]->ProgressSize, 10);
}

TEST(Definitions, FirstKnownItemsTypeWinsAndUnknownGroupsAreDropped)
{
    TfwMain m;
    m.LoadDefinitionsFromText(Doc(
        "<boost><group id=\"two\"><items type=\"nonsense\"/><items type=\"MEMORY\"/><items type=\"clsid\"/></group>"
        "<group id=\"gone\"><items type=\"nonsense\"/></group><group id=\"none\"/>"
        "<group id=\"caps\"><ITEMS type=\"memory\"/></group></boost>"));
    ASSERT_NE(m.Boost, nullptr);
    EXPECT_EQ(Ids(m.Boost), "two");
    EXPECT_EQ(m.Boost->Groups[0]->ItemsType, "memory");
    EXPECT_NE(dynamic_cast<TfwItemsMemory *>(m.Boost->Groups[0]->Items), nullptr);
}

TEST(Definitions, CaptionLanguageFallback)
{
    LanguageGuard guard;
    TfwMain m;
    m.LoadDefinitionsFromText(Doc(
        "<clean><group id=\"g\"><caption>English</caption><caption lng=\"PT\">Portugues</caption>"
        "<caption lng=\"de\">Deutsch</caption><caption lng=\"de\"></caption>"
        "<hint lng=\"cs\">jen cesky</hint><items type=\"recycle-bin\"/></group></clean>"));
    ASSERT_NE(m.Clean, nullptr);
    const TfwGroup *g = m.Clean->Groups.at(0);
    const struct {
        const char *lang;
        const wchar_t *caption;
        const wchar_t *hint;
    } cases[] = {
        {"pt-BR", L"Portugues", L""}, {"pt", L"Portugues", L""}, {"fr", L"English", L""},
        {"", L"English", L""},        {"de", L"English", L""},  {"cs", L"English", L"jen cesky"},
        {"fr-CA", L"English", L""},
    };
    for (const auto &c : cases) {
        SetUILanguage(c.lang);
        EXPECT_EQ(g->Caption(), c.caption) << c.lang;
        EXPECT_EQ(g->Hint(), c.hint) << c.lang;
    }
}

TEST(Definitions, RegistryEntryChecks)
{
    TfwMain m;
    m.LoadDefinitionsFromText(Doc(
        "<boost><group id=\"l\"><items type=\"list\">"
        "<reg root=\"hklm\" key=\"K\" name=\"max\" value=\"4294967295\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"over\" value=\"4294967296\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"neg\" value=\"-1\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"word\" value=\"ten\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"hex\" value=\"$0000FA00\" type=\"NUM\" scan=\"EXISTS\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"odd\" value=\"ABC\" type=\"bin\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKLM\" key=\"K\" name=\"even\" value=\"ABCD\" type=\"bin\" scan=\"backup\" fix=\"del\"/>"
        "<reg root=\"HKXX\" key=\"K\" name=\"root\" value=\"1\" type=\"str\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKCU\" key=\"\" name=\"nokey\" value=\"1\" type=\"str\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKCU\" key=\"K\" name=\"nofix\" value=\"1\" type=\"str\" scan=\"value\" fix=\"write\"/>"
        "<reg root=\"HKCU\" key=\"A#5CB#zzC#5c\" name=\"x#22#23\" value=\"a&amp;b\" type=\"mulstr\" scan=\"value\" fix=\"value\"/>"
        "<file path=\"%WINDIR%\\*.log\" scan=\"exists\" fix=\"del\" is64=\"1\"/>"
        "<file path=\"%WINDIR%\\*.log\" scan=\"exists\" fix=\"wipe\"/>"
        "<file path=\"%WINDIR%\\*.log\" scan=\"present\" fix=\"clean\"/>"
        "<file path=\"\" scan=\"exists\" fix=\"clean\"/>"
        "</items></group></boost>"));
    ASSERT_NE(m.Boost, nullptr);
    const auto &list = m.Boost->Groups.at(0)->Items->List;
    std::vector<std::string> names;
    for (TfwItem *i : list)
        if (auto *r = dynamic_cast<TfwRegItem *>(i)) names.push_back(r->ValueName);
    EXPECT_EQ(names, (std::vector<std::string>{"max", "hex", "even", "x\"#"}));
    ASSERT_EQ(list.size(), 5u);

    auto *hex = dynamic_cast<TfwRegItem *>(list[1]);
    EXPECT_EQ(hex->ScanMode, smExists);
    uint32_t v = 0;
    EXPECT_TRUE(ParseRegNumber(hex->Value, v));
    EXPECT_EQ(v, 0xFA00u);

    // "#5C" reads as a backslash, "#zz" disappears with its two characters.
    auto *esc = dynamic_cast<TfwRegItem *>(list[3]);
    EXPECT_EQ(esc->Root, HKEY_CURRENT_USER);
    EXPECT_EQ(esc->Key, "A\\BC\\");
    EXPECT_EQ(esc->Value, "a&b");
    EXPECT_EQ(esc->ValueType, rtMulStr);

    auto *file = dynamic_cast<TfwFileItem *>(list[4]);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Is64);
    EXPECT_EQ(file->FixMode, ffDelete);
}

TEST(Definitions, WrittenRegElementRoundTrips)
{
    TfwRegItem item(nullptr);
    item.Root = HKEY_LOCAL_MACHINE;
    item.Key = "Soft\\a\"b#c";
    item.ValueName = "<n>";
    item.Value = std::string("x&lt;\x01y\0z", 9);
    item.ValueType = rtMulStr;
    item.Is64 = true;
    item.ScanMode = smNone;
    item.FixMode = fmDelete;
    item.Date = 45000.75;
    EXPECT_EQ(item.GetXML(),
              "<reg root=\"HKLM\" key=\"Soft\\a#22b#23c\" name=\"#3Cn#3E\" value=\"x#26lt;#01y#00z\" type=\"mulstr\""
              " is64=\"1\" scan=\"exists\" fix=\"del\" date=\"45000\" />");

    item.ScanMode = smBackup;
    TXML x;
    x.LoadFromString(item.GetXML());
    TfwRegItem back(nullptr);
    back.LoadFromXML(x.Root()->FindFirst("reg"));
    EXPECT_EQ(back.Root, item.Root);
    EXPECT_EQ(back.Key, item.Key);
    EXPECT_EQ(back.ValueName, item.ValueName);
    EXPECT_EQ(back.Value, item.Value);
    EXPECT_EQ(back.ValueType, item.ValueType);
    EXPECT_TRUE(back.Is64);
    EXPECT_EQ(back.Date, 45000);

    TfwRegItem plain(nullptr);
    plain.Root = HKEY_USERS;
    plain.Key = "k";
    EXPECT_EQ(plain.GetXML(), "<reg root=\"HKU\" key=\"k\" name=\"\" value=\"\" type=\"\" scan=\"exists\" fix=\"\" />");
}

TEST(Definitions, ScannerListsAndExceptions)
{
    TfwMain m;
    m.LoadDefinitionsFromText(Doc(
        "<fix><group id=\"mf\"><items type=\"missing-files\">"
        "<ScanList><item root=\"HKLM\" key=\"SOFTWARE\"/></ScanList>"
        "<ignorelist><item root=\"HKLM\" key=\"b\"/><item root=\"HKCU\" key=\"A\"/></ignorelist>"
        "<exceptlist><item key=\"\\Control\\CrashControl\" value=\"DumpFile\"/></exceptlist>"
        "</items></group></fix>"
        "<boost><group id=\"ds\"><items type=\"delay-startup\">"
        "<startup name=\" Tool \" priority=\"3\">  %PROGRAMFILES%\\T\\t.exe </startup>"
        "<startup>%PROGRAMFILES%\\U\\u.exe</startup><startup name=\"empty\"> </startup>"
        "</items></group>"
        "<group id=\"ao\"><items type=\"addons\"><addon name=\" N \" ie=\"{ab-cd}\" ff=\"X@Y.org\"/>"
        "<addon ie=\"{no-name}\"/></items></group></boost>"
        "<exceptions><reg root=\"HKLM\" key=\"Software\\Foo\\\" ignore=\"KEY\"/>"
        "<reg root=\"HKLM\" key=\"Software\\Bar\" name=\"v\" ignore=\"value\"/>"
        "<reg root=\"HKLM\" key=\"Software\\Baz\" ignore=\"all\"/></exceptions>"));

    auto *mf = dynamic_cast<TfwItemsMissingFiles *>(m.Fix->Groups.at(0)->Items);
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->ScanList, (std::vector<std::string>{"HKLM\\SOFTWARE"}));
    EXPECT_EQ(mf->IgnoreList, (std::vector<std::string>{"HKCU\\A", "HKLM\\b"}));
    EXPECT_EQ(mf->ExceptList, (std::vector<std::string>{"\\Control\\CrashControl=DUMPFILE"}));

    auto *ds = m.Boost->GroupById("ds")->Items;
    ASSERT_EQ(ds->List.size(), 2u);
    auto *tool = dynamic_cast<TfwStartupItem *>(ds->List[0]);
    auto *u = dynamic_cast<TfwStartupItem *>(ds->List[1]);
    EXPECT_EQ(tool->Name, "Tool");
    EXPECT_EQ(tool->Pattern, "%PROGRAMFILES%\\T\\t.exe");
    EXPECT_EQ(tool->Priority, 3);
    EXPECT_EQ(u->Name, "u.exe");
    EXPECT_EQ(u->Priority, 1);

    auto *ao = dynamic_cast<TfwItemsAddOns *>(m.Boost->GroupById("ao")->Items);
    ASSERT_NE(ao, nullptr);
    EXPECT_EQ(m.AddOns, ao);
    EXPECT_EQ(ao->IEList, (std::vector<std::string>{"{AB-CD}=N"}));
    EXPECT_EQ(ao->FFList, (std::vector<std::string>{"x@y.org=N"}));

    TfwExceptions *ex = ProcessExceptions();
    ASSERT_NE(ex, nullptr);
    TfwRegItem item(nullptr);
    item.Root = HKEY_LOCAL_MACHINE;
    const struct {
        const char *key, *name;
        bool excepted;
    } cases[] = {
        {"SOFTWARE\\FOO", "x", true},   {"software\\foobar\\x", "", true}, {"Software\\Bar\\", "V", true},
        {"Software\\Bar", "w", false},  {"Software\\Bar\\Sub", "v", false}, {"Software\\Baz", "", false},
    };
    for (const auto &c : cases) {
        item.Key = c.key;
        item.ValueName = c.name;
        EXPECT_EQ(ex->IsRegExcepted(item), c.excepted) << c.key << " " << c.name;
    }
    item.Root = HKEY_CURRENT_USER;
    item.Key = "SOFTWARE\\FOO";
    EXPECT_FALSE(ex->IsRegExcepted(item));
}

// Truncating the shipped document anywhere, or cutting bytes out of it, gives
// a smaller tree, never a crash.
TEST(Definitions, DamagedDocumentsLoadSmallerTrees)
{
    TfwMain full;
    full.LoadDefinitions();
    ASSERT_NE(full.Clean, nullptr);
    HRSRC res = FindResourceA(nullptr, "DATA", MAKEINTRESOURCEA(10));
    ASSERT_NE(res, nullptr);
    std::string text(static_cast<const char *>(LockResource(LoadResource(nullptr, res))), SizeofResource(nullptr, res));

    size_t fullGroups = full.Fix->Groups.size() + full.Boost->Groups.size() + full.Clean->Groups.size();
    for (size_t len = 0; len < text.size(); len += 997) {
        TfwMain m;
        m.LoadDefinitionsFromText(text.substr(0, len));
        size_t groups = 0;
        for (TfwCategory *c : {m.Fix, m.Boost, m.Clean})
            if (c) groups += c->Groups.size();
        EXPECT_LE(groups, fullGroups) << len;
    }
    for (size_t at = 0; at + 40 < text.size(); at += 1511) {
        TfwMain m;
        m.LoadDefinitionsFromText(text.substr(0, at) + text.substr(at + 40));
    }
    TfwMain none;
    none.LoadDefinitionsFromText("<other><fix/></other>");
    EXPECT_EQ(none.Fix, nullptr);
}

// The tree built from the definitions carried in the program.
TEST(Definitions, ShippedDocument)
{
    LanguageGuard guard;
    TfwMain m;
    m.LoadDefinitions();
    EXPECT_EQ(m.Version, "1.0.0.0");
    ASSERT_TRUE(m.Fix && m.Boost && m.Clean);

    const struct {
        const char *id;
        int order, weight;
        bool settings;
        const char *type;
        const wchar_t *en, *cs, *settingsEn, *settingsCs;
        size_t entries;
    } groups[] = {
        {"reg-clsid", 1, 200, true, "clsid", L"CLSID Registration", L"Registrace CLSID", L"CLSID", L"CLSID", 0},
        {"reg-interface", 2, 150, true, "interface", L"Interfaces Registration", L"Registrace rozhraní Interface",
         L"Interface", L"Interface", 0},
        {"reg-typelib", 3, 100, true, "typelib", L"Typelib Registration", L"Registrace knihoven Typelib", L"Typelib",
         L"Typelib", 0},
        {"reg-uninstall", 4, 100, true, "uninstall", L"Uninstall Registration", L"Registrace odinstalací",
         L"Uninstall", L"Odinstalace", 0},
        {"reg-shared-dll", 5, 30, true, "shared-dll", L"Shared DLLs Registration",
         L"Registrace sdílených knihoven", L"Shared DLLs", L"Sdílené knihovny", 0},
        {"reg-muicache", 6, 30, true, "muicache", L"MUI Cache", L"Aplikace v MUI Cache", L"MUI Cache", L"MUI Cache", 0},
        {"reg-startup", 7, 60, true, "startup", L"Startup Programs", L"Programy po spuštění", L"Startup Programs",
         L"Programy po spuštění", 0},
        {"reg-app-paths", 8, 30, true, "app-paths", L"App Paths", L"Cesty aplikace", L"App Paths", L"Cesty aplikace", 0},
        {"reg-missing-files", 9, 400, true, "missing-files", L"Missing Files", L"Chybějící soubory", L"Missing Files",
         L"Chybějící soubory", 0},
        {"win-boost", 11, 10, false, "list", L"Win Booster", L"Optimalizace Windows", L"", L"", 9},
        {"int-boost", 12, 10, false, "list", L"Internet Booster", L"Optimalizace nastavení Internetu", L"", L"", 8},
        {"memory", 13, 10, false, "memory", L"Memory Release", L"Uvolnění paměti", L"", L"", 0},
        {"delay-startup", 14, 10, false, "delay-startup", L"Startup boost", L"Optimalizace spuštění", L"", L"", 32},
        {"addons", 15, 10, false, "addons", L"Browser Add-ons", L"Rozšíření prohlížečů", L"", L"", 0},
        {"temp-ff", 21, 10, false, "list", L"Temporary Firefox files", L"Odstranění dočasných souborů Firefoxu", L"",
         L"", 1},
        {"temp-ie", 22, 10, false, "list", L"Temporary internet files",
         L"Odstranění dočasných souborů stažených z internetu", L"", L"", 1},
        {"down-prog-files", 23, 10, false, "list", L"Downloaded program files folder",
         L"Odstranění složky \"Downloaded program files\"", L"", L"", 1},
        {"chldsk-files", 24, 10, false, "list", L"Old chkdsk files",
         L"Odstranění souborů nalezených aplikací checkdisk\"", L"", L"", 1},
        {"recycle-bin", 25, 10, false, "recycle-bin", L"Recycle bin", L"Vyprázdnění koše", L"", L"", 0},
        {"temp-files", 26, 10, false, "list", L"Temporary files", L"Odstranění dočasných souborů", L"", L"", 2},
        {"old-logs", 27, 10, false, "list", L"Old logs", L"Odstranění starých logů", L"", L"", 19},
        {"memory-dumps", 28, 10, false, "list", L"Memory dumps and Windows Error Reports",
         L"Výpisy stavu paměti a chybová hlášení", L"", L"", 4},
    };
    std::vector<const TfwGroup *> all;
    for (TfwCategory *c : {m.Fix, m.Boost, m.Clean})
        for (TfwGroup *g : c->Groups) all.push_back(g);
    ASSERT_EQ(all.size(), std::size(groups));
    for (size_t i = 0; i < all.size(); ++i) {
        const auto &want = groups[i];
        const TfwGroup *g = all[i];
        SCOPED_TRACE(want.id);
        EXPECT_EQ(g->Id, want.id);
        EXPECT_EQ(g->Order, want.order);
        EXPECT_EQ(g->ProgressSize, want.weight);
        EXPECT_EQ(g->InSettings, want.settings);
        EXPECT_EQ(g->ShowDetails, g->Id == "delay-startup");
        EXPECT_EQ(g->ItemsType, want.type);
        SetUILanguage("en");
        EXPECT_EQ(g->Caption(), want.en);
        EXPECT_EQ(g->SettingsCaption(), want.settingsEn);
        SetUILanguage("cs");
        EXPECT_EQ(g->Caption(), want.cs);
        EXPECT_EQ(g->SettingsCaption(), want.settingsCs);
        if (g->ItemsType != "addons" && g->ItemsType != "missing-files")
            EXPECT_EQ(g->Items->List.size(), want.entries);
    }
    SetUILanguage("en");
    EXPECT_EQ(m.Boost->GroupById("delay-startup")->Hint(), L"Postponed applications at startup");

    auto *ds = m.Boost->GroupById("delay-startup")->Items;
    int alcohol = 0;
    for (TfwItem *i : ds->List) {
        auto *s = dynamic_cast<TfwStartupItem *>(i);
        if (s->Name.rfind("Alkohol", 0) == 0) {
            ++alcohol;
            // The document writes the name with a trailing blank; names are trimmed.
            EXPECT_EQ(s->Name, "Alkohol 120%");
            EXPECT_EQ(s->Priority, 3);
        }
    }
    EXPECT_EQ(alcohol, 3);

    auto *mf = dynamic_cast<TfwItemsMissingFiles *>(m.Fix->GroupById("reg-missing-files")->Items);
    EXPECT_EQ(mf->ScanList.size(), 2u);
    EXPECT_EQ(mf->IgnoreList.size(), 22u);
    EXPECT_EQ(mf->SpecialList.size(), 4u);
    EXPECT_EQ(mf->ExceptList.size(), 1u);

    auto *ao = dynamic_cast<TfwItemsAddOns *>(m.AddOns);
    ASSERT_NE(ao, nullptr);
    EXPECT_TRUE(std::binary_search(ao->IEList.begin(), ao->IEList.end(),
                                   std::string("{B15FD82E-85BC-430D-90CB-65DB1B030510}=Ask Toolbar")));
    EXPECT_TRUE(std::binary_search(ao->FFList.begin(), ao->FFList.end(),
                                   std::string("{463f6ca5-ee3c-4be1-b7e6-7fee11953374}=FoxyTunes")));
}

// Scanners measure one progress step per registry view, and the 64-bit file
// exception only exists where there is a 64-bit system folder.
TEST(Definitions, DependsOnSystemKind)
{
    TfwMain m;
    m.LoadDefinitions();
    const TfwExceptions *ex = ProcessExceptions();
    ASSERT_NE(ex, nullptr);
    std::string wmi64 = ExpandPath64("%SYSDIR64%\\wbem\\Logs\\WMITracing.log");
    if (Is64BitOS()) {
        EXPECT_EQ(m.Fix->Groups[0]->Items->Steps, 2);
        EXPECT_TRUE(ex->IsFileExcepted(wmi64));
    } else {
        EXPECT_EQ(m.Fix->Groups[0]->Items->Steps, 1);
    }
    EXPECT_TRUE(ex->IsFileExcepted(ExpandPath("%WINDIR%\\WINDOWSUPDATE.LOG")));
    EXPECT_TRUE(ex->IsFileExcepted("C:\\any\\Desktop.INI"));
    EXPECT_FALSE(ex->IsFileExcepted(ExpandPath("%WINDIR%\\other.log")));
}

} // namespace
