// Start-up of Tovu.exe against an empty Win32 window program started the
// same way, in one run.
//
// Each start is timed from CreateProcess until the program's top-level
// window is visible and the program waits for input with nothing pending
// (WaitForInputIdle). The two programs are started in turns, five times
// each; the medians and their ratio are printed. Both are then ended (Tovu
// through its stop event, the empty one by closing its window). It never
// fails; a slow machine only prints larger times.
#include "config/fwNames.h"
#include "platform/EventU.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct TFind {
    DWORD Pid;
    HWND Found = nullptr;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM lp)
{
    auto *f = reinterpret_cast<TFind *>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == f->Pid && IsWindowVisible(hwnd)) {
        f->Found = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::string Folder()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir = self;
    dir = dir.substr(0, dir.rfind('\\'));        // bench\ folder
    return dir.substr(0, dir.rfind('\\') + 1);   // the build folder
}

// Milliseconds until shown and idle; -1 when the program did not get there.
double StartOnce(const std::string &exe, bool tovu)
{
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    QueryPerformanceCounter(&t0);
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, Folder().c_str(), &si, &pi)) return -1;
    double ms = -1;
    HWND window = nullptr;
    for (int i = 0; i < 60000 && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; ++i) {
        TFind f{pi.dwProcessId};
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&f));
        if (f.Found) {
            window = f.Found;
            break;
        }
        Sleep(1);
    }
    if (window && WaitForInputIdle(pi.hProcess, 60000) == 0) {
        QueryPerformanceCounter(&t1);
        ms = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart);
    }
    if (tovu) TGlobalEvent(EventStopMain).Signal();
    else if (window) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
    if (tovu) TGlobalEvent(EventStopMain).Unsignal();
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main()
{
    const std::string tovu = Folder() + "Tovu.exe";
    const std::string empty = Folder() + "bench\\bench_empty_window.exe";
    std::vector<double> a, b;
    // One start of each first: the system's caches warm up for both alike.
    StartOnce(empty, false);
    StartOnce(tovu, true);
    for (int i = 0; i < 5; ++i) {
        double e = StartOnce(empty, false), t = StartOnce(tovu, true);
        if (e > 0) b.push_back(e);
        if (t > 0) a.push_back(t);
    }
    double ma = Median(a), mb = Median(b);
    std::printf("start-up to the window shown and idle (median of %zu / %zu starts)\n", a.size(), b.size());
    std::printf("  empty Win32 window program: %8.1f ms\n", mb);
    std::printf("  Tovu.exe main window:       %8.1f ms\n", ma);
    if (ma > 0 && mb > 0) std::printf("  ratio: %.2f\n", ma / mb);
    std::fflush(stdout);
    return 0;
}
