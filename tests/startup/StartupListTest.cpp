// The postponed-startup lists, the stash folders and the runner, against the
// real list files, Run keys and Startup folders of the prefix. Whatever the
// prefix held there before is put back afterwards; names planted by a test
// carry a marker unique to the run.
#include "startup/fwStartup.h"

#include "RegSnapshot.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"
#include "config/fwCommon.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const std::string kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

REGSAM ViewOf(bool is64)
{
    if (!Is64BitOS()) return 0;
    return is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

// What the runner did, on a clock that only the replaced waits move.
struct Recorder {
    static inline DWORD now = 0;
    static inline std::vector<std::pair<DWORD, std::string>> events;  // time, "exec:" / "open:" + text
    static void Wait(DWORD ms) { now += ms; }
    static void Exec(const std::string &cmd) { events.push_back({now, "exec:" + cmd}); }
    static void Open(const std::string &path) { events.push_back({now, "open:" + path}); }
};

// Keeps the prefix's own lists, stash folders and the planted Run values and
// Startup shortcuts out of each other's way.
class StartupLists : public testing::Test {
protected:
    struct Saved {
        std::string path;
        bool existed = false;
        std::string bytes;
    };

    void SetUp() override
    {
        marker_ = "TovuPlant" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
        for (bool user : {true, false}) {
            std::string folder = user ? UserDataFolder() : CommonDataFolder();
            ASSERT_FALSE(folder.empty());
            if (!DirectoryExists(folder)) {
                ASSERT_TRUE(ForceDirectories(folder, false, true));
                createdFolders_.push_back(folder);
            }
            Saved s;
            s.path = TfwAllRunItems(user).FileName();
            s.existed = FileExists(s.path);
            if (s.existed) s.bytes = ReadBytes(s.path);
            DeleteFileA(s.path.c_str());
            saved_.push_back(s);
        }
        Recorder::now = 0;
        Recorder::events.clear();
        StartupLauncher = {Recorder::Wait, Recorder::Exec, Recorder::Open};
    }

    void TearDown() override
    {
        StartupLauncher = DefaultStartupLauncher();
        for (const Saved &s : saved_) {
            DeleteFileA(s.path.c_str());
            DeleteFileA((s.path + ".new").c_str());
            RemoveDirectoryA((s.path + ".new").c_str());
            if (s.existed) WriteFileBytes(s.path, s.bytes);
        }
        for (const std::string &f : planted_) DeleteFileA(f.c_str());
        for (const auto &v : values_) {
            HKEY k;
            if (RegOpenKeyExA(v.root, kRun.c_str(), 0, KEY_SET_VALUE | v.view, &k) == 0) {
                RegDeleteValueA(k, v.name.c_str());
                RegCloseKey(k);
            }
        }
        // Stash folders the tests made go again; only empty ones can.
        for (bool user : {true, false}) RemoveDirectoryA(StartupStashFolder(user).c_str());
        for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it)
            RemoveDirectoryA(it->c_str());
    }

    // A file the test creates (and TearDown removes) in a shared place.
    std::string Plant(const std::string &folder, const std::string &name, const std::string &bytes)
    {
        std::string path = folder + name;
        WriteFileBytes(path, bytes);
        planted_.push_back(path);
        return path;
    }
    std::string Name(const std::string &suffix) const { return marker_ + suffix; }
    void Track(HKEY root, bool is64, const std::string &name) { values_.push_back({root, ViewOf(is64), name}); }

    TfwFoundStartup RunValue(bool user, bool is64, const std::string &name, const std::string &value, int priority,
                             bool expand = false)
    {
        TfwFoundStartup f;
        f.IsUser = user;
        f.Root = user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        f.Key = RunKeyPath;
        f.Name = name;
        f.Value = value;
        f.Is64 = is64;
        f.Expand = expand;
        f.App = "App " + name;
        f.Priority = priority;
        Track(f.Root, is64, name);
        return f;
    }

    struct Value {
        HKEY root;
        REGSAM view;
        std::string name;
    };
    std::string marker_;
    std::vector<Saved> saved_;
    std::vector<std::string> planted_, createdFolders_;
    std::vector<Value> values_;
};

