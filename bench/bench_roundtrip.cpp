// The backup round trip at full count: generated key trees (every value type,
// odd lengths, hostile bytes, names outside the code page, empty subkeys),
// alternating between the 32-bit and the 64-bit view where there are two,
// each backed up, deleted by the fix and restored, then compared byte for
// byte. Prints trees, values, bytes and failures, and the time of the round
// trips against the time it took to write the same trees (the baseline,
// measured in the same run). Arguments: [trees] [seed]; 1000 and a fixed seed
// by default. Exit code 1 when any tree did not come back.
#include "RegTreeKit.h"
#include "platform/DirectoryU.h"
#include "platform/SystemPathsU.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char Top[] = "Software\\TovuTest\\RoundTripBench";

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) { return double(b.QuadPart - a.QuadPart) / f.QuadPart; }

} // namespace

int main(int argc, char **argv)
{
    int trees = argc > 1 ? std::atoi(argv[1]) : 1000;
    uint32_t seed = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 20261211u;
    if (trees <= 0) trees = 1000;
    std::string docs = TempDir() + "TovuBenchRoundTrip\\";
    DeleteFolder(docs, true);
    SetBackupDocumentsFolder(docs);

    LARGE_INTEGER freq, t0, t1, t2;
    QueryPerformanceFrequency(&freq);

    // Baseline: writing the same trees (same seed) and removing them.
    {
        regtree::TGenerator gen(seed);
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < trees; ++i) {
            bool is64 = Is64BitOS() && (i % 2 == 1);
            TRegViewScope keep(false, false);
            SelectItemView(is64);
            std::wstring top = AnsiToWideText(Top + std::string("\\T") + std::to_string(i));
            size_t v = 0, b = 0;
            gen.Tree(HKEY_LOCAL_MACHINE, top, 0, v, b);
            RegRemoveKeyTreeW(HKEY_LOCAL_MACHINE, top, true);
        }
        QueryPerformanceCounter(&t1);
    }

    regtree::TGenerator gen(seed);
    regtree::TResult result;
    size_t views[2] = {0, 0};
    for (int i = 0; i < trees; ++i) {
        bool is64 = Is64BitOS() && (i % 2 == 1);
        ++views[is64 ? 1 : 0];
        regtree::RoundTrip(gen, HKEY_LOCAL_MACHINE, Top + std::string("\\T") + std::to_string(i), is64, result);
    }
    QueryPerformanceCounter(&t2);
    for (bool is64 : {false, true}) {
        TRegViewScope keep(false, false);
        SelectItemView(is64);
        RegRemoveKeyTreeW(HKEY_LOCAL_MACHINE, AnsiToWideText(Top), true);
    }
    SetBackupDocumentsFolder("");
    DeleteFolder(docs, true);

    double write = Seconds(t0, t1, freq), trip = Seconds(t1, t2, freq);
    std::printf("seed %lu, code page %u, %s system\n", static_cast<unsigned long>(seed), GetACP(),
                Is64BitOS() ? "64-bit" : "32-bit");
    std::printf("trees %zu (32-bit view %zu, 64-bit view %zu)\n", result.Trees, views[0], views[1]);
    std::printf("values %zu\n", result.Values);
    std::printf("bytes %zu\n", result.Bytes);
    std::printf("failures %zu\n", result.Failures);
    if (!result.FirstFailure.empty()) {
        std::string first(result.FirstFailure.size(), '?');
        for (size_t i = 0; i < first.size(); ++i)
            if (result.FirstFailure[i] < 128) first[i] = char(result.FirstFailure[i]);
        std::printf("first failure: %s\n", first.c_str());
    }
    std::printf("round trip / write time: %.2f\n", write > 0 ? trip / write : 0.0);
    return result.Failures ? 1 : 0;
}
