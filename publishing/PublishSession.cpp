#include "publishing/PublishSession.h"

#include <cassert>
#include <chrono>
#include <utility>
#include <vector>

#include "foundation/ApiWrappers.h"
#include "foundation/QelStringFunctions.h"
#include "platform/Errors.h"
#include "platform/Inet.h"
#include "platform/Threads.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublisherThreadU.h"
#include "storage/DiskStorage.h"
#include "storage/FtpStorage.h"
#include "storage/FtpStorageIndy.h"
#include "sync/QelSyncBackupWorker.h"
#include "sync/SyncDualOutput.h"
#include "sync/SyncFilterOutput.h"
#include "sync/SyncLogFileOutput.h"

namespace vantrel {
namespace {

// The queue leaves out the "no copy needed" lines: a run of an unchanged site would send one per
// file, and the log pane says nothing with them.
constexpr uint32_t kQueueDroppedTypes = 1u << kMsgNoCopyNeeded;
// The error log leaves out the scanning messages.
constexpr int32_t kErrorLogDroppedClasses = TQelSyncFilterOutputByClass::kDropScanning;
constexpr char kErrorLogName[] = "Vantrel.Error.log";
// How long a session that goes waits for its last publisher thread to leave the queue it wrote
// its end into; the thread has nothing left to do but return.
constexpr auto kThreadEndPatience = std::chrono::seconds(2);

// Puts an alive message into the queue while an FTP connection shows activity. Called on the
// thread of the FTP call; the pipe output belongs to the output chain, which outlives it.
class TAliveCallback : public IFtpAliveInterface
{
public:
    explicit TAliveCallback(TOutputToPipe* pipe)
        : pipe_(pipe)
    {}
    void Alive() override { pipe_->SendAlive(); }

private:
    TOutputToPipe* pipe_;
};

// Runs a piece of work, then says so through the queue, behind whatever the work wrote to it.
class QueuedWork : public platform::Thread
{
public:
    QueuedWork(TPublisherMessageQueue& queue, std::function<void()> work)
        : queue_(queue)
        , work_(std::move(work))
    {}
    ~QueuedWork() override { WaitFor(); }

private:
    void Execute() override
    {
        work_();
        queue_.SendOpened();
    }