TEST_F(StartupLists, FileRoundTripsEveryByte)
{
    TfwAllRunItems list(true);
    // Quotes, "&" (also one that looks like a reference), markup, "#", control
    // and non-ASCII bytes must all come back unchanged.
    TfwFoundStartup a = RunValue(true, false, Name("A \"q\""), "\"C:\\Program Files\\Sk\xE9pe\\x.exe\" /a&b &amp; <c> #1\t", 3);
    a.App = "Caf\xE9 & \"Friends\"";
    TfwFoundStartup b = RunValue(true, true, Name("B"), "%ProgramFiles%\\b.exe", 0, true);
    list.AddEntry(&a);
    list.AddEntry(&b);
    ASSERT_TRUE(list.Save());

    std::string bytes = ReadBytes(list.FileName());
    EXPECT_EQ(bytes.rfind("<startup>\r\n    <run app=\"Caf\xE9 #26 #22Friends#22\" name=\"" + Name("A #22q#22") +
                              "\" value=\"#22C:\\Program Files\\Sk\xE9pe\\x.exe#22 /a#26b #26amp; #3Cc#3E #231#09\" "
                              "priority=\"3\" />\r\n",
                          0),
              0u)
        << bytes;
    EXPECT_NE(bytes.find("priority=\"0\" is64=\"1\" expand=\"1\" />\r\n</startup>\r\n"), std::string::npos) << bytes;

    TfwAllRunItems back(true);
    back.Load();
    ASSERT_EQ(back.Items.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const TfwFoundStartup &f = i == 0 ? a : b;
        const TfwRegRunItem &r = *back.Items[i];
        EXPECT_EQ(r.App, f.App);
        EXPECT_EQ(r.Name, f.Name);
        EXPECT_EQ(r.Value, f.Value);
        EXPECT_EQ(r.Priority, f.Priority);
        EXPECT_EQ(r.Is64, f.Is64);
        EXPECT_EQ(r.Expand, f.Expand);
        EXPECT_TRUE(r.IsUser);
    }
    EXPECT_EQ(back.MaxPriority, 3);
}

TEST_F(StartupLists, AttributesReadByTheirRules)
{
    TfwAllRunItems list(false);
    // Lists written by hand or by older builds: raw "&amp;" still reads as "&".
    WriteFileBytes(list.FileName(),
                   "<?xml version=\"1.0\"?>\r\n<other/>\r\n<Startup>\r\n"
                   "  <run name=\"p15\" value=\"a &amp; b\" priority=\"15\" is64=\"true\" expand=\"1\"/>\r\n"
                   "  <RUN name=\"upper\" value=\"x\"/>\r\n"
                   "  <note name=\"other\" value=\"x\"/>\r\n"
                   "  <run name=\"neg\" value=\"v\" priority=\"-2\" is64=\"1\" expand=\"yes\"/>\r\n"
                   "  <run name=\"bad\" value=\"v\" priority=\"x\"/>\r\n"
                   "  <run name=\"none\" value=\"v\"/>\r\n"
                   "  <run name=\"huge\" value=\"v\" priority=\"99999999999\"/>\r\n"
                   "</Startup>\r\n");
    list.Load();
    struct Want {
        const char *name;
        int priority;
        bool is64, expand;
    } want[] = {{"p15", 10, false, true}, {"neg", 0, true, false}, {"bad", 0, false, false},
                {"none", 0, false, false}, {"huge", 10, false, false}};
    ASSERT_EQ(list.Items.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_EQ(list.Items[i]->Name, want[i].name);
        EXPECT_EQ(list.Items[i]->Priority, want[i].priority);
        EXPECT_EQ(list.Items[i]->Is64, want[i].is64);
        EXPECT_EQ(list.Items[i]->Expand, want[i].expand);
        EXPECT_FALSE(list.Items[i]->IsUser);
    }
    EXPECT_EQ(list.Items[0]->Value, "a & b");
    EXPECT_EQ(list.MaxPriority, 10);

    for (const char *text : {"", "not xml at all", "<list><run name=\"n\" value=\"v\"/></list>"}) {
        WriteFileBytes(list.FileName(), text);
        TfwAllRunItems other(false);
        other.Load();
        EXPECT_TRUE(other.Items.empty()) << text;
        EXPECT_EQ(other.MaxPriority, 0);
    }
}

