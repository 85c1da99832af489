#pragma once

#include <cstdint>

// Clock readings in the forms the system uses: FILETIME (100-ns units since 1 January 1601),
// calendar fields, and date-time doubles (days since 30 December 1899, time of day as fraction).
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

}  // namespace vantrel::platform