    TPublisherMessageQueue& queue_;
    std::function<void()> work_;
};

}  // namespace

void KeepForever(std::shared_ptr<void> object)
{
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    kept->push_back(std::move(object));
}

uint8_t DestinationFtpFlags(const QelPublication& d, const DestinationOptions& options)
{
    // SYST is asked whatever the dot-file treatment: the server type decides how text travels.
    uint8_t bits = FtpStorageDevice::kFlagAskSyst;
    if (options.quiet_timeout) {
        bits |= FtpStorageDevice::kFlagQuietTimeout;
    }
    if (!options.publishing_all && d.ConnectionType == 1) {
        bits |= FtpStorageDevice::kFlagAskOnModem;
    }
    if (d.LogListFiles) {
        bits |= FtpStorageDevice::kFlagVerbose;
    }
    return bits;
}

DestinationOptions ConnectionTestOptions()
{
    DestinationOptions options;
    options.keeps_site_state = false;
    return options;
}

Destination MakeDestinationDevice(QelPublication& d,
                                  QelSyncBaseOutput& output,
                                  const DestinationOptions& options)
{
    Destination destination;
    if (DiskStorageDevice::IsDiskPath(d.Server)) {
        destination.device = std::make_unique<DiskStorageDevice>(&output);
        destination.address = d.Server;
        return destination;
    }
    TDotFileState* dots = nullptr;
    std::atomic<TDateTime>* drift = nullptr;
    if (options.keeps_site_state) {
        d.DotFileState.DotFilesFound = 0;
        dots = &d.DotFileState;
        drift = &d.ServerTimeDrift;
    }
    const FtpDeviceSettings settings{
        .port = d.FtpPort,
        .general_timeout = d.GeneralTimeout,
        .connection_timeout = d.ConnectionTimeout,
        .connection_state = options.connection_state,
        .dot_file_state = dots,
        .time_drift = drift,
        .use_drift = options.keeps_site_state,
        .alive = options.alive,
        .flags = DestinationFtpFlags(d, options),
        // The device's retries end once the user stops the run.
        .stop = options.stop,
        .passive = options.passive,
    };
    std::unique_ptr<FtpStorageDevice> ftp;
    if (d.FtpUseIndy) {
        ftp = std::make_unique<FtpIndyStorageDevice>(&output, settings);
    } else {
        ftp = std::make_unique<FtpStorageDevice>(&output, settings);
    }
    destination.ftp = ftp.get();
    destination.device = std::move(ftp);
    // A server typed with its "ftp:" prefix already is taken as it is.
    destination.address = StartsWith(d.Server, "ftp:", true) ? d.Server : "ftp:\\\\" + d.Server;
    return destination;
}

RunOutcome OutcomeOf(const QelSyncFlags& flags)
{
    if (flags.StopRequested) {
        return RunOutcome::kInterrupted;
    }
    return flags.Failed ? RunOutcome::kFailed : RunOutcome::kPublished;
}

void RecordRunResult(QelPublication& d,
                     const QelSyncStatus& st,
                     RunOutcome outcome,
                     TDateTime start_time)
{
    switch (outcome) {
        case RunOutcome::kInterrupted:
            d.LastErrorText = "Cancelled by user.";
            d.Status = StatusInterrupted;
            return;
        case RunOutcome::kFailed:
            d.Status = StatusFailed;
            return;
        case RunOutcome::kPublished:
            break;
    }
    d.LastPublished = start_time;
    d.LastSuccessfullyPublished = start_time;
    d.WebFileCount = st.SourceFiles;
    d.SrcFileCount = st.SourceFiles;
    d.WebDirsCount = st.SourceFolders;
    d.SrcDirsCount = st.SourceFolders;
    d.WebPageCount = d.SrcPageCount;
    d.Status = StatusPublished;
    d.LastErrorText.clear();
    // A dot file announced but never seen in a listing: the treatment is found afresh.
    if (d.DotFileState.Treatment == kDotFilesUploaded && d.DotFileState.DotFilesFound == 0) {
        d.DotFileState.Treatment = kDotFilesUnknown;
    }
}

// Built in the order every message takes: the error log first, the queue second.
struct PublishSession::Core
{
    Core()
    {
        auto pipe_output = std::make_unique<TOutputToPipe>(queue);
        pipe = pipe_output.get();
        alive = std::make_shared<TAliveCallback>(pipe);
        auto to_queue = std::make_unique<TQelSyncFilterOutputByType>(std::move(pipe_output),
                                                                     kQueueDroppedTypes);
        auto log = std::make_unique<QelSyncLogFileOutput>(GetTempFolder() + kErrorLogName, 0);
        error_log = log.get();
        output = std::make_unique<QelSyncDualOutput>(
            std::make_unique<TQelSyncFilterOutputByClass>(std::move(log), kErrorLogDroppedClasses),
            std::move(to_queue));
    }

