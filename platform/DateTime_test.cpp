#include "platform/DateTime.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "tests/support/TestSandbox.h"

namespace vantrel::platform {
namespace {

constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;

TEST(DateTimeTest, FileTimeConvertsToCalendarFields)
{
    struct Case
    {
        uint64_t value;
        SystemTime expected;
    };
    const Case kCases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {kUnixEpochFileTime, {1970, 1, 4, 1, 0, 0, 0, 0}},
        // 29 February 2000 23:59:59.999, a leap day in a century year.
        {kUnixEpochFileTime + (951868799ULL * 1000 + 999) * 10000,
         {2000, 2, 2, 29, 23, 59, 59, 999}},
    };
    for (const auto& c : kCases) {
        SystemTime st;
        ASSERT_TRUE(FileTimeToSystemTime(FileTime::FromValue(c.value), &st)) << c.value;
        EXPECT_EQ(c.expected.year, st.year) << c.value;
        EXPECT_EQ(c.expected.month, st.month) << c.value;
        EXPECT_EQ(c.expected.day_of_week, st.day_of_week) << c.value;
        EXPECT_EQ(c.expected.day, st.day) << c.value;
        EXPECT_EQ(c.expected.hour, st.hour) << c.value;
        EXPECT_EQ(c.expected.minute, st.minute) << c.value;
        EXPECT_EQ(c.expected.second, st.second) << c.value;
        EXPECT_EQ(c.expected.milliseconds, st.milliseconds) << c.value;
    }
}

TEST(DateTimeTest, CalendarFieldsRoundTripThroughFileTime)
{
    std::mt19937_64 random(7);
    for (int i = 0; i < 2000; ++i) {
        // Whole milliseconds, which is what the calendar fields keep.
        const uint64_t value = (random() % (uint64_t{1} << 62)) / 10000 * 10000;
        SystemTime st;
        ASSERT_TRUE(FileTimeToSystemTime(FileTime::FromValue(value), &st));
        FileTime back;
        ASSERT_TRUE(SystemTimeToFileTime(st, &back));
        EXPECT_EQ(value, back.Value());
    }
}

TEST(DateTimeTest, OutOfRangeValuesAreRefused)
{
    SystemTime st;
    EXPECT_FALSE(FileTimeToSystemTime(FileTime{0, 0x80000000u}, &st));
    EXPECT_EQ(kErrorInvalidParameter, GetLastError());

    FileTime ft;
    EXPECT_FALSE(SystemTimeToFileTime({2001, 2, 0, 29, 0, 0, 0, 0}, &ft));   // no 29 February
    EXPECT_FALSE(SystemTimeToFileTime({1600, 12, 0, 31, 0, 0, 0, 0}, &ft));  // before 1601
    EXPECT_FALSE(SystemTimeToFileTime({2001, 1, 0, 1, 24, 0, 0, 0}, &ft));
    EXPECT_FALSE(SystemTimeToFileTime({2001, 1, 0, 1, 0, 0, 0, 1000}, &ft));
}

TEST(DateTimeTest, LocalFileTimeUsesTheOffsetInForceNow)
{
    testing::ScopedTimeZone zone("XYZ-3");  // three hours east of UTC
    EXPECT_EQ(3 * 3600, LocalOffsetSecondsNow());
    FileTime local;
    ASSERT_TRUE(FileTimeToLocalFileTime(FileTime::FromValue(kUnixEpochFileTime), &local));
    EXPECT_EQ(kUnixEpochFileTime + 3ULL * 3600 * 10'000'000, local.Value());
    FileTime utc;
    ASSERT_TRUE(LocalFileTimeToFileTime(local, &utc));
    EXPECT_EQ(kUnixEpochFileTime, utc.Value());
    // Before 1601 there is nothing to go back to.
    EXPECT_FALSE(LocalFileTimeToFileTime(FileTime{}, &utc));
}

TEST(DateTimeTest, DateTimesCountDaysFromThe30thOfDecember1899)
{
    struct Case
    {
        int y, mo, d, h, mi, s, ms;
        double expected;
    };
    const Case kCases[] = {
        {1899, 12, 30, 0, 0, 0, 0, 0.0},
        {1900, 1, 1, 0, 0, 0, 0, 2.0},
        {2000, 1, 1, 12, 0, 0, 0, 36526.5},
        {1899, 12, 29, 6, 0, 0, 0, -1.25},
        {1, 1, 1, 0, 0, 0, 0, -693593.0},
        {9999, 12, 31, 0, 0, 0, 0, 2958465.0},
        {2024, 2, 29, 0, 0, 0, 500, 45351.0 + 500.0 / 86400000.0},
    };
    for (const auto& c : kCases) {
        double dt = -1;
        ASSERT_TRUE(TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms, &dt)) << c.y;
        EXPECT_DOUBLE_EQ(c.expected, dt) << c.y << "-" << c.mo << "-" << c.d;
        SystemTime st;
        ASSERT_TRUE(DecodeDateTime(dt, &st));
        EXPECT_EQ(c.y, st.year);
        EXPECT_EQ(c.mo, st.month);
        EXPECT_EQ(c.d, st.day);
        EXPECT_EQ(c.h, st.hour);
        EXPECT_EQ(c.ms, st.milliseconds);
    }
    double dt = 1;
    EXPECT_FALSE(TryEncodeDateTime(2023, 2, 29, 0, 0, 0, 0, &dt));
    EXPECT_EQ(0.0, dt);
    EXPECT_FALSE(TryEncodeDateTime(10000, 1, 1, 0, 0, 0, 0, &dt));
}

