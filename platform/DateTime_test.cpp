#include "platform/DateTime.h"

#include <cmath>
#include <locale.h>
#include <optional>
#include <random>
#include <string>

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

// Every test starts from the defaults and leaves the settings as it found them.
class DateTimeFormatTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved_ = GetFormatSettings();
        SetFormatSettings(FormatSettings{});
    }
    void TearDown() override { SetFormatSettings(saved_); }

    static double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
    {
        double dt = 0;
        EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, ms, &dt)) << y << "-" << mo << "-" << d;
        return dt;
    }

private:
    FormatSettings saved_;
};

TEST_F(DateTimeFormatTest, TheDefaultsServeWhenTheLocaleIsCOrUnsetOrMissing)
{
    struct Case
    {
        std::optional<std::string> lc_all, lc_time, lang;
    };
    const Case kCases[] = {
        {std::nullopt, std::nullopt, std::nullopt},
        {"C", std::nullopt, "de_DE.UTF-8"},
        {"POSIX", std::nullopt, std::nullopt},
        {"C.UTF-8", std::nullopt, std::nullopt},
        {"", "C", std::nullopt},
        {std::nullopt, std::nullopt, "xx_NOWHERE.UTF-8"},
    };
    for (const auto& c : kCases) {
        vantrel::testing::ScopedEnv lc_all("LC_ALL", c.lc_all);
        vantrel::testing::ScopedEnv lc_time("LC_TIME", c.lc_time);
        vantrel::testing::ScopedEnv lang("LANG", c.lang);
        const FormatSettings settings = FormatSettingsFromLocale();
        EXPECT_EQ("dd/mm/yyyy", settings.short_date_format) << c.lc_all.value_or("-");
        EXPECT_EQ("hh:nn:ss", settings.long_time_format) << c.lc_all.value_or("-");
        EXPECT_EQ('/', settings.date_separator);
        EXPECT_EQ(':', settings.time_separator);
    }
    EXPECT_EQ("dd/mm/yyyy", ShortDateFormat());
    EXPECT_EQ("hh:nn:ss", LongTimeFormat());
}

TEST_F(DateTimeFormatTest, LocalePatternsTranslateIntoTokens)
{
    struct Case
    {
        const char* date_pattern;
        const char* time_pattern;
        FormatSettings expected;
    };
    const Case kCases[] = {
        {"%d.%m.%Y", "%H:%M:%S", {"dd/mm/yyyy", "hh:nn:ss", '.', ':'}},
        // Two-digit years keep their century; a 12-hour clock has no token.
        {"%m/%d/%y", "%r", {"mm/dd/yyyy", "hh:nn:ss", '/', ':'}},
        {"%F", "%T", {"yyyy/mm/dd", "hh:nn:ss", '-', ':'}},
        {"%D", "%H.%M.%S", {"mm/dd/yyyy", "hh:nn:ss", '/', '.'}},
        {"%e/%Om/%EY", "%k:%M:%S Uhr", {"d/mm/yyyy", "h:nn:ss \"U\"\"h\"\"r\"", '/', ':'}},
        {"%Y\xe5\xb9\xb4%m\xe6\x9c\x88%d",
         "%H:%M:%S",
         {"yyyy\xe5\xb9\xb4mm\xe6\x9c\x88"
          "dd",
          "hh:nn:ss", '/', ':'}},
        {"%d-%m-%Y (%%/:)", "%H:%M:%S", {"dd/mm/yyyy (%\"/\"\":\")", "hh:nn:ss", '-', ':'}},
        // No translation: names, a field missing or doubled, a field of the other half.
        {"%e %b %Y", "%H:%M", {"dd/mm/yyyy", "hh:nn:ss", '/', ':'}},
        {"%d/%m", "%H:%M:%S:%S", {"dd/mm/yyyy", "hh:nn:ss", '/', ':'}},
        {"%d/%m/%Y %H", "%d %H:%M:%S", {"dd/mm/yyyy", "hh:nn:ss", '/', ':'}},
        {"%d/%m/%Y%", "%H:%M:%S%", {"dd/mm/yyyy", "hh:nn:ss", '/', ':'}},
    };
    for (const auto& c : kCases) {
        const FormatSettings got = FormatSettingsFromStrftime(c.date_pattern, c.time_pattern);
        EXPECT_EQ(c.expected.short_date_format, got.short_date_format) << c.date_pattern;
        EXPECT_EQ(c.expected.date_separator, got.date_separator) << c.date_pattern;
        EXPECT_EQ(c.expected.long_time_format, got.long_time_format) << c.time_pattern;
        EXPECT_EQ(c.expected.time_separator, got.time_separator) << c.time_pattern;
    }
}

