// Registrations that programs leave behind: planted under unique names in the
// system places the scanners read (removed again by every test), scanned with
// what the prefix itself holds, repaired and restored.
#include "ScanTestKit.h"

#include "engine/fwScanners.h"
#include "platform/ShortcutU.h"

#include <objbase.h>
#include <shlobj.h>

#include <map>
#include <set>
#include <tuple>

namespace {

using namespace std::string_literals;
using namespace regtest;
using namespace scantest;

const char Mark[] = "TovuTest70F0C1A5";
const char Uninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char SharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char AppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const char RunPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char MuiVista[] = "Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
const char MuiXP[] = "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const char MuiW7[] = "Local Settings\\MuiCache\\00TovuTest70F0C1A5\\52C64B7E";

std::string Sz(const std::string &text) { return text + '\0'; }
std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

TfwRegItem *Reg(TfwItem *i) { return dynamic_cast<TfwRegItem *>(i); }

// The registry views to plant in, as raw access flags.
std::vector<REGSAM> Views()
{
    return Is64BitOS() ? std::vector<REGSAM>{V32, V64} : std::vector<REGSAM>{V32};
}

// Whether a key's findings come from both passes (separate keys per view) or
// from the 32-bit pass alone.
std::vector<bool> PassesFor(HKEY root, const char *key)
{
    if (!Is64BitOS() || SharedInBothViews(root, key)) return {false};
    return {false, true};
}

void RemoveValue(HKEY root, REGSAM view, const std::string &key, const std::string &name)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE | view, &k) != 0) return;
    RegDeleteValueA(k, name.c_str());
    RegCloseKey(k);
}

class AppScan : public ScanTest {
protected:
    // Values planted in shared places: removed in TearDown in every view.
    std::vector<std::tuple<HKEY, std::string, std::string>> Values;
    std::vector<std::pair<HKEY, std::string>> Keys;

    void TearDown() override
    {
        for (const auto &[root, key, name] : Values)
            for (REGSAM v : {V32, V64}) RemoveValue(root, v, key, name);
        for (const auto &[root, key] : Keys)
            for (REGSAM v : {V32, V64}) Wipe(root, v, key);
        ScanTest::TearDown();
    }

    void PlantValue(HKEY root, REGSAM view, const std::string &key, const std::string &name, DWORD type,
                    const std::string &bytes)
    {
        Values.emplace_back(root, key, name);
        PutRaw(root, view, key, name, type, bytes);
    }
    std::string PlantKey(HKEY root, const std::string &key)
    {
        Keys.emplace_back(root, key);
        return key;
    }

    // Our findings as "Is64|Key|ValueName", details with a leading "  ".
    template <class F>
    std::multiset<std::string> Lines(TfwItems *items, F ours)
    {
        std::multiset<std::string> out;
        for (TfwItem *i : items->List) {
            TfwRegItem *r = Reg(i);
            if (!r || !ours(r)) continue;
            EXPECT_TRUE(r->Found && r->Selected);
            EXPECT_EQ(r->FixMode, fmDelete);
            EXPECT_TRUE(r->Value.empty());
            out.insert((r->IsDetail ? "  " : "") + std::to_string(r->Is64) + "|" + r->Key + "|" + r->ValueName);
        }
        return out;
    }
};

bool MarkedKey(TfwRegItem *r) { return Contains(r->Key, Mark); }

