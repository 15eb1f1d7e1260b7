#include "tray/fwTray.h"

#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "online/fwTrack.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/ShellU.h"
#include "startup/fwStartup.h"

BOOL(WINAPI *TrayBeep)(UINT type) = MessageBeep;

namespace {

// Every usage count of the tray program passes here: the menu shown (empty
// event) and the menu choices, category "T", never once-only. No counter
// store is linked into the tray program yet, so nothing is counted.
void TrayCount(const std::string &event)
{
    if (event.empty()) TrackPage("T");
    else TrackEvent("T", event, false);
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE) {
            auto *create = reinterpret_cast<CREATESTRUCTA *>(lParam);
            SetWindowLongPtrA(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
        }
        auto *app = reinterpret_cast<TAppClass *>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (app && app->Window == window && app->HandleMessage(message, wParam, lParam)) return 0;
    } catch (...) {
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterTrayClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = TrayWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = TrayWindowClass;
    return RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

void StartMainProgram(const std::string &arguments)
{
    const std::string main = MainExePath();
    if (FileExists(main)) ShellOpen(main, arguments);
}

TAppClass::TAppClass()
{
    LoadTranslations();
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (RegisterTrayClass(instance))
        Window = CreateWindowExA(0, TrayWindowClass, TrayWindowClass, 0, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    BuildMenu();
    NotifyMessage = RegisterWindowMessageA(MsgNotifyTray);
    RefreshMessage = RegisterWindowMessageA(MsgRefreshTray);
    ExitToTrayMessage = RegisterWindowMessageA(MsgExitToTray);
    Icon = HICON(LoadImageW(instance, L"MAINICON", IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    Tip = Translate("TrayNotification", L"%BRAND% System Optimizer");
    TrayIcon = std::make_unique<TTrayIconW>(Window, false, Tip, NotifyMessage, Icon);
}

TAppClass::~TAppClass()
{
    TrayIcon.reset();
    if (Window) DestroyWindow(Window);
    if (Menu) DestroyMenu(Menu);
    if (Icon) DestroyIcon(Icon);
}

void TAppClass::BuildMenu()
{
    if (Menu) DestroyMenu(Menu);
    Menu = CreatePopupMenu();
    if (!Menu) return;
    AppendMenuW(Menu, MF_STRING, TrayCmdOpen, Translate("TrayOpen", L"Open %BRAND% wizard").c_str());
    AppendMenuW(Menu, MF_STRING, TrayCmdScan, Translate("TrayScan", L"Scan now").c_str());
    AppendMenuW(Menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(Menu, MF_STRING, TrayCmdExit, Translate("TrayExit", L"Exit").c_str());
}

bool TAppClass::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == 0) return false;
    if (message == NotifyMessage) {
        switch (UINT(lParam)) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN: {
            if (!Menu) return true;
            POINT at = {};
            GetCursorPos(&at);
            // Without the foreground the menu would stay open when the user
            // clicks elsewhere.
            SetForegroundWindow(Window);
            TrayCount("");
            const UINT choice = UINT(TrackPopupMenu(Menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x,
                                                    at.y, 0, Window, nullptr));
            // A menu opened for a background window may not open again
            // unless a message follows it.
            PostMessageA(Window, WM_NULL, 0, 0);
            if (choice) MenuCommand(choice);
            return true;
        }
        case WM_LBUTTONDBLCLK:
            StartMainProgram("");
            return true;
        default:
            return true;
        }
    }
    if (message == RefreshMessage) {
        LoadSettings();
        BuildMenu();
        if (!Settings().ShowTray) Terminated = true;
        return true;
    }
    if (message == ExitToTrayMessage) {
        if (TrayIcon)
            TrayIcon->ShowBalloon(L"", Translate("TrayNotification", L"%BRAND% System Optimizer"), 10000, 0);
        return true;
    }
    if (message == WM_ENDSESSION) {
        Terminated = true;
        return true;
    }
    return false;
}

void TAppClass::MenuCommand(UINT command)
{
    switch (command) {
    case TrayCmdOpen:
        TrayCount("OP");
        StartMainProgram("");
        break;
    case TrayCmdScan:
        TrayCount("SN");
        StartMainProgram("/SCAN");
        break;
    case TrayCmdExit:
        ExitDialog();
        break;
    default:
        break;
    }
}

void TAppClass::ExitDialog()
{
    const std::wstring caption = Translate("CloseTitle", L"Closing %BRAND%");
    const std::wstring text = Translate("CloseText1", L"Do you want to close %BRAND%?") + L"\r\n\r\n" +
                              Translate("CloseText2", L"%BRAND% will automatically launch after restart of your computer.");
    if (MessageBoxW(Window, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
        TrayCount("X");
        if (TrayIcon) TrayIcon->Hide();
        Terminated = true;
    } else {
        TrayCount("XC");
    }
}

void TAppClass::PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Sleep(10);
}

void TAppClass::WatchStopEvent()
{
    if (stop_) return;
    stop_ = std::make_unique<TGlobalEvent>(EventStopTray);
    stop_->Unsignal();
}

bool TAppClass::StopRequested() const
{
    return stop_ && stop_->WaitFor(0);
}

void TAppClass::Run()
{
    if (TrayIcon) TrayIcon->Show();
    WatchStopEvent();
    try {
        while (!Terminated) {
            PumpMessages();
            if (StopRequested()) Terminated = true;
        }
    } catch (...) {
    }
    if (TrayIcon) TrayIcon->Hide();
    stop_.reset();
}

int TrayMain()
{
    try {
        if (FindWindowA(TrayWindowClass, nullptr)) {
            TrayBeep(0);
            return 0;
        }
        FixLocations();
        // An update that could not replace a running program renamed it to
        // ".old"; nothing runs from it any more once this start is here.
        DeleteLeftoverFiles(false);
        LoadSettings();
        TAppClass app;
        HWND desktop = GetDesktopWindow();
        if (!GetPropA(desktop, StartupDoneProperty)) {
            // The stop sequence of an uninstall or update may come while the
            // programs are being started, which takes seconds per priority
            // level; it must not be reset and lost when the loop begins.
            app.WatchStopEvent();
            try {
                RunPostponedStartup([&app] {
                    app.PumpMessages();
                    if (app.StopRequested()) app.Terminated = true;
                });
            } catch (...) {
            }
            SetPropA(desktop, StartupDoneProperty, HANDLE(1));
        }
        if (Settings().ShowTray) app.Run();
    } catch (...) {
    }
    return 0;
}
