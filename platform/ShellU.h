// Starting documents and programs through the shell, and Internet Explorer's
// windows.
#pragma once

#include <windows.h>

#include <string>

// ShellExecuteA with the verb "open" and a normal window; true when the shell
// reports success (a result above 32).
bool ShellOpen(const std::string &file, const std::string &parameters = {},
               HWND ownerWindow = nullptr, const std::string &folder = {});
// The same with the verb "runas": the system asks for elevation.
bool ShellRunAs(const std::string &file, const std::string &parameters = {},
                HWND ownerWindow = nullptr, const std::string &folder = {});

// A top-level window of class "IEFrame" exists.
bool IsIEFrameOpen();
// Asks every Internet Explorer window the shell lists to quit, last to first,
// and posts WM_QUIT to it; other shell windows are left alone and errors are
// ignored window by window. Needs COM initialised on the calling thread.
void CloseIEWindows();
