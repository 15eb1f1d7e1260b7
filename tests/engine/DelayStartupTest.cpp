// The memory release and the postponing of startup programs, scan to repair.
// A made-up chat program ("Zibblo") is planted in both program folders and
// started by Run values of HKCU and of HKLM's 64-bit view and by a startup
// shortcut; everything planted carries a marker unique to the run and goes
// in TearDown, and the prefix's own startup lists are put back.
#include "engine/fwClassesEx.h"

#include "RegSnapshot.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"
#include "config/fwCommon.h"
#include "config/fwSettings.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <string>
#include <vector>

namespace {

const std::string kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A non-ASCII character the system's code page carries: "é", or where the
// code page has none, a Japanese one whose second byte is a backslash.
std::string NonAsciiText()
{
    for (const wchar_t *w : {L"\u00E9", L"\u8868"}) {
        char buf[8];
        BOOL usedDefault = FALSE;
        int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w, 1, buf, sizeof buf, nullptr, &usedDefault);
        if (n > 0 && !usedDefault) return std::string(buf, size_t(n));
    }
    return "?";
}

REGSAM View(bool is64)
{
    if (!Is64BitOS()) return 0;
    return is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
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

class DelayStartup : public testing::Test {
protected:
    void SetUp() override
    {
        if (!Is64BitOS()) GTEST_SKIP() << "the scenario needs both program folders";
        marker_ = "Zibblo" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
        settings_ = Settings();
        TSettings s = settings_;
        s.DelayStartup = true;
        SetSettings(s);
        for (bool user : {true, false}) {
            std::string folder = user ? UserDataFolder() : CommonDataFolder();
            ASSERT_FALSE(folder.empty());
            if (!DirectoryExists(folder)) {
                ASSERT_TRUE(ForceDirectories(folder, false, true));
                created_.push_back(folder);
            }
            std::string file = TfwAllRunItems(user).FileName();
            savedLists_[file] = FileExists(file) ? ReadBytes(file) : std::string("\x01missing");
            DeleteFileA(file.c_str());
        }
        dir32_ = ProgramFiles32Dir() + marker_ + "\\";
        dir64_ = ProgramFiles64Dir() + marker_ + " x64\\";
        ASSERT_NE(dir32_, dir64_);
        ASSERT_TRUE(ForceDirectories(dir32_, false, true));
        ASSERT_TRUE(ForceDirectories(dir64_, false, true));
        exe32_ = dir32_ + "zibblo.exe";
        exe64_ = dir64_ + "zibblo.exe";
        helper_ = dir32_ + "helper.exe";
        for (const std::string &f : {exe32_, exe64_, helper_}) WriteBytes(f, "MZ");

        // Definitions as the document would carry them; the third matches the
        // same program as the first and must come away empty-handed.
        const std::string doc =
            "<items>"
            "<startup name=\"Zibblo Talk\" priority=\"3\">%PROGRAMFILES%\\" + marker_ + "\\zibblo.exe</startup>"
            "<startup name=\"Zibblo Talk 64\" priority=\"0\" is64=\"1\">%PROGRAMFILES%\\" + marker_ + " x64\\zibblo.exe</startup>"
            "<startup name=\"Late duplicate\" priority=\"9\">%PROGRAMFILES%\\" + marker_ + "\\zib*.exe</startup>"
            "<other>ignored</other>"
            "</items>";
        TXML xml;
        xml.LoadFromString(doc);
        scanner_ = new TfwItemsDelayStartup(&main_);
        scanner_->LoadFromXML(xml.Root()->FindFirst("items"));
        ASSERT_EQ(scanner_->List.size(), 3u);
        main_.Status.Kind = TfwCategoryKind::Boost;

        userValue_ = marker_;
        machineValue_ = marker_ + "64";
        helperValue_ = marker_ + "Helper";
        regtest::PutRaw(HKEY_CURRENT_USER, View(false), kRun, userValue_, REG_SZ,
                        "\"" + exe32_ + "\" /tray \"&\" caf" + NonAsciiText() + '\0');
        regtest::PutRaw(HKEY_LOCAL_MACHINE, View(true), kRun, machineValue_, REG_EXPAND_SZ,
                        "\"" + exe64_ + "\" -silent" + '\0');
        regtest::PutRaw(HKEY_CURRENT_USER, View(false), kRun, helperValue_, REG_SZ, helper_ + '\0');
        // Postponing needs the tray program that starts the programs later.
        savedAutostart_ = regtest::GetRaw(HKEY_LOCAL_MACHINE, View(false), kRun, "Tovu");
        regtest::PutRaw(HKEY_LOCAL_MACHINE, View(false), kRun, "Tovu", REG_SZ,
                        "\"C:\\Program Files\\Tovu\\TovuTray.exe\" /startup" + std::string(1, '\0'));
    }
    void RemoveAutostart()
    {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun.c_str(), 0, KEY_SET_VALUE | View(false), &k) == 0) {
            RegDeleteValueA(k, "Tovu");
            RegCloseKey(k);
        }
    }

    void TearDown() override
    {
        delete scanner_;
        if (marker_.empty()) return;
        SetSettings(settings_);
        for (auto &[file, bytes] : savedLists_) {
            DeleteFileA(file.c_str());
            if (bytes != "\x01missing") WriteBytes(file, bytes);
        }
        for (auto [root, is64, name] : {std::tuple{HKEY_CURRENT_USER, false, userValue_},
                                        std::tuple{HKEY_LOCAL_MACHINE, true, machineValue_},
                                        std::tuple{HKEY_CURRENT_USER, false, helperValue_}}) {
            HKEY k;
            if (RegOpenKeyExA(root, kRun.c_str(), 0, KEY_SET_VALUE | View(is64), &k) == 0) {
                RegDeleteValueA(k, name.c_str());
                RegCloseKey(k);
            }
        }
        RemoveAutostart();
        if (size_t colon = savedAutostart_.find(':'); savedAutostart_ != "<none>" && colon != std::string::npos)
            regtest::PutRaw(HKEY_LOCAL_MACHINE, View(false), kRun, "Tovu",
                            DWORD(std::stoul(savedAutostart_.substr(0, colon))), savedAutostart_.substr(colon + 1));
        for (const std::string &f : extraFiles_) DeleteFileA(f.c_str());
        DeleteFolder(dir32_, true);
        DeleteFolder(dir64_, true);
        for (bool user : {true, false}) RemoveDirectoryA(StartupStashFolder(user).c_str());
        for (const std::string &f : created_) RemoveDirectoryA(f.c_str());
    }

    TfwStartupItem *Def(int i) { return static_cast<TfwStartupItem *>(scanner_->List[i]); }
    std::string Raw(HKEY root, bool is64, const std::string &name)
    {
        return regtest::GetRaw(root, View(is64), kRun, name);
    }

    TfwMain main_;
    TfwItemsDelayStartup *scanner_ = nullptr;
    TSettings settings_;
    std::string marker_, dir32_, dir64_, exe32_, exe64_, helper_;
    std::string userValue_, machineValue_, helperValue_, savedAutostart_;
    std::map<std::string, std::string> savedLists_;
    std::vector<std::string> created_, extraFiles_;
};

