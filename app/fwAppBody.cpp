#include "app/fwAppBody.h"

#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "online/fwTrack.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/MutexU.h"
#include "platform/ObjectSecurityU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/ShellU.h"
#include "platform/TextU.h"
#include "startup/fwStartup.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>

namespace {

std::atomic<bool> ScanNowFlag{false};
// Set by the updater when it had to leave a file as ".new".
std::atomic<bool> UpdateReadyFlag{false};

const std::string &ArgAt(const std::vector<std::string> &args, size_t i)
{
    static const std::string none;
    return i < args.size() ? args[i] : none;
}

bool SameText(const std::string &a, const char *b)
{
    return AsciiUpper(a) == b;
}

// The install and uninstall reports go to the service on a thread of their
// own; the role gives them at most 15000 ms and ends regardless.
TInstallHitThread *StartReport(const std::string &action)
{
    return new TInstallHitThread(ReportAddress(action), false);
}

void WaitForReport(TInstallHitThread *report)
{
    // One that is still talking to a silent server is left to the end of the
    // process: freeing it would wait for it.
    if (WaitForDone(report, 15000)) delete report;
}

// Only administrators and SYSTEM may write the places that the elevated main
// program later trusts: a standard user who could change them could steer it
// (plant a startup list, a backup to restore, a translation, an update).
void CreateTrustedFolder(const std::string &folder)
{
    if (folder.empty()) return;
    ForceDirectories(folder, false, true);
    // Also when it existed: a user may have created it before the install.
    SetAdminWriteUserReadFile(folder);
}

void InstallRole()
{
    TRegViewScope view(false, true);
    const std::string key = SettingsKeyPath();
    RegWriteStr(HKEY_CURRENT_USER, key, "", "");
    RegWriteStr(HKEY_LOCAL_MACHINE, key, "", "");
    SetAdminWriteUserReadKey(HKEY_LOCAL_MACHINE, key, 32);

    TSettings settings = Settings();
    if (settings.UID.empty()) {
        settings.UID = MakeInstallationId();
        if (WriteSettingText(HKEY_LOCAL_MACHINE, "UID", settings.UID)) SetSettings(settings);
    }
    SettleLanguage();
    TInstallHitThread *report = StartReport("INTOVU");
    SaveSettings();
    const double now = DayNumberNow();
    WriteSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", now);
    double lastUpdate = 0;
    if (!ReadSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", lastUpdate))
        WriteSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", now - 3.0 + 1.0);
    std::string track;
    if (ConfigResourceValue("TRACK_USER", track) && !track.empty())
        WriteSettingText(HKEY_LOCAL_MACHINE, "TRACK_USER", track);
    GlobalAddAtomA(InstalledAtom);
    SetAutostart(true);
    StartTrayProgram();

    for (const std::string &folder :
         {CommonDataFolder(), BackupFolder(), CommonStartupStash(), TranslationFolder(), UpdateFolder()})
        CreateTrustedFolder(folder);
    // The user's own folders keep the access list of the user's profile.
    for (const std::string &folder : {UserDataFolder(), UserStartupStash()})
        if (!folder.empty()) ForceDirectories(folder, false, true);

    WaitForReport(report);
}

void UninstallRole()
{
    TInstallHitThread *report = StartReport("UNTOVU");
    Sleep(500);
    StopRunningInstances();
    RestorePostponedStartup();
    SetAutostart(false);
    Sleep(2500);
    {
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_CURRENT_USER, SettingsKeyPath(), true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, SettingsKeyPath(), true);
    }
    for (const std::string &folder : {CommonDataFolder(), UserDataFolder(), UpdateFolder()})
        if (!folder.empty()) DeleteFolderOrSchedule(folder, true, true);
    DeleteLeftoverFiles(true);
    WaitForReport(report);
}

void CompleteUpdateRole()
{
    try {
        StopRunningInstances();
        Sleep(3000);
        DeleteLeftoverFiles(false);
        SwapInNewFile(MainExePath());
        SwapInNewFile(TrayExePath());
        StartTrayProgram();
    } catch (...) {
    }
}

// The consent prompt goes to the foreground window's process; without a
// window of its own the prompt of a program started from the tray would open
// behind other windows.
bool RelaunchElevated(const std::string &parameters)
{
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "Tovu", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window) SetForegroundWindow(window);
    bool ok = ShellRunAs(MainExePath(), parameters, window);
    if (window) DestroyWindow(window);
    return ok;
}