TEST_F(AppScan, UninstallEntriesWithoutTheirUninstaller)
{
    const std::string gone = PlantKey(HKEY_LOCAL_MACHINE, Uninstall + "\\"s + Mark + "Gone");
    const std::string msi = PlantKey(HKEY_LOCAL_MACHINE, Uninstall + "\\"s + Mark + "Msi");
    const std::string present = PlantKey(HKEY_LOCAL_MACHINE, Uninstall + "\\"s + Mark + "Present");
    const std::string bare = PlantKey(HKEY_LOCAL_MACHINE, Uninstall + "\\"s + Mark + "NoString");
    const std::string uninstaller = Existing("unins000.exe");
    for (REGSAM v : Views()) {
        PutRaw(HKEY_LOCAL_MACHINE, v, gone, "DisplayName", REG_SZ, Sz("Tovu Gone"));
        PutRaw(HKEY_LOCAL_MACHINE, v, gone, "UninstallString", REG_SZ, Sz("\"" + Folder + "gone\\unins000.exe\" /S"));
        PutRaw(HKEY_LOCAL_MACHINE, v, msi, "UninstallString", REG_EXPAND_SZ,
               Sz("MsiExec.exe /X{70F0C1A5-0000-4E57-9C1A-7F0E0A110099}"));
        PutRaw(HKEY_LOCAL_MACHINE, v, present, "UninstallString", REG_SZ, Sz(uninstaller + " /S"));
        PutRaw(HKEY_LOCAL_MACHINE, v, bare, "DisplayName", REG_SZ, Sz("No uninstaller named"));
    }
    std::map<REGSAM, std::map<std::string, std::string>> before;
    for (REGSAM v : Views()) before[v] = Snapshot(HKEY_LOCAL_MACHINE, v, gone);

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsUninstall>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->List.size())) << "every finding and detail line is counted";
    EXPECT_EQ(scanner->Step, scanner->Steps);
    std::multiset<std::string> expected;
    for (bool is64 : PassesFor(HKEY_LOCAL_MACHINE, Uninstall)) {
        const std::string p = std::to_string(is64) + "|";
        expected.insert(p + gone + "|");
        expected.insert("  " + p + gone + "|DisplayName");
        expected.insert("  " + p + gone + "|UninstallString");
    }
    EXPECT_EQ(Lines(scanner, MarkedKey), expected);

    int existing = 0;
    for (TfwItem *i : scanner->List) {
        TfwRegItem *r = Reg(i);
        if (MarkedKey(r) || r->IsDetail) continue;
        std::string command = GetRaw(HKEY_LOCAL_MACHINE, r->Is64 ? V64 : V32, r->Key, "UninstallString");
        command = command.substr(command.find(':') + 1);
        while (!command.empty() && command.back() == '\0') command.pop_back();
        if (PlainlyExists(command)) {
            ++existing;
            ADD_FAILURE() << r->Key << ": " << command;
        }
    }
    EXPECT_EQ(existing, 0);

    tree.FixOnly([](TfwItem *i) { return MarkedKey(Reg(i)); });
    for (REGSAM v : Views()) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, v, gone));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, v, msi));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, v, bare));
    }
    EXPECT_GT(RestoreOnlyBackup(), 0);
    for (REGSAM v : Views()) EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, v, gone), before[v]);
}

// A stop request ends the whole scan: no further pass runs.
TEST_F(AppScan, StopEndsTheWholeScan)
{
    const std::string gone = PlantKey(HKEY_LOCAL_MACHINE, Uninstall + "\\"s + Mark + "Stopped");
    PutRaw(HKEY_LOCAL_MACHINE, V32, gone, "UninstallString", REG_SZ, Sz(Folder + "gone\\unins000.exe"));
    FixTree tree;
    auto *scanner = tree.Make<TfwItemsUninstall>();
    tree.Main.Stopped = true;
    EXPECT_EQ(tree.Scan(), 0);
    EXPECT_TRUE(scanner->List.empty());
    EXPECT_EQ(scanner->Step, 0);
}

