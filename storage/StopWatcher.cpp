#include "storage/StopWatcher.h"

#include <utility>

namespace vantrel {

StopWatcher::StopWatcher(const std::atomic<bool>* stop, std::function<void()> action)
    : stop_(stop)
    , action_(std::move(action))
    , thread_([this] { Run(); })
{}

StopWatcher::~StopWatcher()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        ending_ = true;
    }
    ending_changed_.notify_all();
    thread_.join();
}

void StopWatcher::Run()
{
    std::unique_lock<std::mutex> lock(lock_);
    while (!ending_) {
        if (stop_->load()) {
            lock.unlock();
            action_();
            return;
        }
        ending_changed_.wait_for(lock, kPollInterval, [this] { return ending_; });
    }
}

}  // namespace vantrel
