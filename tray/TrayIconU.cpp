#include "tray/TrayIconU.h"

#include <cwchar>

TNotifyIconCall NotifyIconCall = Shell_NotifyIconW;

namespace {

template <size_t N>
void CopyCut(wchar_t (&field)[N], const std::wstring &text)
{
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::wmemcpy(field, text.data(), n);
    field[n] = L'\0';
}

} // namespace

TTrayIconW::TTrayIconW(HWND window, bool addNow, const std::wstring &tip, UINT callbackMessage, HICON icon)
    : icon_(icon), tip_(tip)
{
    data_.cbSize = TrayIconRecordSize;
    data_.hWnd = window;
    data_.uID = UINT(UINT_PTR(window));
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = callbackMessage;
    data_.hIcon = icon;
    CopyCut(data_.szTip, tip);
    if (addNow) Show();
}

TTrayIconW::~TTrayIconW()
{
    Hide();
}

void TTrayIconW::Show()
{
    if (!added_) {
        NotifyIconCall(NIM_ADD, &data_);
        added_ = true;
    } else {
        NotifyIconCall(NIM_MODIFY, &data_);
    }
}

void TTrayIconW::Hide()
{
    if (!added_) return;
    NotifyIconCall(NIM_DELETE, &data_);
    added_ = false;
}

void TTrayIconW::ShowBalloon(const std::wstring &title, const std::wstring &text, UINT timeoutMs, DWORD infoFlags)
{
    if (!added_) return;
    // Only the balloon changes: with the other flags set, the shell would
    // also take the icon and tooltip again.
    const UINT flags = data_.uFlags;
    data_.uFlags = NIF_INFO;
    CopyCut(data_.szInfo, text);
    CopyCut(data_.szInfoTitle, title);
    data_.uTimeout = timeoutMs;
    data_.dwInfoFlags = infoFlags;
    NotifyIconCall(NIM_MODIFY, &data_);
    data_.uFlags = flags;
}
