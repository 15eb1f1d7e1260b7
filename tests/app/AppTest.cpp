// The main program's roles, run as real Tovu.exe processes from a program
// folder installed the way the installer leaves it, with a stand-in tray
// program that records its starts and its stop; and the dispatch decisions.
#include "app/fwAppBody.h"
#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/MutexU.h"
#include "platform/ObjectSecurityU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/ScratchFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string OwnFolder()
{
    char buf[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, buf, MAX_PATH);
    std::string p = buf;
    return p.substr(0, p.find_last_of('\\') + 1);
}

std::string Read(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

bool Write(const std::string &path, const std::string &text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(f);
    return ok;
}

bool AllDigits(const std::string &s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// Polls until done() or the limit; Wine under emulation starts a process in
// seconds, so limits are generous.
template <class F> bool WaitUntil(F done, DWORD limitMs = 60000)
{
    for (DWORD waited = 0;; waited += 100) {
        if (done()) return true;
        if (waited >= limitMs) return false;
        Sleep(100);
    }
}

std::vector<DWORD> ProcessesNamed(const char *exe)
{
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32 e{};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e))
        if (lstrcmpiA(e.szExeFile, exe) == 0) ids.push_back(e.th32ProcessID);
    CloseHandle(snap);
    return ids;
}

// A started Tovu.exe; the destructor ends it if a failed test left it running.
class TProgram {
public:
    TProgram(const std::string &exe, const std::string &args)
    {
        std::string line = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (CreateProcessA(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
            CloseHandle(pi_.hThread);
        else
            pi_.hProcess = nullptr;
        started_ = GetTickCount();
    }
    ~TProgram()
    {
        if (!pi_.hProcess) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hProcess);
    }
    bool Started() const { return pi_.hProcess != nullptr; }
    // True when it ended within the limit; elapsed is measured from the start.
    bool Ended(DWORD limitMs = 120000)
    {
        if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, limitMs) != WAIT_OBJECT_0) return false;
        elapsed_ = GetTickCount() - started_;
        return true;
    }
    bool Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
    DWORD ExitCode() const
    {
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    DWORD Elapsed() const { return elapsed_; }

private:
    PROCESS_INFORMATION pi_{};
    DWORD started_ = 0, elapsed_ = 0;
};

// Tovu.exe and the stand-in tray program copied into "Tovu\" under the
// 32-bit program files folder, as the installer leaves them. Every place the
// roles touch outside it (both settings keys, the autostart value, both data
// folders) is removed before and after each test; none exists in a fresh
// prefix.
class Installed : public testing::Test {
protected:
    std::string Folder, Main, Tray, TrayLog;

    void SetUp() override
    {
        Folder = ProgramFiles32Dir();
        if (!Folder.empty() && Folder.back() != '\\') Folder += '\\';
        Folder += "Tovu\\";
        Main = Folder + "Tovu.exe";
        Tray = Folder + "TovuTray.exe";
        TrayLog = Folder + "tray-started.txt";
        Clean();
        ASSERT_TRUE(ForceDirectories(Folder, false, true));
        ASSERT_TRUE(CopyFileA((OwnFolder() + "..\\Tovu.exe").c_str(), Main.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((OwnFolder() + "TrayStandIn.exe").c_str(), Tray.c_str(), FALSE));
    }
    void TearDown() override { Clean(); }

    void StopTrayStandIns()
    {
        TGlobalEvent stop(EventStopTray);
        stop.Signal();
        std::vector<DWORD> ids = ProcessesNamed(TrayExeName), playingMain = ProcessesNamed("Tovu.new");
        ids.insert(ids.end(), playingMain.begin(), playingMain.end());
        for (DWORD id : ids) {
            HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
            if (!p) continue;
            if (WaitForSingleObject(p, 10000) == WAIT_TIMEOUT) TerminateProcess(p, 99);
            CloseHandle(p);
        }
        stop.Unsignal();
    }

    void Clean()
    {
        StopTrayStandIns();
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_CURRENT_USER, "Software\\Tovu", true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, "Software\\Tovu", true);
        RegRemoveValue(HKEY_LOCAL_MACHINE, RunKey, AutostartValue);
        RegRemoveValue(HKEY_LOCAL_MACHINE, RunKey, "TovuTestPostponed");
        for (const std::string &f : {CommonDataFolder(), UserDataFolder()})
            if (!f.empty()) DeleteFolder(f, true);
        if (!Folder.empty()) DeleteFolder(Folder, true);
    }

