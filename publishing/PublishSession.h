#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/QelDateFunctions.h"
#include "publishing/PublisherMessageQueue.h"
#include "sync/QelSyncFlags.h"

// How a publish is assembled, for the main window, the wizard's connection test and the headless
// runner alike: the destination device a web site definition asks for (MakeDestinationDevice),
// the record a run leaves in the definition (RecordRunResult), and the session that owns the
// queue, the output chain, the worker and the run options and takes a run from its start to the
// moment its publisher thread has freed its devices (PublishSession, IPublishSessionObserver).
namespace vantrel {

class FtpStorageDevice;
class IFtpAliveInterface;
class QelPublication;
class QelPublicationList;
class QelStorageDevice;
class QelSyncBaseOutput;
class TFtpPersistentInformation;

// What a destination differs in between its users; the definition gives everything else.
struct DestinationOptions
{
    // Publish All asks nothing before a modem connection: nobody may be there to answer.
    bool publishing_all = false;
    // A run keeps the definition's dot-file state and measures its server time offset; a
    // connection test does neither.
    bool keeps_site_state = true;
    // The window says a connection time-out itself; the headless runner has it as an error line.
    bool quiet_timeout = true;
    // The mode the FTP device connects in first.
    bool passive = true;
    // Borrowed; null makes the device open a session of its own.
    TFtpPersistentInformation* connection_state = nullptr;
    std::shared_ptr<IFtpAliveInterface> alive;
    // The run's stop request, borrowed: once it is set the device reconnects no more.
    const std::atomic<bool>* stop = nullptr;
};

// A destination device and the address it opens.
struct Destination
{
    std::unique_ptr<QelStorageDevice> device;
    std::string address;
    // The device as an FTP device, borrowed from `device`; null for a disk destination.
    FtpStorageDevice* ftp = nullptr;
};

// The option bits an FTP device for the definition gets.
uint8_t DestinationFtpFlags(const QelPublication& definition, const DestinationOptions& options);

// The options of the wizard's connection test: it keeps and measures nothing.
DestinationOptions ConnectionTestOptions();

// The device for the definition's server: a disk device for a disk path, else the FTP device over
// the internet library, or over the client library with FtpUseIndy, with the definition's port,
// time-outs and (keeps_site_state) dot-file state, found afresh, and server time offset. The
// output is borrowed and must outlive the device, as must the definition with keeps_site_state.
Destination MakeDestinationDevice(QelPublication& definition,
                                  QelSyncBaseOutput& output,
                                  const DestinationOptions& options);

enum class RunOutcome
{
    kPublished,
    kInterrupted,
    kFailed,
};

// A stop request outweighs a failure.
RunOutcome OutcomeOf(const QelSyncFlags& flags);

// Records a run's end in the definition: a published run its start as the date of publish, the
// counts of the source and a cleared last error, and a dot-file treatment that no listing
// confirmed is found afresh next time; an interrupted run "Cancelled by user."; a failed one
// keeps the error the run reported.
void RecordRunResult(QelPublication& definition,
                     const QelSyncStatus& status,
                     RunOutcome outcome,
                     TDateTime start_time);

// What a session tells its owner, on the main thread. The run's messages but its final counters
// arrive as HandleQueueMessage; the definition passed is the one being published.
class IPublishSessionObserver : public IQueueListener
{
public:
    // The run options are filled in and the definition shows it is publishing; the source opens
    // next.
    virtual void RunStarting(QelPublication&) {}
    // The destination is being opened on a thread of its own, and when that returns.
    virtual void Connecting(QelPublication&) {}
    virtual void ConnectingEnded() {}
    // The open timed out: true to try once more.
    virtual bool RetryAfterTimeout(const QelPublication&) { return false; }
    // The destination did not open; the definition says so.
    virtual void ConnectFailed(QelPublication&) {}
    // The destination is open; the publisher thread starts next.
    virtual void Connected(QelPublication&) {}
    // The publisher thread runs, or could not be made (the definition then says so).
    virtual void PublisherStarted(QelPublication&, bool) {}
    // The run's final counters, after every message of the run; the definition holds the result
    // and is stored. Its thread may still be freeing its devices.
    virtual void RunFinished(QelPublication&, const QelSyncStatus&, RunOutcome) {}
    // The end of RunConnectionTest's work, after every message it wrote.
    virtual void ConnectionTestEnded(bool) {}
    // After Shutdown, once nothing of the session runs any more.
    virtual void SessionShutDown() {}
};

// Keeps the object until the program ends: for what a thread that outlives its owner still uses.
void KeepForever(std::shared_ptr<void> object);

// One publishing session of a window: the message queue with its listener thread, the output
// chain (every message goes to the error log "Vantrel.Error.log" in the temporary folder and,
// filtered, to the queue), the connection state, the worker and the run options. It opens the
// destination on a thread of its own, starts the publisher thread, records the run and learns
// through the queue, behind the run's messages, when the thread has freed its devices. Main
// thread only; the observer and the web site list are borrowed and must outlive it. Destroyed
// while a thread still runs, it stops the run and keeps for ever what the threads use.
class PublishSession : private IQueueListener
{
public:
    enum class StartResult
    {
        kOpening,          // the destination is being opened; the observer hears the rest
        kNotConnected,     // Publish All: the dial-up connection is not up and could not be
        kOtherConnection,  // Publish All: the web site wants another connection than the one up
        kSourceFailed,     // the source folder did not open; the definition says so
    };

