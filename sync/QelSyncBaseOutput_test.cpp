#include "sync/QelSyncBaseOutput.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/RecordingOutput.h"

namespace vantrel {
namespace {

using Log = std::vector<std::string>;

TEST(QelSyncBaseOutputTest, ReportUpdatesTheStatusBeforeWritingOnce)
{
    testing::RecordingLog log;
    const auto out = log.Sink("out");
    QelSyncStatus status;
    status.FilesCopied = 3;
    out->Report(status, kMsgCopyingFile, "a.htm");
    EXPECT_EQ((Log{"out accepts 14", "out status 3", "out write 14 a.htm"}), log.Take());
}

TEST(QelSyncBaseOutputTest, ATypeTheSinkDoesNotAcceptIsNeitherStatusNorText)
{
    testing::RecordingLog log;
    const auto out = log.Sink("out");
    out->refused = {kMsgNoCopyNeeded};
    out->Report(QelSyncStatus{}, kMsgNoCopyNeeded, "a.htm");
    EXPECT_EQ((Log{"out accepts 5"}), log.Take());
    out->WriteEvent(kMsgConnectionEstablished);
    EXPECT_EQ((Log{"out write 13 "}), log.Take());
}

TEST(QelSyncBaseOutputTest, TheBaseSinkAcceptsEveryType)
{
    QelSyncBaseOutput out;
    for (int type = 0; type < 256; ++type) {
        EXPECT_TRUE(out.Accepts(static_cast<QelSyncMessageType>(type)));
    }
    out.Report(QelSyncStatus{}, kMsgError, "nothing happens");
}

TEST(QelSyncBaseOutputTest, FormatMessageFillsEachTemplate)
{
    struct Case
    {
        int type;
        const char* text;
        std::string expected;
    };
    const Case kCases[] = {
        {1, "\\src\\a", "Scanning source folder: /src/a"},
        {2, "\\dst\\a", "Scanning target folder: /dst/a"},
        {3, "", "Scanning folder: ."},
        {3, "\\sub", "Scanning folder: /sub"},
        {4, "\\dst\\old", "Scanning folder: /dst/old prior to deleting it"},
        {5, "a.htm", "File a.htm does not need copying."},
        {6, "\\old", "Marking folder /old for later deletion."},
        {7, "\\old.htm", "Marking file /old.htm for later deletion."},
        {8, "\\x", "Ignoring folder /x"},
        {9, "\\x", "Obsolete folder /x"},
        {10, "\\x.htm", "Obsolete file /x.htm"},
        {13, "anything", "Connection established."},
        {14, "a.htm", "Copying file a.htm"},
        {15, "Page.htm", "Renaming Page.htm"},
        {16, "page.htm", "Renaming to page.htm"},
        {17, "\\dst", "Creating folder /dst"},
        {18, "\\dst\\x", "Deleting file /dst/x"},
        {19, "\\dst\\d", "Deleting folder /dst/d"},
        {20, "100% done %s %d", "100% done %s %d"},
        {21, "verbose", "verbose"},
        {24, "careful", "careful"},
        {27, "broken", "broken"},
        {27, "Failed to copy ftp:\\\\host\\a.htm", "Failed to copy ftp://host/a.htm"},
        {11, "eleven", "eleven"},
        {0, "zero", "zero"},
        {255, "high", "high"},
        {14, "50%s off", "Copying file 50%s off"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected,
                  QelSyncBaseOutput::FormatMessage(static_cast<QelSyncMessageType>(c.type), c.text))
            << c.type;
    }
}

TEST(QelSyncBaseOutputTest, ClassesCoverExactlyTheirRanges)
{
    for (int t = 0; t < 256; ++t) {
        const auto type = static_cast<QelSyncMessageType>(t);
        EXPECT_EQ(t >= 1 && t <= 10, QelSyncBaseOutput::IsScanMessage(type)) << t;
        EXPECT_EQ(t >= 13 && t <= 21, QelSyncBaseOutput::IsActionMessage(type)) << t;
        EXPECT_EQ(t == 24, QelSyncBaseOutput::IsWarningMessage(type)) << t;
        EXPECT_EQ(t == 27, QelSyncBaseOutput::IsErrorMessage(type)) << t;
    }
}

}  // namespace
}  // namespace vantrel
