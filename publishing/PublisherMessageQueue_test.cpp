#include "publishing/PublisherMessageQueue.h"

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Concurrency.h"

namespace vantrel {
namespace {

using testing::BackgroundCall;
using testing::kPatience;
using testing::Watchdog;
using namespace std::chrono_literals;

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

std::string Drain(TSimplePipe& pipe)
{
    std::string bytes(pipe.BytesAvailable(), '\0');
    size_t read = 0;
    pipe.Pipe().Read(bytes.data(), bytes.size(), &read);
    return bytes;
}

std::vector<int32_t> Counters(const QelSyncStatus& s)
{
    return {s.FilesTotal,     s.FilesDeleted,    s.FilesProcessed, s.FilesCopied,
            s.SourceFiles,    s.SourceFolders,   s.FoldersTotal,   s.FoldersDeleted,
            s.FoldersCreated, s.FoldersProcessed};
}

QelSyncStatus StatusOf(int32_t first)
{
    QelSyncStatus s;
    int32_t* counters[] = {&s.FilesTotal,      &s.FilesDeleted,   &s.FilesProcessed,
                           &s.FilesCopied,     &s.SourceFiles,    &s.SourceFolders,
                           &s.FoldersTotal,    &s.FoldersDeleted, &s.FoldersCreated,
                           &s.FoldersProcessed};
    for (int i = 0; i < 10; ++i) {
        *counters[i] = first + i;
    }
    return s;
}

// One message as a test sends it and expects it back.
struct Message
{
    TPublisherMessageKind kind = kQueueAlive;
    std::string text;
    QelSyncStatus status;
};

void Send(TPublisherMessageQueue& queue, const Message& m)
{
    switch (m.kind) {
        case kQueueError:
            queue.SendError(m.text);
            break;
        case kQueueLogText:
            queue.SendMessage(m.text);
            break;
        case kQueueProgress:
            queue.SendProgress(m.status);
            break;
        case kQueueFinalStatus:
            queue.SendFinalStatus(m.status);
            break;
        default:
            queue.SendAlive();
    }
}

// Reads a message's payload whole.
Message ReadPayload(TPublisherMessageKind kind, TPublisherMessageQueue& queue)
{
    Message m;
    m.kind = kind;
    if (kind == kQueueError) {
        m.text = queue.ReadError();
    } else if (kind == kQueueLogText) {
        m.text = queue.ReadMessage();
    } else if (kind == kQueueProgress || kind == kQueueFinalStatus) {
        queue.ReadStatus(&m.status);
    }
    return m;
}

// Reads a part of the payload only, or reads it as the wrong type.
void ReadPart(TPublisherMessageKind kind, TPublisherMessageQueue& queue, int how)
{
    // Beyond the payload a read would wait for the next message.
    if (how == 0 || kind == kQueueAlive) {
        return;
    }
    if (kind == kQueueProgress || kind == kQueueFinalStatus) {
        for (int i = 0; i < how * 3; ++i) {
            queue.ReadInt();
        }
    } else {
        queue.ReadInt();
    }
}

void ExpectSame(const Message& expected, const Message& got, const std::string& where)
{
    EXPECT_EQ(expected.kind, got.kind) << where;
    EXPECT_EQ(expected.text, got.text) << where;
    EXPECT_EQ(Counters(expected.status), Counters(got.status)) << where;
}

std::vector<Message> RandomMessages(std::mt19937& random, int count, size_t longest_text)
{
    std::vector<Message> messages(count);
    for (auto& m : messages) {
        m.kind = static_cast<TPublisherMessageKind>(random() % 5);
        if (m.kind == kQueueError || m.kind == kQueueLogText) {
            const size_t length = random() % 3 == 0 ? 0 : random() % longest_text;
            for (size_t i = 0; i < length; ++i) {
                m.text.push_back(static_cast<char>(random()));
            }
        } else if (m.kind == kQueueProgress || m.kind == kQueueFinalStatus) {
            m.status = StatusOf(static_cast<int32_t>(random()));
        }
    }
    return messages;
}

TEST(PublisherMessageQueueTest,
     MessagesGoOnTheWireAsKindAndPayloadWithASeparatorBeforeAllButTheFirst)
{
    const std::string kConnected = "Connection established.";
    struct Case
    {
        const char* what;
        bool first;
        Message message;
        std::string expected;
    };
    const Case kCases[] = {
        {"log text, first in the pipe",
         true,
         {kQueueLogText, kConnected, {}},
         Bytes({0x03, 1, 0, 0, 0, 0x04, 23, 0, 0, 0}) + kConnected},
        {"log text",
         false,
         {kQueueLogText, kConnected, {}},
         Bytes({0x01, 0x03, 1, 0, 0, 0, 0x04, 0x17, 0, 0, 0}) + kConnected},
        {"alive", false, {kQueueAlive, "", {}}, Bytes({0x01, 0x03, 4, 0, 0, 0})},
        {"empty error text", false, {kQueueError, "", {}}, Bytes({0x01, 0x03, 0, 0, 0, 0, 0x05})},
        {"progress, the counters in their order",
         false,
         {kQueueProgress, "", StatusOf(1)},
         Bytes({0x01, 0x03, 2, 0, 0, 0, 3, 1, 0, 0, 0, 3, 2, 0, 0,  0, 3, 3, 0,
                0,    0,    3, 4, 0, 0, 0, 3, 5, 0, 0, 0, 3, 6, 0,  0, 0, 3, 7,
                0,    0,    0, 3, 8, 0, 0, 0, 3, 9, 0, 0, 0, 3, 10, 0, 0, 0})},
        {"final status",
         true,
         {kQueueFinalStatus, "", StatusOf(-1)},
         Bytes({0x03, 3, 0, 0, 0, 3, 0xff, 0xff, 0xff, 0xff, 3, 0, 0, 0, 0, 3, 1, 0, 0,
                0,    3, 2, 0, 0, 0, 3,    3,    0,    0,    0, 3, 4, 0, 0, 0, 3, 5, 0,
                0,    0, 3, 6, 0, 0, 0,    3,    7,    0,    0, 0, 3, 8, 0, 0, 0})},
    };
    for (const auto& c : kCases) {
        TPublisherMessageQueue queue;
        if (!c.first) {
            queue.SendAlive();
            Drain(queue);
        }
        Send(queue, c.message);
        EXPECT_EQ(c.expected, Drain(queue)) << c.what;
    }
}

TEST(PublisherMessageQueueTest, AReaderThatLeavesPartOfAMessageStillGetsTheNextKind)
{
    struct Case
    {
        const char* what;
        Message message;
        std::function<void(TPublisherMessageQueue&)> read;
    };
    const Case kCases[] = {
        {"progress, nothing read", {kQueueProgress, "", StatusOf(7)}, [](auto&) {}},
        {"progress, three counters read",
         {kQueueProgress, "", StatusOf(7)},
         [](auto& q) { ReadPart(kQueueProgress, q, 1); }},
        {"log text, nothing read", {kQueueLogText, "text", {}}, [](auto&) {}},
        {"log text read as an integer", {kQueueLogText, "text", {}}, [](auto& q) { q.ReadInt(); }},
        {"error text, read past its end",
         {kQueueError, "e", {}},
         [](auto& q) {
             q.ReadString();
             q.ReadString();
             q.ReadInt();
         }},
    };
    for (const auto& c : kCases) {
        TPublisherMessageQueue queue;
        Send(queue, c.message);
        queue.SendMessage("next");
        ASSERT_EQ(c.message.kind, queue.ReadKind()) << c.what;
        c.read(queue);
        EXPECT_EQ(kQueueLogText, queue.ReadKind()) << c.what;
        EXPECT_EQ("next", queue.ReadMessage()) << c.what;
    }
}

TEST(PublisherMessageQueueTest, AnAliveMessageNeverWaitsAndIsDroppedWhenThePipeIsFull)
{
    TPublisherMessageQueue queue;
    queue.SendMessage(std::string(TSimplePipe::kPipeSize, 'x'));
    const uint32_t full = queue.BytesAvailable();
    BackgroundCall alive([&] { queue.SendAlive(); }, [&] { queue.Close(); });
    ASSERT_TRUE(alive.Returned());
    EXPECT_EQ(full, queue.BytesAvailable());
    Drain(queue);
    queue.SendAlive();
    EXPECT_EQ(Bytes({0x01, 0x03, 4, 0, 0, 0}), Drain(queue));
}

TEST(PublisherMessageQueueTest, TheMainThreadNeverWaitsForRoomWhileOtherWritersDo)
{
    TPublisherMessageQueue queue;
    Watchdog watchdog(kPatience, [&] { queue.Close(); });
    for (int i = 0; i < 3; ++i) {
        queue.SendMessage(std::string(TSimplePipe::kPipeSize, 'a' + i));
    }
    ASSERT_FALSE(watchdog.Fired());
    EXPECT_GT(queue.BytesAvailable(), 3 * TSimplePipe::kPipeSize);
    BackgroundCall other([&] { queue.SendMessage("other"); }, [&] { queue.Close(); });
    EXPECT_FALSE(other.Returned(30ms)) << "a writer other than the main thread did not wait";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(kQueueLogText, queue.ReadKind());
        EXPECT_EQ(std::string(TSimplePipe::kPipeSize, 'a' + i), queue.ReadMessage());
    }
    ASSERT_TRUE(other.Returned());
    ASSERT_EQ(kQueueLogText, queue.ReadKind());
    EXPECT_EQ("other", queue.ReadMessage());
}

TEST(PublisherMessageQueueTest, WritersOnSeveralThreadsNeverInterleaveTheirMessages)
{
    constexpr int kWriters = 3;
    constexpr int kEach = 300;
    TPublisherMessageQueue queue;
    // Should a message be lost, the reader would wait for it; closing the queue frees it.
    Watchdog watchdog(kPatience, [&] { queue.Close(); });
    std::vector<std::unique_ptr<BackgroundCall>> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(std::make_unique<BackgroundCall>(
            [&queue, w] {
                for (int n = 0; n < kEach; ++n) {
                    queue.SendProgress(StatusOf(n));
                    queue.SendMessage(std::to_string(w) + ":" + std::to_string(n) + ":" +
                                      std::string(n % 200, 'p'));
                }
            },
            [&queue] { queue.Close(); }));
    }
    BackgroundCall alive([&queue] {
        for (int n = 0; n < 3000; ++n) {
            queue.SendAlive();
        }
    });
    std::map<int, int> next;  // writer -> next number expected
    int texts = 0;
    while (texts < kWriters * kEach && !queue.EndOfPipe()) {
        const TPublisherMessageKind kind = queue.ReadKind();
        if (kind == kQueueLogText) {
            const std::string text = queue.ReadMessage();
            const int w = std::stoi(text);
            const int n = std::stoi(text.substr(text.find(':') + 1));
            ASSERT_EQ(next[w], n) << text.substr(0, 20);
            ASSERT_EQ(std::to_string(w) + ":" + std::to_string(n) + ":" + std::string(n % 200, 'p'),
                      text);
            ++next[w];
            ++texts;
        } else if (kind == kQueueProgress) {
            QelSyncStatus status;
            queue.ReadStatus(&status);
            ASSERT_EQ(status.FilesTotal + 9, status.FoldersProcessed);
        } else {
            ASSERT_EQ(kQueueAlive, kind);
        }
    }
    EXPECT_EQ(kWriters * kEach, texts);
    EXPECT_FALSE(watchdog.Fired());
}

