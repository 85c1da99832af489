#include "sync/SyncLogFileOutput.h"

#include <csignal>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/DateTime.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

class QelSyncLogFileOutputTest : public ::testing::Test
{
protected:
    std::unique_ptr<QelSyncLogFileOutput> Log(uint8_t options, const std::string& name = "v.log")
    {
        return std::make_unique<QelSyncLogFileOutput>(sandbox_.SystemPath(name), options);
    }

    // One run: every text as an error, then the end of the run.
    // A run as the publishing session makes one: begun, its lines, its end.
    void Run(QelSyncLogFileOutput* log, std::initializer_list<const char*> texts)
    {
        log->StartRun();
        for (const char* text : texts) {
            log->Report(QelSyncStatus{}, kMsgError, text);
        }
        log->Finished(QelSyncStatus{});
    }

    bool Exists(const std::string& name = "v.log")
    {
        return std::filesystem::exists(sandbox_.Path(name));
    }
    std::string Read(const std::string& name = "v.log") { return sandbox_.ReadFile(name); }

    testing::TestSandbox sandbox_;
};

TEST_F(QelSyncLogFileOutputTest, EachMessageIsOneLineWithItsTemplateAndPrefix)
{
    {
        auto log = Log(0);
        log->Write(kMsgInformation, "Reason: newer");
        log->Write(kMsgWarning, "x");
        log->Write(kMsgError, "Failed to delete directory: \\sub");
        log->Report(QelSyncStatus{}, kMsgCopyingFile, "a.htm");
        log->WriteEvent(kMsgScanFolder);
    }
    EXPECT_EQ(
        "Reason: newer\r\n"
        "!! Warning: x\r\n"
        "!! Error: Failed to delete directory: /sub\r\n"
        "Copying file a.htm\r\n"
        "Scanning folder: .\r\n",
        Read());
}

TEST_F(QelSyncLogFileOutputTest, WithoutAppendEachRunLeavesOnlyItsOwnLines)
{
    sandbox_.WriteFile("v.log", "an older run\r\n");
    auto log = Log(0);
    EXPECT_FALSE(log->IsOpen());
    EXPECT_EQ("an older run\r\n", Read());
    Run(log.get(), {"first 1", "first 2"});
    EXPECT_FALSE(log->IsOpen());
    EXPECT_EQ("!! Error: first 1\r\n!! Error: first 2\r\n", Read());
    Run(log.get(), {"second"});
    EXPECT_EQ("!! Error: second\r\n", Read());
}

TEST_F(QelSyncLogFileOutputTest, AppendCreatesAMissingFileAndKeepsEarlierRuns)
{
    auto log = Log(QelSyncLogFileOutput::kAppend);
    EXPECT_EQ(QelSyncLogFileOutput::kAppend, log->Options());
    Run(log.get(), {"first"});
    EXPECT_EQ("!! Error: first\r\n", Read());
    Run(log.get(), {"second"});
    EXPECT_EQ("!! Error: first\r\n!! Error: second\r\n", Read());
}

TEST_F(QelSyncLogFileOutputTest, FlushAndCloseOfANeverOpenedLogDoNothing)
{
    sandbox_.WriteFile("kept.log", "kept\r\n");
    {
        auto log = Log(0, "kept.log");
        log->Flush();
        log->Close();
        log->Finished(QelSyncStatus{});
        EXPECT_FALSE(log->IsOpen());
    }
    EXPECT_EQ("kept\r\n", Read("kept.log"));
    Log(0)->Flush();
    EXPECT_FALSE(Exists());
}

TEST_F(QelSyncLogFileOutputTest, FlushPutsBufferedLinesInTheFileWhileItStaysOpen)
{
    auto log = Log(0);
    log->Write(kMsgError, "now");
    log->Flush();
    EXPECT_TRUE(log->IsOpen());
    EXPECT_EQ("!! Error: now\r\n", Read());
}

TEST_F(QelSyncLogFileOutputTest, TimeStampsPrecedeTheLineInTheCurrentSettings)
{
    const platform::FormatSettings saved = platform::GetFormatSettings();
    platform::SetFormatSettings(platform::FormatSettings{});
    double before = 0;
    platform::SystemTime now;
    platform::GetLocalTime(&now);
    ASSERT_TRUE(platform::TryEncodeDateTime(now.year, now.month, now.day, now.hour, now.minute,
                                            now.second, 0, &before));
    Run(Log(QelSyncLogFileOutput::kTimeStamps).get(), {"boom"});
    const std::string line = Read();
    std::smatch match;
    // The time is left out when the stamp falls exactly on midnight.
    ASSERT_TRUE(std::regex_match(
        line, match, std::regex(R"(^(\d\d/\d\d/\d{4}(?: \d\d:\d\d:\d\d)?) !! Error: boom\r\n$)")))
        << line;
    double stamp = 0;
    ASSERT_TRUE(platform::TryParseDateTime(match[1].str(), &stamp)) << line;
    EXPECT_GE(stamp, before) << line;
    EXPECT_LT(stamp - before, 60.0 / 86400.0) << line;
    platform::SetFormatSettings(saved);
}

