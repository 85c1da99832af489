#include "publishing/PublisherThreadU.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace vantrel {
namespace {

// The order in which runs enter the worker, and the threads alive.
struct RunOrder
{
    std::mutex lock;
    std::condition_variable turn_over;
    uint64_t next_turn = 0;  // Guarded by lock.
    uint64_t serving = 0;    // Guarded by lock.
    int running = 0;         // Guarded by lock.
};

// Never destroyed: a run may still be ending while the program's static objects go.
RunOrder& Order()
{
    static RunOrder* order = new RunOrder;
    return *order;
}

}  // namespace

bool PublisherThread::Create(QelSyncBackupWorker& worker,
                             const std::string& source_root,
                             std::unique_ptr<QelStorageDevice>& source_device,
                             const std::string& destination_root,
                             std::unique_ptr<QelStorageDevice>& destination_device,
                             QelSyncFlags& flags,
                             std::function<void()> ended)
{
    auto* thread =
        new PublisherThread(worker, source_root, std::move(source_device), destination_root,
                            std::move(destination_device), flags, std::move(ended));
    RunOrder& order = Order();
    {
        std::lock_guard<std::mutex> lock(order.lock);
        thread->turn_ = order.next_turn;
        // Started, the thread belongs to itself.
        if (thread->Start(platform::kThreadPriorityHighest, true)) {
            ++order.next_turn;
            return true;
        }
    }
    source_device = std::move(thread->source_device_);
    destination_device = std::move(thread->destination_device_);
    delete thread;
    return false;
}

PublisherThread::PublisherThread(QelSyncBackupWorker& worker,
                                 const std::string& source_root,
                                 std::unique_ptr<QelStorageDevice> source_device,
                                 const std::string& destination_root,
                                 std::unique_ptr<QelStorageDevice> destination_device,
                                 QelSyncFlags& flags,
                                 std::function<void()> ended)
    : worker_(worker)
    , source_root_(source_root)
    , source_device_(std::move(source_device))
    , destination_root_(destination_root)
    , destination_device_(std::move(destination_device))
    , flags_(flags)
    , ended_(std::move(ended))
{
    RunOrder& order = Order();
    std::lock_guard<std::mutex> lock(order.lock);
    ++order.running;
}

PublisherThread::~PublisherThread()
{
    RunOrder& order = Order();
    std::lock_guard<std::mutex> lock(order.lock);
    --order.running;
}

int PublisherThread::Running()
{
    RunOrder& order = Order();
    std::lock_guard<std::mutex> lock(order.lock);
    return order.running;
}

bool PublisherThread::WaitForRuns(std::chrono::milliseconds timeout)
{
    return platform::ServeSynchronizeUntil([] { return Running() == 0; }, timeout);
}

void PublisherThread::Execute()
{
    RunOrder& order = Order();
    {
        std::unique_lock<std::mutex> lock(order.lock);
        order.turn_over.wait(lock, [&] { return order.serving == turn_; });
    }
    worker_.Synchronise(source_root_, source_device_, destination_root_, destination_device_,
                        flags_);
    // Whatever the options left to the caller goes now, while no other run can be in the worker.
    source_device_.reset();
    destination_device_.reset();
    {
        std::lock_guard<std::mutex> lock(order.lock);
        ++order.serving;
    }
    order.turn_over.notify_all();
    if (ended_) {
        ended_();
    }
}

}  // namespace vantrel
