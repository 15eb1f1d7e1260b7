#include "online/fwTrack.h"

#include "config/fwSettings.h"
#include "online/HTTPU.h"
#include "platform/CryptU.h"
#include "platform/HashU.h"
#include "platform/RegistryU.h"
#include "platform/TextU.h"

#include <cstdlib>
#include <random>

namespace {

constexpr DWORD LockTimeout = 100;

bool SameName(const std::string &a, const std::string &b)
{
    return AsciiLower(a) == AsciiLower(b);
}

// A count that is not a number counts as fallback.
int64_t CountValue(const std::string &text, int64_t fallback)
{
    if (text.empty()) return fallback;
    char *end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    return *end == 0 ? n : fallback;
}

std::string ReplaceAllNoCase(std::string text, const std::string &what, const std::string &with)
{
    const std::string upperWhat = AsciiUpper(what);
    size_t at = 0;
    while ((at = AsciiUpper(text).find(upperWhat, at)) != std::string::npos) {
        text.replace(at, what.size(), with);
        at += with.size();
    }
    return text;
}

unsigned RandomBelow(unsigned n)
{
    static std::mt19937 engine([] {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        return unsigned(counter.LowPart ^ GetCurrentProcessId() ^ GetTickCount());
    }());
    return std::uniform_int_distribution<unsigned>(0, n - 1)(engine);
}

} // namespace

// ---- the tracker --------------------------------------------------------------

TUserTrack::TUserTrack(HKEY root, const std::string &keyPath, const std::string &valueName)
    : root_(root), keyPath_(keyPath), valueName_(valueName)
{
    InitializeCriticalSection(&lock_);
    mutex_ = std::make_unique<TMutex>(MutexName(root, keyPath, valueName));
}

TUserTrack::~TUserTrack()
{
    mutex_.reset();
    DeleteCriticalSection(&lock_);
}

std::string TUserTrack::MutexName(HKEY root, const std::string &keyPath, const std::string &valueName)
{
    const std::string hashed = AsciiLower(RegFullKeyName(root, keyPath) + " " + valueName);
    return "Global\\FW_TRACK" + std::to_string(NameHash32(hashed, true));
}

// The shared mutex first, then the process's own lock; a count that cannot
// have both soon is dropped rather than holding up a window's thread.
template <typename F> void TUserTrack::Locked(F &&change)
{
    HANDLE mutex = mutex_ ? mutex_->Handle() : nullptr;
    if (!mutex) return;
    // The handle is waited on directly: several threads of this process may
    // count, and ownership of a mutex belongs to the thread that waited.
    const DWORD waited = WaitForSingleObject(mutex, LockTimeout);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return;
    bool entered = false;
    for (DWORD spent = 0; !(entered = TryEnterCriticalSection(&lock_)) && spent < LockTimeout; spent += 10)
        Sleep(10);
    if (entered) {
        try {
            change();
        } catch (...) {
        }
        LeaveCriticalSection(&lock_);
    }
    ReleaseMutex(mutex);
}

TUserTrack::TLines TUserTrack::Read() const
{
    TLines lines;
    std::string text;
    {
        TRegViewScope view(false, true);
        if (!RegReadStr(root_, keyPath_, valueName_, text)) return lines;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) lines.push_back({line, ""});
        else lines.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
    return lines;
}

bool TUserTrack::Write(const TLines &lines) const
{
    std::string text;
    for (const TLine &l : lines) text += l.Name + "=" + l.Count + "\r\n";
    TRegViewScope view(false, true);
    return RegWriteStr(root_, keyPath_, valueName_, text);
}

void TUserTrack::CountPage(const std::string &category)
{
    Locked([&] {
        const std::string prefix = category + ".";
        std::erase_if(once_, [&](const std::string &n) { return n.compare(0, prefix.size(), prefix) == 0; });
        TLines lines = Read();
        bool found = false;
        for (TLine &l : lines)
            if (SameName(l.Name, category)) {
                l.Count = std::to_string(CountValue(l.Count, 1) + 1);
                found = true;
                break;
            }
        if (!found) lines.push_back({category, "1"});
        Write(lines);
    });
}