TEST_F(DelayStartup, NothingWhileTheSettingIsOff)
{
    TSettings s = Settings();
    s.DelayStartup = false;
    SetSettings(s);
    scanner_->Scan();
    EXPECT_EQ(scanner_->FoundCount(), 0);
    EXPECT_TRUE(scanner_->Running.empty());
    EXPECT_EQ(main_.Status.BoostCount, 0);
}

// A stop anywhere in the fix, the final save included, leaves every Run value
// starting its program as before and writes no list.
TEST_F(DelayStartup, StoppedFixSavesNothing)
{
    for (bool atTheEnd : {false, true}) {
        SCOPED_TRACE(atTheEnd ? "stop before saving" : "stop at the first definition");
        for (TfwItem *i : scanner_->List) i->Found = false;
        main_.Stopped = false;
        main_.OnProgress = nullptr;
        scanner_->Scan();
        ASSERT_TRUE(Def(0)->Found);
        ASSERT_TRUE(Def(1)->Found);
        const std::string before = Raw(HKEY_CURRENT_USER, false, userValue_);
        const std::string before64 = Raw(HKEY_LOCAL_MACHINE, true, machineValue_);
        main_.OnProgress = [&](const TfwUIStatus &) { return atTheEnd && scanner_->Step < scanner_->Steps; };
        scanner_->Fix();
        EXPECT_EQ(Raw(HKEY_CURRENT_USER, false, userValue_), before);
        EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, true, machineValue_), before64);
        for (auto &[file, bytes] : savedLists_) EXPECT_FALSE(FileExists(file)) << file;
    }
}

