#include "platform/ShellU.h"
#include "platform/HandlesU.h"

#include <exdisp.h>
#include <shellapi.h>

namespace {

const char *OrNull(const std::string &text)
{
    return text.empty() ? nullptr : text.c_str();
}

bool Execute(const char *verb, const std::string &file, const std::string &parameters,
             HWND ownerWindow, const std::string &folder)
{
    HINSTANCE r = ShellExecuteA(ownerWindow, verb, file.c_str(), OrNull(parameters), OrNull(folder),
                                SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

// The Shell Windows collection lists folder windows too (on XP they are
// Explorer and Internet Explorer in one); only browser frames are closed.
bool IsBrowserFrame(HWND window)
{
    char cls[32] = {};
    return window && GetClassNameA(window, cls, sizeof cls) && lstrcmpA(cls, "IEFrame") == 0;
}

void CloseWindowAt(IShellWindows *windows, long index)
{
    VARIANT at;
    VariantInit(&at);
    at.vt = VT_I4;
    at.lVal = index;
    TComPtr<IDispatch> item;
    if (FAILED(windows->Item(at, item.Put())) || !item) return;
    TComPtr<IWebBrowser2> browser;
    if (FAILED(item->QueryInterface(IID_IWebBrowser2, browser.PutVoid())) || !browser)
        return;
    SHANDLE_PTR handle = 0;
    if (FAILED(browser->get_HWND(&handle))) return;
    HWND window = reinterpret_cast<HWND>(handle);
    if (!IsBrowserFrame(window)) return;
    browser->Quit();
    PostMessageA(window, WM_QUIT, 0, 0);
}

} // namespace

bool ShellOpen(const std::string &file, const std::string &parameters, HWND ownerWindow,
               const std::string &folder)
{
    try {
        return Execute("open", file, parameters, ownerWindow, folder);
    } catch (...) {
        return false;
    }
}

bool ShellRunAs(const std::string &file, const std::string &parameters, HWND ownerWindow,
                const std::string &folder)
{
    try {
        return Execute("runas", file, parameters, ownerWindow, folder);
    } catch (...) {
        return false;
    }
}

bool IsIEFrameOpen()
{
    return FindWindowA("IEFrame", nullptr) != nullptr;
}

void CloseIEWindows()
{
    try {
        TComPtr<IShellWindows> windows;
        if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                    windows.PutVoid())) || !windows)
            return;
        long count = 0;
        if (FAILED(windows->get_Count(&count))) return;
        // Last to first: a closed window leaves the collection and shifts
        // the ones after it.
        for (long i = count - 1; i >= 0; --i) {
            try {
                CloseWindowAt(windows.Get(), i);
            } catch (...) {
            }
        }
    } catch (...) {
    }
}
