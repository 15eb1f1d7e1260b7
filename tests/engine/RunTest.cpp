#include "RegSnapshot.h"
#include "backup/fwRestorePoint.h"
#include "engine/fwClasses.h"
#include "engine/fwTools.h"
#include "platform/ThreadU.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A scanner that "finds" a fixed number of items of a given size each, and
// records what was fixed.
class FakeItem : public TfwItem {
public:
    using TfwItem::TfwItem;
    bool LoadFromXML(TXMLTag *) override { return true; }
    void Scan() override {}
    void Fix() override { ++Fixed; }
    int Fixed = 0;
};

class FakeScanner : public TfwItems {
public:
    FakeScanner(TfwMain *m, int count, int64_t size) : TfwItems(m), Count(count), ItemSize(size) {}
    void Scan() override
    {
        Steps = Count;
        for (int i = 0; i < Count; ++i) {
            auto *it = new FakeItem(this);
            it->Found = it->Selected = true;
            it->Size = ItemSize;
            Add(it);
            Main->AddFound(1);
            // A slow scanner's reports are not throttled away.
            if (ForceReports ? !Main->ReportProgress(true) : !NextStep()) return;
        }
    }
    int Count;
    int64_t ItemSize;
    bool ForceReports = false;
};

TfwGroup *AddGroup(TfwMain &m, TfwCategory *c, const char *id, int weight, int count, int64_t size)
{
    auto *g = new TfwGroup(&m);
    g->Id = id;
    g->ProgressSize = weight;
    g->Items = new FakeScanner(&m, count, size);
    c->Groups.push_back(g);
    return g;
}

TEST(Run, CleanOnlyScanSumsSizesAndSkipsDisabledGroups)
{
    TfwMain m;
    m.Clean = new TfwCategory(&m, TfwCategoryKind::Clean);
    AddGroup(m, m.Clean, "a", 10, 2, 100);
    TfwGroup *off = AddGroup(m, m.Clean, "off", 50, 3, 7);
    AddGroup(m, m.Clean, "b", 20, 1, 1000);
    off->Enabled = false;

    std::vector<TfwUIStatus> seen;
    m.OnProgress = [&](const TfwUIStatus &s) {
        seen.push_back(s);
        return true;
    };
    m.ScanAll();
    ASSERT_FALSE(seen.empty());
    // The last report of the clean category, before the status is cleared.
    const TfwUIStatus *last = nullptr;
    for (const auto &s : seen)
        if (s.Phase == TfwPhase::Scanning) last = &s;
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Maximum, 30);
    EXPECT_EQ(last->Position, 30);
    EXPECT_EQ(last->CleanSize, 1200);
    EXPECT_EQ(last->FixCount, 0);
    EXPECT_EQ(last->BoostCount, 0);
    EXPECT_EQ(seen.back().Phase, TfwPhase::Idle);
    EXPECT_TRUE(off->Items->List.empty());
    EXPECT_EQ(m.Clean->FoundCount(), 3);
    off->Selected = false;
    EXPECT_EQ(m.Clean->SelectedCount(), 3);
}

TEST(Run, ProgressFractionWeightsGroups)
{
    TfwMain m;
    m.Fix = new TfwCategory(&m, TfwCategoryKind::Fix);
    TfwGroup *a = AddGroup(m, m.Fix, "a", 200, 0, 0);
    AddGroup(m, m.Fix, "b", 100, 0, 0);
    m.Fix->Done = 0;
    m.Fix->Current = 0;
    a->Items->Steps = 2;
    a->Items->Step = 1;
    a->Items->SubSteps = 4;
    a->Items->SubStep = 1;
    // 200 * (1/2 + 1/4/2) = 125
    EXPECT_EQ(m.Fix->ProgressPosition(), 125);
    a->Items->Step = 2;
    EXPECT_EQ(a->Items->ProgressFraction(), 1.0);
    EXPECT_EQ(a->Items->Step, 0);
}

TEST(Run, CleanFixHasNoBackupPhase)
{
    TfwMain m;
    m.Clean = new TfwCategory(&m, TfwCategoryKind::Clean);
    AddGroup(m, m.Clean, "a", 10, 2, 1);
    AddGroup(m, m.Clean, "none", 10, 0, 1);
    TfwGroup *b = AddGroup(m, m.Clean, "b", 10, 1, 1);
    m.ScanAll();
    b->Selected = false;
    std::vector<TfwUIStatus> seen;
    m.OnProgress = [&](const TfwUIStatus &s) {
        seen.push_back(s);
        return true;
    };
    m.FixCategories(TfwCategoryKind::Clean);
    ASSERT_FALSE(seen.empty());
    for (const auto &s : seen) {
        EXPECT_NE(s.Phase, TfwPhase::BackingUp);
        EXPECT_EQ(s.Maximum, 2);  // one active group: n + 1
    }
    auto fixed = [](TfwGroup *g) {
        int n = 0;
        for (TfwItem *i : g->Items->List) n += static_cast<FakeItem *>(i)->Fixed;
        return n;
    };
    EXPECT_EQ(fixed(m.Clean->Groups[0]), 2);
    EXPECT_EQ(fixed(b), 0);
}

