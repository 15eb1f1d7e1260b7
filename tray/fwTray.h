// The tray program: one hidden window of class "TovuTray" per desktop that
// starts the postponed startup programs once per logon, shows the
// notification icon and its menu while the user wants it, and answers the
// main program's messages and stop event. One thread; nothing here throws.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/EventU.h"
#include "tray/TrayIconU.h"

// Menu command identifiers, as the popup menu returns them.
enum : UINT { TrayCmdOpen = 100, TrayCmdScan = 101, TrayCmdExit = 102 };

// Desktop window property present once the postponed programs were started in
// this logon (it goes with the desktop at logoff).
constexpr const char *StartupDoneProperty = "TovuStartup";
// Callback message of the notification icon.
constexpr const char *MsgNotifyTray = "WM_TovuNotifyTray";

// The program's one object.
class TAppClass {
public:
    // Loads the translations, creates the hidden window, the menu and the
    // icon object (not yet shown).
    TAppClass();
    // The icon (which takes it off the taskbar), the window, the menu.
    ~TAppClass();
    TAppClass(const TAppClass &) = delete;
    TAppClass &operator=(const TAppClass &) = delete;

    bool Terminated = false;
    HWND Window = nullptr;
    std::unique_ptr<TTrayIconW> TrayIcon;
    HMENU Menu = nullptr;
    HICON Icon = nullptr;
    std::wstring Tip;
    UINT NotifyMessage = 0;
    UINT RefreshMessage = 0;
    UINT ExitToTrayMessage = 0;

    void BuildMenu();
    // Every message of Window passes here first; false leaves it to the
    // default processing.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Opens the stop event and resets it, so that a stop request from before
    // this start does not end it; from here on a request is remembered. Run
    // does it when it was not done before.
    void WatchStopEvent();
    // True when the stop event has been set since WatchStopEvent.
    bool StopRequested() const;
    // Shows the icon and runs until Terminated, polling the stop event; the
    // icon is removed and the event closed however the loop ends.
    void Run();
    // Dispatches what waits in the queue, then waits 10 ms. WM_QUIT is
    // dropped: only Terminated ends the program.
    void PumpMessages();
    // What a menu choice does (TrayCmdOpen, TrayCmdScan, TrayCmdExit).
    void MenuCommand(UINT command);

private:
    void ExitDialog();
    std::unique_ptr<TGlobalEvent> stop_;
};

// Opens "Tovu.exe" beside this program through the shell, with arguments
// (none when empty); nothing when it is missing.
void StartMainProgram(const std::string &arguments);

// The beep with which a second copy ends; tests replace it.
extern BOOL(WINAPI *TrayBeep)(UINT type);

// The whole program; its result is the process's exit code (always 0).
int TrayMain();
