#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/QelDateFunctions.h"
#include "publishing/PublisherMessageQueue.h"
#include "storage/DotFileState.h"
#include "sync/QelSyncBaseOutput.h"
#include "sync/QelSyncFlags.h"

// How a publish is assembled, for the main window, the wizard's connection test and the headless
// runner alike: the destination device a web site definition asks for (MakeDestinationDevice),
// the record a run leaves in the definition (RecordRunResult, RecordServerFindings, and what they
// are gathered in: ServerFindings, RunErrorCatcher), the session that owns the queue, the output
// chain, the worker and the run options and takes a run from its start to the moment its
// publisher thread has freed its devices (PublishSession, IPublishSessionObserver), and the
// wizard's connection test (ConnectionTest, IConnectionTestObserver).
namespace vantrel {

class FtpStorageDevice;
class IFtpAliveInterface;
class QelPublication;
class QelPublicationList;
class QelStorageDevice;
class TFtpPersistentInformation;

// What a run's destination device finds out about the web site's server, for the definition to
// keep for the next run: how the server treats dot files, and how far its clock is off ours.
// MakeDestinationDevice starts it from the definition; the device updates it on the thread that
// runs the device; its owner takes it into the definition (RecordServerFindings) once that thread
// is done with the device. Plain values: only one thread touches it at a time.
struct ServerFindings
{
    TDotFileState dot_files;
    TDateTime time_drift = 0;  // days
};

// What a destination differs in between its users; the definition gives everything else.
struct DestinationOptions
{
    // Publish All asks nothing before a modem connection: nobody may be there to answer.
    bool publishing_all = false;
    // Where a run's device keeps what it finds out about the server; borrowed, and it must
    // outlive the device. Null: the device keeps and measures nothing (the connection test).
    ServerFindings* findings = nullptr;
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

// The device for the definition's server: a disk device for a disk path, else the FTP device over
// the internet library, or over the client library with FtpUseIndy, with the definition's port
// and time-outs. An FTP destination finds its dot files afresh (the definition's count starts
// again at 0). With findings, they start from the definition's dot-file state and server time
// offset, and the FTP device keeps what it finds in them. The output is borrowed and must outlive
// the device.
Destination MakeDestinationDevice(QelPublication& definition,
                                  QelSyncBaseOutput& output,
                                  const DestinationOptions& options);

// Where a server is entered (the configuration dialog's Save, the wizard's Finish, the import):
// an FTP address that cannot be read gives the message that names it, and nothing is stored. Any
// other gives "", and a port written in the address becomes the definition's port setting, so
// that the two never disagree. A disk path, and an empty server, are left as they are.
std::string SettleServerAddress(QelPublication& definition);

enum class RunOutcome
{
    kPublished,
    kInterrupted,
    kFailed,
};

// A stop request outweighs a failure.
RunOutcome OutcomeOf(const QelSyncFlags& flags);

// Records a run's end in the definition: a published run its start as the date of publish, the
// counts of the source and a cleared last error; an interrupted run "Cancelled by user."; a
// failed one the last error the run reported (`run_error`), or the one it had when the run
// reported none.
void RecordRunResult(QelPublication& definition,
                     const QelSyncStatus& status,
                     RunOutcome outcome,
                     TDateTime start_time,
                     const std::optional<std::string>& run_error = std::nullopt);

// Takes what a run's device found out about the server into the definition, once the thread
// that ran the device is done with it. After a published run, a dot-file treatment that no
// listing confirmed is found afresh next time. True when a stored value changed.
bool RecordServerFindings(QelPublication& definition, const ServerFindings& found, bool published);

// An output sink that keeps the text of the last error written to it (as the window's log shows
// it) and accepts nothing else; beside the other sinks of a run's output chain, it gives the run's
// record its last error. Any thread may call it; guarded by its lock.
class RunErrorCatcher : public QelSyncBaseOutput
{
public:
    void Write(QelSyncMessageType type, const std::string& text) override;
    bool Accepts(QelSyncMessageType type) override;

    // Forgets what an earlier run wrote.
    void Clear();
    // Empty when no error was written since Clear.
    std::optional<std::string> LastError() const;

private:
    mutable std::mutex lock_;
    std::optional<std::string> last_error_;  // Guarded by lock_.
};

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
    // and is stored. Its thread may still be freeing its devices; what the destination found out
    // about the server goes into the definition once it has.
    virtual void RunFinished(QelPublication&, const QelSyncStatus&, RunOutcome) {}
    // After Shutdown, once nothing of the session runs any more.
    virtual void SessionShutDown() {}
};

// One publishing session of a window: the message queue with its listener thread, the output
// chain (every message goes to the error log "Vantrel.Error.log" in the temporary folder and,
// filtered, to the queue), the connection state, the worker and the run options. It opens the
// destination on a thread of its own, starts the publisher thread, records the run in its
// definition and learns through the queue, behind the run's messages, when the thread has freed
// its devices; what the destination found out about the server is then taken into the
// definition and stored. Main thread only; the observer and the web site list are borrowed and
// must outlive it. Destroyed while a thread still runs, it stops the run and keeps for ever what
// the threads use, none of which is in the list.
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