void TUserTrack::CountEvent(const std::string &category, const std::string &event, bool once)
{
    Locked([&] {
        const std::string name = category + "." + event;
        if (once) {
            for (const std::string &n : once_)
                if (n == name) return;
            once_.push_back(name);
        }
        TLines lines = Read();
        bool found = false;
        for (TLine &l : lines)
            if (SameName(l.Name, name)) {
                l.Count = std::to_string(CountValue(l.Count, 1) + 1);
                found = true;
                break;
            }
        if (!found) lines.push_back({name, "1"});
        Write(lines);
    });
}

void TUserTrack::AddAmount(const std::string &name, int64_t number)
{
    Locked([&] {
        TLines lines = Read();
        bool found = false;
        for (TLine &l : lines)
            if (SameName(l.Name, name)) {
                l.Count = std::to_string(number + CountValue(l.Count, 0));
                found = true;
                break;
            }
        if (!found) lines.push_back({name, std::to_string(number)});
        Write(lines);
    });
}

std::string TUserTrack::GetReport()
{
    std::string report;
    Locked([&] {
        for (const TLine &l : Read()) report += l.Name + "=" + l.Count + ";";
    });
    return report;
}

void TUserTrack::SubtractReport(const std::string &report)
{
    Locked([&] {
        TLines lines = Read();
        size_t start = 0;
        while (start < report.size()) {
            size_t end = report.find(';', start);
            if (end == std::string::npos) end = report.size();
            const std::string entry = report.substr(start, end - start);
            start = end + 1;
            if (entry.empty()) continue;
            const size_t eq = entry.find('=');
            const std::string name = entry.substr(0, eq);
            const std::string count = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
            for (size_t i = 0; i < lines.size(); ++i) {
                if (!SameName(lines[i].Name, name)) continue;
                const int64_t left = lines[i].Count == count
                                         ? 0
                                         : CountValue(lines[i].Count, 1) - CountValue(count, 1);
                if (left <= 0) lines.erase(lines.begin() + ptrdiff_t(i));
                else lines[i].Count = std::to_string(left);
                break;
            }
        }
        Write(lines);
    });
}

TUserTrack &UserTrack()
{
    static TUserTrack track(HKEY_LOCAL_MACHINE, SettingsKeyPath(), "TRACK");
    return track;
}

void TrackPage(const std::string &category)
{
    try {
        if (Settings().TrackUser) UserTrack().CountPage(category);
    } catch (...) {
    }
}

void TrackEvent(const std::string &category, const std::string &event, bool once)
{
    try {
        if (Settings().TrackUser) UserTrack().CountEvent(category, event, once);
    } catch (...) {
    }
}

void TrackAmount(const std::string &name, int64_t number)
{
    try {
        if (Settings().TrackUser) UserTrack().AddAmount(name, number);
    } catch (...) {
    }
}

// ---- the report thread -----------------------------------------------------------

std::string InstallReportAddress(const std::string &address)
{
    TCryptURL token;
    const TSettings settings = Settings();
    token.SetParam("RNDX_" + std::to_string(RandomBelow(1000)), std::to_string(RandomBelow(100000)));
    token.SetParam("CFG", settings.CfgId);
    token.SetParam("UID", settings.UID);
    token.SetParam("RNDY_" + std::to_string(RandomBelow(1000)), std::to_string(RandomBelow(100000)));
    std::string subId;
    if (ReadSettingText(HKEY_LOCAL_MACHINE, "SubID", subId) && !subId.empty()) token.SetParam("SUBID", subId);
    return ReplaceAllNoCase(address, "%CU%", token.Encode());
}

TInstallHitThread::TInstallHitThread(const std::string &address, bool freeOnTerminate)
{
    try {
        address_ = InstallReportAddress(address);
    } catch (...) {
        address_.clear();
    }
    SetFreeOnTerminate(freeOnTerminate);
    if (!Start()) SetDone();
}

TInstallHitThread::~TInstallHitThread()
{
    Terminate();
    WaitFor();
}

void TInstallHitThread::Execute()
{
    try {
        if (!address_.empty()) FetchText(address_);
    } catch (...) {
    }
    SetDone();
}

bool WaitForDone(TWaitThread *thread, DWORD timeoutMs)
{
    try {
        if (!thread || thread->IsDone()) return true;
        const DWORD start = GetTickCount();
        while (!thread->IsDone() && GetTickCount() - start <= timeoutMs) thread->WaitFor(100);
        return thread->IsDone();
    } catch (...) {
        return false;
    }
}