TEST_F(DateTimeFormatTest, FormatDateTimeWritesEachToken)
{
    const double dt = At(2024, 3, 5, 7, 8, 9, 45);
    struct Case
    {
        const char* format;
        const char* expected;
    };
    const Case kCases[] = {
        {"c", "05/03/2024 07:08:09"},
        {"c ", "05/03/2024 07:08:09 "},
        {"d/m/yy h:n:s.z", "5/3/24 7:8:9.45"},
        {"dd mm yyyy hh nn ss zzz", "05 03 2024 07 08 09 045"},
        {"DD-MM-YYYY", "05-03-2024"},
        {"yyyyy ddd", "2024 05"},
        {"\"dd:mm\" 'h/n' x!", "dd:mm h/n x!"},
        {"'unterminated dd", "unterminated dd"},
        {"", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, FormatDateTime(c.format, dt)) << c.format;
    }
    EXPECT_EQ("0001/01/01", FormatDateTime("yyyy/mm/dd", At(1, 1, 1)));
    EXPECT_EQ("", FormatDateTime("c", 3e6));
    EXPECT_EQ("", FormatDateTime("c", std::nan("")));
}

TEST_F(DateTimeFormatTest, SeparatorsAndFormatsComeFromTheSettings)
{
    SetFormatSettings({"yyyy/mm/dd", "h:nn:ss", '-', '.'});
    const double dt = At(1999, 12, 31, 9, 5, 0);
    EXPECT_EQ("1999-12-31 9.05.00", FormatDateTime("c", dt));
    EXPECT_EQ("31-12 9.05", FormatDateTime("dd/mm h:nn", dt));
    // A "c" inside the settings is a letter, not a second expansion.
    SetFormatSettings({"c dd", "hh", '/', ':'});
    EXPECT_EQ("c 31 09", FormatDateTime("c", dt));
}

TEST_F(DateTimeFormatTest, MidnightLeavesTheTimeOut)
{
    EXPECT_EQ("05/03/2024", FormatDateTime("c", At(2024, 3, 5)));
    EXPECT_EQ("05/03/2024 ", FormatDateTime("c ", At(2024, 3, 5)));
    EXPECT_EQ("05/03/2024 00:00:00", FormatDateTime("c", At(2024, 3, 5, 0, 0, 0, 1)));
    EXPECT_EQ("30/12/1899", FormatDateTime("c", 0.0));
}

TEST_F(DateTimeFormatTest, WhatFormattingWritesParsesBackToTheSecond)
{
    const FormatSettings kSettings[] = {
        FormatSettings{},
        {"yyyy/mm/dd", "h:nn:ss", '-', '.'},
        {"d/m/yyyy", "h:n:s", '.', ':'},
        {"mm\"x\"dd\"y\"yyyy", "hh\"h\"nn\"m\"ss", '/', ':'},
    };
    std::mt19937 random(11);
    for (const auto& settings : kSettings) {
        SetFormatSettings(settings);
        for (int i = 0; i < 1000; ++i) {
            const int year = 1 + static_cast<int>(random() % 9999);
            const int month = 1 + static_cast<int>(random() % 12);
            const int day = 1 + static_cast<int>(random() % DaysInMonth(year, month));
            // Every fourth date at midnight, which is written without its time.
            const bool midnight = i % 4 == 0;
            const int hour = midnight ? 0 : static_cast<int>(random() % 24);
            const int minute = midnight ? 0 : static_cast<int>(random() % 60);
            const int second = midnight ? 0 : static_cast<int>(random() % 60);
            const double dt = At(year, month, day, hour, minute, second);
            const std::string text = FormatDateTime("c", dt);
            double back = -1;
            ASSERT_TRUE(TryParseDateTime(text, &back)) << settings.short_date_format << " " << text;
            EXPECT_EQ(dt, back) << text;
            // Milliseconds are not written, so the reading is the whole second.
            ASSERT_TRUE(TryParseDateTime(
                FormatDateTime("c", At(year, month, day, hour, minute, second, 500)), &back));
            EXPECT_EQ(dt, back) << text;
        }
    }
}