TEST(PublisherMessageQueueTest, ThePipeOutputSendsEachTypeByItsRules)
{
    struct Case
    {
        int type;
        // What Write sends: "" nothing, else kind and text.
        std::string written;
    };
    const Case kCases[] = {
        {1, ""},
        {2, ""},
        {3, "1 Scanning folder: t"},
        {4, ""},
        {5, ""},
        {6, ""},
        {7, ""},
        {8, ""},
        {9, "1 Obsolete folder t"},
        {10, "1 Obsolete file t"},
        {13, "1 Connection established."},
        {14, "1 Copying file t"},
        {17, "1 Creating folder t"},
        {19, "1 Deleting folder t"},
        {20, "1 t"},
        {21, "1 t"},
        {24, "1 t"},
        {27, "0 t"},
        {0, "1 t"},
        {11, "1 t"},
    };
    const auto sent = [](TPublisherMessageQueue& queue) {
        std::vector<std::string> lines;
        while (queue.BytesAvailable() > 0) {
            const TPublisherMessageKind kind = queue.ReadKind();
            const Message m = ReadPayload(kind, queue);
            lines.push_back(
                std::to_string(kind) + " " +
                (kind == kQueueProgress ? std::to_string(m.status.FilesCopied) : m.text));
        }
        return lines;
    };
    for (const auto& c : kCases) {
        const auto type = static_cast<QelSyncMessageType>(c.type);
        const std::vector<std::string> written =
            c.written.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.written};
        TPublisherMessageQueue queue;
        TOutputToPipe output(queue);
        output.Write(type, "t");
        EXPECT_EQ(written, sent(queue)) << "Write, type " << c.type;
        QelSyncStatus status;
        status.FilesCopied = 42;
        output.Report(status, type, "t");
        std::vector<std::string> reported = {"2 42"};
        reported.insert(reported.end(), written.begin(), written.end());
        EXPECT_EQ(reported, sent(queue)) << "Report, type " << c.type;
    }
}