TEST_F(QelSyncLogFileOutputTest, AFileThatCannotBeCreatedDropsLinesAndIsTriedAgain)
{
    auto log = Log(0, "missing/v.log");
    EXPECT_FALSE(log->EnsureOpen());
    log->Write(kMsgError, "lost");
    EXPECT_FALSE(log->IsOpen());
    sandbox_.MakeFolder("missing");
    log->Write(kMsgError, "kept");
    EXPECT_TRUE(log->IsOpen());
    log->Close();
    EXPECT_EQ("!! Error: kept\r\n", Read("missing/v.log"));
}

TEST_F(QelSyncLogFileOutputTest, AFullDiskClosesTheFileAndTheNextWriteOpensItAgain)
{
    QelSyncLogFileOutput log("\\dev\\full", 0);
    log.Write(kMsgError, "buffered");
    EXPECT_TRUE(log.IsOpen());
    log.Flush();
    EXPECT_FALSE(log.IsOpen());
    // Lines beyond the buffer fail inside Write itself.
    const std::string long_text(10000, 'x');
    for (int i = 0; i < 10; ++i) {
        log.Write(kMsgError, long_text);
    }
    log.Write(kMsgError, "again");
    EXPECT_TRUE(log.IsOpen());
    log.Finished(QelSyncStatus{});
    EXPECT_FALSE(log.IsOpen());
}

TEST_F(QelSyncLogFileOutputTest, AfterAWriteFailureTheRunsEarlierLinesAreKept)
{
    auto log = Log(0);
    log->Write(kMsgError, "early");
    log->Flush();
    // A file size limit fails the next flush part way, as a full disk would.
    rlimit saved_limit{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved_limit));
    const auto saved_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_limit;
    small.rlim_cur = 64;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    log->Write(kMsgError, std::string(200, 'x'));
    log->Flush();
    const bool open_after_failure = log->IsOpen();
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved_limit));
    std::signal(SIGXFSZ, saved_handler);
    EXPECT_FALSE(open_after_failure);

    log->Write(kMsgError, "late");
    log->Finished(QelSyncStatus{});
    const std::string content = Read();
    EXPECT_TRUE(content.starts_with("!! Error: early\r\n")) << content;
    EXPECT_TRUE(content.ends_with("!! Error: late\r\n")) << content;

    // The next run starts a fresh file again.
    Run(log.get(), {"next"});
    EXPECT_EQ("!! Error: next\r\n", Read());
}

// A device freed after the run's end says goodbye: its lines join the run's, which stay.
TEST_F(QelSyncLogFileOutputTest, LinesAfterTheRunsEndJoinItsLines)
{
    auto log = Log(0);
    Run(log.get(), {"the run"});
    log->Write(kMsgInformation, "Disconnected.");
    log->Flush();
    EXPECT_EQ("!! Error: the run\r\nDisconnected.\r\n", Read());
    Run(log.get(), {"the next run"});
    EXPECT_EQ("!! Error: the next run\r\n", Read());
}

// A Publish All as the session writes it: one file from its start, each web site's lines after
// its heading, a site that wrote nothing without one; a site that failed before its run (the
// file closed) does not empty it for the next.
TEST_F(QelSyncLogFileOutputTest, SectionsShareTheFileEachAfterItsHeading)
{
    sandbox_.WriteFile("v.log", "an older publish\r\n");
    auto log = Log(0);
    log->StartRun();
    log->StartSection("Publishing A");
    log->Write(kMsgError, "refused");
    log->Close();
    log->StartSection("Publishing B");
    log->StartSection("Publishing C");
    log->Report(QelSyncStatus{}, kMsgCopyingFile, "c.htm");
    log->Finished(QelSyncStatus{});
    log->Write(kMsgInformation, "Disconnected.");
    log->Flush();
    EXPECT_EQ(
        "Publishing A\r\n"
        "!! Error: refused\r\n"
        "Publishing C\r\n"
        "Copying file c.htm\r\n"
        "Disconnected.\r\n",
        Read());
    Run(log.get(), {"next publish"});
    EXPECT_EQ("!! Error: next publish\r\n", Read());
}

}  // namespace
}  // namespace vantrel
