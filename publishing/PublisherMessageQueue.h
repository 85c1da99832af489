#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Threads.h"
#include "publishing/SimplePipeU.h"
#include "sync/QelSyncBaseOutput.h"
#include "sync/QelSyncFlags.h"

// The message queue that carries a run's messages to the main thread (TPublisherMessageQueue,
// TPublisherMessageKind), the thread that listens on it (TListenOnQueue) for an IQueueListener,
// and the output sink that feeds it (TOutputToPipe).
namespace vantrel {

// The first item of every message; a reader may meet any other value in a garbled pipe.
enum TPublisherMessageKind : int32_t
{
    kQueueError = 0,        // one text: the bare error text
    kQueueLogText = 1,      // one text: the formatted message
    kQueueProgress = 2,     // the ten counters of a QelSyncStatus, in its order
    kQueueFinalStatus = 3,  // the same, at the end of a run
    kQueueAlive = 4,        // nothing
    kQueueOpened = 5,       // nothing: a device open on a thread of its own has returned
    kQueueRunOver = 6,      // nothing: a publisher thread has freed the devices of its run
};

// The messages of a run over a TSimplePipe: each is a kind and its payload, written as one unit.
// Writers and the reader as in TSimplePipe.
class TPublisherMessageQueue : public TSimplePipe
{
public:
    using TSimplePipe::TSimplePipe;

    void SendError(const std::string& text);
    void SendMessage(const std::string& text);
    void SendProgress(const QelSyncStatus& status);
    void SendFinalStatus(const QelSyncStatus& status);
    // It only moves the activity marker and comes from the status callback of whatever thread
    // runs a device, a connect thread included: it never waits, and is dropped when another
    // writer is busy or the pipe has no room now.
    void SendAlive();
    // Each follows every message its thread wrote before it.
    void SendOpened();
    void SendRunOver();

    // Skips what is left of the current message, then reads the next one's kind.
    TPublisherMessageKind ReadKind();
    std::string ReadError();
    std::string ReadMessage();
    // The ten counters; the two error bytes of the status are left as they are.
    void ReadStatus(QelSyncStatus* status);

private:
    void Send(TPublisherMessageKind kind, const std::string& payload, bool droppable);
};

// Who gets the queue's messages: the publishing session, which passes them on to the main window,
// and the connection test, which passes them on to the wizard.
class IQueueListener
{
public:
    virtual ~IQueueListener() = default;
    // Called on the main thread. Reads the message's payload from the queue, or leaves it
    // unread: the next ReadKind skips it.
    virtual void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) = 0;
};

// The thread, one level below normal, that waits on the queue and hands each message to the
// listener on the main thread by a synchronised call, together with up to 12 more that are
// already waiting. The queue and the listener are borrowed and must outlive it. It ends when the
// queue's write end is closed or when it is destroyed.
class TListenOnQueue : private platform::Thread
{
public:
    // The thread starts at once; null, with the last error, when no thread can be made.
    static std::unique_ptr<TListenOnQueue> Create(TPublisherMessageQueue& queue,
                                                  IQueueListener& listener);
    // Closes the queue, since nobody reads it any more and a writer must not wait for room,
    // then waits for the thread; on the main thread it serves the thread's synchronised call
    // meanwhile (which then delivers nothing).
    ~TListenOnQueue() override;

    // Whether the thread has ended (when the queue's write end was closed), waiting for it at
    // most the time-out.
    using platform::Thread::WaitFor;

    // Main thread, inside the synchronised call: the message whose kind the thread read, then
    // while another whole message's kind is waiting, up to 12 more.
    void NotifyListener();

private:
    TListenOnQueue(TPublisherMessageQueue& queue, IQueueListener& listener);
    void Execute() override;

    TPublisherMessageQueue& queue_;
    IQueueListener& listener_;
    // Read on the thread, then used on the main thread inside the synchronised call.
    TPublisherMessageKind kind_ = kQueueError;
};

// The output sink that turns a run's calls into queue messages: status updates into progress,
// the end of the run into the final counters, errors into error texts, every other message but
// most scanning ones into log texts. Any thread may call it. The queue is borrowed.
class TOutputToPipe : public QelSyncBaseOutput
{
public:
    // The window repaints its progress no more often than this: counters sent closer together
    // would only cost the run and the window their time.
    static constexpr std::chrono::milliseconds kProgressInterval{30};

    // Progress goes out at most once every `progress_interval`; the counters in between are
    // dropped, and the final counters always go. Zero sends every update.
    explicit TOutputToPipe(TPublisherMessageQueue& queue,
                           std::chrono::milliseconds progress_interval = kProgressInterval);

    void UpdateStatus(const QelSyncStatus& status) override;
    void Finished(const QelSyncStatus& status) override;
    // Errors (27) as their bare text; scanning messages (1 to 10) only for types 3, 9 and 10;
    // everything else formatted by its type's template.
    void Write(QelSyncMessageType type, const std::string& text) override;
    // The alive callback of the FTP devices.
    void SendAlive();

private:
    TPublisherMessageQueue& queue_;
    const std::chrono::steady_clock::duration progress_interval_;
    std::mutex progress_lock_;
    // When progress last went out in this run; none before its first.
    std::optional<std::chrono::steady_clock::time_point> progress_sent_;
};

}  // namespace vantrel
