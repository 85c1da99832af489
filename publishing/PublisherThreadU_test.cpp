#include "publishing/PublisherThreadU.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "publishing/PublicationInfo.h"
#include "publishing/PublisherMessageQueue.h"
#include "storage/DiskStorage.h"
#include "sync/SyncDualOutput.h"
#include "sync/SyncFilterOutput.h"
#include "tests/support/Concurrency.h"
#include "tests/support/MemoryStorageDevice.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using testing::kPatience;
using testing::MemoryStorageDevice;
using namespace std::chrono_literals;

constexpr uint32_t kDropNoCopyNeeded = 1u << kMsgNoCopyNeeded;
constexpr std::chrono::milliseconds kEveryUpdate{0};
// Far more pages than the pipe holds messages for.
constexpr int kFiles = 300;

// What the devices of every run do, in the order it happens on whichever thread.
class SharedLog
{
public:
    void Note(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(lock_);
        lines_.push_back(line);
    }
    void KeepTree(const std::string& label, std::vector<std::string> tree)
    {
        std::lock_guard<std::mutex> lock(lock_);
        trees_[label] = std::move(tree);
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return lines_;
    }
    std::vector<std::string> Tree(const std::string& label)
    {
        std::lock_guard<std::mutex> lock(lock_);
        return trees_[label];
    }
    // Place of the first line that begins with the prefix, or -1.
    int First(const std::string& prefix)
    {
        const auto lines = Lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind(prefix, 0) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int Count(const std::string& prefix)
    {
        const auto lines = Lines();
        return static_cast<int>(std::count_if(
            lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; }));
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;                         // Guarded by lock_.
    std::map<std::string, std::vector<std::string>> trees_;  // Guarded by lock_.
};

// A memory device that notes its calls in the shared log, and when freed its freeing and the
// tree below its root.
class NotingDevice : public MemoryStorageDevice
{
public:
    NotingDevice(const std::string& label, const std::string& root, SharedLog* shared)
        : MemoryStorageDevice(label, nullptr)
        , label_(label)
        , root_(root)
        , shared_(shared)
    {
        on_call = [shared](const std::string& call) { shared->Note(call); };
    }
    ~NotingDevice() override
    {
        shared_->KeepTree(label_, Tree(root_));
        shared_->Note(label_ + ".freed");
    }

private:
    std::string label_;
    std::string root_;
    SharedLog* shared_;
};

struct Message
{
    TPublisherMessageKind kind;
    std::string text;
    std::vector<int32_t> counters;
};

std::vector<int32_t> Counters(const QelSyncStatus& s)
{
    return {s.FilesTotal,     s.FilesDeleted,    s.FilesProcessed, s.FilesCopied,
            s.SourceFiles,    s.SourceFolders,   s.FoldersTotal,   s.FoldersDeleted,
            s.FoldersCreated, s.FoldersProcessed};
}

Message ReadMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    Message m{kind, "", {}};
    if (kind == kQueueError || kind == kQueueLogText) {
        m.text = queue.ReadString();
    } else if (kind == kQueueProgress || kind == kQueueFinalStatus) {
        QelSyncStatus status;
        queue.ReadStatus(&status);
        m.counters = Counters(status);
    }
    return m;
}

// The main window's part: takes every message whole, and acts on each final status.
class StandInWindow : public IQueueListener
{
public:
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        got.push_back(ReadMessage(kind, queue));
        if (kind == kQueueFinalStatus) {
            ++finals;
            if (on_final) {
                on_final(finals);
            }
        }
    }

    std::vector<Message> got;
    int finals = 0;
    std::function<void(int)> on_final;
};

class PublisherThreadTest : public ::testing::Test
{
protected:
    PublisherThreadTest()
    {
        auto tap = std::make_unique<testing::TapOutput>();
        tap_ = tap.get();
        // As the main window builds it, with the tap where the error log would be, but behind
        // the pipe output so that a held Finished comes after the final status. Every progress
        // update goes out, so that what the window gets can be matched against the run's calls.
        chain_ = std::make_unique<QelSyncDualOutput>(
            std::make_unique<TQelSyncFilterOutputByType>(
                std::make_unique<TOutputToPipe>(queue_, kEveryUpdate), kDropNoCopyNeeded),
            std::move(tap));
        worker_ = std::make_unique<QelSyncBackupWorker>(chain_.get());
    }

    ~PublisherThreadTest() override
    {
        // No run may outlive the worker, the options and the chain.
        flags_.StopRequested = true;
        listener_.reset();
        EXPECT_TRUE(PublisherThread::WaitForRuns(kPatience));
    }

