// One notification-area icon.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

// The record layout the icon is registered with: tooltip of 128 characters,
// balloon text, time-out, title and flags, but no GUID or balloon icon. Every
// shell from Windows 2000 on accepts it.
constexpr DWORD TrayIconRecordSize = 936;
static_assert(offsetof(NOTIFYICONDATAW, dwInfoFlags) + sizeof(DWORD) == TrayIconRecordSize,
              "the shell's record no longer starts with the 936-byte layout");

// The shell call every icon operation goes through; tests replace it to see
// the record the shell would get.
using TNotifyIconCall = BOOL(WINAPI *)(DWORD message, PNOTIFYICONDATAW data);
extern TNotifyIconCall NotifyIconCall;

class TTrayIconW {
public:
    // The record is filled here, once: message, icon and tooltip (cut to 127
    // characters), identified by the window's own handle value.
    TTrayIconW(HWND window, bool addNow, const std::wstring &tip, UINT callbackMessage, HICON icon);
    // Removes the icon.
    ~TTrayIconW();
    TTrayIconW(const TTrayIconW &) = delete;
    TTrayIconW &operator=(const TTrayIconW &) = delete;

    bool Added() const { return added_; }
    const NOTIFYICONDATAW &IconData() const { return data_; }

    // Adds the icon the first time, updates it afterwards. What the shell
    // answers is not looked at: without a taskbar the program simply has no
    // icon.
    void Show();
    void Hide();
    // Only while the icon is shown. Text is cut to 255 characters, the title
    // to 63. The record's own flags are left as they were.
    void ShowBalloon(const std::wstring &title, const std::wstring &text, UINT timeoutMs, DWORD infoFlags);

private:
    bool added_ = false;
    NOTIFYICONDATAW data_{};
    HICON icon_;
    std::wstring tip_;
};