    int TrayStarts() const
    {
        const std::string log = Read(TrayLog);
        int n = 0;
        for (size_t at = log.find("start "); at != std::string::npos; at = log.find("start ", at + 1)) ++n;
        return n;
    }

    // Whether a running interactive instance holds the single-instance mutex.
    static bool InstanceRunning()
    {
        TGlobalMutex app(MutexApp);
        if (!app.WaitFor(0)) return true;
        app.Release();
        return false;
    }

    // An interactive start to its end: it shows the wizard, which ends as
    // "/STOP" ends it, on the stop event.
    DWORD RunInteractive(const std::string &args)
    {
        TGlobalEvent stop(EventStopMain);
        stop.Unsignal();
        TProgram p(Main, args);
        EXPECT_TRUE(p.Started()) << args;
        EXPECT_TRUE(WaitUntil([&] { return InstanceRunning() || !p.Running(); }, 60000)) << args;
        stop.Signal();
        EXPECT_TRUE(p.Ended()) << args;
        stop.Unsignal();
        return p.ExitCode();
    }

    // Runs a role to its end.
    DWORD Run(const std::string &args, DWORD *elapsed = nullptr)
    {
        // The roles report to the configured service; here to a port of this
        // machine where nobody listens, so nothing leaves it and the report
        // fails at once.
        {
            TRegViewScope view(false, true);
            RegWriteStr(HKEY_LOCAL_MACHINE, "Software\\Tovu", "LI_URL",
                        "http://127.0.0.1:1/client.asmx/GetXML?action=%ACTION%&cr=%CU%");
        }
        TProgram p(Main, args);
        EXPECT_TRUE(p.Started()) << args;
        EXPECT_TRUE(p.Ended()) << args;
        if (elapsed) *elapsed = p.Elapsed();
        return p.ExitCode();
    }
};

std::string Setting(HKEY root, const char *name)
{
    std::string v;
    ReadSettingText(root, name, v);
    return v;
}

double Date(HKEY root, const char *name)
{
    double v = 0;
    return ReadSettingDate(root, name, v) ? v : -1e9;
}

} // namespace

TEST(Dispatch, ArgumentsAndRoles)
{
    struct Case {
        const char *line;
        TAppRole role;
        bool wait, relaunched;
    };
    const Case cases[] = {
        {"\"C:\\Program Files\\Tovu\\Tovu.exe\" /INSTALL", TAppRole::Install, false, false},
        {"Tovu.exe /install", TAppRole::Install, false, false},
        {"Tovu.exe /UnInstall extra", TAppRole::Uninstall, false, false},
        {"Tovu.exe /stop", TAppRole::Stop, false, false},
        {"Tovu.exe /CompleteUpdate", TAppRole::CompleteUpdate, false, false},
        {"Tovu.exe /INSTALLX", TAppRole::Interactive, false, false},
        {"Tovu.exe", TAppRole::Interactive, false, false},
        {"Tovu.exe \"\"", TAppRole::Interactive, false, false},
        // A role argument in second place is no role.
        {"Tovu.exe /SCAN /INSTALL", TAppRole::Interactive, false, false},
        {"Tovu.exe /wait", TAppRole::Interactive, true, false},
        {"Tovu.exe /SCAN /Wait", TAppRole::Interactive, true, false},
        {"Tovu.exe a b /WAIT", TAppRole::Interactive, false, false},
        {"Tovu.exe /UAC", TAppRole::Interactive, false, true},
        {"Tovu.exe /SCAN /UAC", TAppRole::Interactive, false, true},
        {"Tovu.exe /uac", TAppRole::Interactive, false, false},
        {"Tovu.exe a b /UAC", TAppRole::Interactive, false, false},
    };
    for (const Case &c : cases) {
        const std::vector<std::string> args = CommandLineArguments(c.line);
        EXPECT_EQ(RoleFor(args), c.role) << c.line;
        EXPECT_EQ(WaitRequested(args), c.wait) << c.line;
        EXPECT_EQ(AlreadyRelaunched(args), c.relaunched) << c.line;
    }
    EXPECT_EQ(CommandLineArguments("\"C:\\Program Files\\Tovu\\Tovu.exe\"  /a  \"b c\"d"),
              (std::vector<std::string>{"/a", "b cd"}));
    EXPECT_TRUE(CommandLineArguments("").empty());
}

