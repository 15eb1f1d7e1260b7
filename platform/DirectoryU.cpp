#include "platform/DirectoryU.h"
#include "platform/HandlesU.h"

#include "platform/FileU.h"
#include "platform/ObjectSecurityU.h"

#include <windows.h>

namespace {

bool IsNTFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

std::string WithBackslash(const std::string &path)
{
    return (path.empty() || path.back() == '\\') ? path : path + '\\';
}

std::string WithoutBackslash(const std::string &path)
{
    return (!path.empty() && path.back() == '\\') ? path.substr(0, path.size() - 1) : path;
}

bool IsBareDrive(const std::string &path)
{
    return path.size() == 2 && path[1] == ':';
}

// The root of a drive or share, given with or without its backslash, or an
// empty name (which a lone "\" becomes). No caller means to wipe a whole
// drive; such a name comes from a path that expanded to nothing, and the
// walk would otherwise go through everything on the disk.
bool IsRoot(const std::string &path)
{
    const std::string p = WithoutBackslash(path);
    if (p.empty() || IsBareDrive(p)) return true;
    if (p.compare(0, 2, "\\\\") != 0) return false;
    size_t server = p.find('\\', 2);
    return server == std::string::npos || p.find('\\', server + 1) == std::string::npos;
}

// A junction or symbolic link to a folder. Walking into one would delete
// whatever it points at, which may lie anywhere (another user's documents, a
// system folder); it is removed as a link instead.
bool IsFolderLink(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

enum class Mode { Force, Schedule };

bool RemoveFolder(const std::string &path, bool withContents, Mode mode);

// Deletes every entry of folder (which ends with a backslash) and goes on past
// failures; true when all went.
bool DeleteEntries(const std::string &folder, Mode mode)
{
    TFindFile find(folder + "*");
    if (!find.Opened()) return false;
    bool all = true;
    for (; find.Ok(); find.Next()) {
        std::string full = folder + find.Name();
        DWORD attributes = find.Data().dwFileAttributes;
        bool ok;
        if (IsFolderLink(attributes))
            ok = RemoveDirectoryA(full.c_str()) != FALSE;
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = RemoveFolder(full, true, mode);
        else if (mode == Mode::Schedule)
            ok = DeleteFileOrSchedule(full, true);
        else
            ok = DeleteFileForce(full);
        all = all && ok;
    }
    return all;
}

bool RemoveFolder(const std::string &path, bool withContents, Mode mode)
{
    if (IsRoot(path)) return false;
    const std::string folder = WithoutBackslash(path);
    DWORD attr = GetFileAttributesA(folder.c_str());
    if (withContents && attr != INVALID_FILE_ATTRIBUTES && !IsFolderLink(attr))
        DeleteEntries(folder + '\\', mode);
    if (RemoveDirectoryA(folder.c_str())) return true;
    if (mode != Mode::Schedule || !IsNTFamily()) return false;
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    // Removed at the next start, after the files scheduled before it: the
    // system handles the pending list in order, so the folder is empty by then.
    return MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool CreateOne(const std::string &folder, bool everyoneAccess)
{
    SECURITY_ATTRIBUTES *security = everyoneAccess ? EveryoneFileSecurity() : nullptr;
    return CreateDirectoryA(folder.c_str(), security) != FALSE;
}

bool CreateWithParents(const std::string &path, bool everyoneAccess)
{
    const std::string folder = WithoutBackslash(path);
    if (folder.empty()) return false;
    if (IsBareDrive(folder) || DirectoryExists(folder)) return true;
    size_t cut = folder.find_last_of('\\');
    if (cut != std::string::npos && cut > 0)
        CreateWithParents(folder.substr(0, cut), everyoneAccess);
    CreateOne(folder, everyoneAccess);
    // Another process may have created it meanwhile; either way it is there.
    return DirectoryExists(folder);
}

} // namespace

bool DirectoryExists(const std::string &path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string &path, bool everyoneAccess, bool withParents)
{
    try {
        return withParents ? CreateWithParents(path, everyoneAccess) : CreateOne(path, everyoneAccess);
    } catch (...) {
        return false;
    }
}

bool DeleteFolder(const std::string &path, bool withContents)
{
    try {
        return RemoveFolder(path, withContents, Mode::Force);
    } catch (...) {
        return false;
    }
}

bool EmptyFolder(const std::string &path)
{
    try {
        // The folder itself may be a link (a temp folder moved to another
        // drive): emptying it is what was asked. Links inside are not followed.
        return !IsRoot(path) && DeleteEntries(WithBackslash(path), Mode::Force);
    } catch (...) {
        return false;
    }
}

bool DeleteFolderOrSchedule(const std::string &path, bool withContents, bool scheduleOnFailure)
{
    try {
        return RemoveFolder(path, withContents, scheduleOnFailure ? Mode::Schedule : Mode::Force);
    } catch (...) {
        return false;
    }
}
