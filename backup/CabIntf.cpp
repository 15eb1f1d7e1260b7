#include "backup/CabIntf.h"

#include "platform/SystemPathsU.h"

#include <mutex>

namespace {

struct TLoaded {
    TCabFunctions Functions;
    bool Ok = false;
    DWORD Error = 0;
};

template <typename F> bool Look(HMODULE module, const char *name, F &target)
{
    FARPROC p = GetProcAddress(module, name);
    target = reinterpret_cast<F>(p);
    return p != nullptr;
}

TLoaded Load()
{
    TLoaded loaded;
    HMODULE module = LoadLibraryA((SystemDir() + "cabinet.dll").c_str());
    if (!module) {
        loaded.Error = GetLastError();
        return loaded;
    }
    TCabFunctions &f = loaded.Functions;
    FARPROC unused = nullptr;
    bool all = Look(module, "FDICreate", f.FDICreate) && Look(module, "FDIIsCabinet", f.FDIIsCabinet) &&
               Look(module, "FDICopy", f.FDICopy) && Look(module, "FDIDestroy", f.FDIDestroy);
    // The writing half is not used, but a library without it is not the
    // system's cabinet library.
    for (const char *name : {"FCICreate", "FCIAddFile", "FCIFlushCabinet", "FCIFlushFolder", "FCIDestroy"})
        all = all && Look(module, name, unused);
    if (!all) {
        loaded.Error = GetLastError();
        FreeLibrary(module);
        loaded.Functions = TCabFunctions();
        return loaded;
    }
    loaded.Ok = true;
    return loaded;
}

}  // namespace

const TCabFunctions *CabFunctions(std::string &error)
{
    static std::once_flag once;
    static TLoaded loaded;
    std::call_once(once, [] { loaded = Load(); });
    if (loaded.Ok) return &loaded.Functions;
    error = SystemErrorText(loaded.Error);
    if (error.empty()) error = "Cannot load the cabinet library";
    return nullptr;
}

std::string SystemErrorText(DWORD code)
{
    char *buffer = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}