    TPublisherMessageQueue queue;
    TOutputToPipe* pipe = nullptr;              // owned by output
    QelSyncLogFileOutput* error_log = nullptr;  // owned by output
    std::unique_ptr<QelSyncBaseOutput> output;
    std::shared_ptr<IFtpAliveInterface> alive;
    QelSyncFlags flags;
    TFtpPersistentInformation connection_state;
    std::unique_ptr<QelSyncBackupWorker> worker;
    // The devices of the run being started, until the publisher thread takes them.
    std::unique_ptr<QelStorageDevice> source;
    Destination destination;
    std::unique_ptr<QueuedWork> opener;
    // Written by the opener thread before it sends kQueueOpened, read after it arrives.
    std::atomic<bool> opened{false};
    std::atomic<uint32_t> last_error{0};
};

PublishSession::PublishSession(IPublishSessionObserver& observer, QelPublicationList& publications)
    : observer_(observer)
    , publications_(publications)
    , core_(std::make_unique<Core>())
{
    listener_ = TListenOnQueue::Create(core_->queue, *this);
}

PublishSession::~PublishSession()
{
    core_->flags.StopRequested = true;
    // Closes the queue: a thread still writing to it returns at once.
    listener_.reset();
    if (Busy()) {
        KeepForever(std::shared_ptr<Core>(std::move(core_)));
        return;
    }
    // The last thread said its end through the queue and may still be leaving the write.
    PublisherThread::WaitForRuns(kThreadEndPatience);
}

QelSyncFlags& PublishSession::Flags()
{
    return core_->flags;
}

std::string PublishSession::DialName() const
{
    return core_->connection_state.DialName;
}

bool PublishSession::DialConnectionUp() const
{
    return core_->connection_state.DialConnection != 0;
}

void PublishSession::HangUp()
{
    core_->connection_state.HangUp();
}

void PublishSession::FlushErrorLog()
{
    core_->error_log->Flush();
}

PublishSession::StartResult PublishSession::Start(QelPublication& d,
                                                  bool publishing_all,
                                                  bool turbo)
{
    assert(platform::IsMainThread());
    Core& c = *core_;
    DestinationOptions options;
    options.publishing_all = publishing_all;
    options.connection_state = &c.connection_state;
    options.alive = c.alive;
    options.stop = &c.flags.StopRequested;
    c.destination = MakeDestinationDevice(d, *c.output, options);

    if (!d.Connection.empty() && publishing_all) {
        TFtpPersistentInformation& state = c.connection_state;
        if (!state.IsConnected() &&
            (platform::InternetAttemptConnect(0) != 0 || !state.IsConnected())) {
            c.destination = {};
            return StartResult::kNotConnected;
        }
        if (state.ConnectionName() != d.Connection) {
            c.destination = {};
            return StartResult::kOtherConnection;
        }
    }

    FillSyncFlags(d, turbo, &c.flags);
    // The file holds this run's warnings and errors alone, also when the run has none: it is
    // emptied now, not at the run's first line.
    c.error_log->StartRun();
    c.error_log->EnsureOpen();
    current_ = &d;
    d.Status = StatusPublishing;
    observer_.RunStarting(d);
    if (c.worker == nullptr) {
        c.worker = std::make_unique<QelSyncBackupWorker>(c.output.get());
    }
    c.source = std::make_unique<DiskStorageDevice>(c.output.get());
    if (!c.source->Open(d.Source, "", "", "")) {
        c.output->Write(kMsgError, "Failed to connect to source " + d.Source + ".");
        d.Status = StatusFailed;
        // The error log holds the last run alone: the next run starts it afresh.
        c.error_log->Close();
        c.source.reset();
        c.destination = {};
        return StartResult::kSourceFailed;
    }
    OpenDestination();
    return StartResult::kOpening;
}

// The open may wait for the whole connection time-out (a dead host, a slow log-in): it runs on a
// thread of its own, so that the window keeps painting, and its end comes back through the queue.
void PublishSession::OpenDestination()
{
    Core& c = *core_;
    QelPublication& d = *current_;
    observer_.Connecting(d);
    opening_ = true;
    const std::string user = d.Username;
    const std::string password = d.Password;
    const std::string connection = d.Connection;
    Core* core = &c;
    if (!StartOpener([core, user, password, connection] {
            Destination& destination = core->destination;
            core->opened =
                destination.device->Open(destination.address, user, password, connection);
            core->last_error = destination.device->GetLastError();
        })) {
        c.opened = false;
        c.last_error = platform::GetLastError();
        OpenReturned();
    }
}

bool PublishSession::StartOpener(std::function<void()> work)
{
    auto opener = std::make_unique<QueuedWork>(core_->queue, std::move(work));
    if (!opener->Start(platform::kThreadPriorityNormal, false)) {
        return false;
    }
    core_->opener = std::move(opener);
    return true;
}

bool PublishSession::RunConnectionTest(std::function<bool(QelSyncBaseOutput& output)> work)
{
    Core* core = &*core_;
    testing_ = true;
    if (!StartOpener([core, work = std::move(work)] { core->opened = work(*core->pipe); })) {
        testing_ = false;
        return false;
    }
    return true;
}

void PublishSession::EndRun(QelPublication& d,
                            const QelSyncStatus& status,
                            RunOutcome outcome,
                            TDateTime start_time)
{
    RecordRunResult(d, status, outcome, start_time);
    if (!publications_.Update(d.GetName(), d)) {
        publications_.TellStoreFailure(d);
    }
    core_->error_log->Flush();
    observer_.RunFinished(d, status, outcome);
}

void PublishSession::HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    assert(platform::IsMainThread());
    switch (kind) {
        case kQueueFinalStatus: {
            QelSyncStatus status;
            queue.ReadStatus(&status);
            running_ = false;
            if (current_ == nullptr) {
                break;
            }
            EndRun(*current_, status, OutcomeOf(core_->flags), start_time_);
            break;
        }
        case kQueueOpened:
            OpenReturned();
            break;
        case kQueueRunOver:
            RunOver();
            break;
        default:
            observer_.HandleQueueMessage(kind, queue);
            break;
    }
}