// Without the tray program's autostart value nothing would ever start the
// postponed programs again: the fix leaves every entry where it is and says why.
TEST_F(DelayStartup, PostponingNeedsTheRunner)
{
    RemoveAutostart();
    scanner_->Scan();
    ASSERT_TRUE(Def(0)->Found);
    const std::string before = Raw(HKEY_CURRENT_USER, false, userValue_);
    const std::string before64 = Raw(HKEY_LOCAL_MACHINE, true, machineValue_);
    std::wstring shown;
    main_.OnProgress = [&](const TfwUIStatus &s) {
        shown = s.GroupCaption;
        return true;
    };
    scanner_->Fix();
    EXPECT_EQ(Raw(HKEY_CURRENT_USER, false, userValue_), before);
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, true, machineValue_), before64);
    for (auto &[file, bytes] : savedLists_) EXPECT_FALSE(FileExists(file)) << file;
    EXPECT_NE(scanner_->Refusal.find(L"tray program"), std::wstring::npos);
    EXPECT_EQ(shown, scanner_->Refusal);
}

// The whole round: claimed by the right definitions, postponed, recorded
// exactly, and put back byte for byte. Shortcuts need COM, so this suite runs
// in a process of its own.
class DelayStartupShortcuts : public DelayStartup {
protected:
    void SetUp() override
    {
        DelayStartup::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        startup_ = StartupDir();
        ASSERT_FALSE(startup_.empty());
        ASSERT_TRUE(ForceDirectories(startup_, false, true));
        link_ = startup_ + marker_ + ".lnk";
        stashed_ = StartupStashFolder(true) + marker_ + ".lnk";
        extraFiles_.push_back(link_);
        extraFiles_.push_back(stashed_);
        ASSERT_TRUE(MakeLink(link_, exe32_, "/startup"));
    }
    void TearDown() override
    {
        DelayStartup::TearDown();
        if (com_) CoUninitialize();
    }

    bool MakeLink(const std::string &lnk, const std::string &target, const std::string &args)
    {
        IShellLinkA *link = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void **>(&link))))
            return false;
        IPersistFile *file = nullptr;
        bool ok = SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(link->SetArguments(args.c_str())) &&
                  SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
        if (ok) {
            std::wstring wide(lnk.begin(), lnk.end());
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
            file->Release();
        }
        link->Release();
        return ok;
    }

    bool com_ = false;
    std::string startup_, link_, stashed_;
};

TEST_F(DelayStartupShortcuts, ScanFixAndRestore)
{
    const std::string userRaw = Raw(HKEY_CURRENT_USER, false, userValue_);
    const std::string machineRaw = Raw(HKEY_LOCAL_MACHINE, true, machineValue_);
    const std::string linkBytes = ReadBytes(link_);
    ASSERT_FALSE(linkBytes.empty());

    scanner_->Scan();

    // First definition: the HKCU value and the shortcut (file order of the
    // claimed rows; entries of one program in the order they were found).
    TfwStartupItem *talk = Def(0);
    ASSERT_TRUE(talk->Found);
    EXPECT_TRUE(talk->Selected);
    ASSERT_TRUE(talk->Entries);
    ASSERT_EQ(talk->Entries->size(), 2u);
    const TfwFoundStartup &run = *(*talk->Entries)[0].Entry;
    const TfwFoundStartup &lnk = *(*talk->Entries)[1].Entry;
    EXPECT_FALSE(run.IsShortcut);
    EXPECT_TRUE(run.IsUser);
    EXPECT_EQ(run.Name, userValue_);
    EXPECT_EQ(run.Value, "\"" + exe32_ + "\" /tray \"&\" caf" + NonAsciiText());
    EXPECT_FALSE(run.Is64);
    EXPECT_FALSE(run.Expand);
    EXPECT_EQ(run.App, "Zibblo Talk");
    EXPECT_EQ(run.Priority, 3);
    EXPECT_TRUE(lnk.IsShortcut);
    EXPECT_TRUE(lnk.IsUser);
    EXPECT_EQ(lstrcmpiA(lnk.ShortcutPath.c_str(), link_.c_str()), 0) << lnk.ShortcutPath;
    EXPECT_EQ(lnk.App, "Zibblo Talk");

    TfwStartupItem *talk64 = Def(1);
    ASSERT_TRUE(talk64->Found);
    ASSERT_TRUE(talk64->Entries);
    ASSERT_EQ(talk64->Entries->size(), 1u);
    const TfwFoundStartup &m = *(*talk64->Entries)[0].Entry;
    EXPECT_FALSE(m.IsUser);
    EXPECT_TRUE(m.Is64);
    EXPECT_TRUE(m.Expand);
    EXPECT_EQ(m.Name, machineValue_);
    EXPECT_EQ(m.Priority, 0);

    EXPECT_FALSE(Def(2)->Found);  // matched the same program, but second
    EXPECT_FALSE(Def(2)->Entries);
    EXPECT_EQ(main_.Status.BoostCount, 3);
    // The helper nobody defined stays unclaimed.
    bool helperLeft = false;
    for (auto &[key, e] : scanner_->Running) helperLeft |= e->Name == helperValue_;
    EXPECT_TRUE(helperLeft);

    scanner_->Fix();

    EXPECT_EQ(Raw(HKEY_CURRENT_USER, false, userValue_), "<none>");
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, true, machineValue_), "<none>");
    EXPECT_NE(Raw(HKEY_CURRENT_USER, false, helperValue_), "<none>");
    EXPECT_FALSE(FileExists(link_));
    EXPECT_EQ(ReadBytes(stashed_), linkBytes);

    TfwAllRunItems user(true), machine(false);
    user.Load();
    machine.Load();
    ASSERT_EQ(user.Items.size(), 1u);
    ASSERT_EQ(machine.Items.size(), 1u);
    EXPECT_EQ(user.Items[0]->Value, run.Value);
    EXPECT_EQ(user.Items[0]->App, "Zibblo Talk");
    EXPECT_EQ(user.Items[0]->Priority, 3);
    EXPECT_EQ(machine.Items[0]->Name, machineValue_);
    EXPECT_TRUE(machine.Items[0]->Is64);
    EXPECT_TRUE(machine.Items[0]->Expand);

    // The user puts a fresh shortcut of the same name back meanwhile: it
    // stays, and the stashed one is dropped.
    WriteBytes(link_, "fresh");
    RestorePostponedStartup();

    EXPECT_EQ(Raw(HKEY_CURRENT_USER, false, userValue_), userRaw);
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, true, machineValue_), machineRaw);
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, false, machineValue_), "<none>");
    EXPECT_EQ(ReadBytes(link_), "fresh");
    EXPECT_FALSE(FileExists(stashed_));
    EXPECT_FALSE(FileExists(user.FileName()));
    EXPECT_FALSE(FileExists(machine.FileName()));

    // Postponed once more and restored with nothing in the way: the shortcut
    // comes back byte for byte.
    DeleteFileA(link_.c_str());
    ASSERT_TRUE(MakeLink(link_, exe32_, "/startup"));
    const std::string again = ReadBytes(link_);
    for (TfwItem *i : scanner_->List) i->Found = false;
    scanner_->Scan();
    scanner_->Fix();
    ASSERT_FALSE(FileExists(link_));
    RestorePostponedStartup();
    EXPECT_EQ(ReadBytes(link_), again);
    EXPECT_EQ(Raw(HKEY_CURRENT_USER, false, userValue_), userRaw);
}

