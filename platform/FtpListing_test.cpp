#include "platform/FtpListing.h"

#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace vantrel::platform {
namespace {

constexpr uint32_t kMissing = 0xFFFFFFFF;

SystemTime At(int year, int month, int day, int hour, int minute, int second = 0)
{
    SystemTime t;
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    t.second = static_cast<uint16_t>(second);
    return t;
}

// The listed time as "yyyy-mm-dd hh:nn:ss", or "none" for a zero file time.
std::string TimeText(const FileTime& time)
{
    if (time.Value() == 0) {
        return "none";
    }
    SystemTime t;
    if (!FileTimeToSystemTime(time, &t)) {
        return "bad";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

struct Sample
{
    const char* family;
    const char* line;
    const char* name;
    uint32_t attributes;
    uint32_t size_high;
    uint32_t size_low;
    const char* time;
    bool without_year;
};

// Lines as servers of several families list them; "now" is 9 December 2026, 05:48.
const Sample kSamples[] = {
    {"pyftpdlib", "-rw-r--r--   1 root     root           12 Dec 09 05:48 a.txt", "a.txt", 0, 0, 12,
     "2026-12-09 05:48:00", true},
    {"pyftpdlib", "drwxr-xr-x   2 root     root         4096 Dec 09 05:40 sub", "sub", 0x10, 0,
     4096, "2026-12-09 05:40:00", true},
    {"vsftpd", "-rw-r--r--    1 102      105             6 Dec 09 05:48 a.txt", "a.txt", 0, 0, 6,
     "2026-12-09 05:48:00", true},
    {"vsftpd", "drwxr-xr-x    2 102      105          4096 Dec 09 05:48 \".x y\"", "\".x y\"", 0x10,
     0, 4096, "2026-12-09 05:48:00", true},
    {"proftpd", "-rw-r--r--   1 ftp      ftp        123456 Jan 12  2005 old.html", "old.html", 0, 0,
     123456, "2005-01-12 00:00:00", false},
    {"GNU ls, SELinux mark", "-rw-r--r--. 1 user group 10 Mar  3 14:02 file", "file", 0, 0, 10,
     "2026-03-03 14:02:00", true},
    {"no group column", "-rw-r--r--   1 owner   1234 Jan 12 10:11 nogroup.txt", "nogroup.txt", 0, 0,
     1234, "2026-01-12 10:11:00", true},
    {"link to a folder", "lrwxrwxrwx   1 u g 7 Jan 12 10:11 www -> public/", "www", 0x410, 0, 7,
     "2026-01-12 10:11:00", true},
    {"link to a file", "lrwxrwxrwx 1 u g 4 Jan 12 2020 latest -> v1.2", "latest", 0x400, 0, 4,
     "2020-01-12 00:00:00", false},
    {"character device", "crw-rw-rw-   1 root     root       1,   3 Jan 12 10:11 null", "null", 0,
     kMissing, kMissing, "2026-01-12 10:11:00", true},
    {"block device", "brw-rw----  1 root disk 8,0 Jan 12 2021 sda", "sda", 0, kMissing, kMissing,
     "2021-01-12 00:00:00", false},
    {"blanks in the name", "-rw-r--r-- 1 u g 10 Jan 12 10:11 my  file .txt ", "my  file .txt ", 0,
     0, 10, "2026-01-12 10:11:00", true},
    {"read-only file", "-r--r--r-- 1 u g 5 Feb 28  2019 locked.txt", "locked.txt", 0x1, 0, 5,
     "2019-02-28 00:00:00", false},
    {"read-only folder", "dr-xr-xr-x 2 u g 512 Feb 28  2019 frozen", "frozen", 0x11, 0, 512,
     "2019-02-28 00:00:00", false},
    {"dot file", "-rw------- 1 u g 99 Jul  4  2022 .htaccess", ".htaccess", 0x2, 0, 99,
     "2022-07-04 00:00:00", false},
    {"dot folder entry", "drwxr-xr-x 5 u g 4096 Jul  4  2022 .", ".", 0x10, 0, 4096,
     "2022-07-04 00:00:00", false},
    {"ISO date", "-rw-r--r-- 1 u g 99 2005-01-12 10:11 iso.txt", "iso.txt", 0, 0, 99,
     "2005-01-12 10:11:00", false},
    {"4 GiB", "-rw-r--r-- 1 u g 4294967296 Jan 12  2024 big.iso", "big.iso", 0, 1, 0,
     "2024-01-12 00:00:00", false},
    {"size beyond 64 bits", "-rw-r--r-- 1 u g 99999999999999999999 Jan 12  2024 huge", "huge", 0,
     kMissing, kMissing, "2024-01-12 00:00:00", false},
    {"seconds in the time", "-rw-r--r-- 1 u g 1 Jan 12 10:11:12 sec.txt", "sec.txt", 0, 0, 1,
     "2026-01-12 10:11:12", true},
    {"IIS folder", "01-12-05  10:11AM       <DIR>          aspnet client", "aspnet client", 0x10, 0,
     0, "2005-01-12 10:11:00", false},
    {"IIS file, afternoon", "01-12-05  10:11PM                 1234 default.htm", "default.htm", 0,
     0, 1234, "2005-01-12 22:11:00", false},
    {"IIS midnight, four-digit year", "12-31-1999  12:00AM      0 y2k.txt", "y2k.txt", 0, 0, 0,
     "1999-12-31 00:00:00", false},
    {"IIS 24-hour clock", "02-03-21  14:05                  567 x.txt", "x.txt", 0, 0, 567,
     "2021-02-03 14:05:00", false},
    {"IIS old year", "06-15-98  09:00AM                   42 .profile", ".profile", 0x2, 0, 42,
     "1998-06-15 09:00:00", false},
    {"VMS header", "Directory DKA0:[WEB]", "Directory DKA0:[WEB]", 0, 0, 0, "none", false},
    {"VMS file", "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)",
     "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)", 0, 0, 0, "none", false},
    {"VMS trailer", "Total of 2 files.", "Total of 2 files.", 0, 0, 0, "none", false},
    {"unknown form", "weird line that no server family writes",
     "weird line that no server family writes", 0, 0, 0, "none", false},
    {"CR LF line end", "-rw-r--r-- 1 u g 3 Jan 12  2024 crlf.txt\r\n", "crlf.txt", 0, 0, 3,
     "2024-01-12 00:00:00", false},
};

TEST(FtpListingTest, ServerFamiliesLinesBecomeTheirRecords)
{
    const SystemTime now = At(2026, 12, 9, 5, 48);
    for (const Sample& s : kSamples) {
        FindData data;
        data.file_id = 77;  // overwritten
        ASSERT_TRUE(ParseListingLine(s.line, now, &data)) << s.family << ": " << s.line;
        EXPECT_EQ(s.name, data.file_name) << s.family;
        EXPECT_EQ(s.attributes, data.attributes) << s.family;
        EXPECT_EQ(s.size_high, data.size_high) << s.family;
        EXPECT_EQ(s.size_low, data.size_low) << s.family;
        EXPECT_EQ(s.time, TimeText(data.last_write_time)) << s.family;
        EXPECT_EQ(s.without_year, data.date_without_year) << s.family;
        EXPECT_EQ(0u, data.file_id) << s.family;
    }
}

TEST(FtpListingTest, LinesThatGiveNoEntry)
{
    const char* kLines[] = {
        "",
        "   ",
        "\r",
        "total 12",
        "total 0",
        "total 1.5K",
        // Names the system could be led astray by.
        "-rw-r--r-- 1 u g 1 Jan  1  2005 a/b",
        "-rw-r--r-- 1 u g 1 Jan  1  2005 ../../etc/passwd",
        "-rw-r--r-- 1 u g 1 Jan  1  2005 back\\slash",
        "-rw-r--r-- 1 u g 1 Jan  1  2005 ..",
        "-rw-r--r-- 1 u g 1 Jan  1  2005 .",
        "lrwxrwxrwx 1 u g 1 Jan  1  2005 .. -> /",
        "01-12-05  10:11AM                 1234 sub\\file.htm",
        "a line naming /etc/passwd",
        "..",
        "a line with a\rcarriage return",
    };
    const SystemTime now = At(2026, 12, 9, 5, 48);
    for (const char* line : kLines) {
        FindData data;
        EXPECT_FALSE(ParseListingLine(line, now, &data)) << line;
    }
    FindData data;
    EXPECT_FALSE(ParseListingLine(std::string_view("a\0b", 3), now, &data));
}

TEST(FtpListingTest, ADateWithoutYearLiesInThePastYearAroundTheNewYear)
{
    struct Case
    {
        SystemTime now;
        const char* date;
        const char* expected;
        bool without_year;
    };
    const Case kCases[] = {
        {At(2025, 1, 2, 10, 0), "Dec 31 23:59", "2024-12-31 23:59:00", true},
        {At(2025, 1, 2, 10, 0), "Jan  2 09:59", "2025-01-02 09:59:00", true},
        {At(2025, 1, 2, 10, 0), "Jan  2 10:00", "2025-01-02 10:00:00", true},
        {At(2025, 1, 2, 10, 0), "Jan  2 10:01", "2024-01-02 10:01:00", true},
        {At(2025, 1, 2, 10, 0), "Jan  1  2025", "2025-01-01 00:00:00", false},
        {At(2025, 1, 2, 10, 0), "Dec 31  2024", "2024-12-31 00:00:00", false},
        {At(2024, 12, 31, 23, 59, 30), "Dec 31 23:59", "2024-12-31 23:59:00", true},
        {At(2024, 12, 31, 23, 59, 30), "Jan  1 00:00", "2024-01-01 00:00:00", true},
        // 2025 has no 29 February: the year before does.
        {At(2025, 3, 1, 8, 0), "Feb 29 12:00", "2024-02-29 12:00:00", true},
        {At(2024, 3, 1, 8, 0), "Feb 29 12:00", "2024-02-29 12:00:00", true},
    };
    for (const Case& c : kCases) {
        const std::string line = std::string("-rw-r--r-- 1 u g 1 ") + c.date + " f";
        FindData data;
        ASSERT_TRUE(ParseListingLine(line, c.now, &data)) << line;
        EXPECT_EQ(c.expected, TimeText(data.last_write_time)) << line;
        EXPECT_EQ(c.without_year, data.date_without_year) << line;
        EXPECT_EQ("f", data.file_name) << line;
    }
}

TEST(FtpListingTest, AnImpossibleDateMakesTheLineAnEntryOfItsOwnName)
{
    const char* kLines[] = {
        "-rw-r--r-- 1 u g 1 Feb 30  2005 f", "-rw-r--r-- 1 u g 1 Jan 12 25:00 f",
        "-rw-r--r-- 1 u g 1 Foo 12  2005 f", "13-12-05  10:11AM      1 f",
        "01-12-05  13:11PM      1 f",
    };
    for (const char* line : kLines) {
        FindData data;
        ASSERT_TRUE(ParseListingLine(line, At(2026, 1, 1, 0, 0), &data)) << line;
        EXPECT_EQ(line, data.file_name);
        EXPECT_EQ(0u, data.last_write_time.Value()) << line;
    }
}

bool Forbidden(const FindData& data)
{
    const std::string& name = data.file_name;
    if (name.empty() || name.find_first_of(std::string("/\\\r\n\0", 5)) != std::string::npos) {
        return true;
    }
    const bool folder = (data.attributes & kFileAttributeDirectory) != 0 &&
                        (data.attributes & kFileAttributeReparsePoint) == 0;
    return !folder && (name == "." || name == "..");
}

TEST(FtpListingTest, RandomLinesNeverCrashNorGiveAForbiddenName)
{
    std::mt19937 random(20261209);
    const std::string kPieces[] = {"-rw-r--r--",
                                   "drwxr-xr-x",
                                   "lrwxrwxrwx",
                                   "crw-rw-rw-",
                                   "1",
                                   "root",
                                   "12",
                                   "4096",
                                   "Jan",
                                   "Dec",
                                   "Feb",
                                   "29",
                                   "31",
                                   "10:11",
                                   "2005",
                                   "->",
                                   "/",
                                   "\\",
                                   ".",
                                   "..",
                                   "<DIR>",
                                   "01-12-05",
                                   "10:11AM",
                                   "total",
                                   "",
                                   " ",
                                   "\r",
                                   "\n",
                                   std::string(1, '\0'),
                                   "a b",
                                   "1,",
                                   "99999999999999999999",
                                   "2005-01-12",
                                   "x/",
                                   ". ",
                                   "PM"};
    const SystemTime now = At(2026, 1, 1, 0, 30);
    for (int i = 0; i < 20000; ++i) {
        std::string line;
        const int pieces = static_cast<int>(random() % 12);
        for (int p = 0; p < pieces; ++p) {
            if (random() % 4 == 0) {
                line += static_cast<char>(random() % 256);
            } else {
                line += kPieces[random() % std::size(kPieces)];
            }
            line += (random() % 3 == 0) ? "  " : " ";
        }
        FindData data;
        if (ParseListingLine(line, now, &data)) {
            EXPECT_FALSE(Forbidden(data)) << '"' << line << '"';
        }
    }
    // Real lines with one character changed.
    for (int i = 0; i < 20000; ++i) {
        std::string line = kSamples[random() % std::size(kSamples)].line;
        line[random() % line.size()] = static_cast<char>(random() % 256);
        FindData data;
        if (ParseListingLine(line, now, &data)) {
            EXPECT_FALSE(Forbidden(data)) << '"' << line << '"';
        }
    }
}

}  // namespace
}  // namespace vantrel::platform
