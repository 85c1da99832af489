#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Clock readings in the forms the system uses: FILETIME (100-ns units since 1 January 1601),
// calendar fields, and date-time doubles (days since 30 December 1899, time of day as fraction);
// the date and time format settings and the formatting and parsing of date-times by them.
namespace vantrel::platform {

struct FileTime
{
    uint32_t low = 0;
    uint32_t high = 0;

    uint64_t Value() const { return (uint64_t{high} << 32) | low; }
    static FileTime FromValue(uint64_t value)
    {
        return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
    }
    bool operator==(const FileTime&) const = default;
};

// Calendar fields of one clock reading; day_of_week counts from Sunday = 0.
struct SystemTime
{
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day_of_week = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// Fails (invalid parameter) for values at or above 2^63, which the calendar does not reach.
bool FileTimeToSystemTime(const FileTime& file_time, SystemTime* system_time);
// Fails (invalid parameter) unless every field is in range (years 1601 to 30827); day_of_week
// is ignored.
bool SystemTimeToFileTime(const SystemTime& system_time, FileTime* file_time);

// Shift between UTC and local file time by the zone offset in force now, not the one in force at
// the reading's own date: files listed in summer and winter move by the same amount.
bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local);
bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc);

// The zone offset in force now, in seconds east of UTC.
int64_t LocalOffsetSecondsNow();

void GetSystemTime(SystemTime* utc);
void GetLocalTime(SystemTime* local);

// The date-time of calendar fields with milliseconds; false (and 0) unless the fields form a
// valid date of years 1 to 9999 and a valid time. Before 30 December 1899 the time of day counts
// away from zero, so -1.25 is 29 December 1899, 06:00.
bool TryEncodeDateTime(int year,
                       int month,
                       int day,
                       int hour,
                       int minute,
                       int second,
                       int milliseconds,
                       double* date_time);

// Calendar fields of a date-time, rounded to the millisecond; false outside years 1 to 9999.
bool DecodeDateTime(double date_time, SystemTime* fields);

// The packed file date of a local date-time as FAT keeps it: in dos_date the years since 1980
// (bits 9 to 15), month (5 to 8) and day (0 to 4); in dos_time the hour (11 to 15), minute (5 to
// 10) and seconds halved (0 to 4), so an odd second falls to the even one below. False (invalid
// parameter) outside years 1980 to 2107.
bool DateTimeToDosDateTime(double date_time, uint16_t* dos_date, uint16_t* dos_time);

// The file time of a packed date and time, in the same clock (local for a file date); false
// (invalid parameter) when a field is out of range.
bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, FileTime* file_time);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// The date and time formats, in the token language of FormatDateTime; "/" and ":" in them stand
// for the two separators.
struct FormatSettings
{
    std::string short_date_format = "dd/mm/yyyy";
    std::string long_time_format = "hh:nn:ss";
    char date_separator = '/';
    char time_separator = ':';

    bool operator==(const FormatSettings&) const = default;
};

// The settings that a locale's date and time patterns (strftime's D_FMT and T_FMT) translate
// into. A pattern that has no translation (day or month names, a 12-hour clock, a field missing)
// leaves its half at the default. Two-digit years become four, so a date keeps its century when
// it is read back.
FormatSettings FormatSettingsFromStrftime(std::string_view date_pattern,
                                          std::string_view time_pattern);

// The settings of the user's LC_TIME (LC_ALL, then LC_TIME, then LANG); the defaults when that is
// unset, "C", "POSIX" or a locale that is not installed.
FormatSettings FormatSettingsFromLocale();

// The settings every call below uses: those of the locale, read at first use, until replaced.
// Safe to call from any thread.
FormatSettings GetFormatSettings();
void SetFormatSettings(const FormatSettings& settings);
std::string ShortDateFormat();
std::string LongTimeFormat();

// A date-time in the given format. Tokens, in either letter case: "c" the short date, then a
// blank and the long time unless the time of day is exactly midnight; "d" "dd" day, "m" "mm"
// month, "yy" "yyyy" year, "h" "hh" hour, "n" "nn" minute, "s" "ss" second, "z" "zzz"
// millisecond (the longer forms pad with zeros; a run of one letter counts as the longest of its
// forms that it reaches, and "y" as "yy"); "/" the date separator, ":" the time separator; text
// in double or single quotes as it stands; any other character as it stands. Empty for a
// date-time outside years 1 to 9999.
std::string FormatDateTime(std::string_view format, double date_time);

// Reads a date-time as FormatDateTime("c", ...) writes it with the current settings, to the
// second; a date alone is midnight. False (and 0) for any other text.
bool TryParseDateTime(std::string_view text, double* date_time);

}  // namespace vantrel::platform
