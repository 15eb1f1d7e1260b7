// Wildcard file search shared by the cleaning items and the scanners that look
// for files (startup shortcuts, browser profiles).
//
// The system matches a mask against the short 8.3 names as well, so "*.log"
// also lists "setup.logging" (short name "SETUP~1.LOG"). Every listed name is
// therefore matched once more against its long name; a cleaning run must never
// delete a file its pattern does not name.
#include "engine/fwTools.h"
#include "platform/HandlesU.h"
#include "platform/TextU.h"

#include "platform/SystemPathsUtilsU.h"

#include <windows.h>

namespace {

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
    return WildMatch(LocaleLower(name).c_str(), LocaleLower(mask).c_str());
}

void Search(const std::string &pattern, std::vector<TfwFoundFile> &list, bool recurse)
{
    const size_t slash = pattern.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    const std::string name = pattern.substr(folder.size());

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
        for (TFindFile find(level); find.Ok(); find.Next()) {
            if (!find.IsFolder() || find.IsReparsePoint() || !NameMatches(find.Data().cFileName, mask)) continue;
            Search(parent + find.Name() + rest + name, list, recurse);
        }
        return;
    }

    for (TFindFile find(pattern); find.Ok(); find.Next()) {
        if (!NameMatches(find.Data().cFileName, name)) continue;
        if (!find.IsFolder()) {
            list.push_back({folder + find.Name(), find.Size()});
        } else if (recurse) {
            const std::string sub = folder + find.Name() + "\\";
            list.push_back({sub, 0});
            // A link may point anywhere, back up the tree included: what it
            // leads to is not content of this folder.
            if (!find.IsReparsePoint()) Search(sub + name, list, recurse);
        }
    }
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
        for (TFindFile find(f + "*.*"); find.Ok(); find.Next()) {
            // A junction leads out of the folder being cleaned ("All Users"
            // below the profiles is the common data folder).
            if (!find.IsFolder() || find.IsReparsePoint()) continue;
            list.push_back(fullPaths ? f + find.Name() + "\\" : find.Name());
        }
    } catch (...) {
    }
}
