#include "RegSnapshot.h"
#include "backup/fwBackup.h"
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwCleanRep.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/ObjectSecurityU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace regtest;

const char K[] = "Software\\TovuTest\\Backup";
const REGSAM V64 = KEY_WOW64_64KEY, V32 = KEY_WOW64_32KEY;

bool RunningOnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

void WriteText(const std::string &path, const std::string &text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n;
    WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr);
    CloseHandle(h);
}

std::vector<std::string> XmlFiles(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*.xml").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

class Backups : public ::testing::Test {
protected:
    TfwMain Main;
    TfwItemsList *List = new TfwItemsList(&Main);
    std::string Folder, Docs;

    void SetUp() override
    {
        RegView64 = RegView32 = false;
        WipeAll();
        Folder = TempDir() + "TovuTestBackup\\";
        Docs = Folder + "Docs\\";
        DeleteFolder(Folder, true);
        ForceDirectories(Folder, false, true);
        SetBackupDocumentsFolder(Docs);
        TfwCleanRep *cleaned = EnsureCleanReport(Docs + "cleanrep.xml");
        cleaned->FileName = Docs + "cleanrep.xml";
        cleaned->Clear();
    }
    void TearDown() override
    {
        delete List;
        if (IsBackupActive()) EndBackup();
        RegView64 = RegView32 = false;
        WipeAll();
        ProcessCleanRep()->Clear();
        SetBackupDocumentsFolder("");
        DeleteFolder(Folder, true);
    }
    void WipeAll()
    {
        Wipe(HKEY_CURRENT_USER, 0, K);
        Wipe(HKEY_LOCAL_MACHINE, V64, K);
        Wipe(HKEY_LOCAL_MACHINE, V32, K);
    }

    TfwRegItem *Item(HKEY root, const std::string &key, const std::string &name, const std::string &value, int type,
                     int fix, bool is64 = false)
    {
        auto *i = new TfwRegItem(List);
        i->Root = root;
        i->Key = key;
        i->ValueName = name;
        i->Value = value;
        i->ValueType = type;
        i->FixMode = fix;
        i->Is64 = is64;
        i->Found = i->Selected = true;
        List->Add(i);
        return i;
    }
};

// Backup, fix, restore: every recorded byte comes back, in the right view, and
// what the fix created is gone again.
TEST_F(Backups, RestoreBringsBackEveryByte)
{
    const bool wow = Is64BitOS();
    const REGSAM view = wow ? V64 : 0;
    const std::string tree = K + "\\Tree"s;
    const std::string odd = "n\"a<m>e#&amp;\x01";
    PutRaw(HKEY_CURRENT_USER, 0, K, "", REG_SZ, "default \"q\"\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "str", REG_SZ, "q\"uote & <lt> &amp; #23 \x01\x1f\t\r\n\xE9 >\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, odd, REG_EXPAND_SZ, "%TEMP%\\x&y;\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "multi", REG_MULTI_SZ, "a\0b&c\0#\0\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "bin", REG_BINARY, "\x00\xff\x22\x26"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "dword", REG_DWORD, Dword(10));
    PutRaw(HKEY_LOCAL_MACHINE, view, tree, "", REG_SZ, "top\0"s);
    PutRaw(HKEY_LOCAL_MACHINE, view, tree, " spaced ", REG_SZ, "blanks are part of the name\0"s);
    PutRaw(HKEY_LOCAL_MACHINE, view, tree + "\\A", "x", REG_DWORD, Dword(7));
    PutRaw(HKEY_LOCAL_MACHINE, view, tree + "\\A\\B", "y", REG_MULTI_SZ, "1\0002\0\0"s);
    if (wow) PutRaw(HKEY_LOCAL_MACHINE, V32, tree, "other view", REG_SZ, "untouched\0"s);
    const auto user = Snapshot(HKEY_CURRENT_USER, 0, K);
    const auto machine = Snapshot(HKEY_LOCAL_MACHINE, view, K);
    const auto machine32 = Snapshot(HKEY_LOCAL_MACHINE, V32, K);

    Item(HKEY_CURRENT_USER, K, "", "changed", rtStr, fmValue);
    Item(HKEY_CURRENT_USER, K, "str", "new", rtStr, fmValue);
    Item(HKEY_CURRENT_USER, K, odd, "5", rtNum, fmValue);
    Item(HKEY_CURRENT_USER, K, "multi", "", rtMulStr, fmValue);
    Item(HKEY_CURRENT_USER, K, "bin", "", rtNone, fmDelete);
    Item(HKEY_CURRENT_USER, K, "dword", "$00000063", rtNum, fmValue);
    Item(HKEY_CURRENT_USER, K, "created", "1", rtStr, fmValue);
    Item(HKEY_CURRENT_USER, K + "\\NewKey"s, "", "made", rtStr, fmValue);
    Item(HKEY_LOCAL_MACHINE, tree, "", "", rtNone, fmDelete, wow);

    BeginBackup(bkFix, L"Registry <Fix> & \"more\"");
    List->Backup();
    const std::string path = EndBackup();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind(Docs + "fix_", 0), 0u) << path;
    EXPECT_FALSE(IsBackupActive());

    std::string doc;
    ASSERT_TRUE(ReadFileToString(path, doc));
    const std::string key = "Software\\TovuTest\\Backup";
    EXPECT_EQ(doc.rfind("<backup type=\"fix\" name=\"Registry #3CFix#3E #26 #22more#22\" date=\"", 0), 0u) << doc;
    EXPECT_EQ(doc.substr(doc.size() - 13), "\r\n</backup>\r\n");
    for (const std::string &line : {
             "\r\n    <reg root=\"HKCU\" key=\"" + key + "\" name=\"dword\" value=\"$0000000A\" type=\"num\" scan=\"backup\" fix=\"value\" />\r\n",
             "\r\n    <reg root=\"HKCU\" key=\"" + key + "\" name=\"multi\" value=\"a#00b#26c#00#23\" type=\"mulstr\" scan=\"backup\" fix=\"value\" />\r\n",
             "\r\n    <reg root=\"HKCU\" key=\"" + key + "\" name=\"bin\" value=\"00FF2226\" type=\"bin\" scan=\"backup\" fix=\"value\" />\r\n",
             "\r\n    <reg root=\"HKCU\" key=\"" + key + "\" name=\"created\" value=\"\" type=\"backup\" scan=\"backup\" fix=\"del\" />\r\n",
             "\r\n    <reg root=\"HKCU\" key=\"" + key + "\\NewKey\" name=\"\" value=\"\" type=\"backup\" scan=\"backup\" fix=\"del\" />\r\n",
             "\r\n    <reg root=\"HKLM\" key=\"" + key + "\\Tree\\A\" name=\"x\" value=\"$00000007\" type=\"num\"" +
                 (wow ? " is64=\"1\"" : "") + " scan=\"backup\" fix=\"value\" />\r\n",
         })
        EXPECT_NE(doc.find(line), std::string::npos) << line << doc;
    EXPECT_LT(doc.find("name=\"str\""), doc.find("name=\"created\""));
    EXPECT_LT(doc.find("key=\"" + key + "\\Tree\" name=\"\""), doc.find("key=\"" + key + "\\Tree\\A\\B\""));

    // An entry is remembered as cleaned only once its fix succeeded.
    TfwRegItem probe(nullptr);
    probe.Root = HKEY_LOCAL_MACHINE;
    probe.Key = tree;
    EXPECT_FALSE(ProcessCleanRep()->Contains(probe));

    List->Fix();
    EXPECT_TRUE(ProcessCleanRep()->Contains(probe));
    probe.Root = HKEY_CURRENT_USER;
    probe.Key = K;
    probe.ValueName = odd;
    EXPECT_TRUE(ProcessCleanRep()->Contains(probe));
    RegView64 = RegView32 = false;
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, view, tree));
    ASSERT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "dword"), "4:" + Dword(0x63));
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, 0, K + "\\NewKey"s));

    TfwBackup backup(path);
    EXPECT_EQ(backup.Kind, bkFix);
    EXPECT_FALSE(backup.Date.empty());
    EXPECT_GT(Restore(backup), 0);
    RegView64 = RegView32 = false;
    EXPECT_EQ(Snapshot(HKEY_CURRENT_USER, 0, K), user);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, view, K), machine);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, V32, K), machine32);
    EXPECT_TRUE(FileExists(path)) << "a restore keeps the document";
}

