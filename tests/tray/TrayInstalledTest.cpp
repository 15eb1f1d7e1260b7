// The tray program as an installation runs it: the main program's install
// role starts it from the program folder, it starts a program that a repair
// postponed, a second start changes nothing, and the stop role ends it.
#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "platform/DirectoryU.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";

std::string OwnFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.find_last_of('\\') + 1);
}

template <class F>
bool WaitUntil(F done, DWORD limitMs)
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

BOOL CALLBACK CountTrayWindows(HWND window, LPARAM count)
{
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (lstrcmpA(cls, TrayWindowClass) == 0) ++*reinterpret_cast<int *>(count);
    return TRUE;
}

int TrayWindows()
{
    int n = 0;
    EnumWindows(CountTrayWindows, LPARAM(&n));
    return n;
}

// Runs a program to its end; false when it did not start or end in time.
bool RunToEnd(const std::string &exe, const std::string &args, DWORD limitMs = 180000)
{
    std::string line = "\"" + exe + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    const bool ended = WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ended;
}

// Tovu.exe and TovuTray.exe in "Tovu\" under the 32-bit program files folder,
// and a startup program the definitions offer for postponing ("Skype", here
// the start probe). Everything the roles and the repair touch outside the
// prefix's own state is removed before and after, as in a fresh prefix.
class TrayInstalled : public testing::Test {
protected:
    std::string Programs, Folder, Probe, ProbeLog;

    void SetUp() override
    {
        Programs = ProgramFiles32Dir();
        if (!Programs.empty() && Programs.back() != '\\') Programs += '\\';
        Folder = Programs + "Tovu\\";
        Probe = Programs + "Skype\\Phone\\Skype.exe";
        ProbeLog = Programs + "Skype\\Phone\\started.txt";
        const std::string build = OwnFolder() + "..\\";
        if (!FileExists(build + MainExeName) || !FileExists(build + "TovuCmd.exe"))
            GTEST_SKIP() << "the main program or the console front-end is not built";
        Clean();
        ASSERT_TRUE(ForceDirectories(Folder, false, true));
        ASSERT_TRUE(ForceDirectories(Programs + "Skype\\Phone\\", false, true));
        ASSERT_TRUE(CopyFileA((build + MainExeName).c_str(), (Folder + MainExeName).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((build + TrayExeName).c_str(), (Folder + TrayExeName).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((OwnFolder() + "StartProbe.exe").c_str(), Probe.c_str(), FALSE));
        // A new logon: the postponed programs have not been started yet.
        RemovePropA(GetDesktopWindow(), "TovuStartup");
    }
    void TearDown() override
    {
        if (!Folder.empty()) Clean();
        SetPropA(GetDesktopWindow(), "TovuStartup", HANDLE(1));
    }

    void Clean()
    {
        TGlobalEvent stop(EventStopTray);
        stop.Signal();
        for (DWORD id : ProcessesNamed(TrayExeName)) {
            HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
            if (!p) continue;
            if (WaitForSingleObject(p, 10000) == WAIT_TIMEOUT) TerminateProcess(p, 99);
            CloseHandle(p);
        }
        stop.Unsignal();
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_CURRENT_USER, "Software\\Tovu", true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, "Software\\Tovu", true);
        RegRemoveValue(HKEY_LOCAL_MACHINE, RunKey, AutostartValue);
        RegRemoveValue(HKEY_CURRENT_USER, RunKey, "Skype");
        for (const std::string &f : {CommonDataFolder(), UserDataFolder()})
            if (!f.empty()) DeleteFolder(f, true);
        DeleteFolder(Folder, true);
        DeleteFolder(Programs + "Skype\\", true);
    }
};

TEST_F(TrayInstalled, InstallStartsTheTrayWhichStartsWhatARepairPostponedAndStopEndsIt)
{
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, RunKey, "Skype", "\"" + Probe + "\" /nosplash"));
    // Postponing needs the tray program's autostart value, as an earlier
    // install left it; the install below writes it again.
    {
        TRegViewScope view(false, true);
        ASSERT_TRUE(RegWriteStr(HKEY_LOCAL_MACHINE, RunKey, AutostartValue, "\"" + Folder + TrayExeName + "\" /startup"));
    }
    ASSERT_TRUE(RunToEnd(OwnFolder() + "..\\TovuCmd.exe", "fix --group delay-startup --yes"));
    ASSERT_FALSE(RegValueExists(HKEY_CURRENT_USER, RunKey, "Skype")) << "the repair did not postpone the program";
    ASSERT_TRUE(FileExists(UserDataFolder() + "startup.xml"));

    ASSERT_TRUE(RunToEnd(Folder + MainExeName, "/INSTALL"));
    ASSERT_TRUE(WaitUntil([] { return TrayWindows() == 1; }, 60000)) << "the install role started no tray program";
    ASSERT_TRUE(RunToEnd(Folder + TrayExeName, "/startup", 60000));
    EXPECT_EQ(TrayWindows(), 1);
    EXPECT_EQ(ProcessesNamed(TrayExeName).size(), 1u);

    ASSERT_TRUE(WaitUntil([&] { return FileExists(ProbeLog); }, 90000)) << "the postponed program did not start";
    std::string log;
    ASSERT_TRUE(ReadFileToString(ProbeLog, log));
    EXPECT_EQ(log.substr(0, log.find("\r\n")), "\"" + Probe + "\" /nosplash");

    // The stop comes while the tray program still waits after that start
    // (about 6 s for the level): it must end all the same.
    ASSERT_TRUE(RunToEnd(Folder + MainExeName, "/STOP"));
    EXPECT_TRUE(WaitUntil([] { return TrayWindows() == 0 && ProcessesNamed(TrayExeName).empty(); }, 10000));
}

} // namespace
