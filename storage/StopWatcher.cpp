#include "storage/StopWatcher.h"

#include <algorithm>
#include <utility>

#include <sys/socket.h>

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

void StoppableSockets::Add(int fd)
{
    if (fd < 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(lock_);
    fds_.push_back(fd);
    if (stopped_) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

void StoppableSockets::Remove(int fd)
{
    std::lock_guard<std::mutex> lock(lock_);
    std::erase(fds_, fd);
}

void StoppableSockets::ShutDownAll()
{
    std::lock_guard<std::mutex> lock(lock_);
    stopped_ = true;
    for (const int fd : fds_) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

bool StoppableSockets::Stopped() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return stopped_;
}

}  // namespace vantrel
