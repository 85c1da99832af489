#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Helpers for threaded tests: every wait has a time-out that fails the test instead of hanging it.
namespace vantrel::testing {

using namespace std::chrono_literals;

// How long a threaded test waits for something that takes microseconds when all is well.
inline constexpr std::chrono::milliseconds kPatience = 10s;

// Runs fn on a thread of its own. The destructor joins it, first calling rescue when fn has not
// returned yet, which must make fn return (closing a pipe, say), so that a failed test ends.
class BackgroundCall
{
public:
    explicit BackgroundCall(std::function<void()> fn, std::function<void()> rescue = {});
    ~BackgroundCall();
    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    // Whether fn has returned, waiting for it at most timeout.
    bool Returned(std::chrono::milliseconds timeout = kPatience);

private:
    std::mutex lock_;
    std::condition_variable returned_cv_;
    bool returned_ = false;  // Guarded by lock_.
    std::function<void()> rescue_;
    std::thread thread_;
};

// Runs rescue on a thread of its own when the watchdog is still there after timeout, so that a
// test blocked on the main thread (in a read, say) comes free and fails instead of hanging.
class Watchdog
{
public:
    Watchdog(std::chrono::milliseconds timeout, std::function<void()> rescue);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    bool Fired();

private:
    std::mutex lock_;
    std::condition_variable cancelled_cv_;
    bool cancelled_ = false;  // Guarded by lock_.
    bool fired_ = false;      // Guarded by lock_.
    std::thread thread_;
};

// Asks condition every millisecond until it holds or timeout passes, for a state that nothing
// signals (how full a pipe is); true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kPatience);

}  // namespace vantrel::testing