    void Listen()
    {
        listener_ = TListenOnQueue::Create(queue_, window_);
        ASSERT_NE(nullptr, listener_);
    }

    // The devices of run n: a source tree of `files` pages (and a folder of two more) and a
    // destination that holds one obsolete page.
    void MakeDevices(int n, int files)
    {
        auto src = std::make_unique<NotingDevice>("src" + std::to_string(n), "\\src", &shared_);
        src->AddFolder("\\src");
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "\\src\\f%03d.htm", i);
            src->AddFile(name, "page " + std::to_string(i), 10);
        }
        src->AddFolder("\\src\\sub");
        src->AddFile("\\src\\sub\\c.htm", "c", 10);
        src->AddFile("\\src\\sub\\d.htm", "dd", 10);
        auto dst = std::make_unique<NotingDevice>("dst" + std::to_string(n), "\\dst", &shared_);
        dst->AddFolder("\\dst");
        dst->AddFile("\\dst\\old.htm", "old", 5);
        source_ = std::move(src);
        destination_ = std::move(dst);
    }

    // What the main window does to start a publish: the options, then the thread.
    bool Start(const std::string& source_root = "\\src",
               const std::string& destination_root = "\\dst",
               bool create_destination_root = true)
    {
        QelPublication site;
        site.DeleteOldFiles = 1;
        FillSyncFlags(site, false, &flags_);
        flags_.CreateDestinationRoot = create_destination_root;
        return PublisherThread::Create(*worker_, source_root, source_, destination_root,
                                       destination_, flags_);
    }

    // A run of many pages while the main thread serves nothing: the listener holds one message
    // and the run fills the pipe.
    bool StartARunThatFillsThePipe()
    {
        Listen();
        MakeDevices(1, kFiles);
        return Start() &&
               testing::WaitUntil([&] { return InPipe() + 200 > queue_.Pipe().Capacity(); });
    }

    // The bytes in the pipe itself, beside what the reader took from it already.
    size_t InPipe()
    {
        size_t copied = 0;
        size_t waiting = 0;
        queue_.Pipe().Peek(nullptr, 0, &copied, &waiting);
        return waiting;
    }

    bool ServeUntilFinals(int n)
    {
        return platform::ServeSynchronizeUntil([&] { return window_.finals >= n; }, kPatience);
    }

    // The messages the run's calls make through a pipe output of the test's own.
    std::vector<Message> Replayed()
    {
        TPublisherMessageQueue mirror;
        TQelSyncFilterOutputByType output(std::make_unique<TOutputToPipe>(mirror, kEveryUpdate),
                                          kDropNoCopyNeeded);
        for (const auto& call : tap_->Calls()) {
            if (call.what == testing::TapOutput::What::kStatus) {
                output.UpdateStatus(call.status);
            } else if (call.what == testing::TapOutput::What::kText) {
                output.Write(call.type, call.text);
            } else if (call.what == testing::TapOutput::What::kReport) {
                output.Report(call.status, call.type, call.text);
            } else {
                output.Finished(call.status);
            }
        }
        mirror.CloseWriteEnd();
        std::vector<Message> messages;
        for (;;) {
            const TPublisherMessageKind kind = mirror.ReadKind();
            if (mirror.EndOfPipe()) {
                return messages;
            }
            messages.push_back(ReadMessage(kind, mirror));
        }
    }

    static bool Contains(const std::vector<Message>& messages, const std::string& text)
    {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const Message& m) { return m.text == text; });
    }

    void ExpectSameMessages(const std::vector<Message>& expected, const std::vector<Message>& got)
    {
        ASSERT_EQ(expected.size(), got.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(expected[i].kind, got[i].kind) << "message " << i;
            EXPECT_EQ(expected[i].text, got[i].text) << "message " << i;
            EXPECT_EQ(expected[i].counters, got[i].counters) << "message " << i;
        }
    }

    // Every text of the run's reports comes right after a progress message.
    void ExpectProgressBeforeEachText(const std::vector<Message>& messages)
    {
        for (size_t i = 0; i < messages.size(); ++i) {
            if (messages[i].kind == kQueueError || messages[i].kind == kQueueLogText) {
                ASSERT_GT(i, 0u);
                EXPECT_EQ(kQueueProgress, messages[i - 1].kind) << messages[i].text;
            }
        }
    }

    std::vector<std::string> SourceTree(int files)
    {
        std::vector<std::string> tree;
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%03d.htm", i);
            tree.push_back(name);
        }
        tree.insert(tree.end(), {"sub\\", "sub\\c.htm", "sub\\d.htm"});
        std::sort(tree.begin(), tree.end());
        return tree;
    }

    // A small pipe, which a run of a few hundred pages fills.
    TPublisherMessageQueue queue_{8192};
    // Notes every call that reaches the pipe's side of the chain, on the publisher thread.
    testing::TapOutput* tap_;
    std::unique_ptr<QelSyncBaseOutput> chain_;
    QelSyncFlags flags_;
    std::unique_ptr<QelSyncBackupWorker> worker_;
    SharedLog shared_;
    StandInWindow window_;
    std::unique_ptr<QelStorageDevice> source_;
    std::unique_ptr<QelStorageDevice> destination_;
    std::unique_ptr<TListenOnQueue> listener_;
};

