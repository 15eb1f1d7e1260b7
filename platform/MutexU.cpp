#include "platform/MutexU.h"

#include "platform/ObjectSecurityU.h"

TMutex::TMutex(const std::string &name) : name_(name)
{
    handle_ = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    if (handle_) {
        existed_ = true;
        return;
    }
    TEveryoneSecurity security(MUTEX_ALL_ACCESS);
    handle_ = CreateMutexA(security.Get(), FALSE, name.c_str());
    if (!handle_) return;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        existed_ = true;
    else
        SetLowIntegrityLabel(handle_);
}

TMutex::~TMutex()
{
    // Every nested acquisition must go, or other processes would wait until
    // this thread ends and the mutex turns abandoned.
    while (held_ > 0 && Release()) {}
    if (handle_) CloseHandle(handle_);
}

bool TMutex::WaitFor(DWORD timeout)
{
    if (!handle_) return false;
    DWORD r = WaitForSingleObject(handle_, timeout);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
    ++held_;
    return true;
}

bool TMutex::Release()
{
    if (held_ == 0) return false;
    if (!ReleaseMutex(handle_)) return false;
    --held_;
    return true;
}