TEST(Dispatch, ElevationRelaunch)
{
    struct Case {
        bool elevated;
        const char *line;
        bool relaunch;
        const char *parameters;
    };
    const Case cases[] = {
        {false, "Tovu.exe", true, " /UAC"},
        {false, "Tovu.exe /SCAN", true, "/SCAN /UAC"},
        // Only the first argument goes along.
        {false, "Tovu.exe /WAIT /SCAN", true, "/WAIT /UAC"},
        // The marker is case-sensitive: a lower-case one is relaunched again.
        {false, "Tovu.exe /uac", true, "/uac /UAC"},
        {false, "Tovu.exe /UAC", false, ""},
        {false, "Tovu.exe /SCAN /UAC", false, ""},
        {true, "Tovu.exe /SCAN", false, ""},
        {true, "Tovu.exe", false, ""},
    };
    for (const Case &c : cases) {
        const TElevationRelaunch r = ElevationRelaunchFor(c.elevated, CommandLineArguments(c.line));
        EXPECT_EQ(r.Relaunch, c.relaunch) << c.line;
        EXPECT_EQ(r.Parameters, c.parameters) << c.line;
    }
    // The elevation answer comes from the token; Wine answers "elevated", so
    // both answers are injected.
    if (OSVersionClass() <= OSClassServer2003) GTEST_SKIP() << "no token elevation before Vista";
    for (const TTokenAnswers answers : {TTokenAnswers{0, 0x2000}, TTokenAnswers{1, 0x3000}}) {
        SetTokenAnswersForTest(&answers);
        EXPECT_EQ(ElevationRelaunchFor(IsElevated(), CommandLineArguments("Tovu.exe /SCAN")).Relaunch,
                  answers.elevation == 0);
        SetTokenAnswersForTest(nullptr);
    }
}

TEST(Dispatch, NamesAndIdentifier)
{
    const TSettings saved = Settings();
    TSettings settings = saved;
    settings.ReportUrl = "https://127.0.0.1/r?action=%Action%&again=%ACTION%&cr=%CU%";
    SetSettings(settings);
    EXPECT_EQ(ReportAddress("UNTOVU"), "https://127.0.0.1/r?action=UNTOVU&again=UNTOVU&cr=%CU%");
    SetSettings(saved);

    EXPECT_EQ(WithExtension("C:\\a.b\\Tovu.exe", ".old"), "C:\\a.b\\Tovu.old");
    EXPECT_EQ(WithExtension("C:\\a.b\\Tovu", ".new"), "C:\\a.b\\Tovu.new");
    const std::string a = MakeInstallationId(), b = MakeInstallationId();
    EXPECT_TRUE(AllDigits(a)) << a;
    EXPECT_TRUE(AllDigits(b)) << b;
    EXPECT_NE(a, b);
}