TEST_F(StartupLists, AddEntryMatchesByExactNameViewAndType)
{
    TfwAllRunItems list(true);
    TfwFoundStartup base = RunValue(true, false, Name("Tool"), "a.exe", 2);
    list.AddEntry(&base);

    TfwFoundStartup update = base;
    update.Value = "b.exe";
    update.Priority = 5;
    update.App = "New";
    list.AddEntry(&update);
    ASSERT_EQ(list.Items.size(), 1u);
    EXPECT_EQ(list.Items[0]->Value, "b.exe");
    EXPECT_EQ(list.Items[0]->Priority, 5);
    EXPECT_EQ(list.Items[0]->App, "New");

    TfwFoundStartup otherCase = base, other64 = base, otherType = base;
    otherCase.Name = Name("tool");
    other64.Is64 = true;
    otherType.Expand = true;
    for (auto *f : {&otherCase, &other64, &otherType}) list.AddEntry(f);
    EXPECT_EQ(list.Items.size(), 4u);

    TfwFoundStartup shortcut = base, machine = base, noName = base, noValue = base;
    shortcut.IsShortcut = true;
    machine.IsUser = false;
    noName.Name.clear();
    noValue.Value.clear();
    for (auto *f : {&shortcut, &machine, &noName, &noValue}) list.AddEntry(f);
    list.AddEntry(nullptr);
    EXPECT_EQ(list.Items.size(), 4u);
}

TEST_F(StartupLists, SaveRemovesRunValuesOnlyOnceTheListIsOnDisk)
{
    const std::string name = Name("Saved");
    TfwFoundStartup f = RunValue(true, false, name, "c:\\x.exe", 1);
    regtest::PutRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name, REG_SZ, std::string("c:\\x.exe\0", 9));

    // An empty list is the absence of the file; no Run value is touched.
    TfwAllRunItems empty(true);
    WriteFileBytes(empty.FileName(), "<startup>\r\n</startup>\r\n");
    EXPECT_TRUE(empty.Save());
    EXPECT_FALSE(FileExists(empty.FileName()));
    EXPECT_NE(regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name), "<none>");

    // An earlier list that cannot be replaced stays as it was, and the value
    // of the new entry keeps starting the program normally.
    const std::string earlier = "<startup>\r\n    <run app=\"E\" name=\"Earlier\" value=\"e.exe\" priority=\"0\" />\r\n</startup>\r\n";
    WriteFileBytes(empty.FileName(), earlier);
    ASSERT_TRUE(CreateDirectoryA((empty.FileName() + ".new").c_str(), nullptr));
    TfwAllRunItems list(true);
    list.Load();
    list.AddEntry(&f);
    EXPECT_FALSE(list.Save());
    EXPECT_EQ(ReadBytes(list.FileName()), earlier);
    EXPECT_NE(regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name), "<none>");

    RemoveDirectoryA((empty.FileName() + ".new").c_str());
    EXPECT_TRUE(list.Save());
    EXPECT_EQ(regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name), "<none>");
    TfwAllRunItems back(true);
    back.Load();
    ASSERT_EQ(back.Items.size(), 2u);
    EXPECT_EQ(back.Items[0]->Name, "Earlier");
    EXPECT_EQ(back.Items[1]->Name, name);
}

// Nothing of the user's may have been written yet when the first program is
// postponed: the list makes its folder rather than keep the Run value.
TEST_F(StartupLists, SaveMakesAMissingDataFolder)
{
    const std::string name = Name("NoFolder");
    TfwFoundStartup f = RunValue(true, false, name, "c:\\x.exe", 1);
    regtest::PutRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name, REG_SZ, std::string("c:\\x.exe\0", 9));
    std::string folder = UserDataFolder();
    folder.pop_back();
    const std::string aside = folder + ".aside";
    ASSERT_TRUE(MoveFileA(folder.c_str(), aside.c_str()));

    TfwAllRunItems list(true);
    list.AddEntry(&f);
    bool saved = list.Save();
    bool written = FileExists(list.FileName());
    std::string value = regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, name);
    DeleteFileA(list.FileName().c_str());
    RemoveDirectoryA(folder.c_str());
    ASSERT_TRUE(MoveFileA(aside.c_str(), folder.c_str()));

    EXPECT_TRUE(saved);
    EXPECT_TRUE(written);
    EXPECT_EQ(value, "<none>");
}