// A category whose backup document cannot be written is not changed at all,
// and the run says so; with a writable folder the same run fixes it.
TEST_F(Backups, NoChangeWithoutItsBackup)
{
    // A file where the backups folder should be: no folder can be made there.
    WriteText(Folder + "blocked", "x");
    const struct {
        const char *what;
        std::string folder;
        bool fixed;
    } cases[] = {
        {"folder cannot be made", Folder + "blocked\\Backup\\", false},
        {"writable folder", Docs, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        PutRaw(HKEY_CURRENT_USER, 0, K, "v", REG_SZ, "old\0"s);
        SetBackupDocumentsFolder(c.folder);
        TfwMain m;
        m.Fix = new TfwCategory(&m, TfwCategoryKind::Fix);
        auto *g = new TfwGroup(&m);
        g->Items = new TfwItemsList(&m);
        m.Fix->Groups.push_back(g);
        auto *i = new TfwRegItem(g->Items);
        i->Root = HKEY_CURRENT_USER;
        i->Key = K;
        i->ValueName = "v";
        i->Value = "new";
        i->ValueType = rtStr;
        i->FixMode = fmValue;
        i->Found = i->Selected = true;
        g->Items->Add(i);
        std::vector<uint8_t> failedSeen;
        m.OnProgress = [&](const TfwUIStatus &s) {
            failedSeen.push_back(s.BackupFailed);
            return true;
        };
        m.FixCategories(TfwCategoryKind::Fix);
        RegView64 = RegView32 = false;
        EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "v"), c.fixed ? "1:new\0"s : "1:old\0"s);
        EXPECT_EQ(m.BackupFailed, c.fixed ? std::vector<TfwCategoryKind>{}
                                          : std::vector<TfwCategoryKind>{TfwCategoryKind::Fix});
        ASSERT_FALSE(failedSeen.empty());
        EXPECT_EQ(failedSeen.back(), c.fixed ? 0 : 1 << unsigned(TfwCategoryKind::Fix)) << "the last report carries it";
        TfwRegItem probe(nullptr);
        probe.Root = HKEY_CURRENT_USER;
        probe.Key = K;
        probe.ValueName = "v";
        EXPECT_EQ(ProcessCleanRep()->Contains(probe), c.fixed);
    }
}

