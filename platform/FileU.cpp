#include "platform/FileU.h"
#include "platform/HandlesU.h"

#include "platform/ObjectSecurityU.h"
#include "platform/StreamU.h"

#include <vector>

namespace {

// Security descriptors and delayed deletion exist only on the NT family;
// Windows 9x answers them with failure or, worse, silently.
bool IsNTFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

// The names the file has. A hard link shares its access list with every
// other name of the file, so a grant meant for a file about to go would stay
// on a file that remains elsewhere; 0 when it cannot be told.
DWORD LinkCount(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info = {};
    DWORD links = GetFileInformationByHandle(h, &info) ? info.nNumberOfLinks : 0;
    CloseHandle(h);
    return links;
}

bool ReadAccessList(const std::string &path, std::vector<BYTE> &descriptor)
{
    descriptor.assign(512, 0);
    DWORD need = 0;
    while (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), DWORD(descriptor.size()),
                             &need)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= descriptor.size()) {
            descriptor.clear();
            return false;
        }
        descriptor.resize(need);
    }
    return true;
}

bool DeleteFileTwice(const std::string &path)
{
    if (!FileExists(path)) return false;
    if (DeleteFileA(path.c_str())) return true;
    // Only a refusal is worth opening the file up for; a file in use or a
    // path that is gone would not delete after a grant either, and the grant
    // would stay behind.
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (LinkCount(path) != 1) return false;
    std::vector<BYTE> previous;
    bool saved = IsNTFamily() && ReadAccessList(path, previous);
    bool granted = GrantEveryoneFile(path);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path.c_str())) return true;
    DWORD error = GetLastError();
    // The file stays: so must the way it was protected.
    if (granted && saved) SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, previous.data());
    SetFileAttributesA(path.c_str(), attributes);
    SetLastError(error);
    return false;
}

} // namespace

bool FileExists(const std::string &path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t FileSize(const std::string &path)
{
    TFindFile find(path);
    return find.Ok() ? find.Size() : -1;
}

bool DeleteFileForce(const std::string &path)
{
    try {
        return DeleteFileTwice(path);
    } catch (...) {
        return false;
    }
}

bool DeleteFileOrSchedule(const std::string &path, bool scheduleOnFailure)
{
    try {
        if (!FileExists(path)) return false;
        if (DeleteFileTwice(path)) return true;
        if (!scheduleOnFailure || !IsNTFamily()) return false;
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
        return MoveFileExA(path.c_str(), nullptr,
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    } catch (...) {
        return false;
    }
}

bool CopyFileEx(const std::string &source, const std::string &target, bool everyoneAccess,
                bool overwrite)
{
    try {
        if (!FileExists(source)) return false;
        if (FileExists(target) && (!overwrite || !DeleteFileForce(target))) return false;
        if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return false;
        if (everyoneAccess) GrantEveryoneFile(target);
        return true;
    } catch (...) {
        return false;
    }
}

bool GrantEveryoneFile(const std::string &path)
{
    if (!IsNTFamily()) return false;
    try {
        // GetFileSecurityA/SetFileSecurityA rather than the named-object
        // functions: those would also rewrite the inherited entries of
        // everything below a folder, which can take minutes on a large tree.
        const SECURITY_INFORMATION what =
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        std::vector<BYTE> current(512);
        DWORD need = 0;
        while (!GetFileSecurityA(path.c_str(), what, current.data(), DWORD(current.size()), &need)) {
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || need <= current.size()) return false;
            current.resize(need);
        }
        std::vector<BYTE> updated;
        if (!BuildEveryoneGrant(current.data(), updated)) return false;
        return SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, updated.data()) != FALSE;
    } catch (...) {
        return false;
    }
}

bool ReadFileToString(const std::string &path, std::string &text)
{
    text.clear();
    try {
        TFileReader reader;
        if (reader.Open(path) && reader.ReadAll(text)) return true;
    } catch (...) {
    }
    text.clear();
    return false;
}

std::string ExpandEnvVars(const std::string &text)
{
    try {
        DWORD need = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
        if (need == 0) return {};
        // Variables may change between the two calls; grow until it fits.
        for (int round = 0; round < 4; ++round) {
            std::string out(need, '\0');
            DWORD got = ExpandEnvironmentStringsA(text.c_str(), out.data(), need);
            if (got == 0) return {};
            if (got <= need) return CutAtNul(out);
            need = got;
        }
    } catch (...) {
    }
    return {};
}

std::string CutAtNul(const std::string &text)
{
    size_t p = text.find('\0');
    return p == std::string::npos ? text : text.substr(0, p);
}