// SharedDLLs and App Paths: a value of the shared key, and a subkey without
// detail lines; the fix takes just the finding.
TEST_F(AppScan, SharedDllCountersAndAppPaths)
{
    const std::string goneDll = Folder + "gone\\" + Mark + ".dll", keptDll = Existing("kept.dll");
    const std::string goneApp = PlantKey(HKEY_LOCAL_MACHINE, AppPaths + "\\"s + Mark + "gone.exe");
    const std::string okApp = PlantKey(HKEY_LOCAL_MACHINE, AppPaths + "\\"s + Mark + "ok.exe");
    for (REGSAM v : Views()) {
        PlantValue(HKEY_LOCAL_MACHINE, v, SharedDlls, goneDll, REG_DWORD, Dword(2));
        PlantValue(HKEY_LOCAL_MACHINE, v, SharedDlls, keptDll, REG_DWORD, Dword(1));
        PutRaw(HKEY_LOCAL_MACHINE, v, goneApp, "", REG_SZ, Sz(Folder + "gone\\app.exe"));
        PutRaw(HKEY_LOCAL_MACHINE, v, goneApp, "Path", REG_SZ, Sz(Folder + "gone"));
        PutRaw(HKEY_LOCAL_MACHINE, v, okApp, "", REG_SZ, Sz(Existing("ok.exe")));
    }

    FixTree dlls;
    auto *shared = dlls.Make<TfwItemsSharedDll>();
    const int dllsCounted = dlls.Scan();
    EXPECT_EQ(dllsCounted, int(shared->List.size())) << "every finding and detail line is counted";
    std::multiset<std::string> expected;
    for (bool is64 : PassesFor(HKEY_LOCAL_MACHINE, SharedDlls))
        expected.insert(std::to_string(is64) + "|" + SharedDlls + "|" + goneDll);
    EXPECT_EQ(Lines(shared, [&](TfwRegItem *r) { return Contains(r->ValueName, Folder); }), expected);
    for (TfwItem *i : shared->List) {
        if (Contains(Reg(i)->ValueName, Folder)) continue;
        EXPECT_FALSE(PlainlyExists(Reg(i)->ValueName)) << Reg(i)->ValueName;
    }

    FixTree apps;
    auto *paths = apps.Make<TfwItemsAppPaths>();
    const int appsCounted = apps.Scan();
    EXPECT_EQ(appsCounted, int(paths->List.size())) << "every finding and detail line is counted";
    EXPECT_EQ(paths->Steps, Is64BitOS() ? 2 : 1);
    EXPECT_EQ(paths->Step, paths->Steps);
    expected.clear();
    for (bool is64 : PassesFor(HKEY_LOCAL_MACHINE, AppPaths)) expected.insert(std::to_string(is64) + "|" + goneApp + "|");
    EXPECT_EQ(Lines(paths, MarkedKey), expected);
    for (TfwItem *i : paths->List) {
        TfwRegItem *r = Reg(i);
        if (MarkedKey(r)) continue;
        std::string app = GetRaw(HKEY_LOCAL_MACHINE, r->Is64 ? V64 : V32, r->Key, "");
        app = app.substr(app.find(':') + 1);
        while (!app.empty() && app.back() == '\0') app.pop_back();
        EXPECT_FALSE(PlainlyExists(app)) << r->Key << ": " << app;
    }

    std::map<REGSAM, std::map<std::string, std::string>> before;
    for (REGSAM v : Views()) before[v] = Snapshot(HKEY_LOCAL_MACHINE, v, goneApp);
    dlls.FixOnly([&](TfwItem *i) { return Contains(Reg(i)->ValueName, Folder); });
    for (REGSAM v : Views()) {
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, v, SharedDlls, goneDll), "<none>");
        EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, v, SharedDlls, keptDll), "4:" + Dword(1));
    }
    EXPECT_GT(RestoreOnlyBackup(), 0);
    for (REGSAM v : Views()) EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, v, SharedDlls, goneDll), "4:" + Dword(2));

    // A second document would confuse RestoreOnlyBackup: start over.
    DeleteFolder(Folder + "Backup", true);
    ForceDirectories(Folder + "Backup", false, true);
    apps.FixOnly([](TfwItem *i) { return MarkedKey(Reg(i)); });
    for (REGSAM v : Views()) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, v, goneApp));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, v, okApp));
    }
    EXPECT_GT(RestoreOnlyBackup(), 0);
    for (REGSAM v : Views()) EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, v, goneApp), before[v]);
}