// Documents the elevated program writes only administrators may change, and
// one a standard user owns is neither listed nor restored, nor does a
// cleaned-entries list of theirs hide anything.
TEST_F(Backups, ElevatedProgramIgnoresDocumentsOfStandardUsers)
{
    if (!IsElevated()) GTEST_SKIP() << "the rule is the elevated program's";
    PutRaw(HKEY_CURRENT_USER, 0, K, "v", REG_SZ, "1\0"s);
    BeginBackup(bkFix, L"Fix");
    BackupValue(HKEY_CURRENT_USER, K, "v", false, false);
    const std::string doc = EndBackup();
    ASSERT_FALSE(doc.empty());
    if (!RunningOnWine()) {
        EXPECT_TRUE(IsOwnedByAdministratorsOrSystem(doc));
        EXPECT_TRUE(IsOwnedByAdministratorsOrSystem(Docs));
    }

    // What only a standard user could have done: own the document.
    auto giveToUsers = [](const std::string &path) {
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        bool changed = SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, UsersSid(),
                                             nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       GetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                             nullptr, nullptr, nullptr, &sd) == ERROR_SUCCESS &&
                       owner && EqualSid(owner, UsersSid());
        if (sd) LocalFree(sd);
        return changed;
    };
    if (!giveToUsers(doc)) GTEST_SKIP() << "this system does not let a file's owner be changed";
    PutRaw(HKEY_CURRENT_USER, 0, K, "v", REG_SZ, "changed\0"s);
    TfwBackups list;
    list.Load();
    EXPECT_TRUE(list.FixBackups.empty());
    TfwBackup planted(doc);
    EXPECT_EQ(Restore(planted), 0);
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "v"), "1:changed\0"s);

    TfwCleanRep cleaned(Docs + "cleanrep.xml");
    cleaned.Add(HKEY_CURRENT_USER, K, "hidden", false);
    ASSERT_TRUE(cleaned.Save());
    ASSERT_TRUE(giveToUsers(cleaned.FileName));
    TfwCleanRep reread(cleaned.FileName);
    reread.Load();
    TfwRegItem probe(nullptr);
    probe.Root = HKEY_CURRENT_USER;
    probe.Key = K;
    probe.ValueName = "hidden";
    EXPECT_FALSE(reread.Contains(probe));
}

