// The missing-files scanner against a bare walk of the same synthetic tree.
//
// Builds HKCU\Software\TovuTest\Bench with 20,000 keys and 100,000 values (a
// few percent of them paths to missing files on C:, some on drives that are
// not fixed, some path lists, some existing files), then times in one run:
// a bare walk that enumerates every key and reads every value once, and the
// scanner over the same tree. Prints keys per second for both, their ratio
// and the peak working set. It never fails; a slow machine only prints
// smaller figures.
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwScanners.h"
#include "platform/SystemPathsU.h"

#include <windows.h>
#include <psapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char Root[] = "Software\\TovuTest\\Bench";
const int TopKeys = 200, ChildKeys = 99, ValuesPerKey = 5;  // 20,000 keys, 100,000 values

struct TPlanted {
    int Keys = 0, Values = 0, Missing = 0, OtherDrive = 0, Lists = 0, Existing = 0;
};

void Put(HKEY key, const std::string &name, DWORD type, const std::string &text)
{
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(text.c_str()), DWORD(text.size() + 1));
}

// Value i of the whole tree; the mix repeats every 100 values.
void PutValue(HKEY key, int i, TPlanted &p)
{
    std::string name = "V";
    name += std::to_string(i % ValuesPerKey);
    const int kind = i % 100;
    if (kind < 3) {
        Put(key, name, REG_SZ, "C:\\TovuBenchGone\\App" + std::to_string(i) + "\\app.exe");
        ++p.Missing;
    } else if (kind < 5) {
        Put(key, name, REG_SZ, "Q:\\Media\\track" + std::to_string(i) + ".mp3");
        ++p.OtherDrive;
    } else if (kind < 6) {
        Put(key, name, REG_SZ, "C:\\TovuBenchGone\\a.dll;C:\\TovuBenchGone\\b.dll");
        ++p.Lists;
    } else if (kind < 8) {
        Put(key, name, REG_EXPAND_SZ, "%SystemRoot%\\notepad.exe");
        ++p.Existing;
    } else if (kind < 40) {
        DWORD n = DWORD(i);
        RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&n), sizeof n);
    } else {
        Put(key, name, REG_SZ, "Setting text " + std::to_string(i));
    }
    ++p.Values;
}

TPlanted Build()
{
    TPlanted p;
    int value = 0;
    for (int t = 0; t < TopKeys; ++t) {
        const std::string top = std::string(Root) + "\\Top" + std::to_string(t);
        for (int c = -1; c < ChildKeys; ++c) {
            const std::string path = c < 0 ? top : top + "\\Child" + std::to_string(c);
            HKEY key;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
                continue;
            ++p.Keys;
            for (int v = 0; v < ValuesPerKey; ++v) PutValue(key, value++, p);
            RegCloseKey(key);
        }
    }
    return p;
}

// Every key enumerated, every value read once; returns the number of keys.
int BareWalk(HKEY parent, const std::string &path, long long &values)
{
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != 0) return 0;
    int keys = 1;
    char name[1024];
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name, size = DWORD(data.size()), type = 0;
        LONG r = RegEnumValueA(key, i, name, &n, nullptr, &type, data.data(), &size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) ++values;
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != 0) break;
        subkeys.emplace_back(name, n);
    }
    RegCloseKey(key);
    for (const std::string &s : subkeys) keys += BareWalk(parent, path + "\\" + s, values);
    return keys;
}

double PeakWorkingSetMB()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return -1;
    return double(pmc.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

double Seconds(const LARGE_INTEGER &a, const LARGE_INTEGER &b, const LARGE_INTEGER &f)
{
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

} // namespace

int main()
{
    SHDeleteKeyA(HKEY_CURRENT_USER, Root);
    LARGE_INTEGER freq, t0, t1, t2, t3;
    QueryPerformanceFrequency(&freq);

    QueryPerformanceCounter(&t0);
    const TPlanted planted = Build();
    QueryPerformanceCounter(&t1);
    std::printf("tree: %d keys, %d values (%d missing on C:, %d other drive, %d path lists, %d existing) built in "
                "%.1f s\n",
                planted.Keys, planted.Values, planted.Missing, planted.OtherDrive, planted.Lists, planted.Existing,
                Seconds(t0, t1, freq));
    std::printf("peak working set after building: %.1f MB\n", PeakWorkingSetMB());

    long long values = 0;
    QueryPerformanceCounter(&t1);
    const int walked = BareWalk(HKEY_CURRENT_USER, Root, values);
    QueryPerformanceCounter(&t2);
    const double bare = Seconds(t1, t2, freq);

    TfwMain main;
    TfwItemsMissingFiles scanner(&main);
    scanner.ScanList = {"HKCU\\" + std::string(Root)};
    QueryPerformanceCounter(&t2);
    scanner.Scan();
    QueryPerformanceCounter(&t3);
    const double scan = Seconds(t2, t3, freq);
    const int passes = Is64BitOS() ? 2 : 1;

    const double bareRate = bare > 0 ? walked / bare : 0;
    // Each pass visits every key; on a 64-bit system the shared key is walked
    // in both views, and both visits count.
    const double scanRate = scan > 0 ? double(walked) * passes / scan : 0;
    std::printf("bare walk: %d keys, %lld values in %.2f s = %.0f keys/s\n", walked, values, bare, bareRate);
    std::printf("scanner:   %d keys x %d pass(es) in %.2f s = %.0f keys/s, %u findings (planted missing: %d)\n",
                walked, passes, scan, scanRate, unsigned(scanner.List.size()), planted.Missing);
    std::printf("time per key visited, scanner / bare walk: %.2f; per tree (all passes): %.2f\n",
                scanRate > 0 ? bareRate / scanRate : 0, bare > 0 ? scan / bare : 0);
    std::printf("peak working set: %.1f MB\n", PeakWorkingSetMB());

    // The class-root scanners over the prefix's own registrations.
    const auto timeScanner = [&](const char *name, TfwItems &items) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        items.Scan();
        QueryPerformanceCounter(&b);
        std::printf("%-10s scanner over HKCR: %.2f s, %u findings and detail lines\n", name, Seconds(a, b, freq),
                    unsigned(items.List.size()));
    };
    TfwItemsCLSID classes(&main);
    timeScanner("CLSID", classes);
    TfwItemsInterfaces interfaces(&main);
    timeScanner("Interface", interfaces);
    TfwItemsTypelib typelibs(&main);
    timeScanner("TypeLib", typelibs);

    SHDeleteKeyA(HKEY_CURRENT_USER, Root);
    return 0;
}