// ---- memory ---------------------------------------------------------------------

struct FakeMemory {
    static inline bool ok = true;
    static inline uint64_t total = 0;
    static inline std::vector<uint64_t> avail;  // one per query; the last repeats
    static inline size_t queries = 0;
    static inline int allocLimit = -1;  // blocks before the allocation fails
    static inline int allocs = 0, frees = 0, touched = 0;
    static inline bool real = false;

    static bool Status(uint64_t &t, uint64_t &a)
    {
        if (!ok) return false;
        t = total;
        a = avail.empty() ? 0 : avail[std::min(queries, avail.size() - 1)];
        ++queries;
        return true;
    }
    static void *Alloc(size_t bytes)
    {
        if (allocLimit >= 0 && allocs >= allocLimit) return nullptr;
        ++allocs;
        // Fake blocks share one real buffer: the fix writes to every block.
        static std::vector<unsigned char> shared(1048576);
        return real ? calloc(1, bytes) : shared.data();
    }
    static void Free(void *p)
    {
        ++frees;
        if (real) {
            auto *b = static_cast<unsigned char *>(p);
            if (b[0] == 1 && b[1048575] == 1 && b[4096 * 100] == 1) ++touched;
            free(p);
        }
    }
};

class Memory : public testing::Test {
protected:
    void SetUp() override
    {
        FakeMemory::ok = true;
        FakeMemory::queries = 0;
        FakeMemory::allocLimit = -1;
        FakeMemory::allocs = FakeMemory::frees = FakeMemory::touched = 0;
        FakeMemory::real = false;
        TfwItemsMemory::Api = {FakeMemory::Status, FakeMemory::Alloc, FakeMemory::Free};
        main_.Status.Kind = TfwCategoryKind::Boost;
        main_.Status.Position = 17;
        main_.Status.Maximum = 99;
    }
    void TearDown() override { TfwItemsMemory::Api = TfwItemsMemory::DefaultApi(); }

    void Prepare(uint64_t totalMB, uint64_t availBefore, uint64_t availAfter)
    {
        FakeMemory::total = totalMB * 1048576;
        FakeMemory::avail = {availBefore, availBefore, availAfter};
        mem_.Scan();
        ASSERT_TRUE(mem_.Advised);
    }

