#include "publishing/PublishSession.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/Threads.h"
#include "publishing/PublicationInfo.h"
#include "storage/FtpStorage.h"
#include "tests/support/Concurrency.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using testing::kPatience;

// Enough pages that a run is still going when its first log text arrives.
constexpr int kFiles = 200;

// Notes what the session reports, and acts on it where a test asks.
class RecordingObserver : public IPublishSessionObserver
{
public:
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        if (kind == kQueueError) {
            errors.push_back(queue.ReadError());
        }
        if (kind == kQueueLogText && on_first_log_text) {
            auto act = std::move(on_first_log_text);
            on_first_log_text = nullptr;
            act();
        }
    }
    void RunStarting(QelPublication& d) override { Note("starting " + d.GetName()); }
    void Connecting(QelPublication&) override { Note("connecting"); }
    void Connected(QelPublication&) override { Note("connected"); }
    void PublisherStarted(QelPublication&, bool started) override
    {
        Note(started ? "thread" : "no thread");
    }
    void RunFinished(QelPublication& d, const QelSyncStatus&, RunOutcome outcome) override
    {
        outcomes.push_back(outcome);
        Note("finished " + d.GetName());
        if (on_finished) {
            const std::function<void()> act = on_finished;
            act();
        }
    }
    void SessionShutDown() override { Note("shut down"); }

    void Note(const std::string& event) { events.push_back(event); }
    bool Saw(const std::string& event) const
    {
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    std::vector<std::string> events;
    std::vector<std::string> errors;
    std::vector<RunOutcome> outcomes;
    std::function<void()> on_first_log_text;
    std::function<void()> on_finished;
};

class PublishSessionTest : public ::testing::Test
{
protected:
    PublishSessionTest()
    {
        for (int i = 0; i < kFiles; ++i) {
            sandbox_.WriteFile("site/page" + std::to_string(i) + ".html",
                               "<p>" + std::to_string(i));
        }
        sandbox_.MakeFolder("published");
    }

    QelPublication& AddSite(const std::string& name)
    {
        EXPECT_TRUE(list_.AddNew(name, sandbox_.SystemPath("site"),
                                 sandbox_.SystemPath("published/" + name), "", "", "", 0, false,
                                 false));
        sandbox_.MakeFolder("published/" + name);
        return *list_.FindByName(name);
    }

    bool ServeUntil(const std::function<bool()>& done)
    {
        return platform::ServeSynchronizeUntil(done, kPatience);
    }

    bool Idle() { return !session_.Busy(); }

    // The definition as the next start reads it.
    static std::unique_ptr<QelPublication> Stored(const std::string& name)
    {
        QelPublicationList stored;
        auto d = std::make_unique<QelPublication>();
        if (const QelPublication* read = stored.FindByName(name)) {
            d->Assign(*read);
        }
        return d;
    }

    testing::ScopedConfigHome config_;
    testing::TestSandbox sandbox_;
    QelPublicationList list_;
    RecordingObserver observer_;
    PublishSession session_{observer_, list_};
};

TEST_F(PublishSessionTest, ARunIsRecordedInTheDefinitionAndStoredOnceItsThreadHasGone)
{
    QelPublication& d = AddSite("One");
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    ASSERT_TRUE(ServeUntil([&] { return Idle(); }));

    EXPECT_EQ((std::vector<std::string>{"starting One", "connecting", "connected", "thread",
                                        "finished One"}),
              observer_.events);
    EXPECT_EQ(std::vector<RunOutcome>{RunOutcome::kPublished}, observer_.outcomes);
    const auto stored = Stored("One");
    EXPECT_EQ(StatusPublished, stored->Status);
    EXPECT_EQ(kFiles, stored->WebFileCount);
    EXPECT_NE(0, stored->LastPublished);
}

TEST_F(PublishSessionTest, StopDuringARunRecordsItInterruptedAndStoresIt)
{
    QelPublication& d = AddSite("One");
    observer_.on_first_log_text = [&] { session_.Stop(); };
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    ASSERT_TRUE(ServeUntil([&] { return Idle(); }));

    EXPECT_EQ(std::vector<RunOutcome>{RunOutcome::kInterrupted}, observer_.outcomes);
    EXPECT_EQ(StatusInterrupted, list_.FindByName("One")->Status);
    EXPECT_EQ("Cancelled by user.", list_.FindByName("One")->LastErrorText);
    EXPECT_EQ(StatusInterrupted, Stored("One")->Status);
    EXPECT_EQ("Cancelled by user.", Stored("One")->LastErrorText);
}