TEST_F(DateTimeFormatTest, ParsingRefusesWhatFormattingNeverWrites)
{
    const char* const kTexts[] = {
        "",
        "05/03/2024 07:08",
        "05/03/2024 ",
        "05/03/2024 07:08:09 ",
        " 05/03/2024",
        "5/3/2024",
        "05/03/24",
        "05-03-2024",
        "32/01/2024",
        "29/02/2023",
        "05/13/2024",
        "05/03/2024 24:00:00",
        "05/03/2024 07:60:00",
        "05/03/0000",
        "05/03/2024 07:08:09.123",
    };
    for (const char* text : kTexts) {
        double dt = 1;
        EXPECT_FALSE(TryParseDateTime(text, &dt)) << text;
        EXPECT_EQ(0.0, dt) << text;
    }
}

TEST_F(DateTimeFormatTest, TwoDigitYearsFallWithinFiftyYearsOfNow)
{
    SetFormatSettings({"dd/mm/yy", "hh:nn:ss", '/', ':'});
    SystemTime now;
    GetLocalTime(&now);
    for (const int yy : {0, 24, 49, 50, 75, 99}) {
        const std::string text = "01/06/" + std::string(yy < 10 ? "0" : "") + std::to_string(yy);
        double dt = 0;
        ASSERT_TRUE(TryParseDateTime(text, &dt)) << text;
        SystemTime fields;
        ASSERT_TRUE(DecodeDateTime(dt, &fields));
        EXPECT_EQ(yy, fields.year % 100) << text;
        EXPECT_GE(fields.year, now.year - 50) << text;
        EXPECT_LE(fields.year, now.year + 49) << text;
    }
}

TEST_F(DateTimeFormatTest, AnInstalledLocaleGivesItsOwnFormats)
{
    struct Case
    {
        const char* locale;
        FormatSettings expected;
    };
    const Case kCases[] = {
        {"de_DE.UTF-8", {"dd/mm/yyyy", "hh:nn:ss", '.', ':'}},
        {"en_US.UTF-8", {"mm/dd/yyyy", "hh:nn:ss", '/', ':'}},
        {"sv_SE.UTF-8", {"yyyy/mm/dd", "hh:nn:ss", '-', ':'}},
        {"fi_FI.UTF-8", {"dd/mm/yyyy", "hh:nn:ss", '.', '.'}},
    };
    int tested = 0;
    for (const auto& c : kCases) {
        const locale_t locale = newlocale(LC_TIME_MASK, c.locale, static_cast<locale_t>(0));
        if (locale == static_cast<locale_t>(0)) {
            continue;
        }
        freelocale(locale);
        ++tested;
        vantrel::testing::ScopedEnv lc_all("LC_ALL", std::string(c.locale));
        const FormatSettings settings = FormatSettingsFromLocale();
        EXPECT_EQ(c.expected, settings)
            << c.locale << ": " << settings.short_date_format << " " << settings.long_time_format;
        SetFormatSettings(settings);
        const double dt = At(2031, 11, 2, 13, 4, 5);
        double back = 0;
        EXPECT_TRUE(TryParseDateTime(FormatDateTime("c", dt), &back)) << c.locale;
        EXPECT_EQ(dt, back) << c.locale;
    }
    if (tested == 0) {
        GTEST_SKIP() << "no locale other than C is installed";
    }
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
