// Usage counters shared by both programs, and the install and uninstall
// report thread.
//
// The store is one REG_SZ value (HKLM "Software\Tovu" "TRACK", 32-bit view):
// lines "name=count", each ended by CR LF. Names are a page code ("W"), a
// page code, "." and an event ("T.OP"), or "#" and an amount ("#FX"). Both
// programs reach it under one named mutex whose name both derive from the
// value's place; a count that cannot get at the store within 100 ms is lost.
#pragma once

#include "platform/MutexU.h"
#include "platform/ThreadU.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TUserTrack {
public:
    TUserTrack(HKEY root, const std::string &keyPath, const std::string &valueName);
    ~TUserTrack();
    TUserTrack(const TUserTrack &) = delete;
    TUserTrack &operator=(const TUserTrack &) = delete;

    // "Global\FW_TRACK" + NameHash32 of the lower-cased "HKLM\key value".
    static std::string MutexName(HKEY root, const std::string &keyPath, const std::string &valueName);

    // A page view; the page's once-events may be counted again afterwards.
    void CountPage(const std::string &category);
    // category.event; with once, at most once per page view in this process.
    void CountEvent(const std::string &category, const std::string &event, bool once);
    void AddAmount(const std::string &name, int64_t number);
    // The store with every CR LF as ";"; empty when there is none.
    std::string GetReport();
    // Takes a report the service accepted off the store; counts that arrived
    // after it was taken stay.
    void SubtractReport(const std::string &report);

private:
    struct TLine {
        std::string Name, Count;
    };
    using TLines = std::vector<TLine>;
    template <typename F> void Locked(F &&change);
    TLines Read() const;
    bool Write(const TLines &lines) const;

    std::vector<std::string> once_;
    HKEY root_;
    std::string keyPath_, valueName_;
    std::unique_ptr<TMutex> mutex_;
    CRITICAL_SECTION lock_;
};

// The process's tracker on the settings key, made on first use.
TUserTrack &UserTrack();

// Each does nothing unless "TRACK_USER" is on; errors are ignored.
void TrackPage(const std::string &category);
void TrackEvent(const std::string &category, const std::string &event, bool once);
void TrackAmount(const std::string &name, int64_t number);

class TWaitThread : public TThread {
public:
    bool IsDone() const { return done_; }

protected:
    void SetDone() { done_ = true; }

private:
    std::atomic<bool> done_{false};
};

// Sends one install or uninstall report: address is "LI_URL" with %ACTION%
// already replaced; its %CU% (any case) becomes the parameter token (random
// fields, CFG, UID, SUBID when set). Starts at once. With freeOnTerminate
// false the creator frees it, but only after WaitForDone returned true.
class TInstallHitThread : public TWaitThread {
public:
    TInstallHitThread(const std::string &address, bool freeOnTerminate);
    ~TInstallHitThread() override;
    const std::string &Address() const { return address_; }

protected:
    void Execute() override;

private:
    std::string address_;
};

// True at once for no thread or one that is done; otherwise waits on it in
// slices of 100 ms until it is done or timeoutMs have passed. The thread must
// not free itself.
bool WaitForDone(TWaitThread *thread, DWORD timeoutMs);

// The report address for one report, with a fresh token in place of %CU%.
std::string InstallReportAddress(const std::string &address);
