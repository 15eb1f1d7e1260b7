#include "platform/SystemPathsU.h"
#include "platform/TextU.h"

#include "platform/RegistryU.h"
#include "platform/SystemLibraryU.h"

#include <windows.h>
#include <shlobj.h>

#include <mutex>
#include <vector>

namespace {

// Everything this unit finds by name, looked up once: these functions are
// missing on Windows 2000 and on early XP, where the program must still start.
struct DynamicFns {
    BOOL(WINAPI *IsWow64Process)(HANDLE, PBOOL) = nullptr;
    BOOL(WINAPI *DisableRedirection)(PVOID *) = nullptr;
    BOOL(WINAPI *RevertRedirection)(PVOID) = nullptr;
    HRESULT(WINAPI *GetKnownFolderPath)(const GUID &, DWORD, HANDLE, PWSTR *) = nullptr;
    UINT(WINAPI *GetSystemWow64Directory)(LPSTR, UINT) = nullptr;
};

template <typename T>
void Bind(T &fn, HMODULE module, const char *name)
{
    fn = module ? reinterpret_cast<T>(GetProcAddress(module, name)) : nullptr;
}

const DynamicFns &Fns()
{
    static const DynamicFns fns = [] {
        DynamicFns f;
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        Bind(f.IsWow64Process, kernel, "IsWow64Process");
        Bind(f.DisableRedirection, kernel, "Wow64DisableWow64FsRedirection");
        Bind(f.RevertRedirection, kernel, "Wow64RevertWow64FsRedirection");
        Bind(f.GetSystemWow64Directory, kernel, "GetSystemWow64DirectoryA");
        // Kept loaded for the life of the process, like the pointer.
        Bind(f.GetKnownFolderPath, LoadSystemLibrary("shell32.dll"), "SHGetKnownFolderPath");
        return f;
    }();
    return fns;
}

// The public documents folder; not taken from the SDK so that the program
// needs no import of it on systems that lack known folders.
const GUID PublicDocumentsId = {0xED4824AF, 0xDCE4, 0x45A8, {0x81, 0xE2, 0xFC, 0x79, 0x65, 0x08, 0x36, 0x34}};

bool VistaOrLater()
{
    return OSVersionClass() > OSClassServer2003;
}

// Registry values may carry a NUL inside their stored length; callers compare
// folders as text, so cut there, and give every folder its trailing backslash.
std::string AsFolder(std::string path)
{
    size_t nul = path.find('\0');
    if (nul != std::string::npos) path.resize(nul);
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

// One cache slot per folder. A tab stands for "not computed yet": no path can
// be a tab, while the empty string is a valid answer (folder not available).
// The value is computed outside the lock, since getters call each other and
// the shell; when two threads race the first stored answer wins.
class FolderSlot {
public:
    template <typename F>
    std::string Get(F compute)
    {
        {
            std::lock_guard<std::mutex> lock(Lock());
            if (FValue != "\t") return FValue;
        }
        std::string value = AsFolder(compute());
        std::lock_guard<std::mutex> lock(Lock());
        if (FValue == "\t") FValue = value;
        return FValue;
    }

private:
    static std::mutex &Lock()
    {
        static std::mutex lock;
        return lock;
    }
    std::string FValue = "\t";
};

template <typename F>
std::string ApiString(F call)
{
    char buf[MAX_PATH + 1];
    UINT n = call(buf, MAX_PATH + 1);
    if (n == 0) return {};
    if (n <= MAX_PATH) return std::string(buf, n);
    std::vector<char> big(n + 1);
    UINT m = call(big.data(), n + 1);
    return m > 0 && m <= n ? std::string(big.data(), m) : std::string();
}

std::string ShellFolder(int csidl)
{
    char buf[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
    return buf;
}

// Read in the default view whatever the calling thread selected: the answer is
// cached for every thread, so it must not depend on the first caller's view.
std::string RegFolder(HKEY root, const char *key, const char *name, bool view64 = false)
{
    TRegViewScope view(view64, false);
    std::string value;
    if (RegReadStr(root, key, name, value)) return value;
    // Some systems keep these as expandable strings.
    if (!RegReadExpandStr(root, key, name, value)) return {};
    char buf[MAX_PATH + 1];
    DWORD n = ExpandEnvironmentStringsA(value.c_str(), buf, sizeof buf);
    return n > 0 && n <= sizeof buf ? std::string(buf) : value;
}

const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char CurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string UserShellFolder(const char *name)
{
    return RegFolder(HKEY_CURRENT_USER, ShellFoldersKey, name);
}

std::string CommonShellFolder(const char *name)
{
    return RegFolder(HKEY_LOCAL_MACHINE, ShellFoldersKey, name);
}

// On Vista and later the shell knows the folder; older systems (and a failing
// call) fall back to the Shell Folders value.
std::string ShellOrRegistry(int csidl, HKEY root, const char *valueName)
{
    if (VistaOrLater()) {
        std::string path = ShellFolder(csidl);
        if (!path.empty()) return path;
    }
    return RegFolder(root, ShellFoldersKey, valueName);
}

std::string ShellParsedLongPath(const std::string &path)
{
    std::wstring wide = AnsiToWide(path.c_str());
    if (wide.empty()) return {};
    IShellFolder *desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop) return {};
    std::string result;
    PIDLIST_RELATIVE pidl = nullptr;
    if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, wide.data(), nullptr, &pidl, nullptr)) && pidl) {
        char buf[MAX_PATH + 1] = {};
        if (SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(pidl), buf)) result = buf;
        CoTaskMemFree(pidl);
    }
    desktop->Release();
    return result;
}

