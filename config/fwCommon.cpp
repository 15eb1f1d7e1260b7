#include "config/fwCommon.h"

#include "platform/SystemPathsU.h"

#include <windows.h>

namespace {

std::string WithSlash(std::string s)
{
    if (!s.empty() && s.back() != '\\') s += '\\';
    return s;
}

} // namespace

std::string ProgramFolder()
{
    static const std::string folder = [] {
        char path[MAX_PATH * 2] = {};
        DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
        std::string p(path, n);
        size_t slash = p.find_last_of('\\');
        return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
    }();
    return folder;
}

std::string UpdateFolder() { return ProgramFolder() + "Update\\"; }

// The known-folder getters already fall back to the Shell Folders values.
std::string CommonDataFolder()
{
    std::string base = CommonAppDataDir();
    return base.empty() ? std::string() : WithSlash(base) + "Tovu\\";
}

std::string UserDataFolder()
{
    std::string base = AppDataDir();
    return base.empty() ? std::string() : WithSlash(base) + "Tovu\\";
}

std::string BackupFolder()
{
    std::string common = CommonDataFolder();
    return common.empty() ? std::string() : common + "Backup\\";
}