// Runs the thread to its end, serving its synchronised calls on this thread.
void RunToEnd(TfwExecThread *t, bool &finished)
{
    TThreadWaiter waiter = t->Waiter();
    ASSERT_TRUE(t->Start());
    for (int i = 0; i < 3000 && !finished; ++i) CheckSynchronize(10);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(waiter.WaitFor(5000));
}

TEST(Run, StopIsStickyAndFinishStillRuns)
{
    ASSERT_TRUE(InitSynchronize());
    TfwMain m;
    m.Boost = new TfwCategory(&m, TfwCategoryKind::Boost);
    TfwGroup *a = AddGroup(m, m.Boost, "a", 10, 50, 0);
    TfwGroup *b = AddGroup(m, m.Boost, "b", 10, 5, 0);
    static_cast<FakeScanner *>(a->Items)->ForceReports = true;
    int calls = 0, afterStop = 0;
    bool finished = false, stopped = false;
    auto *t = new TfwExecThread(
        &m, false, [&](TfwExecThread *) { finished = true; },
        [&](const TfwUIStatus &) {
            ++calls;
            if (stopped) ++afterStop;
            if (calls == 3) stopped = true;
            return !stopped;  // would answer true again after the stop
        },
        TfwExecThread::CatBoost, TfwRunMode::Scan);
    RunToEnd(t, finished);
    EXPECT_EQ(afterStop, 0);
    EXPECT_TRUE(b->Items->List.empty());
    // Reports: before the group, after item 1, after item 2 (the stop).
    EXPECT_EQ(a->Items->List.size(), 2u);
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(bool(m.OnProgress));
}

// What the recording restore client beside the test program was asked.
using RecordedFn = const TRestorePointInfoA *(WINAPI *)(int *, BOOL);

// The production load takes the client from the system folder only; the
// recorder comes through the test seam.
bool UseRecorder()
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    path = path.substr(0, path.find_last_of('\\') + 1) + "SrClient.dll";
    return LoadRestoreClientFrom(path);
}

RecordedFn Recorder()
{
    static RecordedFn fn = [] {
        UseRecorder();
        HMODULE lib = GetModuleHandleA("SrClient.dll");
        return lib ? reinterpret_cast<RecordedFn>(GetProcAddress(lib, "RecordedRestoreRequests")) : nullptr;
    }();
    return fn;
}

std::vector<TRestorePointInfoA> RestoreRequests(bool clear = false)
{
    std::vector<TRestorePointInfoA> out;
    if (RecordedFn fn = Recorder()) {
        int n = 0;
        const TRestorePointInfoA *calls = fn(&n, clear);
        out.assign(calls, calls + n);
    }
    return out;
}