TEST_F(Installed, InstallReinstallUninstall)
{
    EXPECT_EQ(Run("/INSTALL"), 0u);
    const double installedAt = DayNumberNow();
    {
        TRegViewScope view(false, true);
        std::string autostart;
        EXPECT_TRUE(RegReadStr(HKEY_LOCAL_MACHINE, RunKey, AutostartValue, autostart));
        EXPECT_EQ(autostart, "\"" + Tray + "\" /startup");
    }
    if (Is64BitOS()) {
        TRegViewScope view(true, false);
        EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, RunKey, AutostartValue));
    }
    const std::string uid = Setting(HKEY_LOCAL_MACHINE, "UID");
    EXPECT_TRUE(AllDigits(uid)) << uid;
    for (const char *flag : {"SHOW_TRAY", "DELAY_STARTUP", "CHECK_FOR_UPDATES"})
        EXPECT_EQ(Setting(HKEY_LOCAL_MACHINE, flag), "1") << flag;
    EXPECT_EQ(Setting(HKEY_LOCAL_MACHINE, "CREATE_SYSTEMRP"), "0");
    EXPECT_FALSE(Setting(HKEY_LOCAL_MACHINE, "LANGUAGE").empty());
    EXPECT_EQ(Setting(HKEY_LOCAL_MACHINE, "TRACK_USER"), "0");  // as the configuration ships
    const double minute = 1.0 / 1440;
    EXPECT_NEAR(Date(HKEY_LOCAL_MACHINE, "INSTALL"), installedAt, 5 * minute);
    EXPECT_NEAR(Date(HKEY_CURRENT_USER, "LAST_UPDATE"), installedAt - 2, 5 * minute);

    // Folders exist; no standard user may change what the elevated program
    // trusts, and nothing is opened to everyone.
    for (const std::string &f : {CommonDataFolder(), BackupFolder(), CommonStartupStash(), TranslationFolder(),
                                 Folder + "Update\\", UserDataFolder(), UserStartupStash()}) {
        EXPECT_TRUE(DirectoryExists(f)) << f;
        EXPECT_FALSE(scratch::EveryoneCanChange(f)) << f;
    }
    for (const std::string &f : {Folder, Main, Tray}) EXPECT_FALSE(scratch::EveryoneCanChange(f)) << f;
    {
        TRegViewScope view(false, true);
        TRegKey k;
        ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, "Software\\Tovu", READ_CONTROL), ERROR_SUCCESS);
        std::vector<BYTE> sd(4096);
        DWORD size = static_cast<DWORD>(sd.size());
        ASSERT_EQ(RegGetKeySecurity(k.Get(), DACL_SECURITY_INFORMATION, sd.data(), &size), ERROR_SUCCESS);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl);
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE *ace = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&ace)));
            const bool admin = EqualSid(&ace->SidStart, AdministratorsSid()) ||
                               EqualSid(&ace->SidStart, LocalSystemSid());
            EXPECT_TRUE(admin || (ace->Mask & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | WRITE_DAC)) == 0) << i;
            EXPECT_FALSE(EqualSid(&ace->SidStart, EveryoneSid())) << i;
        }
    }
    // The tray program was started, without arguments.
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts() == 1; })) << Read(TrayLog);
    EXPECT_EQ(Read(TrayLog).find("/startup"), std::string::npos);

    // A reinstall keeps the last update check and the identifier but records
    // the new installation time.
    ASSERT_TRUE(WriteSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", 40000.5));
    ASSERT_TRUE(WriteSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", 40000.0));
    EXPECT_EQ(Run("/install"), 0u);
    EXPECT_EQ(Date(HKEY_CURRENT_USER, "LAST_UPDATE"), 40000.5);
    EXPECT_NEAR(Date(HKEY_LOCAL_MACHINE, "INSTALL"), DayNumberNow(), 5 * minute);
    EXPECT_EQ(Setting(HKEY_LOCAL_MACHINE, "UID"), uid);
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts() == 2; })) << Read(TrayLog);

    // A program whose start was postponed goes back to its Run value.
    ASSERT_TRUE(Write(CommonDataFolder() + "startup.xml",
                      "<startup>\r\n    <run app=\"Test\" name=\"TovuTestPostponed\" value=\"C:\\x.exe /q\" "
                      "priority=\"0\" />\r\n</startup>\r\n"));
    ASSERT_TRUE(Write(Folder + "Tovu.new", "left over"));
    DWORD elapsed = 0;
    EXPECT_EQ(Run("/UNINSTALL", &elapsed), 0u);
    // 500 ms, the stop sequence and 2500 ms, even with nothing to stop.
    EXPECT_GE(elapsed, 5200u);
    {
        TRegViewScope view(false, true);
        std::string restored;
        EXPECT_TRUE(RegReadStr(HKEY_LOCAL_MACHINE, RunKey, "TovuTestPostponed", restored));
        EXPECT_EQ(restored, "C:\\x.exe /q");
        EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, RunKey, AutostartValue));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Tovu"));
        EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "Software\\Tovu"));
    }
    for (const std::string &f : {CommonDataFolder(), UserDataFolder(), Folder + "Update\\"})
        EXPECT_FALSE(DirectoryExists(f)) << f;
    EXPECT_FALSE(FileExists(Folder + "Tovu.new"));
    EXPECT_TRUE(FileExists(Main));
    // Both running stand-ins saw the tray's stop event and ended (they would
    // otherwise wait two minutes). Two appending at once may leave one line.
    EXPECT_TRUE(WaitUntil([&] { return ProcessesNamed(TrayExeName).empty(); }, 10000));
    EXPECT_NE(Read(TrayLog).find("stopped"), std::string::npos) << Read(TrayLog);
}