TEST(DateTimeTest, DecodingRoundsToTheMillisecondAcrossMidnight)
{
    double dt = 0;
    ASSERT_TRUE(TryEncodeDateTime(2020, 12, 31, 23, 59, 59, 999, &dt));
    SystemTime st;
    ASSERT_TRUE(DecodeDateTime(dt + 0.4 / 86400000.0, &st));
    EXPECT_EQ(999, st.milliseconds);
    ASSERT_TRUE(DecodeDateTime(dt + 0.6 / 86400000.0, &st));
    EXPECT_EQ(2021, st.year);
    EXPECT_EQ(1, st.month);
    EXPECT_EQ(1, st.day);
    EXPECT_EQ(0, st.hour);
    EXPECT_FALSE(DecodeDateTime(std::nan(""), &st));
}

TEST(DateTimeTest, PackedFileDateKeepsEvenSecondsOfYears1980To2107)
{
    struct Case
    {
        int year, month, day, hour, minute, second, milliseconds;
        bool packs;
        uint16_t dos_date, dos_time;
    };
    const Case kCases[] = {
        {1980, 1, 1, 0, 0, 0, 0, true, 0x0021, 0x0000},
        {2021, 6, 15, 10, 20, 13, 0, true, (41 << 9) | (6 << 5) | 15, (10 << 11) | (20 << 5) | 6},
        {2107, 12, 31, 23, 59, 59, 999, true, (127 << 9) | (12 << 5) | 31,
         (23 << 11) | (59 << 5) | 29},
        {1979, 12, 31, 23, 59, 59, 0, false, 0, 0},
        {2108, 1, 1, 0, 0, 0, 0, false, 0, 0},
    };
    for (const auto& c : kCases) {
        double dt = 0;
        ASSERT_TRUE(TryEncodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second,
                                      c.milliseconds, &dt));
        uint16_t dos_date = 0, dos_time = 0;
        EXPECT_EQ(c.packs, DateTimeToDosDateTime(dt, &dos_date, &dos_time)) << c.year;
        if (!c.packs) {
            EXPECT_EQ(kErrorInvalidParameter, GetLastError()) << c.year;
            continue;
        }
        EXPECT_EQ(c.dos_date, dos_date) << c.year;
        EXPECT_EQ(c.dos_time, dos_time) << c.year;
        FileTime file_time;
        ASSERT_TRUE(DosDateTimeToFileTime(dos_date, dos_time, &file_time)) << c.year;
        SystemTime st;
        ASSERT_TRUE(FileTimeToSystemTime(file_time, &st));
        EXPECT_EQ(c.year, st.year);
        EXPECT_EQ(c.day, st.day);
        EXPECT_EQ(c.minute, st.minute);
        EXPECT_EQ(c.second / 2 * 2, st.second) << c.year;
        EXPECT_EQ(0, st.milliseconds);
    }
}

}  // namespace
}  // namespace vantrel::platform
