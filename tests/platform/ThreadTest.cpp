#include "platform/ThreadU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace {

// Runs a function as its Execute; the destructor reports that it ran.
class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread &)> body, std::atomic<bool> *destroyed = nullptr)
        : body_(std::move(body)), destroyed_(destroyed) {}
    ~TLambdaThread() override
    {
        Terminate();
        WaitFor();
        if (destroyed_) *destroyed_ = true;
    }
    using TThread::Synchronize;
    using TThread::Terminated;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(TLambdaThread &)> body_;
    std::atomic<bool> *destroyed_;
};

class Thread : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitSynchronize()); }
};

TEST_F(Thread, CreatedSuspendedRunsAfterStart)
{
    std::atomic<bool> ran{false};
    TLambdaThread t([&](TLambdaThread &) { ran = true; });
    Sleep(50);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(t.Start());
    EXPECT_TRUE(t.WaitFor(10000));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(t.Finished());
    EXPECT_TRUE(t.Start());  // a second start does nothing
}

TEST_F(Thread, TerminateIsSeenByExecute)
{
    TLambdaThread t([](TLambdaThread &self) {
        while (!self.Terminated()) Sleep(5);
    });
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.WaitFor(50));
    t.Terminate();
    EXPECT_TRUE(t.WaitFor(10000));
}

TEST_F(Thread, ExceptionStopsAtThreadEntry)
{
    TLambdaThread t([](TLambdaThread &) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(t.WaitFor(10000));
    EXPECT_TRUE(t.Finished());
}

// The worker blocks in Synchronize while the owner blocks in WaitFor: the
// wait must serve the call, or both would hang.
TEST_F(Thread, SynchronizeRunsOnOwnerDuringWaitFor)
{
    const DWORD mainId = GetCurrentThreadId();
    DWORD ranOn = 0;
    int calls = 0;
    bool results[3] = {};
    TLambdaThread t([&](TLambdaThread &self) {
        results[0] = self.Synchronize([&] { ranOn = GetCurrentThreadId(); ++calls; });
        results[1] = self.Synchronize([&] { ++calls; });
        results[2] = self.Synchronize([] { throw std::runtime_error("caught on the owner"); });
    });
    ASSERT_TRUE(t.Start());
    ASSERT_TRUE(t.WaitFor(20000));
    EXPECT_EQ(ranOn, mainId);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(results[0]);
    EXPECT_TRUE(results[1]);
    EXPECT_FALSE(results[2]);
}

// A console owner without a message loop serves calls through CheckSynchronize.
TEST_F(Thread, CheckSynchronizeServesWaitingWorker)
{
    std::atomic<bool> done{false};
    DWORD ranOn = 0;
    TLambdaThread t([&](TLambdaThread &self) {
        self.Synchronize([&] { ranOn = GetCurrentThreadId(); });
        done = true;
    });
    EXPECT_FALSE(CheckSynchronize(0));
    ASSERT_TRUE(t.Start());
    EXPECT_TRUE(CheckSynchronize(20000));
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    EXPECT_TRUE(t.WaitFor(10000));
    EXPECT_TRUE(done);
}

TEST_F(Thread, SynchronizeOwnership)
{
    // On the owner itself the call runs at once.
    bool ran = false;
    EXPECT_TRUE(Synchronize([&] { ran = true; }));
    EXPECT_TRUE(ran);

    bool otherInit = true, otherCheck = true;
    TLambdaThread other([&](TLambdaThread &) {
        otherInit = InitSynchronize();
        otherCheck = CheckSynchronize(0);
    });
    ASSERT_TRUE(other.Start());
    ASSERT_TRUE(other.WaitFor(10000));
    EXPECT_FALSE(otherInit);
    EXPECT_FALSE(otherCheck);

    // Without an owner a worker's call does not run, and it does not hang.
    DoneSynchronize();
    bool workerResult = true, workerRan = false;
    TLambdaThread orphan([&](TLambdaThread &self) {
        workerResult = self.Synchronize([&] { workerRan = true; });
    });
    ASSERT_TRUE(orphan.Start());
    EXPECT_TRUE(orphan.WaitFor(10000));
    EXPECT_FALSE(workerResult);
    EXPECT_FALSE(workerRan);
    EXPECT_TRUE(InitSynchronize());
}

TEST_F(Thread, FreeOnTerminateDeletesItself)
{
    std::atomic<bool> destroyed{false};
    auto *t = new TLambdaThread([](TLambdaThread &self) { Sleep(20); }, &destroyed);
    t->SetFreeOnTerminate(true);
    TThreadWaiter waiter = t->Waiter();
    ASSERT_TRUE(t->Start());
    t = nullptr;
    EXPECT_TRUE(waiter.WaitFor(10000));
    EXPECT_TRUE(destroyed);
}

// A self-freeing thread that synchronises after the owner stopped waiting
// must still be served later and clean up after itself.
TEST_F(Thread, FreeOnTerminateWithLateSynchronize)
{
    std::atomic<bool> destroyed{false};
    int calls = 0;
    auto *t = new TLambdaThread(
        [&](TLambdaThread &self) {
            Sleep(100);
            self.Synchronize([&] { ++calls; });
        },
        &destroyed);
    t->SetFreeOnTerminate(true);
    TThreadWaiter waiter = t->Waiter();
    ASSERT_TRUE(t->Start());
    EXPECT_FALSE(waiter.WaitFor(10));
    EXPECT_TRUE(waiter.WaitFor(20000));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(destroyed);
}

} // namespace
