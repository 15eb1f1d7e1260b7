#include "platform/SystemPathsUtilsU.h"
#include "platform/TextU.h"

#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"

#include <windows.h>

#include <iterator>

namespace {

uint32_t MacroHash(const std::string &macro)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : macro) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        h = (h ^ c) * 16777619u;
    }
    return h;
}

using Getter = std::string (*)();

struct MacroDef {
    const char *macro;
    Getter mode32;
    Getter mode64;
};

const MacroDef MacroDefs[] = {
    {"%DESKTOP%", DesktopDir, DesktopDir},
    {"%FAVORITES%", FavoritesDir, FavoritesDir},
    {"%START_MENU%", StartMenuDir, StartMenuDir},
    {"%START_MENUALL%", CommonStartMenuDir, CommonStartMenuDir},
    {"%START_PROGRAMS%", ProgramsDir, ProgramsDir},
    {"%START_PROGRAMSALL%", CommonProgramsDir, CommonProgramsDir},
    {"%STARTUP%", StartupDir, StartupDir},
    {"%STARTUPALL%", CommonStartupDir, CommonStartupDir},
    {"%COMMONFILES%", CommonFilesDir, CommonFiles64Dir},
    {"%PROGRAMFILES%", ProgramFilesDir, ProgramFiles64Dir},
    {"%ALLUSERS_APPDATA%", CommonAppDataDir, CommonAppDataDir},
    {"%TEMP%", TempDir, TempDir},
    {"%WINDIR%", WindowsDir, WindowsDir},
    {"%SYSDIR%", SystemDir, SystemDir},
    {"%SYSTEMROOT%", WindowsDir, WindowsDir},
    {"%SYSTEMDISKROOT%", SystemDiskRoot, SystemDiskRoot},
    {"%USERPROFILE%", UserProfileDir, UserProfileDir},
    {"%DOWNLOADEDPROGRAMFILES%", DownloadedProgramFilesDir, DownloadedProgramFilesDir},
    {"%APPDATA%", AppDataDir, AppDataDir},
    {"%USERDOCUMENTS%", UserDocumentsDir, UserDocumentsDir},
    {"%ALLUSERSDOCUMENTS%", AllUsersDocumentsDir, AllUsersDocumentsDir},
    {"%DESKTOPALL%", CommonDesktopDir, CommonDesktopDir},
    {"%COMMONFILES32%", CommonFiles32Dir, CommonFiles32Dir},
    {"%PROGRAMFILES32%", ProgramFiles32Dir, ProgramFiles32Dir},
    {"%COMMONFILES64%", CommonFiles64Dir, CommonFiles64Dir},
    {"%PROGRAMFILES64%", ProgramFiles64Dir, ProgramFiles64Dir},
    {"%SYSDIR32%", SystemDir32, SystemDir32},
    {"%SYSDIR64%", SystemDir64, SystemDir64},
    {"%SYSDIRWOW64%", SystemDir32, SystemDir32},
    {"%COMMONPROGRAMFILES%", CommonFilesDir, CommonFiles64Dir},
    {"%COMMONPROGRAMFILES(x86)%", CommonFiles32Dir, CommonFiles32Dir},
    {"%PROGRAMFILES(x86)%", ProgramFiles32Dir, ProgramFiles32Dir},
    // The definitions document names the system drive's root this way
    // ("%SYSROOT%\found*\*.chk"); without an entry it would fall through to
    // the environment, which has no such variable.
    {"%SYSROOT%", SystemDiskRoot, SystemDiskRoot},
};

std::vector<TCSi> BuildTable(bool is64)
{
    std::vector<TCSi> table;
    table.reserve(std::size(MacroDefs));
    for (const auto &d : MacroDefs)
        table.push_back({d.macro, (is64 ? d.mode64 : d.mode32)(), MacroHash(d.macro)});
    return table;
}

const TCSi *FindMacro(const std::vector<TCSi> &table, const std::string &token)
{
    uint32_t h = MacroHash(token);
    for (const auto &e : table)
        if (e.Hash == h && SameNameA(e.Macro, token)) return &e;
    return nullptr;
}

std::string ExpandToken(const std::vector<TCSi> &table, const std::string &token)
{
    std::string upper = AsciiUpper(token);
    if (const TCSi *e = FindMacro(table, upper)) return e->Path;
    char buf[1024];
    DWORD n = ExpandEnvironmentStringsA(upper.c_str(), buf, sizeof buf);
    // A value that does not fit is not used cut short: the token stays.
    if (n == 0 || n > sizeof buf) return upper;
    return buf;
}

