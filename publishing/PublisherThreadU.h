#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Threads.h"
#include "storage/QelStorage.h"
#include "sync/QelSyncBackupWorker.h"
#include "sync/QelSyncFlags.h"

// The thread that runs one publish (PublisherThread).
namespace vantrel {

// Runs one synchronisation away from the main thread, two levels above normal, so that the
// window stays responsive. The publishing session starts one per publish once both devices are
// open. The run's messages and its end reach the session through the output chain and the queue,
// never through the thread, which releases itself when the run is over. The worker and the
// options are borrowed; stopping a run is the options' stop request, not a thread operation.
//
// Runs enter the worker one at a time, in the order they were started. The worker sends the
// final status before it frees the devices, and Publish All starts its next run as soon as that
// status arrives, so a new thread first waits (by itself, never holding up the main thread)
// until the previous one has left Synchronise and freed everything of its run.
class PublisherThread : private platform::Thread
{
public:
    // Main thread. On success the thread runs with the devices, taken from the caller's
    // variables; the worker frees them at the end of the run as the options ask, and the thread
    // frees what it leaves before the next run may begin. False, with the last error, when no
    // thread can be made: the devices then stay the caller's. `ended`, when given, is called on
    // the thread once it has freed its devices and the next run may enter the worker; the thread
    // touches nothing of the caller's afterwards.
    static bool Create(QelSyncBackupWorker& worker,
                       const std::string& source_root,
                       std::unique_ptr<QelStorageDevice>& source_device,
                       const std::string& destination_root,
                       std::unique_ptr<QelStorageDevice>& destination_device,
                       QelSyncFlags& flags,
                       std::function<void()> ended = nullptr);

    // Publisher threads that have not yet released themselves.
    static int Running();

    // Program end, on the main thread, once the stop request is set and the queue is closed (so
    // no write waits for room): waits until every publisher thread has released itself, serving
    // synchronised calls meanwhile. False when the time-out passed first (a device call that
    // hangs); the program must then end without freeing what the run uses (worker, options,
    // output chain).
    static bool WaitForRuns(std::chrono::milliseconds timeout);

private:
    PublisherThread(QelSyncBackupWorker& worker,
                    const std::string& source_root,
                    std::unique_ptr<QelStorageDevice> source_device,
                    const std::string& destination_root,
                    std::unique_ptr<QelStorageDevice> destination_device,
                    QelSyncFlags& flags,
                    std::function<void()> ended);
    ~PublisherThread() override;

    void Execute() override;

    QelSyncBackupWorker& worker_;
    const std::string source_root_;
    std::unique_ptr<QelStorageDevice> source_device_;
    const std::string destination_root_;
    std::unique_ptr<QelStorageDevice> destination_device_;
    QelSyncFlags& flags_;
    std::function<void()> ended_;
    // The run's place in the order of runs; set before the thread starts.
    uint64_t turn_ = 0;
};

}  // namespace vantrel
