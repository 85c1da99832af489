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
#include "storage/FtpAddress.h"
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

// Keeps the object until the program ends: for what a thread that outlives its owner still uses.
void KeepForever(std::shared_ptr<void> object)
{
    static auto* kept = new std::vector<std::shared_ptr<void>>;
    kept->push_back(std::move(object));
}

}  // namespace

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

Destination MakeDestinationDevice(QelPublication& d,
                                  QelSyncBaseOutput& output,
                                  const DestinationOptions& options)
{
    Destination destination;
    if (DiskStorageDevice::IsDiskPath(d.Server)) {
        // Nothing to find out: the findings stay what the definition holds.
        if (options.findings != nullptr) {
            *options.findings = ServerFindings{d.DotFileState, d.ServerTimeDrift};
        }
        destination.device = std::make_unique<DiskStorageDevice>(&output);
        destination.address = d.Server;
        return destination;
    }
    d.DotFileState.DotFilesFound = 0;
    TDotFileState* dots = nullptr;
    TDateTime* drift = nullptr;
    if (options.findings != nullptr) {
        *options.findings = ServerFindings{d.DotFileState, d.ServerTimeDrift};
        dots = &options.findings->dot_files;
        drift = &options.findings->time_drift;
    }
    // Read once, as the devices read it; a port written in the address is the port.
    const FtpAddress address = ReadFtpAddress(d.Server);
    const FtpDeviceSettings settings{
        .port = address.port != 0 ? address.port : d.FtpPort,
        .general_timeout = d.GeneralTimeout,
        .connection_timeout = d.ConnectionTimeout,
        .connection_state = options.connection_state,
        .dot_file_state = dots,
        .time_drift = drift,
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
    // Every path of the run starts with this root, and the devices find the folder in it: it is
    // given in the one form they read alike. An address that cannot be read goes as typed, for
    // Open to refuse with its message.
    destination.address = address.valid ? FtpDeviceAddress(address) : d.Server;
    return destination;
}

std::string SettleServerAddress(QelPublication& definition)
{
    if (definition.Server.empty() || DiskStorageDevice::IsDiskPath(definition.Server)) {
        return "";
    }
    const FtpAddress address = ReadFtpAddress(definition.Server);
    if (!address.valid) {
        return address.problem;
    }
    if (address.port != 0) {
        definition.FtpPort = address.port == kStandardFtpPort ? 0 : address.port;
    }
    return "";
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
                     TDateTime start_time,
                     const std::optional<std::string>& run_error)
{
    switch (outcome) {
        case RunOutcome::kInterrupted:
            d.LastErrorText = "Cancelled by user.";
            d.Status = StatusInterrupted;
            return;
        case RunOutcome::kFailed:
            if (run_error) {
                d.LastErrorText = *run_error;
            }
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
}

bool RecordServerFindings(QelPublication& d, const ServerFindings& found, bool published)
{
    const uint8_t treatment = d.DotFileState.Treatment;
    const TDateTime drift = d.ServerTimeDrift;
    d.DotFileState = found.dot_files;
    d.ServerTimeDrift = found.time_drift;
    // A dot file announced but never seen in a listing: the treatment is found afresh.
    if (published && d.DotFileState.Treatment == kDotFilesUploaded &&
        d.DotFileState.DotFilesFound == 0) {
        d.DotFileState.Treatment = kDotFilesUnknown;
    }
    return d.DotFileState.Treatment != treatment || d.ServerTimeDrift != drift;
}

void RunErrorCatcher::Write(QelSyncMessageType type, const std::string& text)
{
    if (type == kMsgError) {
        // As the queue carries it, its paths shown as every other line shows them.
        std::string shown = FormatMessage(type, text);
        std::lock_guard<std::mutex> hold(lock_);
        last_error_ = std::move(shown);
    }
}

bool RunErrorCatcher::Accepts(QelSyncMessageType type)
{
    return type == kMsgError;
}

void RunErrorCatcher::Clear()
{
    std::lock_guard<std::mutex> hold(lock_);
    last_error_.reset();
}

std::optional<std::string> RunErrorCatcher::LastError() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return last_error_;
}

// One run of a session, from its start until what its destination found out about the server is
// in the definition. The run's publisher thread holds it too, and hands it back through `ended`
// once it has freed the devices.
struct PublishSession::Run
{
    // Main thread.
    std::string site;
    bool published = false;
    // The destination device's thread while it has the device, then the main thread.
    ServerFindings findings;
};

// Built in the order every message takes: the error log first, the queue second, the catcher of
// the run's last error third.
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
        auto catcher = std::make_unique<RunErrorCatcher>();
        errors = catcher.get();
        output = std::make_unique<QelSyncDualOutput>(
            std::make_unique<QelSyncDualOutput>(std::make_unique<TQelSyncFilterOutputByClass>(
                                                    std::move(log), kErrorLogDroppedClasses),
                                                std::move(to_queue)),
            std::move(catcher));
    }

    TPublisherMessageQueue queue;
    TOutputToPipe* pipe = nullptr;              // owned by output
    QelSyncLogFileOutput* error_log = nullptr;  // owned by output
    RunErrorCatcher* errors = nullptr;          // owned by output
    std::unique_ptr<QelSyncBaseOutput> output;
    std::shared_ptr<IFtpAliveInterface> alive;
    QelSyncFlags flags;
    TFtpPersistentInformation connection_state;
    std::unique_ptr<QelSyncBackupWorker> worker;
    // The run being started or under way; its destination device keeps its findings in it.
    std::shared_ptr<Run> run;
    // The devices of the run being started, until the publisher thread takes them.
    std::unique_ptr<QelStorageDevice> source;
    Destination destination;
    std::unique_ptr<QueuedWork> opener;
    // Written by the opener thread before it sends kQueueOpened, read after it arrives.
    std::atomic<bool> opened{false};
    std::atomic<uint32_t> last_error{0};
    // The runs whose publisher thread has freed its devices, each handed over by its thread
    // before it sends kQueueRunOver. Guarded by lock.
    std::mutex lock;
    std::vector<std::shared_ptr<Run>> ended;
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

