#include "sync/SyncDualOutput.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sync/SyncFilterOutput.h"
#include "tests/support/RecordingOutput.h"

namespace vantrel {
namespace {

using Log = std::vector<std::string>;

class QelSyncDualOutputTest : public ::testing::Test
{
protected:
    std::unique_ptr<testing::RecordingOutput> Sink(const std::string& name)
    {
        return log_.Sink(name);
    }
    Log Take() { return log_.Take(); }

    testing::RecordingLog log_;
};

TEST_F(QelSyncDualOutputTest, EveryCallReachesTheFirstSinkThenTheSecond)
{
    QelSyncDualOutput dual(Sink("a"), Sink("b"));
    QelSyncStatus status;
    status.FilesCopied = 2;
    dual.UpdateStatus(status);
    dual.Write(kMsgError, "x");
    dual.Finished(status);
    EXPECT_EQ((Log{"a status 2", "b status 2", "a write 27 x", "b write 27 x", "a finished 2",
                   "b finished 2"}),
              Take());
    // Report is each sink's own, so each asks its own Accepts before both of its steps.
    dual.Report(status, kMsgCopyingFile, "p.htm");
    EXPECT_EQ((Log{"a accepts 14", "a status 2", "a write 14 p.htm", "b accepts 14", "b status 2",
                   "b write 14 p.htm"}),
              Take());
}

TEST_F(QelSyncDualOutputTest, AcceptsAsksTheSecondOnlyWhenTheFirstRefuses)
{
    struct Case
    {
        bool first_refuses;
        bool second_refuses;
        bool expected;
        Log asked;
    };
    const Case kCases[] = {
        {false, false, true, {"a accepts 5"}},
        {false, true, true, {"a accepts 5"}},
        {true, false, true, {"a accepts 5", "b accepts 5"}},
        {true, true, false, {"a accepts 5", "b accepts 5"}},
    };
    for (const auto& c : kCases) {
        auto first = Sink("a");
        auto second = Sink("b");
        if (c.first_refuses) {
            first->refused = {5};
        }
        if (c.second_refuses) {
            second->refused = {5};
        }
        {
            QelSyncDualOutput dual(std::move(first), std::move(second));
            EXPECT_EQ(c.expected, dual.Accepts(kMsgNoCopyNeeded))
                << c.first_refuses << c.second_refuses;
            EXPECT_EQ(c.asked, Take()) << c.first_refuses << c.second_refuses;
        }
        Take();
    }
}

// The main window's chain: scanning messages stay out of the error log, and "does not need
// copying" stays out of the pipe.
TEST_F(QelSyncDualOutputTest, TheMainWindowChainSendsEachMessageWhereItBelongs)
{
    QelSyncDualOutput dual(
        std::make_unique<TQelSyncFilterOutputByClass>(Sink("log"),
                                                      TQelSyncFilterOutputByClass::kDropScanning),
        std::make_unique<TQelSyncFilterOutputByType>(Sink("pipe"), 1u << kMsgNoCopyNeeded));
    EXPECT_FALSE(dual.Accepts(kMsgNoCopyNeeded));
    EXPECT_TRUE(dual.Accepts(kMsgScanFolderBeforeDelete));
    EXPECT_TRUE(dual.Accepts(kMsgCopyingFile));

    QelSyncStatus status;
    status.FilesCopied = 1;
    dual.Report(status, kMsgNoCopyNeeded, "same.htm");
    dual.Report(status, kMsgScanFolder, "\\sub");
    dual.Report(status, kMsgError, "broken");
    dual.Write(kMsgInformation, "device");
    dual.Finished(status);
    EXPECT_EQ((Log{"pipe status 1", "pipe write 3 \\sub", "log status 1", "log write 27 broken",
                   "pipe status 1", "pipe write 27 broken", "log write 20 device",
                   "pipe write 20 device", "log finished 1", "pipe finished 1"}),
              Take());
}

TEST_F(QelSyncDualOutputTest, FreeingTheOutermostSinkFreesTheChainFirstThenSecond)
{
    auto dual = std::make_unique<QelSyncDualOutput>(
        std::make_unique<TQelSyncFilterOutputByType>(
            std::make_unique<QelSyncDualOutput>(Sink("a"), Sink("b")), 0),
        Sink("c"));
    EXPECT_TRUE(Take().empty());
    dual.reset();
    EXPECT_EQ((Log{"a freed", "b freed", "c freed"}), Take());
}

TEST_F(QelSyncDualOutputTest, AMissingSinkAcceptsNothingAndDropsEverything)
{
    QelSyncDualOutput first_missing(nullptr, Sink("b"));
    first_missing.Report(QelSyncStatus{}, kMsgError, "x");
    first_missing.Finished(QelSyncStatus{});
    EXPECT_EQ((Log{"b accepts 27", "b status 0", "b write 27 x", "b finished 0"}), Take());

    QelSyncDualOutput both_missing(nullptr, nullptr);
    EXPECT_FALSE(both_missing.Accepts(kMsgError));
    both_missing.Report(QelSyncStatus{}, kMsgError, "x");
    both_missing.WriteEvent(kMsgConnectionEstablished);
    both_missing.UpdateStatus(QelSyncStatus{});
    both_missing.Finished(QelSyncStatus{});
}

}  // namespace
}  // namespace vantrel