TEST(MUICache, FileOfAName)
{
    const struct {
        const char *name, *file;
    } cases[] = {
        {"C:\\Apps\\tool.exe", "C:\\Apps\\tool.exe"},
        {"  C:\\Apps\\tool.exe ", "C:\\Apps\\tool.exe"},
        {"@C:\\Windows\\system32\\shell32.dll,-8964", "C:\\Windows\\system32\\shell32.dll"},
        {"@ C:\\a b\\x.dll ,-1", "C:\\a b\\x.dll"},
        {"@\"C:\\a, b\\x.dll\",-1", "C:\\a, b\\x.dll"},
        {"@\"C:\\unclosed.dll,-1", ""},
        {"@C:\\nocomma.dll", ""},
        {"C:\\Program Files\\App,@res.dll,-5", "C:\\Program Files\\App\\res.dll"},
        {"C:\\Program Files\\App,@res.dll", ""},
        {"C:\\App, @res.dll,-5", ""},
        {"C:\\user@host\\x.exe", ""},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(MUICacheFile(c.name), c.file) << c.name;
}

TEST_F(AppScan, MUICacheEntriesOfMissingFiles)
{
    const bool vista = OSVersionClass() > OSClassServer2003;
    const HKEY root = vista ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
    const std::string key = vista ? MuiVista : MuiXP;
    const std::string folder = Folder.substr(0, Folder.size() - 1);
    Existing("res.dll");
    const std::string goneApp = Folder + "gone\\app.exe", goneRes = "@" + Folder + "gone\\res.dll,-1",
                      goneInFolder = folder + ",@" + Mark + ".dll,-5";
    PlantValue(root, 0, key, goneApp, REG_SZ, Sz("Gone App"));
    PlantValue(root, 0, key, goneRes, REG_SZ, Sz("Gone resource"));
    PlantValue(root, 0, key, goneInFolder, REG_SZ, Sz("Gone in folder"));
    PlantValue(root, 0, key, folder + ",@res.dll,-5", REG_SZ, Sz("Present in folder"));
    PlantValue(root, 0, key, "@" + SystemDir() + "shell32.dll,-8964", REG_SZ, Sz("Shell"));
    PlantValue(root, 0, key, Folder + "gone\\@odd.exe", REG_SZ, Sz("No file to judge"));
    // The cache's own bookkeeping values are never judged (LangID is one in any case).
    PlantValue(root, 0, key, "lAnGiD", REG_BINARY, "\x09\x04"s);

    bool w7 = false;
    if (OSVersionClass() > OSClassServer2008R2) {
        PlantKey(HKEY_CLASSES_ROOT, "Local Settings\\MuiCache\\00TovuTest70F0C1A5");
        PutRaw(HKEY_CLASSES_ROOT, 0, MuiW7, "LanguageList", REG_MULTI_SZ, "en-US\0\0"s);
        PutRaw(HKEY_CLASSES_ROOT, 0, MuiW7, "@" + Folder + "gone\\w7.dll,-2", REG_SZ, Sz("W7 entry"));
        // The first such key of the prefix is the one the system uses.
        w7 = FindW7MUICacheKey() == MuiW7;
    }

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsMUICache>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->List.size())) << "every finding and detail line is counted";
    EXPECT_EQ(scanner->Steps, w7 ? 2 : 1);
    const std::string r = std::string("0|") + key + "|";
    std::multiset<std::string> expected = {r + goneApp, r + goneRes, r + goneInFolder};
    if (w7) expected.insert("0|"s + MuiW7 + "|@" + Folder + "gone\\w7.dll,-2");
    EXPECT_EQ(Lines(scanner, [&](TfwRegItem *i) { return Contains(i->ValueName, folder) || MarkedKey(i); }),
              expected);
    for (TfwItem *i : scanner->List) {
        EXPECT_NE(Lower(Reg(i)->ValueName), "langid");
        const std::string file = MUICacheFile(Reg(i)->ValueName);
        EXPECT_FALSE(PlainlyExists(file)) << Reg(i)->ValueName;
    }

    tree.FixOnly([&](TfwItem *i) { return Contains(Reg(i)->ValueName, folder) || MarkedKey(Reg(i)); });
    EXPECT_EQ(GetRaw(root, 0, key, goneApp), "<none>");
    EXPECT_EQ(GetRaw(root, 0, key, goneRes), "<none>");
    EXPECT_EQ(GetRaw(root, 0, key, folder + ",@res.dll,-5"), "1:Present in folder\0"s);
    EXPECT_EQ(GetRaw(root, 0, key, "lAnGiD"), "3:\x09\x04"s);
    EXPECT_GT(RestoreOnlyBackup(), 0);
    EXPECT_EQ(GetRaw(root, 0, key, goneApp), "1:Gone App\0"s);
    EXPECT_EQ(GetRaw(root, 0, key, goneInFolder), "1:Gone in folder\0"s);
}