TEST(PublisherMessageQueueTest, ThePipeOutputThinsProgressButSendsEveryTextAndTheFinalCounters)
{
    constexpr int kReports = 10;
    struct Case
    {
        std::chrono::milliseconds interval;
        // Between two reports of a run.
        std::chrono::milliseconds pause;
        // Progress messages of each of the two runs.
        int progress;
    };
    const Case kCases[] = {
        {0ms, 0ms, kReports},
        {1h, 0ms, 1},
        {1ms, 5ms, kReports},
    };
    for (const auto& c : kCases) {
        const std::string label = "interval " + std::to_string(c.interval.count()) + " ms";
        TPublisherMessageQueue queue;
        TOutputToPipe output(queue, c.interval);
        for (int run = 0; run < 2; ++run) {
            for (int i = 1; i <= kReports; ++i) {
                output.Report(StatusOf(i), kMsgCopyingFile, std::to_string(i));
                std::this_thread::sleep_for(c.pause);
            }
            output.Finished(StatusOf(1000 + run));
        }
        // Each run: its texts in order, the first counters at once, the final counters last.
        for (int run = 0; run < 2; ++run) {
            int progress = 0;
            int texts = 0;
            for (;;) {
                const TPublisherMessageKind kind = queue.ReadKind();
                const Message m = ReadPayload(kind, queue);
                if (kind == kQueueFinalStatus) {
                    EXPECT_EQ(Counters(StatusOf(1000 + run)), Counters(m.status)) << label;
                    break;
                }
                if (kind == kQueueProgress) {
                    // Sent right before its own report's text.
                    EXPECT_EQ(texts + 1, m.status.FilesTotal) << label;
                    ++progress;
                } else {
                    ASSERT_EQ(kQueueLogText, kind) << label;
                    EXPECT_EQ("Copying file " + std::to_string(++texts), m.text) << label;
                }
            }
            EXPECT_EQ(kReports, texts) << label << ", run " << run;
            EXPECT_EQ(c.progress, progress) << label << ", run " << run;
        }
        EXPECT_EQ(0u, queue.BytesAvailable()) << label;
    }
}

