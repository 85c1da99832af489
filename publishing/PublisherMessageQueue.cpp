#include "publishing/PublisherMessageQueue.h"

namespace vantrel {
namespace {

constexpr int kMoreMessagesPerCall = 12;

std::string StatusItems(const QelSyncStatus& s)
{
    std::string items;
    for (const int32_t counter : {s.FilesTotal, s.FilesDeleted, s.FilesProcessed, s.FilesCopied,
                                  s.SourceFiles, s.SourceFolders, s.FoldersTotal, s.FoldersDeleted,
                                  s.FoldersCreated, s.FoldersProcessed}) {
        TSimplePipe::AppendInt(&items, counter);
    }
    return items;
}

std::string TextItem(const std::string& text)
{
    std::string items;
    TSimplePipe::AppendString(&items, text);
    return items;
}

}  // namespace

void TPublisherMessageQueue::Send(TPublisherMessageKind kind,
                                  const std::string& payload,
                                  bool droppable)
{
    std::string items;
    AppendInt(&items, kind);
    items += payload;
    WriteUnit(true, items, droppable);
}

void TPublisherMessageQueue::SendError(const std::string& text)
{
    Send(kQueueError, TextItem(text), false);
}

void TPublisherMessageQueue::SendMessage(const std::string& text)
{
    Send(kQueueLogText, TextItem(text), false);
}

void TPublisherMessageQueue::SendProgress(const QelSyncStatus& status)
{
    Send(kQueueProgress, StatusItems(status), false);
}

void TPublisherMessageQueue::SendFinalStatus(const QelSyncStatus& status)
{
    Send(kQueueFinalStatus, StatusItems(status), false);
}

void TPublisherMessageQueue::SendAlive()
{
    Send(kQueueAlive, std::string(), true);
}

void TPublisherMessageQueue::SendOpened()
{
    Send(kQueueOpened, std::string(), false);
}

void TPublisherMessageQueue::SendRunOver()
{
    Send(kQueueRunOver, std::string(), false);
}

TPublisherMessageKind TPublisherMessageQueue::ReadKind()
{
    SkipToMessage();
    return static_cast<TPublisherMessageKind>(ReadInt());
}

std::string TPublisherMessageQueue::ReadError()
{
    return ReadString();
}

std::string TPublisherMessageQueue::ReadMessage()
{
    return ReadString();
}

void TPublisherMessageQueue::ReadStatus(QelSyncStatus* status)
{
    for (int32_t* counter :
         {&status->FilesTotal, &status->FilesDeleted, &status->FilesProcessed, &status->FilesCopied,
          &status->SourceFiles, &status->SourceFolders, &status->FoldersTotal,
          &status->FoldersDeleted, &status->FoldersCreated, &status->FoldersProcessed}) {
        *counter = ReadInt();
    }
}

std::unique_ptr<TListenOnQueue> TListenOnQueue::Create(TPublisherMessageQueue& queue,
                                                       IQueueListener& listener)
{
    std::unique_ptr<TListenOnQueue> thread(new TListenOnQueue(queue, listener));
    if (!thread->Start(platform::kThreadPriorityBelowNormal, false)) {
        return nullptr;
    }
    return thread;
}

TListenOnQueue::TListenOnQueue(TPublisherMessageQueue& queue, IQueueListener& listener)
    : queue_(queue)
    , listener_(listener)
{}

TListenOnQueue::~TListenOnQueue()
{
    Terminate();
    queue_.Close();
    WaitFor();
}

void TListenOnQueue::Execute()
{
    while (!Terminated()) {
        kind_ = queue_.ReadKind();
        // The write end is closed: the program is ending, and nothing more will come.
        if (queue_.EndOfPipe()) {
            return;
        }
        platform::Synchronize([this] {
            if (!Terminated()) {
                NotifyListener();
            }
        });
    }
}

void TListenOnQueue::NotifyListener()
{
    listener_.HandleQueueMessage(kind_, queue_);
    for (int more = 0; more < kMoreMessagesPerCall && queue_.MessageWaiting(); ++more) {
        kind_ = queue_.ReadKind();
        listener_.HandleQueueMessage(kind_, queue_);
    }
}

TOutputToPipe::TOutputToPipe(TPublisherMessageQueue& queue,
                             std::chrono::milliseconds progress_interval)
    : queue_(queue)
    , progress_interval_(progress_interval)
{}

void TOutputToPipe::UpdateStatus(const QelSyncStatus& status)
{
    if (progress_interval_.count() > 0) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> hold(progress_lock_);
        if (progress_sent_ && now - *progress_sent_ < progress_interval_) {
            return;
        }
        progress_sent_ = now;
    }
    queue_.SendProgress(status);
}

void TOutputToPipe::Finished(const QelSyncStatus& status)
{
    {
        // The next run's first counters go out at once.
        std::lock_guard<std::mutex> hold(progress_lock_);
        progress_sent_.reset();
    }
    queue_.SendFinalStatus(status);
}

void TOutputToPipe::Write(QelSyncMessageType type, const std::string& text)
{
    if (IsErrorMessage(type)) {
        // The bare text, its paths shown as every other line shows them.
        queue_.SendError(FormatMessage(type, text));
        return;
    }
    if (IsScanMessage(type) && type != kMsgScanFolder && type != kMsgObsoleteFolder &&
        type != kMsgObsoleteFile) {
        return;
    }
    queue_.SendMessage(FormatMessage(type, text));
}

void TOutputToPipe::SendAlive()
{
    queue_.SendAlive();
}

}  // namespace vantrel
