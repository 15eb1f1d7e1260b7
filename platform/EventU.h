// Named events shared between processes, users and integrity levels.
#pragma once

#include <windows.h>

#include <string>

// A manual-reset event opened by name, or created (not signalled, open to
// Everyone, low integrity label) when no event of that name exists yet.
// Handle() is nullptr when neither worked; every wait on it then fails.
class TEvent {
public:
    explicit TEvent(const std::string &name);
    virtual ~TEvent();
    TEvent(const TEvent &) = delete;
    TEvent &operator=(const TEvent &) = delete;

    const std::string &Name() const { return name_; }
    HANDLE Handle() const { return handle_; }
    // True when the event existed before (opened rather than created).
    bool Existed() const { return existed_; }

    // True when the wait ended signalled (or abandoned).
    bool WaitFor(DWORD timeout);
    bool Signal();
    bool Unsignal();

private:
    std::string name_;
    HANDLE handle_ = nullptr;
    bool existed_ = false;
};

// The same in the global namespace: the name used is "Global\" + name, so that
// processes of every session share it.
class TGlobalEvent : public TEvent {
public:
    explicit TGlobalEvent(const std::string &name) : TEvent("Global\\" + name) {}
};
