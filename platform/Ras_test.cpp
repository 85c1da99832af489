#include "platform/Ras.h"

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "tests/support/PlatformFakes.h"

namespace vantrel::platform {
namespace {

uint32_t Enumerate(std::vector<RasEntryName>* records, uint32_t* byte_count, uint32_t* count)
{
    (*records)[0].size = sizeof(RasEntryName);
    *byte_count = static_cast<uint32_t>(records->size() * sizeof(RasEntryName));
    return RasEnumEntries(records->data(), byte_count, count);
}

TEST(RasTest, ThisSystemHasNoEntriesAndCannotDial)
{
    std::vector<RasEntryName> records(1);
    uint32_t bytes = 0;
    uint32_t count = 99;
    EXPECT_EQ(0u, Enumerate(&records, &bytes, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(kErrorCannotFindPhonebookEntry, RasDialEntry("Home"));
}

TEST(RasTest, ATooSmallBufferAsksForTheSizeAndABadRecordSizeIsRefused)
{
    testing::FakePhoneBook book({"One", "Two", "Three"});
    std::vector<RasEntryName> records(2);
    uint32_t bytes = 0;
    uint32_t count = 0;
    EXPECT_EQ(kErrorBufferTooSmall, Enumerate(&records, &bytes, &count));
    EXPECT_EQ(3 * sizeof(RasEntryName), bytes);
    EXPECT_EQ(0u, count);

    records.resize(3);
    records[0].size = 0;
    bytes = static_cast<uint32_t>(3 * sizeof(RasEntryName));
    EXPECT_EQ(kErrorInvalidSize, RasEnumEntries(records.data(), &bytes, &count));

    EXPECT_EQ(0u, Enumerate(&records, &bytes, &count));
    ASSERT_EQ(3u, count);
    EXPECT_STREQ("Three", records[2].entry_name);
}

TEST(RasTest, NamesLongerThanTheFieldAreCut)
{
    testing::FakePhoneBook book({std::string(300, 'n')});
    std::vector<RasEntryName> records(1);
    uint32_t bytes = 0;
    uint32_t count = 0;
    ASSERT_EQ(0u, Enumerate(&records, &bytes, &count));
    EXPECT_EQ(std::string(256, 'n'), records[0].entry_name);
}

}  // namespace
}  // namespace vantrel::platform
