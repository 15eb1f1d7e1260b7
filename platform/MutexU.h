// Named mutexes shared between processes, users and integrity levels.
#pragma once

#include <windows.h>

#include <string>

// A mutex opened by name, or created (not owned, open to Everyone, low
// integrity label) when no mutex of that name exists yet. Handle() is nullptr
// when neither worked; every wait on it then fails.
// Ownership belongs to the thread that waited, as the system defines it; use
// one object from one thread.
class TMutex {
public:
    explicit TMutex(const std::string &name);
    // Releases every acquisition still held, then closes the handle.
    virtual ~TMutex();
    TMutex(const TMutex &) = delete;
    TMutex &operator=(const TMutex &) = delete;

    const std::string &Name() const { return name_; }
    HANDLE Handle() const { return handle_; }
    // True when the mutex existed before (opened rather than created).
    bool Existed() const { return existed_; }
    // True while this object holds at least one acquisition.
    bool Owned() const { return held_ > 0; }

    // True when acquired, also when the previous owner ended without releasing
    // it (abandoned). A successful wait while already owned nests: each one
    // needs a Release (or is released by the destructor).
    bool WaitFor(DWORD timeout);
    // Releases one acquisition; false when this object holds none.
    bool Release();

private:
    std::string name_;
    HANDLE handle_ = nullptr;
    bool existed_ = false;
    int held_ = 0;
};

// The same in the global namespace ("Global\" + name).
class TGlobalMutex : public TMutex {
public:
    explicit TGlobalMutex(const std::string &name) : TMutex("Global\\" + name) {}
};