// Emptied now, not at the first line: after a publish that wrote nothing, the file holds nothing
// of an earlier one.
void PublishSession::BeginErrorLog()
{
    core_->error_log->StartRun();
    core_->error_log->EnsureOpen();
}

PublishSession::StartResult PublishSession::Start(QelPublication& d,
                                                  bool publishing_all,
                                                  bool turbo)
{
    assert(platform::IsMainThread());
    Core& c = *core_;
    c.run = std::make_shared<Run>();
    c.run->site = d.GetName();
    DestinationOptions options;
    options.publishing_all = publishing_all;
    options.findings = &c.run->findings;
    options.connection_state = &c.connection_state;
    options.alive = c.alive;
    options.stop = &c.flags.StopRequested;
    c.destination = MakeDestinationDevice(d, *c.output, options);

    if (!d.Connection.empty() && publishing_all) {
        TFtpPersistentInformation& state = c.connection_state;
        if (!state.IsConnected() &&
            (platform::InternetAttemptConnect(0) != 0 || !state.IsConnected())) {
            AbandonRun(false);
            return StartResult::kNotConnected;
        }
        if (state.ConnectionName() != d.Connection) {
            AbandonRun(false);
            return StartResult::kOtherConnection;
        }
    }

    FillSyncFlags(d, turbo, &c.flags);
    c.error_log->StartSection("Publishing " + d.GetName());
    c.errors->Clear();
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
        d.LastErrorText = c.errors->LastError().value_or(d.LastErrorText);
        AbandonRun(true);
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
    auto opener = std::make_unique<QueuedWork>(c.queue, [core, user, password, connection] {
        Destination& destination = core->destination;
        core->opened = destination.device->Open(destination.address, user, password, connection);
        core->last_error = destination.device->GetLastError();
    });
    if (!opener->Start(platform::kThreadPriorityNormal, false)) {
        c.opened = false;
        c.last_error = platform::GetLastError();
        OpenReturned();
        return;
    }
    c.opener = std::move(opener);
}

void PublishSession::EndRun(QelPublication& d,
                            const QelSyncStatus& status,
                            RunOutcome outcome,
                            TDateTime start_time)
{
    core_->run->published = outcome == RunOutcome::kPublished;
    RecordRunResult(d, status, outcome, start_time, core_->errors->LastError());
    Store(d);
    core_->error_log->Flush();
    observer_.RunFinished(d, status, outcome);
}

