#include "platform/ThreadU.h"

#include <process.h>

#include <mutex>

// Synchronize: a worker sends a registered message to a message-only window
// owned by the loop thread and blocks in SendMessage until the window
// procedure has run the call. A sent message is delivered whenever the owner
// retrieves messages, so the GUI's own loop, modal loops and message boxes all
// serve it without knowing about it; a console owner serves it through
// CheckSynchronize. If the owner thread ends, SendMessage returns and the
// worker sees that its call did not run, instead of waiting forever.

namespace {

struct TCall {
    const std::function<void()> *fn;
    bool done;
};

std::mutex InitLock;
std::atomic<HWND> SyncWindow{nullptr};
std::atomic<DWORD> SyncOwner{0};
std::atomic<UINT> SyncMessage{0};
// Calls run so far; only the owner thread writes it.
unsigned CallsRun = 0;

const wchar_t SyncClassName[] = L"TovuSynchronizeWindow";

bool IsOwnerThread()
{
    return SyncWindow.load() && SyncOwner.load() == GetCurrentThreadId();
}

bool RunGuarded(const std::function<void()> &fn)
{
    try {
        fn();
        return true;
    } catch (...) {
        return false;
    }
}

LRESULT CALLBACK SyncWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try {
        if (msg != 0 && msg == SyncMessage.load()) {
            auto *call = reinterpret_cast<TCall *>(lParam);
            call->done = RunGuarded(*call->fn);
            ++CallsRun;
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

// Runs every message sent to this thread from other threads, and nothing
// else: posted messages stay queued for the owner's own loop.
void DeliverSentMessages()
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

DWORD Remaining(DWORD start, DWORD timeout)
{
    if (timeout == INFINITE) return INFINITE;
    DWORD elapsed = GetTickCount() - start;
    return elapsed >= timeout ? 0 : timeout - elapsed;
}

} // namespace

struct TThread::TState {
    HANDLE handle = nullptr;
    DWORD id = 0;
    std::atomic<bool> finished{false};
    ~TState()
    {
        if (handle) CloseHandle(handle);
    }
};

namespace {

bool WaitOn(const std::shared_ptr<TThread::TState> &state, DWORD timeout)
{
    if (!state || !state->handle) return true;
    // A thread waiting for its own end would wait forever.
    if (state->id == GetCurrentThreadId()) return false;
    HANDLE h = state->handle;
    if (!IsOwnerThread()) return WaitForSingleObject(h, timeout) == WAIT_OBJECT_0;

    const DWORD start = GetTickCount();
    for (;;) {
        DeliverSentMessages();
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, Remaining(start, timeout), QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;
    }
}

} // namespace

bool InitSynchronize()
{
    std::lock_guard<std::mutex> lock(InitLock);
    if (SyncWindow.load()) return SyncOwner.load() == GetCurrentThreadId();

    if (!SyncMessage.load()) SyncMessage = RegisterWindowMessageW(L"TovuSynchronize");
    if (!SyncMessage.load()) return false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = SyncWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = SyncClassName;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    HWND hwnd = CreateWindowExW(0, SyncClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!hwnd) return false;
    SyncOwner = GetCurrentThreadId();
    SyncWindow = hwnd;
    return true;
}

void DoneSynchronize()
{
    std::lock_guard<std::mutex> lock(InitLock);
    if (!IsOwnerThread()) return;
    HWND hwnd = SyncWindow.exchange(nullptr);
    SyncOwner = 0;
    DestroyWindow(hwnd);
}

bool Synchronize(const std::function<void()> &fn)
{
    if (IsOwnerThread()) return RunGuarded(fn);
    HWND hwnd = SyncWindow.load();
    if (!hwnd) return false;
    TCall call{&fn, false};
    SendMessageW(hwnd, SyncMessage.load(), 0, reinterpret_cast<LPARAM>(&call));
    return call.done;
}

bool CheckSynchronize(DWORD timeout)
{
    if (!IsOwnerThread()) return false;
    const unsigned before = CallsRun;
    const DWORD start = GetTickCount();
    for (;;) {
        DeliverSentMessages();
        if (CallsRun != before) return true;
        DWORD remaining = Remaining(start, timeout);
        if (remaining == 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, remaining, QS_SENDMESSAGE);
    }
}

TThread::TThread() : state_(std::make_shared<TState>()) {}

TThread::~TThread()
{
    // A self-freeing thread runs this on itself; anyone else must not leave
    // the thread running on freed memory.
    if (state_->handle && state_->id != GetCurrentThreadId()) {
        Terminate();
        WaitOn(state_, INFINITE);
    }
}

bool TThread::Start()
{
    if (state_->handle) return true;
    std::shared_ptr<TState> state = state_;
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, 0, &TThread::Entry, this, CREATE_SUSPENDED, &id);
    if (!h) return false;
    state->handle = reinterpret_cast<HANDLE>(h);
    state->id = id;
    // From here on a self-freeing object may be gone at any moment.
    ResumeThread(state->handle);
    return true;
}

unsigned __stdcall TThread::Entry(void *self)
{
    auto *thread = static_cast<TThread *>(self);
    std::shared_ptr<TState> state = thread->state_;
    try {
        thread->Execute();
    } catch (...) {
    }
    state->finished = true;
    if (thread->freeOnTerminate_) {
        try {
            delete thread;
        } catch (...) {
        }
    }
    return 0;
}

bool TThread::WaitFor(DWORD timeout)
{
    return WaitOn(state_, timeout);
}

bool TThread::Finished() const
{
    return !state_->handle || state_->finished;
}

DWORD TThread::ThreadId() const
{
    return state_->id;
}

TThreadWaiter TThread::Waiter() const
{
    return TThreadWaiter(state_);
}

bool TThreadWaiter::WaitFor(DWORD timeout) const
{
    return WaitOn(state_, timeout);
}