// A server that never greets: Stop ends the opening at once, whatever the time-outs, and the run
// is interrupted without a publisher thread.
TEST_F(PublishSessionTest, StopWhileTheDestinationOpensInterruptsTheRunAtOnce)
{
    testing::ScriptedFtpServer server;
    server.HoldGreeting();
    QelPublication& d = AddSite("One");
    d.Server = "127.0.0.1";
    d.FtpPort = server.Port();
    d.ConnectionTimeout = 60;
    d.GeneralTimeout = 60;
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    const auto start = std::chrono::steady_clock::now();
    // The Stop button's request is one atomic store; here it comes from a thread of its own,
    // while the main thread serves the session.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session_.Stop();
    });
    const bool ended = ServeUntil([&] { return !observer_.outcomes.empty() && Idle(); });
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    server.Release();
    ASSERT_TRUE(ended);
    EXPECT_LT(took, std::chrono::milliseconds(2300));
    EXPECT_EQ(std::vector<RunOutcome>{RunOutcome::kInterrupted}, observer_.outcomes);
    EXPECT_FALSE(observer_.Saw("thread"));
    EXPECT_EQ(StatusInterrupted, Stored("One")->Status);
}

TEST_F(PublishSessionTest, TheNextRunOfPublishAllStartsOnlyOnceThePreviousThreadHasFreedItsDevices)
{
    QelPublication& first = AddSite("A");
    QelPublication& second = AddSite("B");
    bool finishing = false;
    bool next_ran_inside_the_finish = false;
    bool busy_when_next_ran = true;
    observer_.on_finished = [&] {
        if (observer_.outcomes.size() > 1) {
            return;
        }
        finishing = true;
        session_.AfterRun([&] {
            next_ran_inside_the_finish = finishing;
            busy_when_next_ran = session_.Busy();
            EXPECT_EQ(PublishSession::StartResult::kOpening, session_.Start(second, true, false));
        });
        finishing = false;
    };
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(first, true, false));
    ASSERT_TRUE(ServeUntil([&] { return observer_.outcomes.size() == 2 && Idle(); }));

    EXPECT_FALSE(next_ran_inside_the_finish);
    EXPECT_FALSE(busy_when_next_ran);
    EXPECT_EQ("starting B", observer_.events[5]);
}

TEST_F(PublishSessionTest, ShutdownDuringARunReportsShutDownAfterTheRunAndStartsNothingMore)
{
    QelPublication& d = AddSite("One");
    observer_.on_first_log_text = [&] { session_.Shutdown(); };
    bool next_ran = false;
    observer_.on_finished = [&] { session_.AfterRun([&] { next_ran = true; }); };
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    ASSERT_TRUE(ServeUntil([&] { return observer_.Saw("shut down"); }));

    EXPECT_FALSE(session_.Busy());
    EXPECT_FALSE(next_ran);
    EXPECT_EQ("shut down", observer_.events.back());
    EXPECT_EQ(StatusInterrupted, d.Status);
    EXPECT_EQ(StatusInterrupted, Stored("One")->Status);
}

// The window is shown the run's errors; the session records the last of them itself.
TEST_F(PublishSessionTest, AFailedRunRecordsTheLastErrorItReported)
{
    QelPublication& d = AddSite("One");
    // The destination folder cannot be made: a file holds its parent's place.
    sandbox_.WriteFile("blocker", "a file where a folder goes");
    d.Server = sandbox_.SystemPath("blocker/One");
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    ASSERT_TRUE(ServeUntil([&] { return Idle(); }));

    ASSERT_EQ(std::vector<RunOutcome>{RunOutcome::kFailed}, observer_.outcomes);
    ASSERT_FALSE(observer_.errors.empty());
    EXPECT_EQ(observer_.errors.back(), d.LastErrorText);
    EXPECT_EQ(observer_.errors.back(), Stored("One")->LastErrorText);
}

// In a Publish All, a run that fails having written no error (a file it cannot read, passed over
// with a warning) keeps its own last error, never the error of the web site before it.
TEST_F(PublishSessionTest, ARunThatFailsWithoutAnErrorKeepsItsOwnLastError)
{
    sandbox_.MakeFolder("unreadable");
    std::filesystem::create_symlink(sandbox_.Path("nowhere"), sandbox_.Path("unreadable/gone"));
    QelPublication& first = AddSite("A");
    QelPublication& second = AddSite("B");
    first.Source = second.Source = sandbox_.SystemPath("unreadable");
    second.LastErrorText = "Lost the line";
    observer_.on_finished = [&] {
        if (observer_.outcomes.size() == 1) {
            session_.AfterRun([&] {
                ASSERT_EQ(PublishSession::StartResult::kOpening,
                          session_.Start(second, true, false));
                // Read by the publisher thread, which starts once the destination is open.
                session_.Flags().ContinueAfterErrors = true;
            });
        }
    };
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(first, true, false));
    ASSERT_TRUE(ServeUntil([&] { return observer_.outcomes.size() == 2 && Idle(); }));

    EXPECT_EQ((std::vector<RunOutcome>{RunOutcome::kFailed, RunOutcome::kFailed}),
              observer_.outcomes);
    ASSERT_EQ(1u, observer_.errors.size());
    EXPECT_EQ(observer_.errors.back(), first.LastErrorText);
    EXPECT_EQ("Lost the line", second.LastErrorText);
    EXPECT_EQ("Lost the line", Stored("B")->LastErrorText);
}