// Every macro value ends with a backslash and documents write one after the
// macro too; collapse the doubles. A UNC prefix at the start is a real double
// backslash (a share named through an environment variable, or written out)
// and is kept.
std::string CollapseBackslashes(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    if (s.compare(0, 2, "\\\\") == 0) {
        out = "\\\\";
        i = 2;
    }
    while (i < s.size()) {
        out += s[i];
        i += (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') ? 2 : 1;
    }
    return out;
}

std::string Expand(const std::string &text, bool is64)
{
    bool hasMacro = text.find('%') != std::string::npos;
    std::string result;
    if (!hasMacro) {
        result = text;
    } else {
        // Each mode has its own immutable table, so concurrent expansions in
        // different modes never see each other's folders.
        const std::vector<TCSi> &table = MacroTable(is64);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t open = text.find('%', pos);
            if (open == std::string::npos) {
                result.append(text, pos, std::string::npos);
                break;
            }
            size_t close = text.find('%', open + 1);
            if (close == std::string::npos) {
                result.append(text, pos, std::string::npos);
                break;
            }
            result.append(text, pos, open - pos);
            result += ExpandToken(table, text.substr(open, close - open + 1));
            pos = close + 1;
        }
    }

    // Driver and service image paths are written relative to the kernel's
    // name for the Windows folder.
    static const char SystemRootPrefix[] = "\\SYSTEMROOT\\";
    const size_t prefixLen = sizeof SystemRootPrefix - 1;
    if (result.size() >= prefixLen && result[0] == '\\' &&
        AsciiUpper(result.substr(0, prefixLen)) == SystemRootPrefix)
        result = WindowsDir() + result.substr(prefixLen);

    return hasMacro ? CollapseBackslashes(result) : result;
}

TPathReplacerStr BuildReplacer(bool is64)
{
    TPathReplacerStr r;
    r.ShortNames = true;
    // Order matters: the first folder that prefixes a path wins, so the more
    // specific folders come before the ones that contain them.
    r.Add(CommonDesktopDir(), "%DESKTOPALL%");
    r.Add(DesktopDir(), "%DESKTOP%");
    r.Add(FavoritesDir(), "%FAVORITES%");
    r.Add(StartupDir(), "%STARTUP%");
    r.Add(CommonStartupDir(), "%STARTUPALL%");
    r.Add(ProgramsDir(), "%START_PROGRAMS%");
    r.Add(CommonProgramsDir(), "%START_PROGRAMSALL%");
    r.Add(StartMenuDir(), "%START_MENU%");
    r.Add(CommonStartMenuDir(), "%START_MENUALL%");
    if (is64) {
        r.Add(CommonFilesDir(), "%COMMONFILES32%");
        r.Add(CommonFiles64Dir(), "%COMMONFILES%");
    } else {
        r.Add(CommonFilesDir(), "%COMMONFILES%");
    }
    r.Add(CommonFiles32Dir(), "%COMMONFILES32%");
    if (is64) {
        r.Add(ProgramFilesDir(), "%PROGRAMFILES32%");
        r.Add(ProgramFiles64Dir(), "%PROGRAMFILES%");
    } else {
        r.Add(ProgramFilesDir(), "%PROGRAMFILES%");
    }
    r.Add(ProgramFiles32Dir(), "%PROGRAMFILES32%");
    r.Add(CommonAppDataDir(), "%ALLUSERS_APPDATA%");
    r.Add(AppDataDir(), "%APPDATA%");
    r.Add(UserDocumentsDir(), "%USERDOCUMENTS%");
    r.Add(AllUsersDocumentsDir(), "%ALLUSERSDOCUMENTS%");
    r.Add(TempDir(), "%TEMP%");
    r.Add(UserProfileDir(), "%USERPROFILE%");
    r.Add(DownloadedProgramFilesDir(), "%DOWNLOADEDPROGRAMFILES%");
    r.Add(SystemDir(), is64 ? "%SYSDIR32%" : "%SYSDIR%");
    r.Add(SystemDir32(), "%SYSDIR32%");
    r.Add(SystemDir64(), "%SYSDIR64%");
    r.Add(WindowsDir(), "%WINDIR%");
    r.Add(SystemDiskRoot(), "%SystemDiskRoot%");
    return r;
}

std::string WithBackslash(std::string folder)
{
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

} // namespace

const std::vector<TCSi> &MacroTable(bool is64)
{
    static const std::vector<TCSi> table32 = BuildTable(false);
    if (!is64) return table32;
    static const std::vector<TCSi> table64 = BuildTable(true);
    return table64;
}

std::string ExpandPath(const std::string &text)
{
    return Expand(text, false);
}

std::string ExpandPath64(const std::string &text)
{
    return Expand(text, true);
}

void TPathReplacerStr::Add(const std::string &folder, const std::string &macro)
{
    if (folder.empty()) return;
    std::string longForm = LocaleUpper(WithBackslash(folder));
    FEntries.push_back({longForm, macro + "\\"});
    if (!ShortNames) return;
    // Fails for a folder that does not exist, which then has no short entry.
    char buf[MAX_PATH + 1];
    DWORD n = GetShortPathNameA(folder.c_str(), buf, sizeof buf);
    if (n == 0 || n > MAX_PATH) return;
    std::string shortForm = LocaleUpper(WithBackslash(std::string(buf, n)));
    if (shortForm != longForm) FEntries.push_back({shortForm, macro + "\\"});
}

bool TPathReplacerStr::Replace(const std::string &path, std::string &result) const
{
    std::string upper = LocaleUpper(path);
    for (const auto &e : FEntries) {
        if (upper.compare(0, e.Folder.size(), e.Folder) == 0) {
            result = e.Macro + path.substr(e.Folder.size());
            return true;
        }
    }
    result = path;
    return false;
}

std::string PathToMacro(const std::string &path, bool is64, bool *replaced)
{
    std::string result;
    bool done;
    if (is64) {
        static const TPathReplacerStr replacer64 = BuildReplacer(true);
        done = replacer64.Replace(path, result);
    } else {
        static const TPathReplacerStr replacer32 = BuildReplacer(false);
        done = replacer32.Replace(path, result);
    }
    if (replaced) *replaced = done;
    return result;
}