TEST_F(PublisherThreadTest, PublishesATreeAndASecondRunStartedAtTheFinalStatusWorksWithFreshDevices)
{
    Listen();
    window_.on_final = [this](int finals) {
        if (finals == 1) {
            // Publish All: the next web site starts as soon as the final status is handled.
            MakeDevices(2, 3);
            EXPECT_TRUE(Start());
        }
    };
    MakeDevices(1, 2);
    ASSERT_TRUE(Start());
    // The devices now belong to the run.
    EXPECT_EQ(nullptr, source_);
    EXPECT_EQ(nullptr, destination_);
    ASSERT_TRUE(ServeUntilFinals(2));
    ASSERT_TRUE(PublisherThread::WaitForRuns(kPatience));
    EXPECT_EQ(0, PublisherThread::Running());

    ExpectSameMessages(Replayed(), window_.got);
    ExpectProgressBeforeEachText(window_.got);
    std::vector<std::vector<int32_t>> finals;
    for (const auto& m : window_.got) {
        if (m.kind == kQueueFinalStatus) {
            finals.push_back(m.counters);
        }
    }
    ASSERT_EQ(2u, finals.size());
    EXPECT_EQ(Counters(worker_->Status()), finals[1]);
    EXPECT_EQ(4, finals[0][3]) << "files copied by the first run";
    EXPECT_EQ(5, finals[1][3]) << "files copied by the second run";
    EXPECT_TRUE(Contains(window_.got, "Scanning folder: ."));
    EXPECT_TRUE(Contains(window_.got, "Copying file f000.htm"));
    EXPECT_TRUE(Contains(window_.got, "Deleting file /dst/old.htm"));

    EXPECT_EQ(SourceTree(2), shared_.Tree("dst1"));
    EXPECT_EQ(SourceTree(3), shared_.Tree("dst2"));
    // The first run freed its devices before the second touched its own.
    const int second_starts = std::min(shared_.First("src2."), shared_.First("dst2."));
    EXPECT_LT(shared_.First("src1.freed"), second_starts);
    EXPECT_LT(shared_.First("dst1.freed"), second_starts);
    EXPECT_EQ(1, shared_.Count("src2.freed"));
    EXPECT_EQ(1, shared_.Count("dst2.freed"));
}

TEST_F(PublisherThreadTest, ARunStartedWhileThePreviousIsStillInTheWorkerWaitsForItToLeave)
{
    Listen();
    tap_->HoldNextFinish();
    bool second_stayed_out = false;
    window_.on_final = [&](int finals) {
        if (finals == 1) {
            MakeDevices(2, 1);
            ASSERT_TRUE(Start());
            // The first run sits in Finished, its devices not yet freed.
            second_stayed_out = !testing::WaitUntil(
                [&] { return shared_.First("src2.") >= 0 || shared_.First("dst2.") >= 0; }, 50ms);
            tap_->Release();
        }
    };
    MakeDevices(1, 1);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(ServeUntilFinals(2));
    ASSERT_TRUE(PublisherThread::WaitForRuns(kPatience));
    EXPECT_TRUE(second_stayed_out);
    const int second_starts = std::min(shared_.First("src2."), shared_.First("dst2."));
    EXPECT_LT(shared_.First("dst1.freed"), second_starts);
    EXPECT_LT(shared_.First("src1.freed"), second_starts);
    EXPECT_EQ(SourceTree(1), shared_.Tree("dst2"));
}

