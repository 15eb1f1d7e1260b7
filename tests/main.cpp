#include <gtest/gtest.h>

#include <cstdio>

namespace {

// GoogleTest's own printer, replaced by one that flushes every line: with
// standard output going to a file the C runtime holds it back until the
// program ends, and the harness takes a program that writes nothing for
// minutes for a hung one. It also keeps failure and skip messages away from
// OutputDebugString, whose exception an emulated 32-bit Wine may fail to
// deliver.
class Printer : public testing::EmptyTestEventListener {
    void OnTestProgramStart(const testing::UnitTest &u) override
    {
        std::printf("[==========] Running %d tests from %d test suites.\n", u.test_to_run_count(),
                    u.test_suite_to_run_count());
        std::fflush(stdout);
    }
    void OnTestStart(const testing::TestInfo &t) override
    {
        std::printf("[ RUN      ] %s.%s\n", t.test_suite_name(), t.name());
        std::fflush(stdout);
    }
    void OnTestPartResult(const testing::TestPartResult &r) override
    {
        if (r.type() == testing::TestPartResult::kSuccess) return;
        std::printf("%s:%d: %s\n%s\n", r.file_name() ? r.file_name() : "unknown", r.line_number(),
                    r.skipped() ? "Skipped" : "Failure", r.message());
        std::fflush(stdout);
    }
    void OnTestEnd(const testing::TestInfo &t) override
    {
        const testing::TestResult *r = t.result();
        const char *tag = r->Skipped() ? "[  SKIPPED ]" : r->Failed() ? "[  FAILED  ]" : "[       OK ]";
        std::printf("%s %s.%s (%lld ms)\n", tag, t.test_suite_name(), t.name(),
                    static_cast<long long>(r->elapsed_time()));
        std::fflush(stdout);
    }
    void OnTestProgramEnd(const testing::UnitTest &u) override
    {
        std::printf("[==========] %d tests ran. (%lld ms total)\n", u.test_to_run_count(),
                    static_cast<long long>(u.elapsed_time()));
        std::printf("[  PASSED  ] %d tests.\n", u.successful_test_count());
        if (u.skipped_test_count()) std::printf("[  SKIPPED ] %d tests.\n", u.skipped_test_count());
        if (u.failed_test_count()) {
            std::printf("[  FAILED  ] %d tests, listed below:\n", u.failed_test_count());
            for (int i = 0; i < u.total_test_suite_count(); ++i) {
                const testing::TestSuite *s = u.GetTestSuite(i);
                for (int j = 0; j < s->total_test_count(); ++j) {
                    const testing::TestInfo *t = s->GetTestInfo(j);
                    if (t->result()->Failed()) std::printf("[  FAILED  ] %s.%s\n", s->name(), t->name());
                }
            }
        }
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners &listeners = testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new Printer);
    return RUN_ALL_TESTS();
}