TEST_F(Backups, RecorderWritesOnlyWhatItRecorded)
{
    BeginBackup(bkNone, L"x");
    EXPECT_FALSE(IsBackupActive());

    // Nothing recorded: no document, not even the folder.
    BeginBackup(bkBoost, L"Boost");
    BeginBackup(bkFix, L"Fix");  // ignored while one is open
    EXPECT_TRUE(IsBackupActive());
    EXPECT_EQ(EndBackup(), "");
    EXPECT_FALSE(IsBackupActive());
    EXPECT_FALSE(DirectoryExists(Docs));

    // Outside a recording an entry is only remembered.
    BackupValue(HKEY_CURRENT_USER, K, "v", true, false);
    EXPECT_EQ(ProcessCleanRep()->OtherEntries.size(), 1u);

    // Two recordings of one kind within the same second keep both documents.
    PutRaw(HKEY_CURRENT_USER, 0, K, "v", REG_SZ, "1\0"s);
    BeginBackup(bkBoost, L"Boost");
    BackupValue(HKEY_CURRENT_USER, K, "v", false, false);
    std::string first = EndBackup();
    BeginBackup(bkBoost, L"Boost");
    BackupKey(HKEY_CURRENT_USER, K, false, false);
    std::string second = EndBackup();
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_TRUE(FileExists(first));
    TfwBackups list;
    list.Load();
    EXPECT_EQ(list.BoostBackups.size(), 2u);
    EXPECT_TRUE(list.FixBackups.empty());
    EXPECT_EQ(list.NewestFirst(bkBoost).front()->FileName, second);
}

// The oldest backups go first; the kind is kept apart; files that are not
// backup documents are not listed and never removed.
TEST_F(Backups, RetentionKeepsTheNewestFifteen)
{
    ForceDirectories(Docs, false, true);
    auto doc = [&](const std::string &name, const char *type, const std::wstring &date) {
        std::string d(date.begin(), date.end());
        WriteText(Docs + name, "<backup type=\""s + type + "\" name=\"x\" date=\"" + d + "\">\r\n</backup>\r\n");
    };
    for (int day = 1; day <= 17; ++day) {
        char name[40];
        std::snprintf(name, sizeof name, "fix_201103%02d_120000.xml", day);
        doc(name, "fix", L"any text");
    }
    doc("boost_20000101_000000.xml", "boost", L"");
    doc("fix_undated.xml", "FIX", L"not a date");
    // A document without a stamp in its name is dated by its date text.
    SYSTEMTIME old = {};
    old.wYear = 2000;
    old.wMonth = 3;
    old.wDay = 4;
    old.wHour = 10;
    wchar_t date[64], time[64];
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &old, nullptr, date, 64);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &old, nullptr, time, 64);
    doc("copied.xml", "fix", std::wstring(date) + L" " + time);
    WriteText(Docs + "cleanrep.xml", "<cleanrep>\r\n</cleanrep>\r\n");
    WriteText(Docs + "notes.xml", "not xml at all");

    TfwBackups list;
    list.Load();
    ASSERT_EQ(list.FixBackups.size(), 19u);
    ASSERT_EQ(list.BoostBackups.size(), 1u);
    EXPECT_EQ(list.NewestFirst(bkFix).front()->FileName, Docs + "fix_undated.xml") << "unreadable date: now";

    list.Trim(bkFix);
    EXPECT_EQ(list.FixBackups.size(), 15u);
    EXPECT_EQ(list.BoostBackups.size(), 1u);
    for (const char *gone : {"copied.xml", "fix_20110301_120000.xml", "fix_20110302_120000.xml",
                             "fix_20110303_120000.xml"})
        EXPECT_FALSE(FileExists(Docs + gone)) << gone;
    for (const char *kept : {"fix_20110304_120000.xml", "fix_undated.xml", "boost_20000101_000000.xml",
                             "cleanrep.xml", "notes.xml"})
        EXPECT_TRUE(FileExists(Docs + kept)) << kept;

    TfwBackups again;
    again.Load();
    EXPECT_EQ(again.FixBackups.size(), 15u);
    again.Trim(bkFix);
    EXPECT_EQ(XmlFiles(Docs).size(), 15u + 1 + 2);
}