void PublishSession::OpenReturned()
{
    Core& c = *core_;
    // The thread has nothing left to do but return.
    c.opener.reset();
    if (testing_) {
        testing_ = false;
        observer_.ConnectionTestEnded(c.opened);
        ReportShutDownWhenIdle();
        return;
    }
    opening_ = false;
    observer_.ConnectingEnded();
    if (shutting_down_) {
        c.source.reset();
        c.destination = {};
        ReportShutDownWhenIdle();
        return;
    }
    QelPublication& d = *current_;
    if (c.flags.StopRequested) {
        // Stopped while the destination opened: the run ends interrupted, as a stop during the
        // run does, and no publisher thread starts (its worker would forget the stop).
        c.source.reset();
        c.destination = {};
        EndRun(d, QelSyncStatus{}, RunOutcome::kInterrupted, NowDateTime());
        return;
    }
    if (!c.opened) {
        if (c.last_error == platform::kErrorInternetTimeout && observer_.RetryAfterTimeout(d)) {
            OpenDestination();
            return;
        }
        d.Status = StatusFailed;
        d.LastErrorText = "Failed to connect";
        c.error_log->Close();
        c.source.reset();
        c.destination = {};
        observer_.ConnectFailed(d);
        return;
    }
    observer_.Connected(d);
    StartPublisher();
}

void PublishSession::StartPublisher()
{
    Core& c = *core_;
    QelPublication& d = *current_;
    start_time_ = NowDateTime();
    // The publishing status is stored before the thread starts: from then on the thread's device
    // writes the definition's time offset and dot-file state.
    const bool stored = publications_.Update(d.GetName(), d);
    TPublisherMessageQueue* queue = &c.queue;
    const std::string address = c.destination.address;
    if (!PublisherThread::Create(*c.worker, d.Source, c.source, address, c.destination.device,
                                 c.flags, [queue] { queue->SendRunOver(); })) {
        d.Status = StatusFailed;
        d.LastErrorText = "The publishing thread could not be started.";
        if (!publications_.Update(d.GetName(), d)) {
            publications_.TellStoreFailure(d);
        }
        c.error_log->Close();
        c.source.reset();
        c.destination = {};
        observer_.PublisherStarted(d, false);
        return;
    }
    c.destination = {};
    running_ = true;
    ++threads_alive_;
    observer_.PublisherStarted(d, true);
    // Told once the thread runs: a stop pressed while the box is up must reach the run, which
    // would have forgotten a stop made before it started.
    if (!stored) {
        publications_.TellStoreFailure(d);
    }
}

void PublishSession::RunOver()
{
    --threads_alive_;
    if (threads_alive_ > 0) {
        return;
    }
    if (after_run_) {
        std::function<void()> next = std::move(after_run_);
        after_run_ = nullptr;
        if (!shutting_down_) {
            next();
        }
    }
    ReportShutDownWhenIdle();
}

void PublishSession::Stop()
{
    core_->flags.StopRequested = true;
}

void PublishSession::AfterRun(std::function<void()> next)
{
    if (shutting_down_) {
        return;
    }
    if (threads_alive_ == 0) {
        next();
        return;
    }
    after_run_ = std::move(next);
}

void PublishSession::Shutdown()
{
    shutting_down_ = true;
    core_->flags.StopRequested = true;
    ReportShutDownWhenIdle();
}

void PublishSession::ReportShutDownWhenIdle()
{
    if (shutting_down_ && !shut_down_reported_ && !Busy()) {
        shut_down_reported_ = true;
        observer_.SessionShutDown();
    }
}

}  // namespace vantrel
