#include "sync/SyncFilterOutput.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/RecordingOutput.h"

namespace vantrel {
namespace {

using Log = std::vector<std::string>;

class FilterOutputTest : public ::testing::Test
{
protected:
    std::unique_ptr<testing::RecordingOutput> Sink() { return log_.Sink("s"); }

    // Whether a text of the type gets through the filter to the wrapped sink.
    bool Passes(TGenericFilteredOutput* filter, int type)
    {
        log_.Take();
        filter->Write(static_cast<QelSyncMessageType>(type), "t");
        const bool passed = log_.Take() == Log{"s write " + std::to_string(type) + " t"};
        EXPECT_EQ(passed, filter->Accepts(static_cast<QelSyncMessageType>(type))) << type;
        return passed;
    }

    testing::RecordingLog log_;
};

TEST_F(FilterOutputTest, ByClassDropsTheClassesItsFlagsName)
{
    struct Case
    {
        int32_t flags;
        std::vector<int> passing;
        std::vector<int> dropped;
    };
    const Case kCases[] = {
        {0, {0, 1, 10, 13, 21, 24, 27, 40}, {}},
        {1 | 2 | 4, {0, 11, 12, 22, 23, 24, 27, 40, 255}, {1, 5, 10, 13, 14, 21}},
        {4, {1, 5, 10, 13, 21, 24, 27}, {}},
        {2, {0, 11, 13, 21, 24, 27}, {1, 10}},
        {1, {1, 10, 12, 22, 24, 27}, {13, 20, 21}},
    };
    for (const auto& c : kCases) {
        TQelSyncFilterOutputByClass filter(Sink(), c.flags);
        for (const int type : c.passing) {
            EXPECT_TRUE(Passes(&filter, type)) << "flags " << c.flags << " type " << type;
        }
        for (const int type : c.dropped) {
            EXPECT_FALSE(Passes(&filter, type)) << "flags " << c.flags << " type " << type;
        }
    }
}

TEST_F(FilterOutputTest, ByClassFlagFourKeepsTheTextsAndDropsOnlyTheStatus)
{
    QelSyncStatus status;
    status.FilesCopied = 4;
    {
        TQelSyncFilterOutputByClass filter(Sink(), TQelSyncFilterOutputByClass::kDropStatus);
        EXPECT_FALSE(filter.AcceptsUpdateStatus());
        filter.Report(status, kMsgCopyingFile, "a.htm");
        filter.UpdateStatus(status);
    }
    EXPECT_EQ((Log{"s write 14 a.htm", "s freed"}), log_.Take());
}

TEST_F(FilterOutputTest, ByTypeDropsExactlyTheTypesInItsSet)
{
    {
        TQelSyncFilterOutputByType filter(Sink(), 1u << 5);
        EXPECT_TRUE(Passes(&filter, 4));
        EXPECT_TRUE(Passes(&filter, 6));
        EXPECT_TRUE(Passes(&filter, 40));
        EXPECT_FALSE(Passes(&filter, 5));
        EXPECT_TRUE(filter.AcceptsUpdateStatus());
    }
    TQelSyncFilterOutputByType none(Sink(), 0);
    TQelSyncFilterOutputByType all(Sink(), 0xFFFFFFFFu);
    for (int type = 0; type < 256; ++type) {
        EXPECT_TRUE(Passes(&none, type)) << type;
        EXPECT_EQ(type > 31, Passes(&all, type)) << type;
    }
}

TEST_F(FilterOutputTest, FinishedPassesEveryFilter)
{
    QelSyncStatus status;
    status.FilesCopied = 9;
    std::vector<std::unique_ptr<TGenericFilteredOutput>> filters;
    filters.push_back(std::make_unique<TGenericFilteredOutput>(Sink()));
    filters.push_back(std::make_unique<TQelSyncFilterOutputByClass>(Sink(), 1 | 2 | 4));
    filters.push_back(std::make_unique<TQelSyncFilterOutputByClass>(Sink(), -1));
    filters.push_back(std::make_unique<TQelSyncFilterOutputByType>(Sink(), 0xFFFFFFFFu));
    for (const auto& filter : filters) {
        log_.Take();
        filter->Finished(status);
        EXPECT_EQ((Log{"s finished 9"}), log_.Take());
    }
}

TEST_F(FilterOutputTest, FreeingAFilterFreesTheSinkItWraps)
{
    auto filter = std::make_unique<TQelSyncFilterOutputByClass>(Sink(), 7);
    EXPECT_TRUE(log_.Take().empty());
    filter.reset();
    EXPECT_EQ((Log{"s freed"}), log_.Take());
}

TEST_F(FilterOutputTest, AFilterWithoutASinkStillFiltersAndDropsTheRest)
{
    TQelSyncFilterOutputByType filter(nullptr, 1u << 5);
    EXPECT_FALSE(filter.Accepts(kMsgNoCopyNeeded));
    EXPECT_TRUE(filter.Accepts(kMsgError));
    filter.Report(QelSyncStatus{}, kMsgError, "x");
    filter.Write(kMsgError, "x");
    filter.Finished(QelSyncStatus{});
}

}  // namespace
}  // namespace vantrel
