// Wildcard file search shared by the cleaning items and the scanners that look
// for files (startup shortcuts, browser profiles).
//
// The system matches a mask against the short 8.3 names as well, so "*.log"
// also lists "setup.logging" (short name "SETUP~1.LOG"). Every listed name is
// therefore matched once more against its long name; a cleaning run must never
// delete a file its pattern does not name.
#include "engine/fwTools.h"
#include "platform/TextU.h"

#include "platform/SystemPathsUtilsU.h"

#include <windows.h>

namespace {

std::string LowerPath(std::string s)
{
    if (!s.empty()) CharLowerBuffA(&s[0], DWORD(s.size()));
    return s;
}

class TFindHandle {
public:
    TFindHandle(const std::string &pattern, WIN32_FIND_DATAA &data)
        : FHandle(FindFirstFileA(pattern.c_str(), &data)) {}
    ~TFindHandle()
    {
        if (FHandle != INVALID_HANDLE_VALUE) FindClose(FHandle);
    }
    TFindHandle(const TFindHandle &) = delete;
    TFindHandle &operator=(const TFindHandle &) = delete;

    bool Ok() const { return FHandle != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAA &data) { return FindNextFileA(FHandle, &data) != FALSE; }

private:
    HANDLE FHandle;
};

bool IsDots(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// "*" any run, "?" one character; both texts already lower-cased.
bool WildMatch(const char *name, const char *mask)
{
    const char *starMask = nullptr, *starName = nullptr;
    while (*name) {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || *mask == *name) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == 0;
}

// Whether the long name is one the mask names. Masks whose DOS meaning goes
// beyond "*" and "?" (a trailing dot, the "<", ">" and '"' forms) are left to
// the system's own answer; "*.*" names everything, names without a dot too.
bool NameMatches(const char *name, const std::string &mask)
{
    if (mask.empty() || mask == "*" || mask == "*.*" || mask.back() == '.' ||
        mask.find_first_of("<>\"") != std::string::npos)
        return true;
    return WildMatch(LowerPath(name).c_str(), LowerPath(mask).c_str());
}

int64_t SizeOf(const WIN32_FIND_DATAA &data)
{
    return (int64_t(data.nFileSizeHigh) << 32) | int64_t(data.nFileSizeLow);
}

void Search(const std::string &pattern, std::vector<TfwFoundFile> &list, bool recurse)
{
    const size_t slash = pattern.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    const std::string name = pattern.substr(folder.size());
    WIN32_FIND_DATAA data;

    const size_t star = folder.find('*');
    if (star != std::string::npos) {
        // The first folder level with a wildcard is listed for its subfolders;
        // each one found continues the search with the rest of the pattern.
        const size_t end = folder.find('\\', star);
        const std::string level = folder.substr(0, end);
        const std::string rest = folder.substr(end);  // from the backslash on
        const size_t parentEnd = level.find_last_of('\\');
        const std::string parent = parentEnd == std::string::npos ? std::string() : level.substr(0, parentEnd + 1);
        const std::string mask = level.substr(parent.size());
        TFindHandle find(level, data);
        if (!find.Ok()) return;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsDots(data.cFileName) ||
                !NameMatches(data.cFileName, mask))
                continue;
            Search(parent + data.cFileName + rest + name, list, recurse);
        } while (find.Next(data));
        return;
    }

    TFindHandle find(pattern, data);
    if (!find.Ok()) return;
    do {
        if (IsDots(data.cFileName) || !NameMatches(data.cFileName, name)) continue;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            list.push_back({folder + data.cFileName, SizeOf(data)});
        } else if (recurse) {
            const std::string sub = folder + data.cFileName + "\\";
            list.push_back({sub, 0});
            // A link may point anywhere, back up the tree included: what it
            // leads to is not content of this folder.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) Search(sub + name, list, recurse);
        }
    } while (find.Next(data));
}

} // namespace

void FindFiles(const std::string &pattern, std::vector<TfwFoundFile> &list, bool recurse)
{
    try {
        std::string p = ExpandPath(TrimA(pattern));
        if (p.empty()) return;
        if (p.back() == '\\') {
            p += "*.*";
            recurse = true;
        }
        Search(p, list, recurse);
    } catch (...) {
    }
}

int64_t SumSizes(const std::vector<TfwFoundFile> &list)
{
    int64_t sum = 0;
    for (const TfwFoundFile &f : list) sum += f.Size;
    return sum;
}

void ListSubfolders(const std::string &folder, std::vector<std::string> &list, bool fullPaths)
{
    try {
        std::string f = ExpandPath(TrimA(folder));
        if (f.empty()) return;
        if (f.back() != '\\') f += '\\';
        WIN32_FIND_DATAA data;
        TFindHandle find(f + "*.*", data);
        if (!find.Ok()) return;
        do {
            // A junction leads out of the folder being cleaned ("All Users"
            // below the profiles is the common data folder).
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsDots(data.cFileName))
                continue;
            list.push_back(fullPaths ? f + data.cFileName + "\\" : std::string(data.cFileName));
        } while (find.Next(data));
    } catch (...) {
    }
}