std::string WithoutLastComponent(std::string folder)
{
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// Redirection state of this thread: how deep Disable calls nest and what the
// outermost one saved.
thread_local int RedirectionDepth = 0;
thread_local PVOID RedirectionSaved = nullptr;

} // namespace

int OSVersionClass()
{
    OSVERSIONINFOEXA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&vi));
#pragma GCC diagnostic pop
    if (!ok) return OSClassXP;
    return OSVersionClassOf(vi.dwPlatformId, vi.dwMajorVersion, vi.dwMinorVersion,
                            vi.wProductType == VER_NT_WORKSTATION, vi.wServicePackMajor);
}

int OSVersionClassOf(unsigned platformId, unsigned major, unsigned minor, bool workstation,
                     unsigned servicePackMajor)
{
    if (platformId != VER_PLATFORM_WIN32_NT) {
        if (platformId == VER_PLATFORM_WIN32_WINDOWS && major == 4) {
            if (minor == 10) return OSClassWin98;
            if (minor == 90) return OSClassWinMe;
        }
        return OSClassWin95;
    }
    if (major < 5) return OSClassNT4;
    if (major == 5) {
        if (minor == 0) return OSClassWin2000;
        if (!workstation) return OSClassServer2003;
        return servicePackMajor >= 2 ? OSClassXPSP2 : OSClassXP;
    }
    // A later major version (a program that declares Windows 10 support is told
    // 10.0) must not fall back to the Vista class because its minor is 0.
    if (major == 6 && minor == 0) return workstation ? OSClassVista : OSClassServer2008;
    return workstation ? OSClassWin7 : OSClassServer2008R2;
}

bool Is64BitOS()
{
    static const bool is64 = [] {
        BOOL wow = FALSE;
        return Fns().IsWow64Process && Fns().IsWow64Process(GetCurrentProcess(), &wow) && wow;
    }();
    return is64;
}

bool DisableFsRedirection()
{
    if (!Is64BitOS()) return true;
    if (RedirectionDepth > 0) {
        ++RedirectionDepth;
        return true;
    }
    PVOID saved = nullptr;
    if (!Fns().DisableRedirection || !Fns().DisableRedirection(&saved)) return false;
    RedirectionSaved = saved;
    RedirectionDepth = 1;
    return true;
}

bool RevertFsRedirection()
{
    if (!Is64BitOS()) return true;
    if (RedirectionDepth == 0) return false;
    if (--RedirectionDepth > 0) return true;
    PVOID saved = RedirectionSaved;
    RedirectionSaved = nullptr;
    return Fns().RevertRedirection && Fns().RevertRedirection(saved);
}

std::string WindowsDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ApiString(GetWindowsDirectoryA); });
}

std::string SystemDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ApiString(GetSystemDirectoryA); });
}

std::string SystemDir32()
{
    static FolderSlot slot;
    return slot.Get([] {
        if (!Is64BitOS() || !Fns().GetSystemWow64Directory) return SystemDir();
        return ApiString(Fns().GetSystemWow64Directory);
    });
}

std::string SystemDir64()
{
    static FolderSlot slot;
    return slot.Get([] {
        // Without the alias (64-bit XP and 2003) only switching redirection
        // off reaches the real folder; callers do that around SystemDir.
        if (Is64BitOS() && VistaOrLater()) {
            std::string windows = WindowsDir();
            return windows.empty() ? windows : windows + "sysnative\\";
        }
        return SystemDir();
    });
}

std::string SystemDiskRoot()
{
    static FolderSlot slot;
    return slot.Get([] {
        std::string windows = WindowsDir();
        if (windows.size() >= 2 && windows[1] == ':') return windows.substr(0, 2);
        // A Windows folder on a share: its drive part is "\\server\share".
        if (windows.compare(0, 2, "\\\\") == 0) {
            size_t server = windows.find('\\', 2);
            if (server == std::string::npos) return std::string();
            size_t share = windows.find('\\', server + 1);
            return windows.substr(0, share);
        }
        return std::string();
    });
}