void PublishSession::Store(QelPublication& d)
{
    if (!publications_.Update(d.GetName(), d)) {
        publications_.TellStoreFailure(d);
    }
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
    opening_ = false;
    QelPublication& d = *current_;
    // What the open found out (the server's type tells how it lists dot files) is in the
    // definition while the run goes on, as it is when the run goes no further.
    RecordServerFindings(d, c.run->findings, false);
    observer_.ConnectingEnded();
    if (shutting_down_) {
        AbandonRun(false);
        ReportShutDownWhenIdle();
        return;
    }
    if (c.flags.StopRequested) {
        // Stopped while the destination opened: the run ends interrupted, as a stop during the
        // run does, and no publisher thread starts (its worker would forget the stop).
        AbandonRun(false);
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
        AbandonRun(true);
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
    // The publishing status is stored before the thread starts.
    const bool stored = publications_.Update(d.GetName(), d);
    Core* core = &c;
    std::shared_ptr<Run> run = c.run;
    const std::string address = c.destination.address;
    const auto ended = [core, run] {
        {
            std::lock_guard<std::mutex> hold(core->lock);
            core->ended.push_back(run);
        }
        core->queue.SendRunOver();
    };
    if (!PublisherThread::Create(*c.worker, d.Source, c.source, address, c.destination.device,
                                 c.flags, ended)) {
        d.Status = StatusFailed;
        d.LastErrorText = "The publishing thread could not be started.";
        Store(d);
        AbandonRun(true);
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

void PublishSession::AbandonRun(bool close_error_log)
{
    Core& c = *core_;
    if (close_error_log) {
        c.error_log->Close();
    }
    c.source.reset();
    c.destination = {};
}

void PublishSession::RunOver()
{
    std::vector<std::shared_ptr<Run>> ended;
    {
        std::lock_guard<std::mutex> hold(core_->lock);
        ended.swap(core_->ended);
    }
    // The definition is looked up again: once its final counters were in, the user was free to
    // delete or rename the web site.
    for (const std::shared_ptr<Run>& run : ended) {
        QelPublication* d = publications_.FindByName(run->site);
        if (d != nullptr && RecordServerFindings(*d, run->findings, run->published)) {
            Store(*d);
        }
    }
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

struct ConnectionTest::Core
{
    TPublisherMessageQueue queue;
    TOutputToPipe output{queue};
    std::atomic<bool> stop{false};
    std::unique_ptr<QueuedWork> thread;
    // Written by the test's thread before it sends kQueueOpened, read after it arrives.
    std::atomic<bool> passed{false};
};

ConnectionTest::ConnectionTest(IConnectionTestObserver& observer)
    : observer_(observer)
    , core_(std::make_unique<Core>())
{
    listener_ = TListenOnQueue::Create(core_->queue, *this);
}

ConnectionTest::~ConnectionTest()
{
    core_->stop = true;
    // Closes the queue: the test's thread, should it still write, returns at once.
    listener_.reset();
    if (running_) {
        KeepForever(std::shared_ptr<Core>(std::move(core_)));
    }
}

const std::atomic<bool>* ConnectionTest::StopRequest() const
{
    return &core_->stop;
}

bool ConnectionTest::Run(std::function<bool(QelSyncBaseOutput& output)> work)
{
    assert(platform::IsMainThread());
    Core* core = &*core_;
    core->stop = false;
    auto thread = std::make_unique<QueuedWork>(
        core->queue, [core, work = std::move(work)] { core->passed = work(core->output); });
    if (!thread->Start(platform::kThreadPriorityNormal, false)) {
        return false;
    }
    core->thread = std::move(thread);
    running_ = true;
    return true;
}

void ConnectionTest::Stop()
{
    core_->stop = true;
}

void ConnectionTest::HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    assert(platform::IsMainThread());
    if (kind != kQueueOpened) {
        observer_.HandleQueueMessage(kind, queue);
        return;
    }
    // The thread has nothing left to do but return.
    core_->thread.reset();
    running_ = false;
    observer_.ConnectionTestEnded(core_->passed);
}

}  // namespace vantrel
