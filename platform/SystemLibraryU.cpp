#include "platform/SystemLibraryU.h"

HMODULE LoadSystemLibrary(const std::string &name)
{
    char folder[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || name.empty() || name.find_first_of("\\/:") != std::string::npos) return nullptr;
    std::string path(folder, n);
    if (path.back() != '\\') path += '\\';
    return LoadLibraryA((path + name).c_str());
}