TEST_F(StartupLists, RestorePutsValuesAndShortcutsBack)
{
    const std::string user32 = Name("U32"), machine64 = Name("M64");
    const std::string cmd1 = "\"C:\\Program Files\\Fon\xE9\\fone.exe\" /min \"&\"";
    const std::string cmd2 = "%ProgramFiles%\\Fone\\fone64.exe";
    TfwFoundStartup a = RunValue(true, false, user32, cmd1, 0);
    TfwFoundStartup b = RunValue(false, true, machine64, cmd2, 4, true);
    regtest::PutRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, user32, REG_SZ, cmd1 + '\0');
    regtest::PutRaw(HKEY_LOCAL_MACHINE, ViewOf(true), kRun, machine64, REG_EXPAND_SZ, cmd2 + '\0');
    const std::string before1 = regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, user32);
    const std::string before2 = regtest::GetRaw(HKEY_LOCAL_MACHINE, ViewOf(true), kRun, machine64);

    TfwAllRunItems user(true), machine(false);
    user.AddEntry(&a);
    machine.AddEntry(&b);
    ASSERT_TRUE(user.Save());
    ASSERT_TRUE(machine.Save());
    ASSERT_EQ(regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, user32), "<none>");
    ASSERT_EQ(regtest::GetRaw(HKEY_LOCAL_MACHINE, ViewOf(true), kRun, machine64), "<none>");
    if (Is64BitOS()) {  // the other view was never involved
        EXPECT_EQ(regtest::GetRaw(HKEY_LOCAL_MACHINE, ViewOf(false), kRun, machine64), "<none>");
    }

    // Shortcuts: one stashed alone, one whose name the user re-created in the
    // Startup folder meanwhile.
    const std::string stashUser = StartupStashFolder(true), startup = StartupDir();
    ASSERT_FALSE(startup.empty());
    ASSERT_TRUE(ForceDirectories(stashUser, false, true));
    ASSERT_TRUE(ForceDirectories(startup, false, true));
    const std::string lone = Name("lone.lnk"), twin = Name("twin.lnk");
    Plant(stashUser, lone, "stashed lone");
    Plant(stashUser, twin, "stashed twin");
    Plant(startup, lone, "");  // only to have TearDown remove it
    DeleteFileA((startup + lone).c_str());
    Plant(startup, twin, "re-created twin");
    // A program re-created its own value: the recorded command wins.
    regtest::PutRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, user32, REG_SZ, std::string("other.exe\0", 10));

    RestorePostponedStartup();

    EXPECT_EQ(regtest::GetRaw(HKEY_CURRENT_USER, ViewOf(false), kRun, user32), before1);
    EXPECT_EQ(regtest::GetRaw(HKEY_LOCAL_MACHINE, ViewOf(true), kRun, machine64), before2);
    EXPECT_FALSE(FileExists(user.FileName()));
    EXPECT_FALSE(FileExists(machine.FileName()));
    EXPECT_EQ(ReadBytes(startup + lone), "stashed lone");
    EXPECT_EQ(ReadBytes(startup + twin), "re-created twin");
    EXPECT_FALSE(FileExists(stashUser + lone));
    EXPECT_FALSE(FileExists(stashUser + twin));
}

TEST_F(StartupLists, ShortcutThatCannotGoBackStaysStashed)
{
    const std::string stash = StartupStashFolder(true);
    ASSERT_TRUE(ForceDirectories(stash, false, true));
    const std::string name = Name("kept.lnk");
    Plant(stash, name, "kept");
    // A Startup folder that does not exist: the copy back fails.
    RestoreShortcuts(stash, stash + Name("missing") + "\\");
    EXPECT_EQ(ReadBytes(stash + name), "kept");
    RestoreShortcuts(stash, "");
    EXPECT_EQ(ReadBytes(stash + name), "kept");
}

