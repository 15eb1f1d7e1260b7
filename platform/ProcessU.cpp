// psapi's version 2 names live in the Windows 7 kernel32; version 1 reaches
// psapi.dll, which Windows 2000 and XP have.
#define PSAPI_VERSION 1

#include "platform/ProcessU.h"
#include "platform/HandlesU.h"

#include "platform/SystemPathsU.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

namespace {

// Functions that older systems lack, looked up once.
struct TProcessApi {
    BOOL(WINAPI *QueryFullProcessImageNameA)(HANDLE, DWORD, LPSTR, PDWORD) = nullptr;  // Vista
    DWORD(WINAPI *WTSGetActiveConsoleSessionId)() = nullptr;                            // XP
    BOOL(WINAPI *ProcessIdToSessionId)(DWORD, DWORD *) = nullptr;                       // 2000 with TS
    BOOL(WINAPI *CreateProcessWithTokenW)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR,
                                          LPSTARTUPINFOW, LPPROCESS_INFORMATION) = nullptr;  // Vista
};

template <typename Fn>
void Bind(Fn &fn, HMODULE module, const char *name)
{
    fn = module ? reinterpret_cast<Fn>(GetProcAddress(module, name)) : nullptr;
}

const TProcessApi &Api()
{
    static const TProcessApi api = [] {
        TProcessApi a;
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        HMODULE advapi = GetModuleHandleA("advapi32.dll");
        Bind(a.QueryFullProcessImageNameA, kernel, "QueryFullProcessImageNameA");
        Bind(a.WTSGetActiveConsoleSessionId, kernel, "WTSGetActiveConsoleSessionId");
        Bind(a.ProcessIdToSessionId, kernel, "ProcessIdToSessionId");
        Bind(a.CreateProcessWithTokenW, advapi, "CreateProcessWithTokenW");
        return a;
    }();
    return api;
}

bool VistaOrLater()
{
    return OSVersionClass() > OSClassServer2003;
}

const DWORD LimitedQuery = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

const TTokenAnswers *TokenSeam = nullptr;

// 1 elevated, 0 not, -1 unreadable.
int CurrentTokenElevation()
{
    if (TokenSeam) return TokenSeam->elevation;
    TOwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return -1;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size))
        return -1;
    return elevation.TokenIsElevated ? 1 : 0;
}

DWORD CurrentIntegrity()
{
    return TokenSeam ? TokenSeam->integrity : IntegrityLevel(GetCurrentProcess());
}

std::string FileNamePart(const char *path)
{
    std::string s(path);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

bool SessionOf(DWORD pid, DWORD &session)
{
    auto fn = Api().ProcessIdToSessionId;
    if (!fn) {
        // A system without sessions runs everything on the console.
        session = 0;
        return true;
    }
    return fn(pid, &session) != FALSE;
}

} // namespace

std::string ProcessImagePath(DWORD pid)
{
    const bool vista = VistaOrLater();
    if (vista && Api().QueryFullProcessImageNameA) {
        TOwnedHandle process(OpenProcess(LimitedQuery, FALSE, pid));
        if (process) {
            for (DWORD capacity : {255u, 260u}) {
                std::vector<char> buf(capacity + 1, '\0');
                DWORD size = capacity;
                if (Api().QueryFullProcessImageNameA(process.Get(), 0, buf.data(), &size) && size > 0)
                    return std::string(buf.data(), size);
            }
        }
    }

    std::string path;
    {
        HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
        if (!h && vista) h = OpenProcess(LimitedQuery, FALSE, pid);
        TOwnedHandle process(h);
        if (process) {
            char buf[MAX_PATH + 1] = {};
            DWORD n = GetModuleFileNameExA(process.Get(), nullptr, buf, MAX_PATH);
            if (n > 0) path.assign(buf, n);
        }
    }
    if (!path.empty()) return path;

    TOwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (!snapshot) return {};
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    if (!Module32First(snapshot.Get(), &module)) return {};
    path = module.szExePath;
    // Some drivers and early-start programs report NT paths.
    for (size_t p; (p = path.find("\\??\\")) != std::string::npos;) path.erase(p, 4);
    return path;
}

DWORD ActiveConsoleSession()
{
    auto fn = Api().WTSGetActiveConsoleSessionId;
    return fn ? fn() : 0;
}

long FindProcessInSession(const std::string &exeName, long session)
{
    const DWORD wanted = session == -1 ? ActiveConsoleSession() : static_cast<DWORD>(session);
    TOwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return -1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
        if (lstrcmpiA(FileNamePart(entry.szExeFile).c_str(), exeName.c_str()) != 0) continue;
        DWORD s = 0;
        if (SessionOf(entry.th32ProcessID, s) && s == wanted)
            return static_cast<long>(entry.th32ProcessID);
    }
    return -1;
}

bool ElevatedFrom(int osVersionClass, int tokenElevation)
{
    // Before Vista an administrator's token carries its full rights.
    if (osVersionClass <= OSClassServer2003) return true;
    return tokenElevation == 1;
}

bool IsElevated()
{
    const int cls = OSVersionClass();
    if (cls <= OSClassServer2003) return true;
    return ElevatedFrom(cls, CurrentTokenElevation());
}

DWORD IntegrityLevel(HANDLE process)
{
    if (!VistaOrLater() || !process) return 0;
    TOwnedHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Receive())) return 0;
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
    std::vector<BYTE> buf(size);
    if (!GetTokenInformation(token.Get(), TokenIntegrityLevel, buf.data(), size, &size)) return 0;
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL *>(buf.data())->Label.Sid;
    if (!sid || !IsValidSid(sid)) return 0;
    UCHAR count = *GetSidSubAuthorityCount(sid);
    if (count == 0) return 0;
    return *GetSidSubAuthority(sid, count - 1);
}

TStartRoute StartRouteFor(int osVersionClass, DWORD callerIntegrity)
{
    return osVersionClass > OSClassServer2003 && callerIntegrity > SECURITY_MANDATORY_MEDIUM_RID
               ? TStartRoute::DesktopToken
               : TStartRoute::Direct;
}

void SetTokenAnswersForTest(const TTokenAnswers *answers)
{
    TokenSeam = answers;
}

bool RunAsDesktopUser(const std::wstring &application, const std::wstring &commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};

    const wchar_t *app = application.empty() ? nullptr : application.c_str();
    // The system may write into the command line; an empty one is left out so
    // that the program sees its own name as the first argument.
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    wchar_t *cmdArg = commandLine.empty() ? nullptr : cmd.data();

    BOOL created = FALSE;
    if (StartRouteFor(OSVersionClass(), CurrentIntegrity()) == TStartRoute::DesktopToken) {
        // Elevated: borrow the desktop shell's token so the program runs with
        // the user's normal rights. Without the shell nothing is started
        // rather than passing our elevation on.
        auto createWithToken = Api().CreateProcessWithTokenW;
        if (!createWithToken) return false;
        long shell = FindProcessInSession("explorer.exe", -1);
        if (shell == -1) return false;
        TOwnedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(shell)));
        if (!process) return false;
        TOwnedHandle shellToken, primary;
        if (!OpenProcessToken(process.Get(), TOKEN_DUPLICATE, shellToken.Receive())) return false;
        if (!DuplicateTokenEx(shellToken.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                              TokenPrimary, primary.Receive()))
            return false;
        created = createWithToken(primary.Get(), 0, app, cmdArg, 0, nullptr, nullptr, &startup, &info);
    } else {
        created = CreateProcessW(app, cmdArg, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    }
    if (!created) return false;
    TOwnedHandle thread(info.hThread), started(info.hProcess);
    return true;
}
