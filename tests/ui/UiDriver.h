// Drives windows of this process as a user would, through window messages:
// find a control by its text, press it, read what it shows, answer the
// message box a press opens. Every wait pumps this thread's messages, so the
// window under test keeps running while the test waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace ui {

// The first visible, enabled-or-not child below root (any depth) whose text
// is text; nullptr when none.
HWND FindByText(HWND root, const std::wstring &text);
// The same among the enabled ones (what a user can press).
HWND FindEnabledByText(HWND root, const std::wstring &text);
std::wstring Text(HWND window);
bool Visible(HWND window);

// Runs this thread's messages for ms milliseconds.
void Pump(DWORD ms);
// Pumps until done() holds or timeout ms passed; done()'s last answer.
bool WaitUntil(const std::function<bool()> &done, DWORD timeout);

// Presses a button as a click would (BM_CLICK, returns when the press's
// handler returned, modal boxes included).
void Press(HWND button);
// A left mouse press and release at (x, y) of window's client area.
void MouseClick(HWND window, int x, int y);

// Answers the next message box titled "Tovu" of this process (or of process
// pid) with button id (IDYES, IDNO, IDOK) from a thread of its own; Text() is
// what the box said.
class TBoxAnswer {
public:
    explicit TBoxAnswer(int button, DWORD timeout = 30000, DWORD pid = 0);
    ~TBoxAnswer();
    // Waits (pumping) until the box was answered; false when none came.
    bool Wait(DWORD timeout = 30000);
    std::wstring Text() const { return FText; }
    bool Answered() const { return FAnswered; }

private:
    std::thread FThread;
    std::atomic<bool> FAnswered{false}, FQuit{false};
    std::wstring FText;
};

// Asks the test's runner for a screenshot of the display (it runs
// ImageMagick's import) and waits until it is taken; the window is repainted
// first. Nothing happens outside that runner.
void Snap(const std::string &name);

}  // namespace ui
