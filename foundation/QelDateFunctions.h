#pragma once

#include "platform/DateTime.h"

// File-time conversion into date-times (days since 30 December 1899, time of day as fraction).
namespace vantrel {

using TDateTime = double;

// The same clock reading as a date-time, with milliseconds and no zone change; 0 for a file time
// beyond the calendar.
TDateTime FileTimeToDateTime(const platform::FileTime& file_time);

// A UTC file time in local time, by the zone offset in force now.
TDateTime FileTimeToLocalDateTime(const platform::FileTime& utc);
// The local time now, with milliseconds.
TDateTime NowDateTime();

}  // namespace vantrel
