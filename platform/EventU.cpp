#include "platform/EventU.h"

#include "platform/ObjectSecurityU.h"

TEvent::TEvent(const std::string &name) : name_(name)
{
    handle_ = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
    if (handle_) {
        existed_ = true;
        return;
    }
    TEveryoneSecurity security(EVENT_ALL_ACCESS);
    handle_ = CreateEventA(security.Get(), TRUE, FALSE, name.c_str());
    if (!handle_) return;
    // Another process may have created it between our open and create; then
    // it is theirs, labelled by them.
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        existed_ = true;
    else
        SetLowIntegrityLabel(handle_);
}

TEvent::~TEvent()
{
    if (handle_) CloseHandle(handle_);
}

bool TEvent::WaitFor(DWORD timeout)
{
    if (!handle_) return false;
    DWORD r = WaitForSingleObject(handle_, timeout);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

bool TEvent::Signal()
{
    return handle_ && SetEvent(handle_);
}

bool TEvent::Unsignal()
{
    return handle_ && ResetEvent(handle_);
}