// A listener that reads each payload as `read` decides (whole by default) and keeps what it got.
class CollectingListener : public IQueueListener
{
public:
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        got.push_back(read ? read(kind, queue) : ReadPayload(kind, queue));
    }

    std::function<Message(TPublisherMessageKind, TPublisherMessageQueue&)> read;
    std::vector<Message> got;
};

class ListenOnQueueTest : public ::testing::Test
{
protected:
    void Listen()
    {
        thread_ = TListenOnQueue::Create(queue_, listener_);
        ASSERT_NE(nullptr, thread_);
    }

    // Serves synchronised calls until n messages have come.
    bool ServeUntil(size_t n)
    {
        return platform::ServeSynchronizeUntil([&] { return listener_.got.size() >= n; },
                                               kPatience);
    }

    TPublisherMessageQueue queue_;
    CollectingListener listener_;
    // Should the main thread wait in a read, closing the queue frees it and fails the test.
    Watchdog watchdog_{kPatience, [this] { queue_.Close(); }};
    std::unique_ptr<TListenOnQueue> thread_;
};

TEST_F(ListenOnQueueTest, TwentyWaitingMessagesComeInTwoSynchronisedCallsOfThirteenAndSeven)
{
    for (int i = 0; i < 20; ++i) {
        queue_.SendMessage("m" + std::to_string(i));
    }
    Listen();
    ASSERT_TRUE(ServeUntil(1));
    EXPECT_EQ(13u, listener_.got.size());
    ASSERT_TRUE(ServeUntil(14));
    EXPECT_EQ(20u, listener_.got.size());
    for (size_t i = 0; i < listener_.got.size(); ++i) {
        EXPECT_EQ("m" + std::to_string(i), listener_.got[i].text);
    }
}