    // Starts a run of the definition, which must outlive the run's final counters; later the
    // session looks it up in the list by name. Nothing starts once Shutdown began.
    StartResult Start(QelPublication& definition, bool publishing_all, bool turbo);
    // Asks the run to stop; it ends as interrupted.
    void Stop();
    // Publish All's next step: runs next once the last publisher thread has freed its devices,
    // at once when none is left; never after Shutdown.
    void AfterRun(std::function<void()> next);
    // Stops the run; SessionShutDown follows once nothing runs, at once when nothing does.
    void Shutdown();

    // A run is on: the destination being opened, or the publisher thread before its final
    // counters.
    bool Publishing() const { return opening_ || running_; }
    bool Connecting() const { return opening_; }
    // Publishing, or a publisher thread still freeing its devices.
    bool Busy() const { return opening_ || running_ || threads_alive_ > 0; }

    QelSyncFlags& Flags();
    // The dial-up connection the session dialled: its name, whether it is up, and hanging it up.
    std::string DialName() const;
    bool DialConnectionUp() const;
    void HangUp();
    // The error log holds what the runs wrote once it is flushed.
    void FlushErrorLog();
    // A Publish or a Publish All begins: the error log is emptied, and holds from now on what its
    // runs write, each run's lines after a line naming its web site.
    void BeginErrorLog();

private:
    struct Core;
    struct Run;

    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override;
    void OpenDestination();
    void OpenReturned();
    void StartPublisher();
    void RunOver();
    // Frees the devices of a run that ends before its publisher thread takes them; after a
    // failure the error log is closed, so that it holds what the run wrote.
    void AbandonRun(bool close_error_log);
    // Records the run's end in the definition, stores it and tells the observer.
    void EndRun(QelPublication& d,
                const QelSyncStatus& status,
                RunOutcome outcome,
                TDateTime start_time);
    // Stores the definition; a store that fails is told to the user.
    void Store(QelPublication& d);
    void ReportShutDownWhenIdle();

    IPublishSessionObserver& observer_;
    QelPublicationList& publications_;
    // What the threads use; kept for ever when a thread outlives the session.
    std::unique_ptr<Core> core_;
    std::unique_ptr<TListenOnQueue> listener_;
    QelPublication* current_ = nullptr;
    TDateTime start_time_ = 0;
    bool opening_ = false;
    bool running_ = false;
    int threads_alive_ = 0;
    bool shutting_down_ = false;
    bool shut_down_reported_ = false;
    std::function<void()> after_run_;
};

// What a connection test tells its owner, on the main thread: every message its device writes,
// as HandleQueueMessage, then its end.
class IConnectionTestObserver : public IQueueListener
{
public:
    // Behind every message the test wrote; `passed` is what its work returned.
    virtual void ConnectionTestEnded(bool passed) = 0;
};

// The wizard's connection test: a queue with its listener thread, the queue's output alone (a
// test writes no error log and opens nothing but its one device), and a thread per test that
// makes and opens that device, so a dead host or a question the device asks never freezes the
// window. Made at the first test and kept for the later ones. Main thread only; the observer is
// borrowed and must outlive it. Destroyed while a test runs, it stops the test and keeps for ever
// what the test's thread uses.
class ConnectionTest : private IQueueListener
{
public:
    explicit ConnectionTest(IConnectionTestObserver& observer);
    ~ConnectionTest() override;
    ConnectionTest(const ConnectionTest&) = delete;
    ConnectionTest& operator=(const ConnectionTest&) = delete;

    // Whether the listener thread runs (false when the system gave no thread).
    bool Listening() const { return listener_ != nullptr; }
    const TListenOnQueue* Listener() const { return listener_.get(); }

    // The stop request a test's device watches; Run clears it.
    const std::atomic<bool>* StopRequest() const;
    // Runs work on a thread of its own with the queue's output; ConnectionTestEnded gets its
    // result behind every message it wrote. False, with the last error, when no thread can be
    // made.
    bool Run(std::function<bool(QelSyncBaseOutput& output)> work);
    // Asks the test's device to give up: its waits end at once.
    void Stop();
    bool Running() const { return running_; }

private:
    struct Core;

    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override;

    IConnectionTestObserver& observer_;
    // What the test's thread uses; kept for ever when the thread outlives the test.
    std::unique_ptr<Core> core_;
    std::unique_ptr<TListenOnQueue> listener_;
    bool running_ = false;
};

}  // namespace vantrel
