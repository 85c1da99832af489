#include "storage/HandleTimeout.h"

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using std::chrono::milliseconds;

// Any handle can be watched; a session is the cheapest to make.
platform::InternetHandle NewHandle()
{
    return platform::InternetOpen("Vantrel", platform::kInternetOpenTypePreconfigWithNoAutoproxy,
                                  "", "", 0);
}

// Until the condition holds or the limit passes; the watchdog's own thread acts meanwhile.
template <typename Condition>
bool Eventually(Condition condition, milliseconds limit = milliseconds(5000))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

class THandleTimeoutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        watchdog_.SetGeneralTimeout(3);
        forgetting_.SetGeneralTimeout(3);
    }
    void TearDown() override
    {
        for (platform::InternetHandle h : {handle_, data_}) {
            platform::InternetCloseHandle(h);
        }
        EXPECT_EQ(0u, platform::OpenInternetHandleCount());
    }

    // Runs steps separated by blanks: W watch, K kick, D disarm, R reset (as status 41 does),
    // T one tick, Tn n ticks; A watch without a handle, H watch the handle for 3 seconds (as a
    // request reported to the client-library unit does).
    void Run(const std::string& steps, THandleTimeout* watchdog = nullptr)
    {
        THandleTimeout& target = watchdog != nullptr ? *watchdog : watchdog_;
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            switch (step[0]) {
                case 'W':
                    target.Watch(handle_);
                    break;
                case 'A':
                    target.Watch();
                    break;
                case 'H':
                    target.WatchHandle(handle_, 3);
                    break;
                case 'K':
                    target.Kick();
                    break;
                case 'D':
                    target.Disarm();
                    break;
                case 'R':
                    target.Reset();
                    break;
                case 'T':
                    for (int n = step.size() > 1 ? std::stoi(step.substr(1)) : 1; n > 0; --n) {
                        target.Tick();
                    }
                    break;
            }
        }
    }

    struct Case
    {
        const char* steps;
        bool closed;
        bool fired;
        int32_t countdown;
    };
    // Each case on a fresh handle, from a watchdog that watches nothing and is disarmed.
    template <size_t N>
    void RunCases(const Case (&cases)[N], THandleTimeout* watchdog)
    {
        for (const Case& c : cases) {
            Run(c.steps, watchdog);
            EXPECT_EQ(c.closed, !platform::IsInternetHandleOpen(handle_)) << c.steps;
            EXPECT_EQ(c.fired, watchdog->Fired()) << c.steps;
            EXPECT_EQ(c.countdown, watchdog->Countdown()) << c.steps;
            platform::InternetCloseHandle(handle_);
            handle_ = NewHandle();
            watchdog->Watch(platform::InternetHandle{});
            watchdog->Disarm();
        }
    }

    // Their threads never tick during a test: the tests tick.
    THandleTimeout watchdog_{std::chrono::hours(24)};
    THandleTimeout forgetting_{std::chrono::hours(24), true};
    platform::InternetHandle handle_ = NewHandle();
    platform::InternetHandle data_ = NewHandle();
};

TEST_F(THandleTimeoutTest, StepsCloseTheWatchedHandleOnlyAfterAKickRunsOut)
{
    // General time-out 3.
    const Case kCases[] = {
        {"W T30", false, false, 0},          // watching alone never closes
        {"W K T T", false, false, 1},        // counting
        {"W K T T T", true, true, 0},        // runs out: closed
        {"W K D T T T", false, false, 0},    // disarmed before the end: nothing closed
        {"W K T R T T T", false, false, 0},  // a response stops the countdown
        {"W K T T K T T", false, false, 1},  // every sign of progress starts it again
        {"W K T3 K T3", true, true, 0},      // a kick after the close changes nothing
        {"W K T3 W", true, false, 0},        // the next watch clears fired
        {"W K T3 R", true, false, 0},        // so does a reset
        {"K T3", false, false, 0},           // no handle watched: a kick does nothing
    };
    RunCases(kCases, &watchdog_);
}

TEST_F(THandleTimeoutTest, AWatchdogThatForgetsOnResetClosesOnlyAReportedHandle)
{
    // General time-out 3.
    const Case kCases[] = {
        {"A K T30", false, false, 0},       // armed without a handle: nothing to count or close
        {"A H T2", false, false, 1},        // a reported request counts at once
        {"A H T3", true, true, 0},          // and runs out: closed
        {"H T3", false, false, 0},          // never armed: nothing closed
        {"A D H T3", false, false, 0},      // a reported request leaves the watchdog disarmed
        {"A H T R K T3", false, false, 0},  // a response forgets the handle: kicks do nothing
        {"A H T K T2", false, false, 1},    // progress restarts the countdown
        {"A H T3 A", true, false, 0},       // the next watch clears fired
    };
    RunCases(kCases, &forgetting_);
}

TEST_F(THandleTimeoutTest, AGeneralTimeOutOf20ClosesAfter20Ticks)
{
    watchdog_.SetGeneralTimeout(20);
    Run("W K T19");
    EXPECT_TRUE(platform::IsInternetHandleOpen(handle_));
    Run("T");
    EXPECT_FALSE(platform::IsInternetHandleOpen(handle_));
    EXPECT_TRUE(watchdog_.Fired());
}

TEST_F(THandleTimeoutTest, TheDataHandleIsClosedWithTheWatchedOne)
{
    watchdog_.Watch(handle_);
    watchdog_.SetDataHandle(data_);
    Run("K T3");
    EXPECT_FALSE(platform::IsInternetHandleOpen(handle_));
    EXPECT_FALSE(platform::IsInternetHandleOpen(data_));
}

TEST_F(THandleTimeoutTest, WatchForgetsTheDataHandle)
{
    watchdog_.SetDataHandle(data_);
    Run("W K T3");
    EXPECT_FALSE(platform::IsInternetHandleOpen(handle_));
    EXPECT_TRUE(platform::IsInternetHandleOpen(data_));
}

THandleTimeout* reporting_watchdog = nullptr;

// As the devices' status callback does when the closing is reported: it resets the watchdog, on
// the watchdog's own thread and inside its firing.
void ResetOnClose(platform::InternetHandle, uintptr_t, uint32_t status, const void*, uint32_t)
{
    if (status == platform::kInternetStatusHandleClosing && reporting_watchdog != nullptr) {
        reporting_watchdog->Reset();
    }
}

TEST(THandleTimeoutThreadTest, ItsThreadFiresAndTheClosingReportsBackWithoutDeadlock)
{
    THandleTimeout watchdog(milliseconds(10));
    reporting_watchdog = &watchdog;
    watchdog.SetGeneralTimeout(2);
    const platform::InternetHandle handle = NewHandle();
    ASSERT_TRUE(platform::InternetSetStatusCallback(handle, ResetOnClose));
    watchdog.Watch(handle);
    watchdog.Kick();
    EXPECT_TRUE(Eventually([&] { return !platform::IsInternetHandleOpen(handle); }));
    EXPECT_TRUE(Eventually([&] { return watchdog.Fired(); }));
    reporting_watchdog = nullptr;
}

}  // namespace
}  // namespace vantrel