TEST_F(Installed, StopSetsBothEvents)
{
    TGlobalEvent main(EventStopMain), tray(EventStopTray);
    main.Unsignal();
    tray.Unsignal();
    EXPECT_EQ(Run("/STOP"), 0u);
    EXPECT_TRUE(main.WaitFor(0));
    EXPECT_TRUE(tray.WaitFor(0));
    main.Unsignal();
    tray.Unsignal();
    // Stopping installs nothing.
    EXPECT_FALSE(DirectoryExists(CommonDataFolder()));
    EXPECT_EQ(TrayStarts(), 0);
}

TEST_F(Installed, OneInteractiveInstance)
{
    // This test holds the mutex as the running instance would.
    TGlobalMutex app(MutexApp);
    ASSERT_TRUE(app.WaitFor(0));
    TGlobalEvent show(EventShowMain);
    show.Unsignal();
    {
        TProgram second(Main, "/SCAN");
        ASSERT_TRUE(second.Started());
        EXPECT_TRUE(WaitUntil([&] { return show.WaitFor(0); }));
        const DWORD signalled = GetTickCount();
        EXPECT_TRUE(second.Ended());
        // A figure for the reader, not a limit: the start itself takes as long
        // as the machine needs.
        std::printf("second start: ended %lu ms after it set the event, %lu ms after its start\n",
                    static_cast<unsigned long>(GetTickCount() - signalled),
                    static_cast<unsigned long>(second.Elapsed()));
        EXPECT_EQ(second.ExitCode(), 0u);
    }
    show.Unsignal();

    // "/WAIT" waits for the running instance to let go. The start cleans up
    // ".old" files first, and ".new" ones only once it holds the mutex.
    ASSERT_TRUE(Write(Folder + "Tovu.old", "old"));
    ASSERT_TRUE(Write(Folder + "TovuTray.new", "new"));
    TProgram waiting(Main, "/WAIT");
    ASSERT_TRUE(waiting.Started());
    ASSERT_TRUE(WaitUntil([&] { return !FileExists(Folder + "Tovu.old"); }));
    Sleep(1500);
    EXPECT_TRUE(waiting.Running());
    EXPECT_TRUE(FileExists(Folder + "TovuTray.new"));
    EXPECT_FALSE(show.WaitFor(0));
    TGlobalEvent stop(EventStopMain);
    stop.Unsignal();
    ASSERT_TRUE(app.Release());
    // Once it holds the mutex it shows the wizard; the stop event ends it.
    ASSERT_TRUE(WaitUntil([&] { return InstanceRunning() || !waiting.Running(); }, 60000));
    stop.Signal();
    EXPECT_TRUE(waiting.Ended());
    stop.Unsignal();
    EXPECT_FALSE(FileExists(Folder + "TovuTray.new"));
    EXPECT_FALSE(show.WaitFor(0));
    // It held the mutex and let it go when it ended.
    EXPECT_TRUE(app.WaitFor(0));
}