    PublishSession(IPublishSessionObserver& observer, QelPublicationList& publications);
    ~PublishSession() override;
    PublishSession(const PublishSession&) = delete;
    PublishSession& operator=(const PublishSession&) = delete;

    // Whether the listener thread runs (false when the system gave no thread).
    bool Listening() const { return listener_ != nullptr; }
    const TListenOnQueue* Listener() const { return listener_.get(); }

    // Starts a run of the definition, which must outlive it. Nothing starts once Shutdown began.
    StartResult Start(QelPublication& definition, bool publishing_all, bool turbo);
    // Asks the run to stop; it ends as interrupted.
    void Stop();
    // Publish All's next step: runs next once the last publisher thread has freed its devices,
    // at once when none is left; never after Shutdown.
    void AfterRun(std::function<void()> next);
    // Stops the run; SessionShutDown follows once nothing runs, at once when nothing does.
    void Shutdown();

    // Runs work on a thread of its own with the queue's output alone (a test writes no error
    // log); ConnectionTestEnded gets its result behind every message it wrote. False, with the
    // last error, when no thread can be made.
    bool RunConnectionTest(std::function<bool(QelSyncBaseOutput& output)> work);
    bool ConnectionTestRunning() const { return testing_; }

    // A run is on: the destination being opened, or the publisher thread before its final
    // counters.
    bool Publishing() const { return opening_ || running_; }
    bool Connecting() const { return opening_; }
    // Publishing, or a publisher thread still freeing its devices, or a connection test.
    bool Busy() const { return opening_ || testing_ || running_ || threads_alive_ > 0; }
    bool ShuttingDown() const { return shutting_down_; }

    QelSyncFlags& Flags();
    // The dial-up connection the session dialled: its name, whether it is up, and hanging it up.
    std::string DialName() const;
    bool DialConnectionUp() const;
    void HangUp();
    // The error log holds what the last run wrote once it is flushed.
    void FlushErrorLog();

private:
    struct Core;

    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override;
    void OpenDestination();
    bool StartOpener(std::function<void()> work);
    void OpenReturned();
    void StartPublisher();
    void RunOver();
    // Records the run's end in the definition, stores it and tells the observer.
    void EndRun(QelPublication& d,
                const QelSyncStatus& status,
                RunOutcome outcome,
                TDateTime start_time);
    void ReportShutDownWhenIdle();

    IPublishSessionObserver& observer_;
    QelPublicationList& publications_;
    // What the threads use; kept for ever when a thread outlives the session.
    std::unique_ptr<Core> core_;
    std::unique_ptr<TListenOnQueue> listener_;
    QelPublication* current_ = nullptr;
    TDateTime start_time_ = 0;
    bool opening_ = false;
    bool testing_ = false;
    bool running_ = false;
    int threads_alive_ = 0;
    bool shutting_down_ = false;
    bool shut_down_reported_ = false;
    std::function<void()> after_run_;
};

}  // namespace vantrel
