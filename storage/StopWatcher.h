#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Ends a device's waits when the user stops the run.
namespace vantrel {

// Watches a run's stop request from a thread of its own and, once it is set, runs the action,
// once, within a tenth of a second: the action closes what the device's waits are blocked on, so
// that a stop never waits for a server. The action runs on the watcher's thread; destroying the
// watcher ends that thread (and waits for an action under way).
class StopWatcher
{
public:
    StopWatcher(const std::atomic<bool>* stop, std::function<void()> action);
    ~StopWatcher();
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

    static constexpr auto kPollInterval = std::chrono::milliseconds(100);

private:
    void Run();

    const std::atomic<bool>* stop_;
    std::function<void()> action_;
    std::mutex lock_;
    std::condition_variable ending_changed_;
    bool ending_ = false;  // Guarded by lock_.
    std::thread thread_;
};

// The sockets a device's waits may block on, which a stop shuts down (the reads and writes on
// them then end at once; their owner still closes them). A socket must leave before it is closed,
// so that a stop never shuts down a socket that has since taken its number. One that comes once
// the stop has happened is shut down as it comes.
class StoppableSockets
{
public:
    void Add(int fd);
    void Remove(int fd);
    void ShutDownAll();
    bool Stopped() const;

private:
    mutable std::mutex lock_;
    // Guarded by lock_.
    std::vector<int> fds_;
    bool stopped_ = false;
};

}  // namespace vantrel