TEST_F(ListenOnQueueTest, AMessageLeftPartlyUnreadWithNothingBehindItLeavesTheMainThreadFree)
{
    listener_.read = [](TPublisherMessageKind kind, TPublisherMessageQueue&) {
        return Message{kind, "", {}};
    };
    queue_.SendProgress(StatusOf(1));
    Listen();
    ASSERT_TRUE(ServeUntil(1));
    EXPECT_FALSE(watchdog_.Fired());
    queue_.SendFinalStatus(StatusOf(2));
    ASSERT_TRUE(ServeUntil(2));
    EXPECT_EQ(kQueueFinalStatus, listener_.got[1].kind);
    EXPECT_FALSE(watchdog_.Fired());
}

TEST_F(ListenOnQueueTest, RandomMessagesFromAnotherThreadReadInRandomPartsArriveInOrder)
{
    std::mt19937 random(7);
    const auto messages = RandomMessages(random, 3000, 4000);
    std::mt19937 reading(11);
    // The writer ends with a message of a kind of its own, which nothing else sends.
    constexpr auto kEnd = static_cast<TPublisherMessageKind>(99);
    listener_.read = [&](TPublisherMessageKind kind, TPublisherMessageQueue& queue) {
        const int how = kind == kEnd ? 0 : reading() % 3;
        if (how == 2) {
            return ReadPayload(kind, queue);
        }
        ReadPart(kind, queue, how);
        return Message{kind, "(part)", {}};
    };
    Listen();
    BackgroundCall writer(
        [&] {
            for (const auto& m : messages) {
                Send(queue_, m);
            }
            queue_.BeginMessage();
            queue_.WriteInt(kEnd);
        },
        [&] { queue_.Close(); });
    ASSERT_TRUE(platform::ServeSynchronizeUntil(
        [&] { return !listener_.got.empty() && listener_.got.back().kind == kEnd; }, kPatience));
    // The writer waits for room, so no message is dropped, except alive ones when it is full.
    size_t next = 0;
    for (size_t i = 0; i + 1 < listener_.got.size(); ++i) {
        const Message& got = listener_.got[i];
        while (next < messages.size() && messages[next].kind == kQueueAlive &&
               got.kind != kQueueAlive) {
            ++next;
        }
        ASSERT_LT(next, messages.size());
        if (got.text == "(part)") {
            ASSERT_EQ(messages[next].kind, got.kind) << "message " << next;
        } else {
            ExpectSame(messages[next], got, "message " + std::to_string(next));
        }
        ++next;
    }
}

TEST_F(ListenOnQueueTest, TheListenerEndsWhenTheWriteEndIsClosed)
{
    queue_.SendMessage("a");
    queue_.SendProgress(StatusOf(1));
    Listen();
    queue_.CloseWriteEnd();
    ASSERT_TRUE(ServeUntil(2));
    EXPECT_TRUE(thread_->WaitFor(kPatience));
    EXPECT_EQ(2u, listener_.got.size());
}

TEST_F(ListenOnQueueTest, DestroyingTheListenerWhileItsCallWaitsEndsItAndDeliversNothing)
{
    queue_.SendAlive();
    Listen();
    // The listener has taken the message and waits to hand it to the main thread.
    ASSERT_TRUE(testing::WaitUntil([&] { return queue_.BytesAvailable() == 0; }));
    thread_.reset();
    EXPECT_TRUE(listener_.got.empty());
    EXPECT_FALSE(watchdog_.Fired());
}

}  // namespace
}  // namespace vantrel