TEST_F(PublisherThreadTest,
       ARunWhoseDestinationRootIsMissingEndsWithItsFinalStatusAndReleasesItself)
{
    Listen();
    MakeDevices(1, 1);
    ASSERT_TRUE(Start("\\src", "\\missing", false));
    ASSERT_TRUE(ServeUntilFinals(1));
    ASSERT_TRUE(PublisherThread::WaitForRuns(kPatience));
    EXPECT_TRUE(flags_.Failed);
    ASSERT_GE(window_.got.size(), 2u);
    EXPECT_EQ(kQueueError, window_.got[window_.got.size() - 2].kind);
    EXPECT_EQ("Destination directory /missing does not exist",
              window_.got[window_.got.size() - 2].text);
    EXPECT_EQ(kQueueFinalStatus, window_.got.back().kind);
    EXPECT_EQ(1, shared_.Count("src1.freed"));
    EXPECT_EQ(1, shared_.Count("dst1.freed"));
}

TEST_F(PublisherThreadTest, ARunThatFillsThePipeWhileTheMainThreadIsBusyWaitsAndLosesNothing)
{
    ASSERT_TRUE(StartARunThatFillsThePipe());
    // The writer waits: the pipe never holds more than its capacity (beside what the reader
    // took from it already), and the run goes no further.
    EXPECT_FALSE(testing::WaitUntil(
        [&] { return InPipe() > queue_.Pipe().Capacity() || PublisherThread::Running() == 0; },
        30ms));
    EXPECT_LT(shared_.Count("dst1.PutFile"), kFiles);
    ASSERT_TRUE(ServeUntilFinals(1));
    ASSERT_TRUE(PublisherThread::WaitForRuns(kPatience));
    ExpectSameMessages(Replayed(), window_.got);
    ExpectProgressBeforeEachText(window_.got);
    EXPECT_EQ(kFiles + 2, window_.got.back().counters[3]);
    EXPECT_EQ(SourceTree(kFiles), shared_.Tree("dst1"));
}

TEST_F(PublisherThreadTest, EndingTheProgramWhileARunWaitsOnAFullPipeEndsTheRunAndTheListener)
{
    ASSERT_TRUE(StartARunThatFillsThePipe());
    // As the main window goes: stop the run, end the listener (which closes the queue), wait.
    flags_.StopRequested = true;
    listener_.reset();
    EXPECT_TRUE(PublisherThread::WaitForRuns(kPatience));
    EXPECT_LT(shared_.Count("dst1.PutFile"), kFiles);
    EXPECT_EQ(1, shared_.Count("dst1.freed"));
    EXPECT_TRUE(window_.got.empty());
}

TEST_F(PublisherThreadTest, PublishesARealTreeThroughDiskDevicesAndAgainAtTheFinalStatus)
{
    testing::TestSandbox sandbox;
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back("area" + std::to_string(i % 4) + "/page" + std::to_string(i) + ".html");
        sandbox.WriteFile("src/" + files.back(), std::string(100 * i, 'a' + i % 26));
    }
    const auto open_devices = [&](const std::string& destination) {
        source_ = std::make_unique<DiskStorageDevice>(chain_.get());
        destination_ = std::make_unique<DiskStorageDevice>(chain_.get());
        EXPECT_TRUE(source_->Open(sandbox.SystemPath("src"), "", "", ""));
        EXPECT_TRUE(destination_->Open(sandbox.SystemPath(destination), "", "", ""));
        return Start(sandbox.SystemPath("src"), sandbox.SystemPath(destination));
    };
    Listen();
    window_.on_final = [&](int finals) {
        if (finals == 1) {
            EXPECT_TRUE(open_devices("dst2"));
        }
    };
    ASSERT_TRUE(open_devices("dst1"));
    ASSERT_TRUE(ServeUntilFinals(2));
    ASSERT_TRUE(PublisherThread::WaitForRuns(kPatience));
    ExpectSameMessages(Replayed(), window_.got);
    ExpectProgressBeforeEachText(window_.got);
    EXPECT_FALSE(flags_.Failed);
    for (const auto& m : window_.got) {
        EXPECT_NE(kQueueError, m.kind) << m.text;
        if (m.kind == kQueueFinalStatus) {
            EXPECT_EQ(40, m.counters[3]) << "files copied";
        }
    }
    EXPECT_EQ(Counters(worker_->Status()), window_.got.back().counters);
    for (const auto& file : files) {
        EXPECT_EQ(sandbox.ReadFile("src/" + file), sandbox.ReadFile("dst1/" + file)) << file;
        EXPECT_EQ(sandbox.ReadFile("src/" + file), sandbox.ReadFile("dst2/" + file)) << file;
    }
}

}  // namespace
}  // namespace vantrel
