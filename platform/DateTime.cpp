#include "platform/DateTime.h"

#include <cmath>
#include <ctime>
#include <time.h>

#include "platform/Errors.h"

namespace vantrel::platform {
namespace {

constexpr uint64_t kTicksPerMillisecond = 10'000;
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86'400;
constexpr int64_t kMillisecondsPerDay = 86'400'000;

// Days from 1 January 1970 of a proleptic Gregorian civil date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp + (mp < 10 ? 3 : -9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

// 1 January 1601 and 30 December 1899 counted from 1 January 1970.
const int64_t kFileTimeEpochDays = DaysFromCivil(1601, 1, 1);
const int64_t kDateTimeEpochDays = DaysFromCivil(1899, 12, 30);

uint16_t DayOfWeek(int64_t days_from_1970)
{
    // 1 January 1970 was a Thursday.
    const int64_t w = (days_from_1970 + 4) % 7;
    return static_cast<uint16_t>(w < 0 ? w + 7 : w);
}

bool ValidTime(int hour, int minute, int second, int milliseconds)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           milliseconds >= 0 && milliseconds < 1000;
}

bool ValidDate(int year, int month, int day)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ShiftFileTime(const FileTime& in, int64_t seconds, FileTime* out)
{
    const int64_t value = static_cast<int64_t>(in.Value());
    const int64_t shifted = value + seconds * static_cast<int64_t>(kTicksPerSecond);
    if (value < 0 || shifted < 0) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    *out = FileTime::FromValue(static_cast<uint64_t>(shifted));
    return true;
}

void FillFromTimespec(const timespec& ts, bool local, SystemTime* fields)
{
    std::tm tm{};
    if (local) {
        localtime_r(&ts.tv_sec, &tm);
    } else {
        gmtime_r(&ts.tv_sec, &tm);
    }
    fields->year = static_cast<uint16_t>(tm.tm_year + 1900);
    fields->month = static_cast<uint16_t>(tm.tm_mon + 1);
    fields->day_of_week = static_cast<uint16_t>(tm.tm_wday);
    fields->day = static_cast<uint16_t>(tm.tm_mday);
    fields->hour = static_cast<uint16_t>(tm.tm_hour);
    fields->minute = static_cast<uint16_t>(tm.tm_min);
    fields->second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    fields->milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1'000'000);
}

}  // namespace

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool FileTimeToSystemTime(const FileTime& file_time, SystemTime* system_time)
{
    const uint64_t value = file_time.Value();
    if (value >= (uint64_t{1} << 63)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const int64_t days = static_cast<int64_t>(value / kTicksPerDay) + kFileTimeEpochDays;
    const uint64_t in_day = value % kTicksPerDay;
    int64_t y, m, d;
    CivilFromDays(days, &y, &m, &d);
    system_time->year = static_cast<uint16_t>(y);
    system_time->month = static_cast<uint16_t>(m);
    system_time->day = static_cast<uint16_t>(d);
    system_time->day_of_week = DayOfWeek(days);
    const uint64_t ms = in_day / kTicksPerMillisecond;
    system_time->hour = static_cast<uint16_t>(ms / 3'600'000);
    system_time->minute = static_cast<uint16_t>(ms / 60'000 % 60);
    system_time->second = static_cast<uint16_t>(ms / 1000 % 60);
    system_time->milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& st, FileTime* file_time)
{
    if (st.year < 1601 || st.year > 30827 || !ValidDate(st.year, st.month, st.day) ||
        !ValidTime(st.hour, st.minute, st.second, st.milliseconds)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const int64_t days = DaysFromCivil(st.year, st.month, st.day) - kFileTimeEpochDays;
    const uint64_t ms =
        ((uint64_t{st.hour} * 60 + st.minute) * 60 + st.second) * 1000 + st.milliseconds;
    *file_time =
        FileTime::FromValue(static_cast<uint64_t>(days) * kTicksPerDay + ms * kTicksPerMillisecond);
    return true;
}

int64_t LocalOffsetSecondsNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_gmtoff;
}

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local)
{
    return ShiftFileTime(utc, LocalOffsetSecondsNow(), local);
}

bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc)
{
    return ShiftFileTime(local, -LocalOffsetSecondsNow(), utc);
}

void GetSystemTime(SystemTime* utc)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    FillFromTimespec(ts, false, utc);
}

void GetLocalTime(SystemTime* local)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    FillFromTimespec(ts, true, local);
}

bool TryEncodeDateTime(int year,
                       int month,
                       int day,
                       int hour,
                       int minute,
                       int second,
                       int milliseconds,
                       double* date_time)
{
    *date_time = 0;
    if (year < 1 || year > 9999 || !ValidDate(year, month, day) ||
        !ValidTime(hour, minute, second, milliseconds)) {
        return false;
    }
    const double date = static_cast<double>(DaysFromCivil(year, month, day) - kDateTimeEpochDays);
    const double time =
        static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + milliseconds) /
        static_cast<double>(kMillisecondsPerDay);
    *date_time = date < 0 ? date - time : date + time;
    return true;
}

bool DecodeDateTime(double date_time, SystemTime* fields)
{
    if (!std::isfinite(date_time) || date_time < -693594.0 || date_time >= 2958466.0) {
        return false;
    }
    int64_t days = static_cast<int64_t>(std::trunc(date_time));
    int64_t ms = std::llround(std::fabs(date_time - static_cast<double>(days)) *
                              static_cast<double>(kMillisecondsPerDay));
    if (ms >= kMillisecondsPerDay) {
        // Rounding reached the next midnight, away from zero like the time of day itself.
        ms -= kMillisecondsPerDay;
        days += date_time < 0 ? -1 : 1;
    }
    const int64_t civil_days = days + kDateTimeEpochDays;
    int64_t y, m, d;
    CivilFromDays(civil_days, &y, &m, &d);
    if (y < 1 || y > 9999) {
        return false;
    }
    fields->year = static_cast<uint16_t>(y);
    fields->month = static_cast<uint16_t>(m);
    fields->day = static_cast<uint16_t>(d);
    fields->day_of_week = DayOfWeek(civil_days);
    fields->hour = static_cast<uint16_t>(ms / 3'600'000);
    fields->minute = static_cast<uint16_t>(ms / 60'000 % 60);
    fields->second = static_cast<uint16_t>(ms / 1000 % 60);
    fields->milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

bool DateTimeToDosDateTime(double date_time, uint16_t* dos_date, uint16_t* dos_time)
{
    SystemTime fields;
    if (!DecodeDateTime(date_time, &fields) || fields.year < 1980 || fields.year > 2107) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    *dos_date =
        static_cast<uint16_t>(((fields.year - 1980) << 9) | (fields.month << 5) | fields.day);
    *dos_time =
        static_cast<uint16_t>((fields.hour << 11) | (fields.minute << 5) | (fields.second / 2));
    return true;
}

bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, FileTime* file_time)
{
    SystemTime fields;
    fields.year = static_cast<uint16_t>(1980 + (dos_date >> 9));
    fields.month = static_cast<uint16_t>((dos_date >> 5) & 0xF);
    fields.day = static_cast<uint16_t>(dos_date & 0x1F);
    fields.hour = static_cast<uint16_t>(dos_time >> 11);
    fields.minute = static_cast<uint16_t>((dos_time >> 5) & 0x3F);
    fields.second = static_cast<uint16_t>((dos_time & 0x1F) * 2);
    return SystemTimeToFileTime(fields, file_time);
}

}  // namespace vantrel::platform
