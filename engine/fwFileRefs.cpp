// Does the file a registry text refers to exist?
//
// The probes work on one path variable that each probe may trim, lower-case
// or complete, and the next probe sees what the previous one left: a trailing
// blank that the folder walk trims is gone for the search-path probe.
//
// Every scan of a path for a separator goes byte by byte with the system code
// page's lead bytes skipped, so that the trail byte of a double-byte character
// (which can be 0x5C, the backslash, in some code pages) never counts.
#include "engine/fwFileRefs.h"
#include "platform/HandlesU.h"
#include "platform/TextU.h"
#include "engine/fwTools.h"

#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"

#include <windows.h>

#include <cstring>
#include <mutex>

namespace {

// Index of the first byte at or after `from` for which match() holds, lead
// bytes of double-byte characters and their trail bytes skipped; npos if none.
template <typename Pred>
size_t FindChar(const std::string &s, size_t from, Pred match)
{
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (IsDBCSLeadByte(c) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (i >= from && match(c)) return i;
    }
    return std::string::npos;
}

// Index of the last single-byte character matching; npos if none.
template <typename Pred>
size_t FindLastChar(const std::string &s, Pred match)
{
    size_t last = std::string::npos;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (IsDBCSLeadByte(c) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (match(c)) last = i;
    }
    return last;
}

// Where the name begins: after the last backslash or colon.
size_t NameStart(const std::string &path)
{
    size_t sep = FindLastChar(path, [](unsigned char c) { return c == '\\' || c == ':'; });
    return sep == std::string::npos ? 0 : sep + 1;
}

// Lists folder + (name up to its first ".") + ".*" and, for the first entry
// whose folder-and-name appears in `within`, returns it lower-cased.
// Empty when nothing matches. filesOnly skips folders.
std::string CompleteExtension(const std::string &path, const std::string &within, bool filesOnly)
{
    size_t start = NameStart(path);
    std::string folder = path.substr(0, start);
    std::string name = path.substr(start);
    size_t dot = FindChar(name, 0, [](unsigned char c) { return c == '.'; });
    if (dot != std::string::npos) name.resize(dot);
    if (name.empty()) return {};
    for (TFindFile f(folder + name + ".*"); f.Ok(); f.Next()) {
        if (filesOnly && f.IsFolder()) continue;
        std::string candidate = folder + LocaleLower(f.Name());
        if (within.find(candidate) != std::string::npos) return candidate;
    }
    return {};
}

// The system's search path knows the name (".exe" assumed when it has none).
bool OnSearchPath(const std::string &name)
{
    if (name.empty()) return false;
    char buffer[1024];
    char *filePart = nullptr;
    DWORD n = SearchPathA(nullptr, name.c_str(), ".exe", sizeof buffer, buffer, &filePart);
    return n > 0 && n < sizeof buffer;
}

// Redirection switched off for a scope and back on at every way out. Unlike
// TFsRedirectionOff it can be switched back on early and off again.
class TRedirection {
public:
    ~TRedirection() { On(); }
    void Off()
    {
        if (!FOff) FOff = DisableFsRedirection();
    }
    void On()
    {
        if (FOff) RevertFsRedirection();
        FOff = false;
    }

private:
    bool FOff = false;
};

} // namespace

TLogicalDrives::TLogicalDrives(DWORD mask)
{
    for (int i = 0; i < 32; ++i) {
        // Bits past 'Z' name no letter a path could carry.
        if (!(mask & (DWORD(1) << i)) || i >= 26) continue;
        TDriveInfo d;
        d.Letter = char('A' + i);
        FDrives.push_back(d);
    }
}

const std::vector<std::string> &FixedDriveRoots()
{
    static const std::vector<std::string> roots = [] {
        std::vector<std::string> r;
        const TLogicalDrives drives(GetLogicalDrives());
        for (const TDriveInfo &d : drives.Drives())
            if (GetDriveTypeA(d.Root().c_str()) == DRIVE_FIXED) r.push_back(d.Root());
        return r;
    }();
    return roots;
}

std::string CleanPath(const std::string &text)
{
    try {
        std::string s = text;
        size_t cut = FindChar(s, 3, [](unsigned char c) { return c && std::strchr("<>:\"/|?*", c); });
        if (cut != std::string::npos) s.resize(cut);
        if (s.size() > 3) {
            cut = FindChar(s, 3, [](unsigned char c) { return c >= 1 && c <= 31; });
            if (cut != std::string::npos) s.resize(cut);
        }
        size_t start = NameStart(s);
        size_t mark = FindChar(s, start, [](unsigned char c) { return c == ',' || c == ';' || c == '%'; });
        if (mark != std::string::npos) s.resize(mark);
        return s;
    } catch (...) {
        return {};
    }
}

bool FindFileBeforeSpace(std::string &path)
{
    try {
        size_t slash = FindLastChar(path, [](unsigned char c) { return c == '\\'; });
        if (slash == std::string::npos) return false;
        size_t from = slash + 1;
        for (;;) {
            size_t space = FindChar(path, from, [](unsigned char c) { return c == ' '; });
            if (space == std::string::npos) return false;
            from = space + 1;
            if (path[space - 1] == ' ') continue;
            std::string candidate = LocaleLower(path.substr(0, space));
            if (FileExists(candidate)) {
                path = candidate;
                return true;
            }
            std::string completed = CompleteExtension(candidate, candidate, true);
            if (!completed.empty()) {
                path = completed;
                return true;
            }
        }
    } catch (...) {
        return false;
    }
}