TEST_F(AppScan, RunValuesInBothRootsAndViews)
{
    const std::string gone = Mark + "Gone"s, ok = Mark + "Ok"s, blank = Mark + "Blank"s;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (REGSAM v : Views()) {
            PlantValue(root, v, RunPath, gone, REG_SZ, Sz("\"" + Folder + "gone\\app.exe\" /min"));
            PlantValue(root, v, RunPath, ok, REG_SZ, Sz("notepad.exe /a"));
            PlantValue(root, v, RunPath, blank, REG_SZ, Sz("  "));
        }

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsInvalidStartup>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->FoundCount())) << "every finding and detail line is counted";
    EXPECT_EQ(scanner->Steps, Is64BitOS() ? 4 : 2);
    EXPECT_EQ(scanner->Step, scanner->Steps);
    std::multiset<std::string> expected;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (bool is64 : PassesFor(root, RunPath))
            expected.insert(std::to_string(is64) + "|" + RunPath + "|" + gone + (root == HKEY_CURRENT_USER ? " cu" : " lm"));
    std::multiset<std::string> seen;
    for (TfwItem *i : scanner->List) {
        TfwRegItem *r = Reg(i);
        if (!r) continue;
        if (Contains(r->ValueName, Mark)) {
            EXPECT_TRUE(r->Found && r->Selected && !r->IsDetail);
            seen.insert(std::to_string(r->Is64) + "|" + r->Key + "|" + r->ValueName +
                        (r->Root == HKEY_CURRENT_USER ? " cu" : " lm"));
            continue;
        }
        std::string command = GetRaw(r->Root, r->Is64 ? V64 : V32, r->Key, r->ValueName);
        command = command.substr(command.find(':') + 1);
        while (!command.empty() && command.back() == '\0') command.pop_back();
        EXPECT_FALSE(PlainlyExists(command)) << r->ValueName << ": " << command;
    }
    EXPECT_EQ(seen, expected);

    tree.FixOnly([](TfwItem *i) { return Reg(i) && Contains(Reg(i)->ValueName, Mark); });
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (REGSAM v : Views()) {
            EXPECT_EQ(GetRaw(root, v, RunPath, gone), "<none>");
            EXPECT_EQ(GetRaw(root, v, RunPath, ok), "1:notepad.exe /a\0"s);
        }
    EXPECT_GT(RestoreOnlyBackup(), 0);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (REGSAM v : Views())
            EXPECT_EQ(GetRaw(root, v, RunPath, gone), "1:\"" + Folder + "gone\\app.exe\" /min\0"s);
}

// Shortcuts are made and read through COM: this suite runs in a process of
// its own.
class AppScanShortcuts : public AppScan {
protected:
    bool Com = false;
    std::vector<std::string> Links;

    void SetUp() override
    {
        AppScan::SetUp();
        Com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override
    {
        for (const std::string &l : Links) DeleteFileA(l.c_str());
        if (Com) CoUninitialize();
        AppScan::TearDown();
    }

    bool MakeLink(const std::string &lnk, const std::string &target)
    {
        Links.push_back(lnk);
        IShellLinkA *link = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void **>(&link))))
            return false;
        IPersistFile *file = nullptr;
        bool ok = SUCCEEDED(link->SetPath(target.c_str())) &&
                  SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
        if (ok) {
            std::wstring wide(lnk.begin(), lnk.end());
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
            file->Release();
        }
        link->Release();
        return ok;
    }
};

TEST_F(AppScanShortcuts, BrokenStartupShortcutIsDeleted)
{
    ASSERT_TRUE(Com);
    const std::string dir = StartupDir();
    ASSERT_FALSE(dir.empty());
    ForceDirectories(dir, false, true);
    // The target exists while the link is made, so the link is a normal one.
    const std::string target = Existing("started.exe");
    const std::string broken = dir + Mark + " gone.lnk", sound = dir + Mark + " ok.lnk";
    ASSERT_TRUE(MakeLink(broken, target));
    ASSERT_TRUE(MakeLink(sound, Existing("kept.exe")));
    ASSERT_EQ(Lower(ShortcutTarget(broken, false)), Lower(target));
    ASSERT_TRUE(DeleteFileA(target.c_str()));

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsInvalidStartup>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, scanner->FoundCount()) << "every finding and detail line is counted";
    std::vector<TfwFileItem *> ours;
    for (TfwItem *i : scanner->List) {
        auto *f = dynamic_cast<TfwFileItem *>(i);
        if (!f) continue;
        EXPECT_FALSE(PlainlyExists(ShortcutTarget(f->Path, false))) << f->Path;
        if (Contains(f->Path, Mark)) ours.push_back(f);
    }
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_TRUE(Lower(ours[0]->Path) == Lower(broken)) << ours[0]->Path;
    EXPECT_TRUE(ours[0]->Found && ours[0]->Selected);
    EXPECT_EQ(ours[0]->FixMode, ffClean);
    EXPECT_EQ(ours[0]->Size, FileSize(broken));
    EXPECT_GT(ours[0]->Size, 0);

    std::string bytes;
    ASSERT_TRUE(ReadFileToString(broken, bytes));
    tree.FixOnly([](TfwItem *i) {
        auto *f = dynamic_cast<TfwFileItem *>(i);
        return f && Contains(f->Path, Mark);
    });
    EXPECT_FALSE(FileExists(broken));
    EXPECT_TRUE(FileExists(sound));

    // The rescue center puts the shortcut back as it was.
    EXPECT_EQ(RestoreOnlyBackup(), 1);
    std::string back;
    EXPECT_TRUE(ReadFileToString(broken, back));
    EXPECT_EQ(back, bytes);
}

} // namespace