// A dot file uploaded to a UNIX server, which may hide it from its listings: the publisher
// thread's device notes it, and the definition keeps it once that thread has gone.
TEST_F(PublishSessionTest, WhatTheDeviceFindsOutAboutTheServerIsStoredWithTheDefinition)
{
    testing::ScriptedFtpServer server;
    QelPublication& d = AddSite("One");
    sandbox_.WriteFile("small/.htaccess", "deny");
    d.Source = sandbox_.SystemPath("small");
    d.Server = "127.0.0.1";
    d.FtpPort = server.Port();
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    ASSERT_TRUE(ServeUntil([&] { return !observer_.outcomes.empty() && Idle(); }))
        << ::testing::PrintToString(observer_.events);

    EXPECT_EQ(std::vector<RunOutcome>{RunOutcome::kPublished}, observer_.outcomes);
    EXPECT_EQ(kDotFilesUploaded, list_.FindByName("One")->DotFileState.Treatment);
    EXPECT_EQ(1, list_.FindByName("One")->DotFileState.DotFilesFound);
    EXPECT_EQ(kDotFilesUploaded, Stored("One")->DotFileState.Treatment);
}

// The server's open finds it lists dot files; a stop that arrives before the session hears of
// the open ends the run, and what the open found is kept all the same.
TEST_F(PublishSessionTest, AStopRightAfterTheOpenKeepsWhatTheOpenFound)
{
    testing::ScriptedFtpServer server;
    server.SetReply("SYST", "215 Windows_NT");
    QelPublication& d = AddSite("One");
    d.Server = "127.0.0.1";
    d.FtpPort = server.Port();
    d.ServerTimeDrift = 1.0 / 24;
    ASSERT_EQ(PublishSession::StartResult::kOpening, session_.Start(d, false, false));
    // The open's end waits in the queue until the main thread serves it.
    ASSERT_TRUE(server.WaitForCommand("SYST", kPatience));
    session_.Stop();
    ASSERT_TRUE(ServeUntil([&] { return !observer_.outcomes.empty() && Idle(); }));

    EXPECT_EQ(std::vector<RunOutcome>{RunOutcome::kInterrupted}, observer_.outcomes);
    EXPECT_FALSE(observer_.Saw("thread"));
    const auto stored = Stored("One");
    for (const QelPublication* kept : {list_.FindByName("One"), stored.get()}) {
        EXPECT_EQ(kDotFilesListed, kept->DotFileState.Treatment);
        EXPECT_EQ(1.0 / 24, kept->ServerTimeDrift);
    }
}

TEST(RecordRunResultTest, EachOutcomeLeavesItsRecord)
{
    struct Case
    {
        RunOutcome outcome;
        TPublicationStatus status;
        std::string last_error;
        bool dated;
        uint8_t treatment;
    };
    const Case kCases[] = {
        {RunOutcome::kPublished, StatusPublished, "", true, kDotFilesUnknown},
        {RunOutcome::kInterrupted, StatusInterrupted, "Cancelled by user.", false,
         kDotFilesUploaded},
        {RunOutcome::kFailed, StatusFailed, "Lost the line", false, kDotFilesUploaded},
    };
    QelSyncStatus st;
    st.SourceFiles = 7;
    st.SourceFolders = 2;
    for (const auto& c : kCases) {
        QelPublication d;
        d.LastErrorText = "Lost the line";
        d.DotFileState.Treatment = kDotFilesUploaded;
        RecordRunResult(d, st, c.outcome, 44000.5);
        RecordServerFindings(d, ServerFindings{d.DotFileState, d.ServerTimeDrift},
                             c.outcome == RunOutcome::kPublished);
        const int index = static_cast<int>(c.outcome);
        EXPECT_EQ(c.status, d.Status) << index;
        EXPECT_EQ(c.last_error, d.LastErrorText) << index;
        EXPECT_EQ(c.dated ? 44000.5 : 0, d.LastPublished) << index;
        EXPECT_EQ(c.dated ? 7 : 0, d.WebFileCount) << index;
        EXPECT_EQ(c.treatment, d.DotFileState.Treatment) << index;
    }
}

