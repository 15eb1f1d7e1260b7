#include "platform/ShortcutU.h"
#include "platform/HandlesU.h"
#include "platform/TextU.h"

#include "platform/FileU.h"
#include "platform/XMLU.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace {

bool HasLnkExtension(const std::string &path)
{
    size_t dot = path.find_last_of(".\\/");
    return dot != std::string::npos && path[dot] == '.' && SameNameA(path.substr(dot), ".lnk");
}

// Up to the first NUL, as the shell reads the text.
std::wstring Widen(const std::string &text) { return AnsiToWide(text.c_str()); }

} // namespace

std::string ShortcutTarget(const std::string &path, bool withArguments)
{
    try {
        if (!HasLnkExtension(path) || !FileExists(path)) return {};
        TComPtr<IShellLinkA> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    link.PutVoid())))
            return {};
        TComPtr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return {};
        if (FAILED(file->Load(Widen(path).c_str(), STGM_READ))) return {};
        char target[MAX_PATH] = {};
        if (link->GetPath(target, MAX_PATH, nullptr, SLGP_UNCPRIORITY) != S_OK || !target[0]) return {};
        if (!withArguments) return target;
        char args[INFOTIPSIZE] = {};
        if (FAILED(link->GetArguments(args, INFOTIPSIZE))) return {};
        return std::string("\"") + target + "\" " + args;
    } catch (...) {
        return {};
    }
}
