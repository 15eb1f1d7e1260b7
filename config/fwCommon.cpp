#include "config/fwCommon.h"
#include "platform/HandlesU.h"

#include "config/fwNames.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/HashU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/ShellU.h"
#include "platform/SystemPathsU.h"
#include "platform/TextU.h"

#include <objbase.h>

#include <cstdint>
#include <mutex>
#include <vector>

namespace {

std::string WithSlash(std::string s)
{
    if (!s.empty() && s.back() != '\\') s += '\\';
    return s;
}

std::string Below(const std::string &base, const char *name)
{
    return base.empty() ? std::string() : base + name;
}

std::string ComputeProgramFolder()
{
    char path[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    size_t slash = p.find_last_of('\\');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

// The known-folder getters already fall back to the Shell Folders values.
std::string ComputeCommonDataFolder()
{
    std::string base = CommonAppDataDir();
    return base.empty() ? std::string() : WithSlash(base) + "Tovu\\";
}

std::string ComputeUserDataFolder()
{
    std::string base = AppDataDir();
    return base.empty() ? std::string() : WithSlash(base) + "Tovu\\";
}

struct TFixed {
    bool Set = false;
    std::string Common, User;
};

std::mutex FixedLock;
TFixed Fixed;

} // namespace

void FixLocations()
{
    std::string common = ComputeCommonDataFolder(), user = ComputeUserDataFolder();
    std::lock_guard<std::mutex> g(FixedLock);
    Fixed.Common = common;
    Fixed.User = user;
    Fixed.Set = true;
}

std::string ProgramFolder()
{
    // The executable cannot move while it runs.
    static const std::string folder = ComputeProgramFolder();
    return folder;
}

std::string MainExePath() { return Below(ProgramFolder(), MainExeName); }
std::string TrayExePath() { return Below(ProgramFolder(), TrayExeName); }
std::string UpdateFolder() { return Below(ProgramFolder(), "Update\\"); }

std::string CommonDataFolder()
{
    {
        std::lock_guard<std::mutex> g(FixedLock);
        if (Fixed.Set) return Fixed.Common;
    }
    return ComputeCommonDataFolder();
}

std::string UserDataFolder()
{
    {
        std::lock_guard<std::mutex> g(FixedLock);
        if (Fixed.Set) return Fixed.User;
    }
    return ComputeUserDataFolder();
}

std::string BackupFolder() { return Below(CommonDataFolder(), "Backup\\"); }
std::string TranslationFolder() { return Below(CommonDataFolder(), "Translate\\"); }
std::string CommonStartupStash() { return Below(CommonDataFolder(), "Startup\\"); }
std::string UserStartupStash() { return Below(UserDataFolder(), "Startup\\"); }
std::string NewsFolder() { return Below(UserDataFolder(), "News\\"); }

std::string WithExtension(const std::string &path, const std::string &ext)
{
    size_t slash = path.find_last_of("\\/:");
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

UINT ExitToTrayMessage()
{
    static const UINT id = RegisterWindowMessageA(MsgExitToTray);
    return id;
}

UINT RefreshTrayMessage()
{
    static const UINT id = RegisterWindowMessageA(MsgRefreshTray);
    return id;
}

void StopRunningInstances()
{
    for (const char *name : {EventStopMain, EventStopTray}) {
        TGlobalEvent event(name);
        event.Signal();
        Sleep(100);
    }
    Sleep(2000);
}

bool SignalShowMain()
{
    TGlobalEvent event(EventShowMain);
    bool ok = event.Signal();
    Sleep(1000);
    return ok;
}

bool StartTrayProgram()
{
    const std::string tray = TrayExePath();
    if (tray.empty() || !FileExists(tray)) return false;
    const std::wstring wide = AnsiToWide(tray);
    return RunAsDesktopUser(wide, L"\"" + wide + L"\"");
}

bool SetAutostart(bool on)
{
    TRegViewScope view(false, true);
    if (on) return RegWriteStr(HKEY_LOCAL_MACHINE, AutostartKey, AutostartValue, "\"" + TrayExePath() + "\" /startup");
    return RegRemoveValue(HKEY_LOCAL_MACHINE, AutostartKey, AutostartValue) ||
           !RegValueExists(HKEY_LOCAL_MACHINE, AutostartKey, AutostartValue);
}

void DeleteLeftoverFiles(bool alsoNew)
{
    for (const std::string &exe : {MainExePath(), TrayExePath()}) {
        if (exe.empty()) continue;
        for (const char *ext : {".old", ".new"}) {
            if (ext[1] == 'n' && !alsoNew) continue;
            const std::string leftover = WithExtension(exe, ext);
            if (FileExists(leftover)) DeleteFileForce(leftover);
        }
    }
}

bool SwapInNewFile(const std::string &path)
{
    const std::string fresh = WithExtension(path, ".new");
    if (path.empty() || !FileExists(fresh)) return false;
    if (FileExists(path)) {
        DeleteFileForce(path);
        if (FileExists(path)) {
            // A running executable cannot be deleted but can be renamed.
            const std::string old = WithExtension(path, ".old");
            DeleteFileForce(old);
            MoveFileA(path.c_str(), old.c_str());
        }
    }
    bool swapped = false;
    if (!FileExists(path)) {
        // No Everyone grant on the copy: an executable that every user may
        // replace would be run by the next elevated start.
        CopyFileEx(fresh, path, false, true);
        if (!FileExists(path)) {
            Sleep(1000);
            CopyFileEx(fresh, path, false, true);
        }
        swapped = FileExists(path);
    }
    DeleteFileForce(fresh);
    return swapped;
}

bool CompleteUpdateOnExit() { return CompleteUpdateOnExitIn(ProgramFolder()); }

bool CompleteUpdateOnExitIn(const std::string &programFolder)
{
    if (programFolder.empty()) return false;
    const std::string main = programFolder + MainExeName;
    const std::string fresh = WithExtension(main, ".new");
    if (!FileExists(fresh)) return ShellOpen(main, "/completeupdate");
    // The shell starts programs by their extension and has none for ".new";
    // the system starts an executable under any name.
    std::string line = "\"" + fresh + "\" /completeupdate";
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(fresh.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, programFolder.c_str(),
                        &startup, &process))
        return false;
    TOwnedHandle thread(process.hThread), started(process.hProcess);
    return true;
}

std::string MakeInstallationId()
{
    GUID guid{};
    std::string text;
    wchar_t buffer[64] = {};
    if (SUCCEEDED(CoCreateGuid(&guid)) && StringFromGUID2(guid, buffer, 64) > 0)
        for (const wchar_t *c = buffer; *c; ++c)
            if (*c != L'{' && *c != L'}' && *c != L'-') text += static_cast<char>(*c);
    text += std::to_string(GetTickCount());
    const int64_t hash = static_cast<int64_t>(NameHash64(text, false));
    // The magnitude of the most negative value does not fit a signed number.
    const uint64_t magnitude = hash < 0 ? 0 - static_cast<uint64_t>(hash) : static_cast<uint64_t>(hash);
    return std::to_string(magnitude);
}