std::string TempDir()
{
    static FolderSlot slot;
    return slot.Get([] {
        std::string temp = ApiString([](char *buf, UINT size) { return (UINT)GetTempPathA(size, buf); });
        if (temp.empty()) return temp;
        std::string longForm = ApiString(
            [&](char *buf, UINT size) { return (UINT)GetLongPathNameA(temp.c_str(), buf, size); });
        if (!longForm.empty()) return longForm;
        longForm = ShellParsedLongPath(temp);
        return longForm.empty() ? temp : longForm;
    });
}

std::string UserProfileDir()
{
    static FolderSlot slot;
    return slot.Get([] {
        char buf[MAX_PATH + 1];
        DWORD n = ExpandEnvironmentStringsA("%USERPROFILE%", buf, sizeof buf);
        // An unset variable comes back unexpanded, which is no folder either.
        if (n > 1 && n <= sizeof buf && buf[0] != '%') return std::string(buf);
        return WithoutLastComponent(AppDataDir());
    });
}

std::string AppDataDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ShellOrRegistry(CSIDL_APPDATA, HKEY_CURRENT_USER, "AppData"); });
}

std::string CommonAppDataDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ShellOrRegistry(CSIDL_COMMON_APPDATA, HKEY_LOCAL_MACHINE, "Common AppData"); });
}

std::string FavoritesDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ShellOrRegistry(CSIDL_FAVORITES, HKEY_CURRENT_USER, "Favorites"); });
}

std::string DesktopDir()
{
    static FolderSlot slot;
    return slot.Get([] { return UserShellFolder("Desktop"); });
}

std::string CommonDesktopDir()
{
    static FolderSlot slot;
    return slot.Get([] { return CommonShellFolder("Common Desktop"); });
}

std::string StartMenuDir()
{
    static FolderSlot slot;
    return slot.Get([] { return UserShellFolder("Start Menu"); });
}

std::string CommonStartMenuDir()
{
    static FolderSlot slot;
    return slot.Get([] { return CommonShellFolder("Common Start Menu"); });
}

std::string ProgramsDir()
{
    static FolderSlot slot;
    return slot.Get([] { return UserShellFolder("Programs"); });
}

std::string CommonProgramsDir()
{
    static FolderSlot slot;
    return slot.Get([] { return CommonShellFolder("Common Programs"); });
}

std::string StartupDir()
{
    static FolderSlot slot;
    return slot.Get([] { return UserShellFolder("Startup"); });
}

std::string CommonStartupDir()
{
    static FolderSlot slot;
    return slot.Get([] { return CommonShellFolder("Common Startup"); });
}

std::string UserDocumentsDir()
{
    static FolderSlot slot;
    return slot.Get([] { return ShellFolder(CSIDL_PERSONAL); });
}

std::string AllUsersDocumentsDir()
{
    static FolderSlot slot;
    return slot.Get([] {
        if (!VistaOrLater()) return ShellFolder(CSIDL_COMMON_DOCUMENTS);
        if (!Fns().GetKnownFolderPath) return std::string();
        PWSTR wide = nullptr;
        std::string path;
        if (SUCCEEDED(Fns().GetKnownFolderPath(PublicDocumentsId, 0, nullptr, &wide)) && wide)
            path = WideToAnsi(wide);
        CoTaskMemFree(wide);
        return path;
    });
}

std::string DownloadedProgramFilesDir()
{
    static FolderSlot slot;
    return slot.Get([] {
        return RegFolder(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                         "ActiveXCache");
    });
}

std::string ProgramFilesDir()
{
    static FolderSlot slot;
    return slot.Get([] { return RegFolder(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir"); });
}

std::string ProgramFiles32Dir()
{
    static FolderSlot slot;
    return slot.Get([] {
        std::string path = ShellFolder(CSIDL_PROGRAM_FILESX86);
        return path.empty() ? ProgramFilesDir() : path;
    });
}

std::string ProgramFiles64Dir()
{
    static FolderSlot slot;
    return slot.Get([] {
        return Is64BitOS() ? RegFolder(HKEY_LOCAL_MACHINE, CurrentVersionKey, "ProgramFilesDir", true)
                           : ProgramFilesDir();
    });
}

std::string CommonFilesDir()
{
    static FolderSlot slot;
    return slot.Get([] { return RegFolder(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir"); });
}

std::string CommonFiles32Dir()
{
    static FolderSlot slot;
    return slot.Get([] {
        std::string path = ShellFolder(CSIDL_PROGRAM_FILES_COMMONX86);
        return path.empty() ? CommonFilesDir() : path;
    });
}

std::string CommonFiles64Dir()
{
    static FolderSlot slot;
    return slot.Get([] {
        return Is64BitOS() ? RegFolder(HKEY_LOCAL_MACHINE, CurrentVersionKey, "CommonFilesDir", true)
                           : CommonFilesDir();
    });
}