TEST_F(Installed, CompleteUpdateSwapsExecutables)
{
    // The running Tovu.exe is in use while it swaps itself; the stand-in tray
    // is not running.
    std::string mainNew = Read(Main) + "new main", trayNew = Read(Tray) + "new tray";
    ASSERT_TRUE(Write(Folder + "Tovu.new", mainNew));
    ASSERT_TRUE(Write(Folder + "TovuTray.new", trayNew));
    ASSERT_TRUE(Write(Folder + "TovuTray.old", "leftover"));
    EXPECT_EQ(Run("/COMPLETEUPDATE"), 0u);
    EXPECT_EQ(Read(Main), mainNew);
    EXPECT_EQ(Read(Tray), trayNew);
    EXPECT_TRUE(FileExists(Folder + "Tovu.old"));
    EXPECT_FALSE(FileExists(Folder + "TovuTray.old"));
    EXPECT_FALSE(FileExists(Folder + "Tovu.new"));
    EXPECT_FALSE(FileExists(Folder + "TovuTray.new"));
    // The new tray program runs.
    EXPECT_TRUE(WaitUntil([&] { return TrayStarts() == 1; })) << Read(TrayLog);

    // The next interactive start removes what the swap left.
    EXPECT_EQ(RunInteractive(""), 0u);
    EXPECT_FALSE(FileExists(Folder + "Tovu.old"));

    // Nothing to swap: only the stop, the leftovers and the tray start.
    StopTrayStandIns();
    ASSERT_TRUE(Write(Folder + "Tovu.old", "leftover"));
    EXPECT_EQ(Run("/completeupdate"), 0u);
    EXPECT_EQ(Read(Main), mainNew);
    EXPECT_FALSE(FileExists(Folder + "Tovu.old"));
    EXPECT_TRUE(WaitUntil([&] { return TrayStarts() == 2; })) << Read(TrayLog);
}

TEST_F(Installed, UpdateOnExitStartsTheNewExecutable)
{
    // The stand-in plays the new main program and records how it was started.
    ASSERT_TRUE(CopyFileA(Tray.c_str(), (Folder + "Tovu.new").c_str(), FALSE));
    ASSERT_TRUE(CompleteUpdateOnExitIn(Folder));
    ASSERT_TRUE(WaitUntil([&] { return TrayStarts() == 1; })) << Read(TrayLog);
    const std::string log = Read(TrayLog);
    EXPECT_NE(log.find("Tovu.new\" /completeupdate"), std::string::npos) << log;
}

TEST(Program, CarriesItsResources)
{
    const std::string exe = OwnFolder() + "..\\Tovu.exe";
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (const char *name : {"DATA", "CONFIG", "TRANSLATE"})
        EXPECT_NE(FindResourceA(module, name, MAKEINTRESOURCEA(10)), nullptr) << name;  // RT_RCDATA
    EXPECT_NE(FindResourceA(module, "MAINICON", MAKEINTRESOURCEA(14)), nullptr);       // RT_GROUP_ICON
    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const char *text = static_cast<const char *>(LockResource(LoadResource(module, manifest)));
    const std::string xml(text, SizeofResource(module, manifest));
    for (const char *part : {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "<dpiAware"})
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    FreeLibrary(module);

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    char *name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void **>(&name), &length));
    EXPECT_STREQ(name, "Tovu.exe");
}
