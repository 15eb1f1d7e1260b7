// The thread class, and calls run on the thread that owns the message loop.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

// Makes the calling thread the one that Synchronize runs calls on: creates a
// message-only window owned by it. Call once, on the user-interface thread or
// the console program's main thread. True when ready (also when this thread
// already is the owner); false when another thread already owns it.
bool InitSynchronize();
// Destroys the window; only its owner may. Pending callers get false.
void DoneSynchronize();

// Runs fn on the owner thread and waits until it has run. The owner runs it
// whenever it retrieves messages (a GUI message loop, a modal loop,
// CheckSynchronize, TThread::WaitFor). On the owner thread itself fn runs at
// once. Exceptions from fn are caught. False when fn did not run to its end
// (no owner, the window is gone, or fn threw).
bool Synchronize(const std::function<void()> &fn);

// For an owner thread without a message loop: runs the calls waiting for it,
// waiting up to timeout ms for the first one. True when at least one ran.
// False at once on any other thread.
bool CheckSynchronize(DWORD timeout = 0);

// A thread that runs Execute once. Created suspended: nothing runs until
// Start (or Resume). With FreeOnTerminate set, the object deletes itself when
// Execute returns; the creator must then not touch it after Start except
// through a TThreadWaiter taken before Start.
// A derived class whose Execute uses its own members must make sure the
// thread has ended before those members go (Terminate and WaitFor in its
// destructor); the base destructor waits too, but then too late for them.
class TThreadWaiter;

class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Creates the system thread and lets it run. Later calls do nothing and
    // return true. False when the thread could not be created: the caller
    // then still owns the object, whatever FreeOnTerminate says.
    bool Start();
    bool Resume() { return Start(); }

    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }

    void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }
    bool FreeOnTerminate() const { return freeOnTerminate_; }

    // True when the thread has ended (or never started) within timeout ms. On
    // the Synchronize owner thread the wait keeps running synchronised calls,
    // so a worker blocked in Synchronize cannot deadlock it.
    bool WaitFor(DWORD timeout = INFINITE);
    bool Finished() const;
    DWORD ThreadId() const;

    // A handle on the thread's end that stays valid after a self-freeing
    // thread has deleted itself.
    TThreadWaiter Waiter() const;

protected:
    // Runs on the new thread. Exceptions are caught at the thread entry.
    virtual void Execute() = 0;
    bool Synchronize(const std::function<void()> &fn) { return ::Synchronize(fn); }

public:
    struct TState;  // shared by the object, its waiters and the running thread

private:
    static unsigned __stdcall Entry(void *self);

    std::shared_ptr<TState> state_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> freeOnTerminate_{false};
};

class TThreadWaiter {
public:
    explicit TThreadWaiter(std::shared_ptr<TThread::TState> state) : state_(std::move(state)) {}
    // Same contract as TThread::WaitFor.
    bool WaitFor(DWORD timeout = INFINITE) const;

private:
    std::shared_ptr<TThread::TState> state_;
};
