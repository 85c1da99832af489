#include "storage/DUN.h"

#include <gtest/gtest.h>

#include "tests/support/PlatformFakes.h"

namespace vantrel {
namespace {

std::vector<std::string> Entries(int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
        names.push_back("Entry " + std::to_string(i));
    }
    return names;
}

TEST(DUNTest, WithoutEntriesThereIsNoListAtAll)
{
    EXPECT_FALSE(GetDialUpEntryNames().has_value());
    testing::FakePhoneBook empty({});
    EXPECT_FALSE(GetDialUpEntryNames().has_value());
    EXPECT_EQ(1, empty.Enumerations());
}

TEST(DUNTest, TheBufferDoublesFromEightRecordsUntilEveryEntryFits)
{
    struct Case
    {
        int entries;
        int enumerations;  // 8, 16, 32, 64 records
    };
    const Case kCases[] = {{1, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}, {40, 4}};
    for (const auto& c : kCases) {
        testing::FakePhoneBook book(Entries(c.entries));
        const auto names = GetDialUpEntryNames();
        ASSERT_TRUE(names.has_value()) << c.entries;
        EXPECT_EQ(Entries(c.entries), *names) << c.entries;
        EXPECT_EQ(c.enumerations, book.Enumerations()) << c.entries;

        std::vector<platform::RasEntryName> buffer;
        EXPECT_EQ(c.entries, EnumDialUpEntries(&buffer)) << c.entries;
    }
}

TEST(DUNTest, ANameOfTheFullFieldWidthComesBackWhole)
{
    const std::string longest(256, 'w');
    testing::FakePhoneBook book({"short", longest});
    const auto names = GetDialUpEntryNames();
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ((std::vector<std::string>{"short", longest}), *names);
}

}  // namespace
}  // namespace vantrel