// Damaged or foreign documents restore nothing and crash nothing.
TEST_F(Backups, MalformedDocumentsRestoreNothing)
{
    PutRaw(HKEY_CURRENT_USER, 0, K, "keep", REG_SZ, "1\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K + "\\Sub"s, "s", REG_SZ, "1\0"s);
    const auto before = Snapshot(HKEY_CURRENT_USER, 0, K);
    ForceDirectories(Docs, false, true);
    const std::string path = Docs + "fix_20200101_000000.xml";
    auto reg = [](const std::string &attrs) { return "<reg " + attrs + " />"; };
    const std::string where = "root=\"HKCU\" key=\"Software\\TovuTest\\Backup\" ";
    const std::string docs[] = {
        "",
        "garbage \x01\x02 <<<>>> &&& #zz",
        "<backup type=\"fix\">" + reg(where + "name=\"keep\" value=\"2\" type=\"str\" scan=\"value\" fix=\"value\"") + "</backup>",
        "<backup type=\"fix\">" + reg("root=\"HKXX\" key=\"Software\\TovuTest\\Backup\" name=\"keep\" type=\"backup\" scan=\"backup\" fix=\"del\"") + "</backup>",
        "<backup type=\"fix\">" + reg(where + "name=\"keep\" value=\"$1FFFFFFFF\" type=\"num\" scan=\"backup\" fix=\"value\"") + "</backup>",
        "<backup type=\"fix\">" + reg(where + "name=\"keep\" value=\"ABC\" type=\"bin\" scan=\"backup\" fix=\"value\"") + "</backup>",
        "<backup type=\"fix\">" + reg(where + "name=\"keep\" value=\"1\" type=\"qword\" scan=\"backup\" fix=\"value\"") + "</backup>",
        "<backup type=\"fix\">" + reg(where + "name=\"keep\" scan=\"backup\" fix=\"drop\"") + "</backup>",
        "<backup type=\"fix\">" + reg("root=\"HKCU\" key=\"\" name=\"\" scan=\"backup\" fix=\"del\"") + "</backup>",
        "<backup type=\"fix\"><REG " + where + "name=\"keep\" scan=\"backup\" fix=\"del\" /></backup>",
        "<other>" + reg(where + "name=\"keep\" scan=\"backup\" fix=\"del\"") + "</other>",
        "<backup><backup>" + reg(where + "name=\"keep\" scan=\"backup\" fix=\"del\"") + "</backup></backup>",
    };
    for (const std::string &text : docs) {
        WriteText(path, text);
        TfwBackup backup(path);
        EXPECT_EQ(Restore(backup), 0) << text;
        EXPECT_EQ(Snapshot(HKEY_CURRENT_USER, 0, K), before) << text;
    }

    // Cut anywhere, a real document never crashes the restore; it only ever
    // touches the entry it names.
    const std::string real = "<backup type=\"fix\" name=\"x\" date=\"1\">\r\n    " +
                             reg(where + "name=\"scratch\" value=\"a#22b\" type=\"str\" scan=\"backup\" fix=\"value\"") +
                             "\r\n    " + reg(where + "name=\"scratch\" scan=\"backup\" fix=\"del\"") +
                             "\r\n</backup>\r\n";
    for (size_t len = 0; len <= real.size(); len += 3) {
        WriteText(path, real.substr(0, len));
        TfwBackup backup(path);
        Restore(backup);
        EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "keep"), "1:1\0"s);
    }

    DeleteFileA(path.c_str());
    TfwBackup gone(path);
    EXPECT_EQ(gone.Kind, bkNone);
    EXPECT_EQ(Restore(gone), 0);
}

} // namespace