TEST_F(StartupLists, PostponeShortcutMovesIntoTheStashReplacingAnOldCopy)
{
    const std::string stash = StartupStashFolder(false), startup = CommonStartupDir();
    ASSERT_FALSE(startup.empty());
    ASSERT_TRUE(ForceDirectories(startup, false, true));
    ASSERT_TRUE(ForceDirectories(stash, false, true));
    const std::string name = Name("move.lnk");
    TfwFoundStartup f;
    f.IsShortcut = true;
    f.IsUser = false;
    f.ShortcutPath = Plant(startup, name, "new shortcut");
    Plant(stash, name, "old stashed copy");

    EXPECT_TRUE(PostponeShortcut(f));
    EXPECT_FALSE(FileExists(f.ShortcutPath));
    EXPECT_EQ(ReadBytes(stash + name), "new shortcut");
    EXPECT_FALSE(PostponeShortcut(f));  // gone: nothing to do
    EXPECT_EQ(ReadBytes(stash + name), "new shortcut");
}

TEST_F(StartupLists, RunnerKeepsPriorityOrderAndRhythm)
{
    TfwAllRunItems machine(false);
    WriteFileBytes(machine.FileName(),
                   "<startup>\r\n"
                   "    <run app=\"L\" name=\"late\" value=\"late.exe\" priority=\"3\" />\r\n"
                   "    <run app=\"F\" name=\"first\" value=\"first.exe /x\" priority=\"0\" />\r\n"
                   "    <run app=\"E\" name=\"empty\" value=\"\" priority=\"1\" />\r\n"
                   "    <run app=\"S\" name=\"second\" value=\"%SystemRoot%\\second.exe\" priority=\"0\" expand=\"1\" />\r\n"
                   "</startup>\r\n");
    TfwAllRunItems user(true);
    WriteFileBytes(user.FileName(),
                   "<startup>\r\n    <run app=\"C\" name=\"clamped\" value=\"clamped.exe\" priority=\"15\" />\r\n</startup>\r\n");
    const std::string stashUser = StartupStashFolder(true), stashMachine = StartupStashFolder(false);
    ASSERT_TRUE(ForceDirectories(stashUser, false, true));
    ASSERT_TRUE(ForceDirectories(stashMachine, false, true));
    Plant(stashMachine, Name("m.lnk"), "m");
    Plant(stashUser, Name("u.lnk"), "u");

    int calls = 0;
    RunPostponedStartup([&] { ++calls; });

    char windir[MAX_PATH];
    GetEnvironmentVariableA("SystemRoot", windir, MAX_PATH);
    // Level 0: two starts a second apart, then 5.5 s; levels 1 and 2 are
    // empty and cost nothing; level 3 closes the machine list. The user list's
    // clamped entry waits for level 10 of its own run. Shortcuts come last,
    // the user's first, a second apart.
    std::vector<std::pair<DWORD, std::string>> want = {
        {0, "exec:first.exe /x"},
        {1000, "exec:" + std::string(windir) + "\\second.exe"},
        {7500, "exec:late.exe"},
        {14000, "exec:clamped.exe"},
        {20500, "open:" + stashUser + Name("u.lnk")},
        {21500, "open:" + stashMachine + Name("m.lnk")},
    };
    // Only the planted shortcuts are ours; the prefix's stash should hold none.
    std::vector<std::pair<DWORD, std::string>> got;
    for (const auto &e : Recorder::events)
        if (e.second.rfind("exec:", 0) == 0 || e.second.find(marker_) != std::string::npos) got.push_back(e);
    EXPECT_EQ(got, want);
    EXPECT_EQ(Recorder::now, 22500u);
    // Machine list: 4 levels + 3 starts x 3 + 2 non-empty levels x 11; user
    // list: 11 levels + 3 + 11; shortcuts: 2 x 3.
    EXPECT_EQ(calls, (4 + 9 + 22) + (11 + 3 + 11) + 6);
    // Running changes nothing.
    EXPECT_TRUE(FileExists(machine.FileName()));
    EXPECT_TRUE(FileExists(stashUser + Name("u.lnk")));
}

}  // namespace