bool FindFileInPath(std::string &path, bool noFolderWalk)
{
    try {
        path = LocaleLower(path);
        if (path.empty()) return false;
        if (FileExists(path) || (!noFolderWalk && DirectoryExists(path))) return true;
        // "name.*" also lists a folder called just "name"; without the folder
        // walk a folder must not count through the back door either.
        std::string completed = CompleteExtension(path, path, noFolderWalk);
        if (!completed.empty()) {
            path = completed;
            return true;
        }
        if (noFolderWalk) return false;
        path = TrimA(path);
        size_t from = 3;
        for (;;) {
            size_t slash = FindChar(path, from, [](unsigned char c) { return c == '\\'; });
            if (slash == std::string::npos) return FindFileBeforeSpace(path);
            from = slash + 1;
            std::string prefix = path.substr(0, slash);
            if (FileExists(prefix)) {
                path = prefix;
                return true;
            }
            if (DirectoryExists(prefix)) continue;
            if (FindFileBeforeSpace(prefix)) {
                path = prefix;
                return true;
            }
            return false;
        }
    } catch (...) {
        return false;
    }
}

// A path on a network share, a removable or optical drive, or a drive letter
// that is not mapped now: whether the file is there says nothing about the
// entry (a program on an unplugged USB stick is not broken), so it is not
// checked and counts as found.
bool NotCheckable(const std::string &path)
{
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\')
        return !(path.size() >= 4 && (path[2] == '?' || path[2] == '.') && path[3] == '\\');
    if (path.size() < 2 || path[1] != ':') return false;
    const char letter = (path[0] >= 'a' && path[0] <= 'z') ? char(path[0] - 'a' + 'A') : path[0];
    if (letter < 'A' || letter > 'Z') return false;
    for (const std::string &root : FixedDriveRoots())
        if (root[0] == letter) return false;
    return true;
}

bool ResolveFileRef(const std::string &text, int mode, std::string &path)
{
    try {
        const bool is64 = Is64BitOS();
        if (mode == vmBoth || mode == vm32 || !is64) {
            path = CleanPath(ExpandPath(text));
            if (NotCheckable(path)) return true;
            if (is64) {
                // The 32-bit macros with the native folders: a file only in the
                // real system32 still counts for a 32-bit reference.
                TRedirection redirection;
                redirection.Off();
                if (FindFileInPath(path, false)) return true;
            }
            if (FindFileInPath(path, false)) return true;
            if (OnSearchPath(path)) return true;
        }
        if ((mode == vmBoth || mode == vm64) && is64) {
            TRedirection redirection;
            redirection.Off();
            path = CleanPath(ExpandPath64(text));
            if (NotCheckable(path)) return true;
            if (FindFileInPath(path, false)) return true;
            redirection.On();
            if (FindFileInPath(path, false)) return true;
            redirection.Off();
            if (OnSearchPath(path)) return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool ResolveCommandTarget(const std::string &text, int mode, std::string &path)
{
    try {
        std::string s = TrimA(text);
        if (s.empty()) return false;
        const bool quoted = s[0] == '"';
        if (quoted) {
            s.erase(0, 1);
            size_t close = s.find('"');
            if (close != std::string::npos) s.resize(close);
        }
        if (ResolveFileRef(s, mode, path)) return true;
        if (quoted) return false;
        // A bare program name with arguments ("RunDll32 C:\x\setup.dll,Run",
        // "notepad.exe C:\a.txt"): the probes above take the whole line for
        // one path and would call every such command broken. The program is
        // looked up on the search path; the system's DLL host counts only
        // when the library it is to load is there.
        const size_t blank = s.find(' ');
        if (blank == std::string::npos) return false;
        const std::string program = s.substr(0, blank);
        if (program.find_first_of("\\/:%") != std::string::npos || !OnSearchPath(program)) return false;
        const std::string name = LocaleLower(program);
        if (name == "rundll32" || name == "rundll32.exe") return ResolveFileRef(TrimA(s.substr(blank + 1)), mode, path);
        path = program;
        return true;
    } catch (...) {
        return false;
    }
}

bool IsOnFixedDrive(const std::string &text)
{
    try {
        const std::vector<std::string> &roots = FixedDriveRoots();
        std::string s = text;
        if (!s.empty() && s[0] == '"') {
            size_t close = s.find('"', 1);
            if (close == std::string::npos) return false;
            s = s.substr(1, close - 1);
        }
        if (!s.empty()) {
            DWORD need = ExpandEnvironmentStringsA(s.c_str(), nullptr, 0);
            if (need == 0) return false;
            std::string expanded(need, '\0');
            DWORD got = ExpandEnvironmentStringsA(s.c_str(), expanded.data(), need);
            if (got == 0 || got > need) return false;
            expanded.resize(std::strlen(expanded.c_str()));
            s = expanded;
        }
        // Roots are "X:\" with an upper-case ASCII letter: compared without any
        // locale, which may not be set up for the system code page.
        if (s.size() < 3 || s[1] != ':' || s[2] != '\\') return false;
        const char letter = (s[0] >= 'a' && s[0] <= 'z') ? char(s[0] - 'a' + 'A') : s[0];
        bool fixed = false;
        for (const std::string &root : roots)
            if (root[0] == letter) fixed = true;
        if (!fixed) return false;
        std::string clean = CleanPath(s);
        return clean.substr(0, NameStart(clean)).find('%') == std::string::npos;
    } catch (...) {
        return false;
    }
}