TEST(Run, RestorePointOpensBeforeTheFixAndClosesOrCancelsAfterIt)
{
    ASSERT_TRUE(InitSynchronize());
    ASSERT_TRUE(UseRecorder());
    ASSERT_NE(GetModuleHandleA("SrClient.dll"), nullptr);
    ASSERT_NE(Recorder(), nullptr) << "the system's client was loaded instead of the recorder";

    struct Case {
        const char *what;
        int categories;
        size_t stopAt;  // the report that answers stop; 0 runs to the end
        bool stopOnceAFixRan;
        const char *name;
        unsigned closeType;
        int fixedA, fixedB;
    } cases[] = {
        {"clean only, runs to its end", TfwExecThread::CatClean, 0, false, "Speed Up and Clean Up", 12, 3, 3},
        {"registry fix, stopped before any change", TfwExecThread::CatFix | TfwExecThread::CatClean, 2, false,
         "Registry Fix", 13, 0, 0},
        // The stop takes hold at the next item's report.
        {"stopped after the first change", TfwExecThread::CatClean, 0, true, "Speed Up and Clean Up", 12, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TfwMain m;
        m.Fix = new TfwCategory(&m, TfwCategoryKind::Fix);
        m.Clean = new TfwCategory(&m, TfwCategoryKind::Clean);
        TfwGroup *g = AddGroup(m, m.Clean, "a", 10, 3, 5);
        TfwGroup *g2 = AddGroup(m, m.Clean, "b", 10, 3, 5);
        static_cast<FakeScanner *>(g->Items)->ForceReports = true;
        static_cast<FakeScanner *>(g2->Items)->ForceReports = true;
        m.ScanAll();
        RestoreRequests(true);
        std::vector<TfwUIStatus> seen;
        bool finished = false;
        auto *t = new TfwExecThread(
            &m, true, [&](TfwExecThread *) { finished = true; },
            [&](const TfwUIStatus &s) {
                seen.push_back(s);
                if (c.stopOnceAFixRan && static_cast<FakeItem *>(g->Items->List[0])->Fixed > 0) return false;
                return !(c.stopAt && seen.size() >= c.stopAt);
            },
            c.categories, TfwRunMode::Fix);
        RunToEnd(t, finished);

        ASSERT_GE(seen.size(), 2u);
        EXPECT_EQ(seen[0].GroupCaption, L"Creating System Restore Point...");
        EXPECT_EQ(seen[0].Phase, TfwPhase::Idle);
        EXPECT_EQ(seen[0].CleanSize, 0);
        EXPECT_EQ(seen[0].Maximum, 0);

        const auto calls = RestoreRequests();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].EventType, 100u);
        EXPECT_EQ(calls[0].RestorePtType, 12u);
        EXPECT_EQ(calls[0].SequenceNumber, 0);
        EXPECT_NE(std::string(calls[0].Description).find(c.name), std::string::npos) << calls[0].Description;
        EXPECT_EQ(std::string(calls[0].Description).find('%'), std::string::npos) << calls[0].Description;
        EXPECT_EQ(calls[1].EventType, 101u);
        EXPECT_EQ(calls[1].RestorePtType, c.closeType);
        EXPECT_EQ(calls[1].SequenceNumber, 7001) << "close and cancel name the point the open step got";
        EXPECT_STREQ(calls[1].Description, "");
        int fixedA = 0, fixedB = 0;
        for (TfwItem *i : g->Items->List) fixedA += static_cast<FakeItem *>(i)->Fixed;
        for (TfwItem *i : g2->Items->List) fixedB += static_cast<FakeItem *>(i)->Fixed;
        EXPECT_EQ(fixedA, c.fixedA);
        EXPECT_EQ(fixedB, c.fixedB);
    }
}

TEST(Run, RestorePointRecordAndSwitch)
{
    const std::string longName(80, 'n');
    TRestorePointInfoA info = BuildRestorePointRequest(100, 12, 0, longName);
    EXPECT_EQ(std::string(info.Description), longName.substr(0, 63));
    EXPECT_EQ(sizeof(TRestorePointInfoA), 4u + 4u + 8u + 64u);
    EXPECT_EQ(sizeof(TStateMgrStatus), 4u + 8u);

    const char *key = "Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
    const std::string saved = regtest::GetRaw(HKEY_LOCAL_MACHINE, 0, key, "DisableSR");
    struct {
        const char *stored;  // "<none>" or type:bytes
        bool enabled;
    } cases[] = {{"<none>", true}, {"1", false}, {"0", true}, {"2", true}};
    for (const auto &c : cases) {
        HKEY k;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
        RegDeleteValueA(k, "DisableSR");
        if (std::string(c.stored) != "<none>") {
            DWORD v = DWORD(std::atoi(c.stored));
            RegSetValueExA(k, "DisableSR", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), sizeof v);
        }
        RegCloseKey(k);
        EXPECT_EQ(IsSystemRestoreEnabled(), c.enabled) << c.stored;
    }
    if (saved == "<none>") {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &k) == 0) {
            RegDeleteValueA(k, "DisableSR");
            RegCloseKey(k);
        }
    } else {
        const size_t colon = saved.find(':');
        regtest::PutRaw(HKEY_LOCAL_MACHINE, 0, key, "DisableSR", DWORD(std::stoul(saved.substr(0, colon))),
                        saved.substr(colon + 1));
    }
}

TEST(Run, SizeTexts)
{
    const struct {
        int64_t bytes;
        const char *size, *result;
    } cases[] = {
        {0, "0 MB", "0 MB"},          {-5, "0 MB", "0 MB"},           {100, "100 B", "100 B"},
        {101, "101 B", "0.1 KB"},     {1023, "1023 B", "1.0 KB"},     {1024, "1.0 KB", "1.0 KB"},
        {102400, "100.0 KB", "100.0 KB"}, {102401, "100.0 KB", "0.1 MB"},
        {1073741824, "1.0 GB", "1.0 GB"}, {5LL << 32, "20.0 GB", "20.0 GB"},
    };
    for (const auto &c : cases) {
        std::string s = SizeText(c.bytes), r = ResultSizeText(c.bytes);
        for (char &ch : s) if (ch == ',') ch = '.';
        for (char &ch : r) if (ch == ',') ch = '.';
        EXPECT_EQ(s, c.size) << c.bytes;
        EXPECT_EQ(r, c.result) << c.bytes;
    }
    EXPECT_EQ(FormatOneDecimal(2.5, ','), "2,5");
}

} // namespace
