#include "storage/WinInetAddOns.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/ScriptedFtpServer.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ScriptedFtpServer;

constexpr auto kWait = milliseconds(5000);

std::mutex seen_lock;
std::set<std::thread::id> callback_threads;  // Guarded by seen_lock.
std::atomic<int> callbacks_made{0};
std::atomic<int> callbacks_passed{0};

// Counts every callback, and those the gate lets through, as the devices' callbacks do.
void GatedCallback(platform::InternetHandle, uintptr_t, uint32_t, const void*, uint32_t)
{
    ++callbacks_made;
    const ConnectCallbackGate gate;
    if (!gate.IsOpen()) {
        return;
    }
    ++callbacks_passed;
    std::lock_guard<std::mutex> lock(seen_lock);
    callback_threads.insert(std::this_thread::get_id());
}

double SecondsSince(steady_clock::time_point start)
{
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

class WinInetAddOnsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        session_ = platform::InternetOpen("Vantrel", 4, "", "", 0);
        ASSERT_TRUE(platform::InternetSetTimeouts(session_, {5000, 5000}));
        ASSERT_TRUE(platform::InternetSetStatusCallback(session_, GatedCallback));
        callbacks_made = 0;
        callbacks_passed = 0;
        std::lock_guard<std::mutex> lock(seen_lock);
        callback_threads.clear();
    }

    void TearDown() override
    {
        server_.Release();
        EXPECT_TRUE(InternetConnectThread::WaitUntilNoneRuns(kWait));
        platform::InternetCloseHandle(session_);
        EXPECT_EQ(0u, platform::OpenInternetHandleCount());
    }

    platform::InternetHandle ConnectWithin(uint32_t seconds, uint16_t port = 0)
    {
        return InternetConnectWithTimeout(session_, "127.0.0.1", port ? port : server_.Port(),
                                          "user", "pass", platform::kInternetServiceFtp,
                                          platform::kInternetFlagPassive, 1, seconds);
    }

    std::set<std::thread::id> CallbackThreads()
    {
        std::lock_guard<std::mutex> lock(seen_lock);
        return callback_threads;
    }

    ScriptedFtpServer server_;
    platform::InternetHandle session_;
};

TEST_F(WinInetAddOnsTest, TimeOutZeroConnectsOnTheCallingThread)
{
    const platform::InternetHandle connection = ConnectWithin(0);
    ASSERT_TRUE(connection);
    EXPECT_EQ(std::set<std::thread::id>{std::this_thread::get_id()}, CallbackThreads());
    platform::InternetCloseHandle(connection);
}

TEST_F(WinInetAddOnsTest, AnAttemptThatEndsInTimeGivesItsHandle)
{
    const platform::InternetHandle connection = ConnectWithin(5);
    ASSERT_TRUE(connection);
    const std::set<std::thread::id> threads = CallbackThreads();
    ASSERT_EQ(1u, threads.size());
    EXPECT_NE(std::this_thread::get_id(), *threads.begin());
    EXPECT_TRUE(platform::FtpSetCurrentDirectory(connection, "/"));
    platform::InternetCloseHandle(connection);
}

// The attempt's error reaches the caller whether or not it ran on a thread of its own, so that a
// refused connection is reported with its reason.
TEST_F(WinInetAddOnsTest, AFailedAttemptGivesTheCallerItsError)
{
    const uint16_t closed = testing::UnusedLoopbackPort();
    for (const uint32_t seconds : {5u, 0u}) {
        platform::SetLastError(0);
        EXPECT_FALSE(ConnectWithin(seconds, closed));
        EXPECT_EQ(platform::kErrorInternetCannotConnect, platform::GetLastError()) << seconds;
    }
}

TEST_F(WinInetAddOnsTest, ASilentServerTimesOutAndTheAbandonedAttemptClosesItsLateHandle)
{
    server_.HoldGreeting();
    const auto start = steady_clock::now();
    EXPECT_FALSE(ConnectWithin(1));
    EXPECT_EQ(platform::kErrorInternetTimeout, platform::GetLastError());
    EXPECT_GE(SecondsSince(start), 0.95);
    EXPECT_LT(SecondsSince(start), 2.0);
    const int made_when_abandoned = callbacks_made;
    const int passed_when_abandoned = callbacks_passed;

    // The server answers late: the attempt logs in, finds itself abandoned and lets go.
    server_.Release();
    ASSERT_TRUE(server_.WaitForCommand("PASS", kWait));
    ASSERT_TRUE(server_.WaitForSessionsEnded(1, kWait));
    ASSERT_TRUE(InternetConnectThread::WaitUntilNoneRuns(kWait));
    EXPECT_EQ("QUIT", server_.Commands().back());
    EXPECT_EQ(1u, platform::OpenInternetHandleCount());  // the session alone
    // It did report its log-in and its closing, and none of that got through.
    EXPECT_GT(callbacks_made, made_when_abandoned);
    EXPECT_EQ(passed_when_abandoned, callbacks_passed);
}

TEST_F(WinInetAddOnsTest, TimeOutZeroStillEndsAtTheSessionsConnectLimit)
{
    server_.HoldGreeting();
    ASSERT_TRUE(platform::InternetSetTimeouts(session_, {1000, 5000}));
    const auto start = steady_clock::now();
    EXPECT_FALSE(ConnectWithin(0));
    EXPECT_EQ(platform::kErrorInternetTimeout, platform::GetLastError());
    EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(WinInetAddOnsTest, AbandoningAnEndedAttemptFailsAndTheHandleIsTaken)
{
    auto attempt = InternetConnectThread::Start(
        {session_, "127.0.0.1", server_.Port(), "u", "p", platform::kInternetServiceFtp, 0, 0});
    ASSERT_TRUE(attempt->WaitFor(kWait));
    EXPECT_FALSE(attempt->Abandon());
    const platform::InternetHandle connection = attempt->GetHandle();
    EXPECT_TRUE(connection);
    platform::InternetCloseHandle(connection);

    server_.HoldGreeting();
    auto silent = InternetConnectThread::Start(
        {session_, "127.0.0.1", server_.Port(), "u", "p", platform::kInternetServiceFtp, 0, 0});
    EXPECT_FALSE(silent->WaitFor(milliseconds(50)));
    EXPECT_TRUE(silent->Abandon());
    EXPECT_FALSE(silent->GetHandle());
}

}  // namespace
}  // namespace vantrel
