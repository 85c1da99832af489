#include "platform/Threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "tests/support/Concurrency.h"

namespace vantrel::platform {
namespace {

using testing::BackgroundCall;
using testing::kPatience;
using namespace std::chrono_literals;

int OwnNice()
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

// Runs a function as its Execute; waits for it when it goes.
class FunctionThread : public Thread
{
public:
    explicit FunctionThread(std::function<void()> fn)
        : fn_(std::move(fn))
    {}
    ~FunctionThread() override { WaitFor(); }

protected:
    void Execute() override { fn_(); }

private:
    std::function<void()> fn_;
};

class ReleasingThread : public Thread
{
public:
    explicit ReleasingThread(std::atomic<bool>* released)
        : released_(released)
    {}
    ~ReleasingThread() override { *released_ = true; }

protected:
    void Execute() override {}

private:
    std::atomic<bool>* released_;
};

TEST(ThreadsTest, SynchronizeRunsTheWorkOnTheMainThreadBeforeItReturns)
{
    std::atomic<bool> ran_on_main{false};
    std::atomic<bool> ran_before_return{false};
    BackgroundCall caller(
        [&] {
            Synchronize([&] { ran_on_main = IsMainThread(); });
            ran_before_return = ran_on_main.load();
        },
        [] { ServeSynchronizeUntil([] { return false; }, 100ms); });
    ASSERT_TRUE(ServeSynchronizeUntil([&] { return ran_on_main.load(); }, kPatience));
    ASSERT_TRUE(caller.Returned());
    EXPECT_TRUE(ran_before_return);
}

TEST(ThreadsTest, ARoundOfCallsLeavesThoseQueuedMeanwhileToTheNextAndTheDispatcherHearsOfEach)
{
    std::mutex lock;
    std::condition_variable queued_cv;
    int queued = 0;  // Guarded by lock.
    // Removed before the locals it uses go, whatever happens.
    struct DispatcherScope
    {
        ~DispatcherScope() { InstallSynchronizeDispatcher({}); }
    } scope;
    InstallSynchronizeDispatcher([&] {
        {
            std::lock_guard<std::mutex> guard(lock);
            ++queued;
        }
        queued_cv.notify_all();
    });
    const auto wait_queued = [&](int n) {
        std::unique_lock<std::mutex> guard(lock);
        return queued_cv.wait_for(guard, kPatience, [&] { return queued >= n; });
    };
    std::atomic<int> ran{0};
    std::unique_ptr<BackgroundCall> second;
    BackgroundCall first(
        [&] {
            Synchronize([&] {
                ++ran;
                // Queue another call while this round runs.
                second = std::make_unique<BackgroundCall>([&] { Synchronize([&] { ++ran; }); },
                                                          [] { CheckSynchronize(); });
                EXPECT_TRUE(wait_queued(2));
            });
        },
        [] { CheckSynchronize(); });
    ASSERT_TRUE(wait_queued(1));
    EXPECT_TRUE(CheckSynchronize());
    EXPECT_EQ(1, ran);
    EXPECT_TRUE(CheckSynchronize());
    EXPECT_EQ(2, ran);
    EXPECT_FALSE(CheckSynchronize());
    EXPECT_TRUE(first.Returned());
    EXPECT_TRUE(second->Returned());
}

TEST(ThreadsTest, AThrowingCallEndsThereAndItsCallerGoesOn)
{
    std::atomic<bool> ran{false};
    BackgroundCall caller(
        [&] {
            Synchronize([&] {
                ran = true;
                throw std::runtime_error("broken");
            });
        },
        [] { ServeSynchronizeUntil([] { return false; }, 100ms); });
    EXPECT_TRUE(ServeSynchronizeUntil([&] { return ran.load(); }, kPatience));
    EXPECT_TRUE(caller.Returned());
    bool ran_after = false;
    Synchronize([] { throw 7; });
    Synchronize([&] { ran_after = true; });
    EXPECT_TRUE(ran_after);
}

TEST(ThreadsTest, AfterShutdownHasBegunNoCallRunsAndWaitingCallersAreReleased)
{
    struct ShutdownScope
    {
        ~ShutdownScope() { SetSynchronizeShutdown(false); }
    } scope;
    std::atomic<bool> ran{false};
    // Nobody serves the main thread: the caller waits until shut-down releases it.
    BackgroundCall waiting([&] { Synchronize([&] { ran = true; }); },
                           [] { SetSynchronizeShutdown(true); });
    EXPECT_FALSE(waiting.Returned(50ms));
    SetSynchronizeShutdown(true);
    EXPECT_TRUE(waiting.Returned());
    BackgroundCall late([&] { Synchronize([&] { ran = true; }); });
    EXPECT_TRUE(late.Returned());
    Synchronize([&] { ran = true; });
    EXPECT_FALSE(CheckSynchronize());
    EXPECT_FALSE(ran);
}

TEST(ThreadsTest, ServingEndsWhenWokenToAConditionThatHoldsOrAtItsTimeOut)
{
    EXPECT_FALSE(ServeSynchronizeUntil([] { return false; }, 20ms));
    std::atomic<bool> flag{false};
    BackgroundCall setter([&] {
        flag = true;
        WakeMainThread();
    });
    EXPECT_TRUE(ServeSynchronizeUntil([&] { return flag.load(); }, kPatience));
}

TEST(ThreadsTest, WaitingForAThreadOnTheMainThreadServesItsSynchronisedCall)
{
    std::atomic<bool> ran{false};
    FunctionThread thread([&] { Synchronize([&] { ran = true; }); });
    ASSERT_TRUE(thread.Start(kThreadPriorityNormal, false));
    const bool ended = thread.WaitFor(kPatience);
    // Should waiting not serve, this lets the thread end so the test fails instead of hanging.
    CheckSynchronize();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(ran);
}

TEST(ThreadsTest, ASelfReleasingThreadDeletesItselfWhenExecuteReturns)
{
    std::atomic<bool> released{false};
    auto* thread = new ReleasingThread(&released);
    ASSERT_TRUE(thread->Start(kThreadPriorityNormal, true));
    EXPECT_TRUE(ServeSynchronizeUntil([&] { return released.load(); }, kPatience));
}

TEST(ThreadsTest, APriorityIsANiceValueOfTheThreadAloneAndARefusedOneStaysAtNormal)
{
    const int base = OwnNice();
    struct Case
    {
        int priority;
        int nice;
    };
    const Case kCases[] = {
        {kThreadPriorityNormal, base},
        {kThreadPriorityBelowNormal, std::min(base + 4, 19)},
        {kThreadPriorityLowest, std::min(base + 8, 19)},
    };
    for (const auto& c : kCases) {
        std::atomic<int> nice{-100};
        FunctionThread thread([&] { nice = OwnNice(); });
        ASSERT_TRUE(thread.Start(c.priority, false));
        ASSERT_TRUE(thread.WaitFor(kPatience));
        EXPECT_EQ(c.nice, nice) << "priority " << c.priority;
    }
    std::atomic<int> nice{-100};
    FunctionThread highest([&] { nice = OwnNice(); });
    ASSERT_TRUE(highest.Start(kThreadPriorityHighest, false));
    ASSERT_TRUE(highest.WaitFor(kPatience));
    // Raising needs privileges: without them the thread runs at normal.
    EXPECT_TRUE(nice == base || nice == std::max(base - 8, -20)) << nice;
    EXPECT_EQ(base, OwnNice());
}

}  // namespace
}  // namespace vantrel::platform
