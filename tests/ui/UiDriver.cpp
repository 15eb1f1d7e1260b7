#include "UiDriver.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ui {

namespace {
struct TFind {
    std::wstring Text;
    bool Enabled = false;
    HWND Found = nullptr;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM lp)
{
    auto *f = reinterpret_cast<TFind *>(lp);
    if (IsWindowVisible(hwnd) && (!f->Enabled || IsWindowEnabled(hwnd)) && Text(hwnd) == f->Text) {
        f->Found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct TBoxFind {
    DWORD Pid;
    HWND Found = nullptr;
};

BOOL CALLBACK FindBox(HWND hwnd, LPARAM lp)
{
    auto *f = reinterpret_cast<TBoxFind *>(lp);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == f->Pid && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hwnd) && Text(hwnd) == L"Tovu") {
        f->Found = hwnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindEnabledByText(HWND root, const std::wstring &text)
{
    TFind f{text, true};
    EnumChildWindows(root, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.Found;
}

HWND FindByText(HWND root, const std::wstring &text)
{
    TFind f{text};
    EnumChildWindows(root, FindChild, reinterpret_cast<LPARAM>(&f));
    return f.Found;
}

std::wstring Text(HWND window)
{
    // WM_GETTEXT itself: GetWindowText does not ask a window of another
    // process for a control's text.
    wchar_t buf[2048] = {};
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &got);
    return buf;
}

bool Visible(HWND window) { return window && IsWindowVisible(window); }

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // a window of an earlier test ended
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

bool WaitUntil(const std::function<bool()> &done, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeout) return done();
        Pump(20);
    }
    return true;
}

void Press(HWND button) { SendMessageW(button, BM_CLICK, 0, 0); }

void MouseClick(HWND window, int x, int y)
{
    // Posted, both: a control may wait in a loop of its own for the release
    // after the press, as a tree view does to tell a click from a drag.
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    Pump(100);
}

TBoxAnswer::TBoxAnswer(int button, DWORD timeout, DWORD pid)
{
    if (!pid) pid = GetCurrentProcessId();
    FThread = std::thread([this, button, timeout, pid] {
        DWORD start = GetTickCount();
        while (!FQuit && GetTickCount() - start < timeout) {
            TBoxFind f{pid};
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&f));
            if (f.Found) {
                Sleep(100);  // let the box paint, for a screenshot taken meanwhile
                FText = ui::Text(GetDlgItem(f.Found, 0xFFFF));
                FAnswered = true;
                PostMessageW(f.Found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                return;
            }
            Sleep(20);
        }
    });
}

TBoxAnswer::~TBoxAnswer()
{
    FQuit = true;
    if (FThread.joinable()) FThread.join();
}

bool TBoxAnswer::Wait(DWORD timeout)
{
    return WaitUntil([this] { return FAnswered.load(); }, timeout);
}

void Snap(const std::string &name)
{
    const char *dir = std::getenv("TOVU_SNAP_DIR");
    if (!dir || !*dir) return;
    Pump(400);
    std::string base = std::string(dir) + "\\" + name;
    std::string done = base + ".done";
    DeleteFileA(done.c_str());
    if (FILE *f = std::fopen((base + ".req").c_str(), "w")) std::fclose(f);
    WaitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
    DeleteFileA(done.c_str());
}

}  // namespace ui
