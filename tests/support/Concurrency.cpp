#include "tests/support/Concurrency.h"

#include <utility>

namespace vantrel::testing {

BackgroundCall::BackgroundCall(std::function<void()> fn, std::function<void()> rescue)
    : rescue_(std::move(rescue))
    , thread_([this, fn = std::move(fn)] {
        fn();
        {
            std::lock_guard<std::mutex> lock(lock_);
            returned_ = true;
        }
        returned_cv_.notify_all();
    })
{}

BackgroundCall::~BackgroundCall()
{
    if (rescue_ && !Returned(0ms)) {
        rescue_();
    }
    thread_.join();
}

bool BackgroundCall::Returned(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(lock_);
    return returned_cv_.wait_for(lock, timeout, [this] { return returned_; });
}

Watchdog::Watchdog(std::chrono::milliseconds timeout, std::function<void()> rescue)
    : thread_([this, timeout, rescue = std::move(rescue)] {
        std::unique_lock<std::mutex> lock(lock_);
        if (cancelled_cv_.wait_for(lock, timeout, [this] { return cancelled_; })) {
            return;
        }
        fired_ = true;
        lock.unlock();
        rescue();
    })
{}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        cancelled_ = true;
    }
    cancelled_cv_.notify_all();
    thread_.join();
}

bool Watchdog::Fired()
{
    std::lock_guard<std::mutex> lock(lock_);
    return fired_;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace vantrel::testing
