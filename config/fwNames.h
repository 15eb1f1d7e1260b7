// The names through which the main program and the tray program find each
// other. Both programs include this header, so a name can never differ between
// them. Events and the mutex are opened or created in the global namespace
// (the "Global\" prefix is added by the event and mutex classes), so that
// elevated and unelevated processes of any user reach the same object.
#pragma once

// Held by the one interactive instance of the main program for its whole life.
constexpr const char *MutexApp = "Tovu.App";
// Set by a second interactive start: the running instance shows its window.
constexpr const char *EventShowMain = "TovuShowMain";
// Set by "/STOP": the interactive instance ends its message loop.
constexpr const char *EventStopMain = "TovuStopMain";
// Set by "/STOP": the tray program ends.
constexpr const char *EventStopTray = "TovuStopTray";

// Registered window messages posted to the tray window.
constexpr const char *MsgExitToTray = "WM_TovuExitToTray";   // the main window closed
constexpr const char *MsgRefreshTray = "WM_TovuRefreshTray"; // settings changed

// Class of the tray program's window (it has no title).
constexpr const char *TrayWindowClass = "TovuTray";
// Global atom the install role adds; nothing reads or removes it.
constexpr const char *InstalledAtom = "Tovu";

// Autostart of the tray program: HKLM, 32-bit view, value AutostartValue
// holding "\"<tray executable>\" /startup".
constexpr const char *AutostartKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
constexpr const char *AutostartValue = "Tovu";

constexpr const char *MainExeName = "Tovu.exe";
constexpr const char *TrayExeName = "TovuTray.exe";