TEST(MakeDestinationDeviceTest, TheServerChoosesTheDeviceAndItsAddress)
{
    struct Case
    {
        std::string server;
        bool disk;
        std::string address;
    };
    const Case kCases[] = {
        {"\\srv\\www", true, "\\srv\\www"},
        {"example.org", false, "ftp:\\\\example.org"},
        {"ftp:\\\\example.org\\www", false, "ftp:\\\\example.org\\www"},
        // The root's folder is found alike by both devices, whatever form it was typed in.
        {"ftp:example.org/www", false, "ftp:\\\\example.org\\www"},
        {"Ftp://example.org:2121/www/", false, "ftp:\\\\example.org\\www"},
        {"[::1]:2121\\www", false, "ftp:\\\\[::1]\\www"},
    };
    QelSyncBaseOutput output;
    for (const auto& c : kCases) {
        QelPublication d;
        d.Server = c.server;
        d.DotFileState.DotFilesFound = 3;
        const Destination destination = MakeDestinationDevice(d, output, {});
        ASSERT_NE(nullptr, destination.device) << c.server;
        EXPECT_EQ(c.disk, destination.ftp == nullptr) << c.server;
        EXPECT_EQ(c.address, destination.address) << c.server;
        // A run finds the dot files afresh.
        EXPECT_EQ(c.disk ? 3 : 0, d.DotFileState.DotFilesFound) << c.server;
    }
}

// The offset stored with the definition dates what the device lists; the first upload measures
// it again (here the server's clock is two hours ahead), and the definition takes the new one.
TEST_F(PublishSessionTest, TheServerTimeOffsetGoesFromTheDefinitionToTheDeviceAndBack)
{
    testing::ScriptedFtpServer server;
    const TDateTime server_now = NowDateTime() + 2.0 / 24;
    platform::SystemTime at;
    platform::DecodeDateTime(server_now, &at);
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char line[100];
    std::snprintf(line, sizeof(line), "-rw-r--r-- 1 u g 5 %s %2d %.2d:%.2d a.txt",
                  kMonths[at.month - 1], at.day, at.hour, at.minute);
    server.SetListing({line});
    sandbox_.WriteFile("a.txt", "hello");
    QelPublication d;
    d.Server = "127.0.0.1";
    d.FtpPort = server.Port();
    d.GeneralTimeout = 5;
    d.ServerTimeDrift = 1.0 / 24;
    QelSyncBaseOutput output;
    ServerFindings findings;
    DestinationOptions options;
    options.findings = &findings;
    const Destination destination = MakeDestinationDevice(d, output, options);
    ASSERT_NE(nullptr, destination.ftp);
    ASSERT_TRUE(destination.device->Open(destination.address, "u", "p", ""));

    const auto list = destination.device->ListDirectory(destination.address, "a.txt", false);
    ASSERT_EQ(1, list->Count());
    EXPECT_NEAR(1.0 / 24, list->Items(1)->Date2 - list->Items(1)->Date, 1.0 / 86400);
    ASSERT_TRUE(destination.device->PutFile(sandbox_.SystemPath("a.txt"), destination.address,
                                            "a.txt", true));
    RecordServerFindings(d, findings, true);
    EXPECT_NEAR(2.0 / 24, d.ServerTimeDrift, 70.0 / 86400);
}

// Tells what a connection test reports, in order.
class RecordingTestObserver : public IConnectionTestObserver
{
public:
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        if (kind == kQueueError) {
            events.push_back("error " + queue.ReadError());
        } else if (kind == kQueueLogText) {
            events.push_back("log " + queue.ReadMessage());
        }
    }
    void ConnectionTestEnded(bool passed) override
    {
        events.push_back(passed ? "passed" : "failed");
    }

    std::vector<std::string> events;
};

TEST(ConnectionTestTest, ATestEndsBehindEveryMessageItWroteAndCanBeStopped)
{
    RecordingTestObserver observer;
    ConnectionTest test(observer);
    ASSERT_TRUE(test.Listening());
    const std::atomic<bool>* stop = test.StopRequest();
    ASSERT_TRUE(test.Run([stop](QelSyncBaseOutput& output) {
        output.Write(kMsgError, "refused");
        output.Write(kMsgInformation, "waiting");
        while (!*stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }));
    EXPECT_TRUE(test.Running());
    ASSERT_TRUE(
        platform::ServeSynchronizeUntil([&] { return observer.events.size() == 2; }, kPatience));
    test.Stop();
    ASSERT_TRUE(platform::ServeSynchronizeUntil([&] { return !test.Running(); }, kPatience));

    EXPECT_EQ((std::vector<std::string>{"error refused", "log waiting", "failed"}),
              observer.events);
}

}  // namespace
}  // namespace vantrel