int InteractiveRole(const std::vector<std::string> &args, TMainWindowRunner runMainWindow)
{
    try {
        DeleteLeftoverFiles(false);
    } catch (...) {
    }
    TGlobalMutex app(MutexApp);
    ScanNowFlag = SameText(ArgAt(args, 0), "/SCAN");
    if (WaitRequested(args)) {
        Sleep(500);
        if (!app.WaitFor(INFINITE)) return 0;
    }
    if (!app.Owned() && !app.WaitFor(100)) {
        try {
            SignalShowMain();
        } catch (...) {
        }
        return 0;
    }
    const TElevationRelaunch relaunch = ElevationRelaunchFor(IsElevated(), args);
    if (relaunch.Relaunch) {
        // Let go first: an elevation granted without a prompt can start the
        // new process before this one has ended, and it would then find the
        // mutex held and end too.
        app.Release();
        RelaunchElevated(relaunch.Parameters);
        return 0;
    }
    DeleteLeftoverFiles(true);
    LoadTranslations();

    int exitCode = 0;
    if (runMainWindow) exitCode = runMainWindow();

    app.Release();
    if (HWND tray = FindWindowA(TrayWindowClass, nullptr)) PostMessageA(tray, ExitToTrayMessage(), 0, 0);
    if (UpdateReady()) CompleteUpdateOnExit();
    return exitCode;
}

} // namespace

std::string ReportAddress(const std::string &action)
{
    std::string address = Settings().ReportUrl;
    const std::string placeholder = "%ACTION%";
    for (size_t at = AsciiUpper(address).find(placeholder); at != std::string::npos;
         at = AsciiUpper(address).find(placeholder, at + action.size()))
        address.replace(at, placeholder.size(), action);
    return address;
}

bool ScanNow() { return ScanNowFlag; }
bool RestartWaiting() { return ShellOpen(MainExePath(), "/WAIT"); }
void SetUpdateReady() { UpdateReadyFlag = true; }
bool UpdateReady() { return UpdateReadyFlag; }

std::vector<std::string> CommandLineArguments(const std::string &commandLine)
{
    std::vector<std::string> all;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (i < n) {
        while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ') ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        for (; i < n && (quoted || static_cast<unsigned char>(commandLine[i]) > ' '); ++i) {
            if (commandLine[i] == '"')
                quoted = !quoted;
            else
                arg += commandLine[i];
        }
        all.push_back(arg);
    }
    if (!all.empty()) all.erase(all.begin());  // the program's own name
    return all;
}

TAppRole RoleFor(const std::vector<std::string> &args)
{
    const std::string &first = ArgAt(args, 0);
    if (SameText(first, "/INSTALL")) return TAppRole::Install;
    if (SameText(first, "/UNINSTALL")) return TAppRole::Uninstall;
    if (SameText(first, "/STOP")) return TAppRole::Stop;
    if (SameText(first, "/COMPLETEUPDATE")) return TAppRole::CompleteUpdate;
    return TAppRole::Interactive;
}

bool WaitRequested(const std::vector<std::string> &args)
{
    return SameText(ArgAt(args, 0), "/WAIT") || SameText(ArgAt(args, 1), "/WAIT");
}

bool AlreadyRelaunched(const std::vector<std::string> &args)
{
    return ArgAt(args, 0) == "/UAC" || ArgAt(args, 1) == "/UAC";
}

TElevationRelaunch ElevationRelaunchFor(bool elevated, const std::vector<std::string> &args)
{
    TElevationRelaunch result;
    if (elevated || AlreadyRelaunched(args)) return result;
    result.Relaunch = true;
    result.Parameters = ArgAt(args, 0) + " /UAC";
    return result;
}

int AppMain(TMainWindowRunner runMainWindow)
{
    try {
        FixLocations();
        ExitToTrayMessage();
        RefreshTrayMessage();
        LoadSettings();
        // The installation identifier needs COM for its GUID.
        const HRESULT com = CoInitialize(nullptr);
        const std::vector<std::string> args = CommandLineArguments(GetCommandLineA());
        int exitCode = 0;
        switch (RoleFor(args)) {
        case TAppRole::Install: InstallRole(); break;
        case TAppRole::Uninstall: UninstallRole(); break;
        case TAppRole::Stop: StopRunningInstances(); break;
        case TAppRole::CompleteUpdate: CompleteUpdateRole(); break;
        case TAppRole::Interactive: exitCode = InteractiveRole(args, runMainWindow); break;
        }
        if (SUCCEEDED(com)) CoUninitialize();
        return exitCode;
    } catch (...) {
        return 0;
    }
}