    TfwMain main_;
    TfwItemsMemory mem_{&main_};
};

TEST_F(Memory, AdvisedOnlyOnSmallBusySystems)
{
    const uint64_t MB = 1048576;
    struct Case {
        bool ok;
        uint64_t total, avail;
        bool advised;
        int64_t memoryFree, totalMB;
    } cases[] = {
        {true, 2048 * MB, 20 * MB, false, -1, 2048},     // 2 GiB never
        {true, 1024 * MB, 1024 * MB * 15 / 100 + 1, true, 15, 1024},
        {true, 1024 * MB, 1024 * MB * 21 / 100, true, 20, 1024},  // 20.99 % is truncated
        {true, 1000 * MB, 1000 * MB * 21 / 100, false, -1, 1000},
        {true, 500 * MB, 500 * MB / 5, true, 20, 500},   // exactly a fifth
        {true, 512 * MB, 900 * MB, false, -1, 512},      // over 100 % counts as 100
        {true, 1024 * MB + MB - 1, 0, true, 0, 1024},    // MiB are truncated
        {false, 0, 0, false, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.total) + "/" + std::to_string(c.avail));
        TfwMain main;
        main.Status.Kind = TfwCategoryKind::Boost;
        TfwItemsMemory mem(&main);
        FakeMemory::ok = c.ok;
        FakeMemory::total = c.total;
        FakeMemory::avail = {c.avail};
        FakeMemory::queries = 0;
        mem.Scan();
        EXPECT_EQ(mem.Advised, c.advised);
        EXPECT_EQ(mem.FoundCount(), c.advised ? 1 : 0);
        EXPECT_EQ(main.Status.BoostCount, c.advised ? 1 : 0);
        EXPECT_EQ(main.Status.MemoryFree, c.memoryFree);
        EXPECT_EQ(mem.TotalMB, c.totalMB);
    }
}

TEST_F(Memory, FixEndsAtTheFirstRefusedAllocationAndFreesEverything)
{
    Prepare(1024, 100 * 1048576, 400 * 1048576);
    FakeMemory::allocLimit = 300;
    std::vector<int32_t> positions;
    main_.OnProgress = [&](const TfwUIStatus &s) {
        positions.push_back(s.Position);
        return true;
    };
    mem_.Fix();
    EXPECT_EQ(FakeMemory::allocs, 300);
    EXPECT_EQ(FakeMemory::frees, 300);
    EXPECT_EQ(mem_.Released, 300 * 1048576);
    EXPECT_EQ(main_.Status.Position, 17);
    EXPECT_EQ(main_.Status.Maximum, 99);
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 17);

    // Less available afterwards is reported as it is.
    FakeMemory::queries = 0;
    FakeMemory::avail = {500 * 1048576, 450 * 1048576};
    FakeMemory::allocLimit = -1;
    FakeMemory::allocs = FakeMemory::frees = 0;
    mem_.Fix();
    EXPECT_EQ(FakeMemory::allocs, 1024);
    EXPECT_EQ(FakeMemory::frees, 1024);
    EXPECT_EQ(mem_.Released, -50 * 1048576);
}

TEST_F(Memory, StopTakesNothingAndFreesWhatWasTaken)
{
    Prepare(1024, 100, 100);
    main_.OnProgress = [](const TfwUIStatus &) { return false; };
    mem_.Fix();
    EXPECT_EQ(FakeMemory::allocs, 0);
    EXPECT_EQ(main_.Status.Position, 17);
    EXPECT_EQ(main_.Status.Maximum, 99);

    // Stopped after some blocks: the ones taken are all given back.
    main_.Stopped = false;
    int reports = 0;
    main_.OnProgress = [&](const TfwUIStatus &) { return ++reports < 2; };
    FakeMemory::queries = 0;
    mem_.Fix();
    EXPECT_EQ(FakeMemory::frees, FakeMemory::allocs);
}

TEST_F(Memory, RealSmallRelease)
{
    // A machine of 8 MiB with little free, on real allocations.
    FakeMemory::real = true;
    Prepare(8, 1048576, 2 * 1048576);
    mem_.Fix();
    EXPECT_EQ(FakeMemory::allocs, 8);
    EXPECT_EQ(FakeMemory::touched, 8);  // every block was written before it went
    EXPECT_EQ(mem_.Released, 1048576);
    // And the real status seam answers on this system.
    uint64_t total = 0, avail = 0;
    EXPECT_TRUE(TfwItemsMemory::DefaultApi().Status(total, avail));
    EXPECT_GT(total, 0u);
}

}  // namespace
