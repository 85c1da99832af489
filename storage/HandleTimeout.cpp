#include "storage/HandleTimeout.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "storage/InetThreads.h"

namespace vantrel {

class THandleTimeout::Core
{
public:
    Core(std::chrono::milliseconds tick, bool reset_forgets_handle)
        : reset_forgets_handle_(reset_forgets_handle)
        , tick_(tick)
    {
        Reset();
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(run_lock_);
        while (!run_changed_.wait_for(lock, tick_, [this] { return terminated_; })) {
            lock.unlock();
            Tick();
            lock.lock();
        }
    }

    void Terminate()
    {
        {
            std::lock_guard<std::mutex> lock(run_lock_);
            terminated_ = true;
        }
        run_changed_.notify_all();
    }

    void Watch(platform::InternetHandle handle)
    {
        Reset();
        handle_ = handle;
        armed_ = true;
    }

    void WatchHandle(platform::InternetHandle handle, int32_t count)
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        countdown_ = count;
        fired_ = false;
        handle_ = handle;
    }

    void Disarm() { armed_ = false; }

    void Kick()
    {
        if (!handle_.load()) {
            return;
        }
        std::lock_guard<std::recursive_mutex> lock(lock_);
        countdown_ = general_timeout_;
        fired_ = false;
    }

    void Reset()
    {
        {
            std::lock_guard<std::recursive_mutex> lock(lock_);
            countdown_ = 0;
            fired_ = false;
            if (reset_forgets_handle_) {
                handle_ = platform::InternetHandle{};
            }
        }
        data_handle_ = platform::InternetHandle{};
    }

    void SetDataHandle(platform::InternetHandle handle) { data_handle_ = handle; }

    bool Fired() const
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        return fired_;
    }

    void SetGeneralTimeout(int32_t seconds) { general_timeout_ = seconds; }

    int32_t Countdown() const
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        return countdown_;
    }

    bool Armed() const { return armed_; }
    platform::InternetHandle WatchedHandle() const { return handle_; }

    void Tick()
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (countdown_ > 0 && --countdown_ == 0) {
            Fire();
        }
    }

private:
    // Under lock_.
    void Fire()
    {
        const platform::InternetHandle handle = handle_;
        if (!handle || !armed_) {
            return;
        }
        platform::InternetCloseHandle(handle);
        if (const platform::InternetHandle data = data_handle_.exchange({})) {
            platform::InternetCloseHandle(data);
        }
        handle_ = platform::InternetHandle{};
        fired_ = true;
    }

    // Recursive: closing a handle while firing reports to the status callback on this thread,
    // which resets the watchdog.
    mutable std::recursive_mutex lock_;
    // Guarded by lock_.
    int32_t countdown_ = 0;
    bool fired_ = false;

    std::atomic<platform::InternetHandle> handle_{};
    std::atomic<platform::InternetHandle> data_handle_{};
    std::atomic<bool> armed_{false};
    std::atomic<int32_t> general_timeout_{0};
    const bool reset_forgets_handle_;

    const std::chrono::milliseconds tick_;
    std::mutex run_lock_;
    std::condition_variable run_changed_;
    bool terminated_ = false;  // Guarded by run_lock_.
};

THandleTimeout::THandleTimeout(std::chrono::milliseconds tick, bool reset_forgets_handle)
    : core_(std::make_shared<Core>(tick, reset_forgets_handle))
{
    thread_ = StartThread([core = core_] { core->Run(); }, ThreadPriority::kLower);
}

THandleTimeout::~THandleTimeout()
{
    core_->Terminate();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void THandleTimeout::Watch(platform::InternetHandle handle)
{
    core_->Watch(handle);
}

void THandleTimeout::Watch()
{
    core_->Watch(platform::InternetHandle{});
}

void THandleTimeout::WatchHandle(platform::InternetHandle handle, int32_t count)
{
    core_->WatchHandle(handle, count);
}

void THandleTimeout::Disarm()
{
    core_->Disarm();
}

void THandleTimeout::Kick()
{
    core_->Kick();
}

void THandleTimeout::Reset()
{
    core_->Reset();
}

void THandleTimeout::SetDataHandle(platform::InternetHandle handle)
{
    core_->SetDataHandle(handle);
}

bool THandleTimeout::Fired() const
{
    return core_->Fired();
}

void THandleTimeout::SetGeneralTimeout(int32_t seconds)
{
    core_->SetGeneralTimeout(seconds);
}

int32_t THandleTimeout::Countdown() const
{
    return core_->Countdown();
}

bool THandleTimeout::Armed() const
{
    return core_->Armed();
}

platform::InternetHandle THandleTimeout::WatchedHandle() const
{
    return core_->WatchedHandle();
}

void THandleTimeout::Tick()
{
    core_->Tick();
}

}  // namespace vantrel
