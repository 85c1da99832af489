#include "foundation/QelDateFunctions.h"

namespace vantrel {

TDateTime FileTimeToDateTime(const platform::FileTime& file_time)
{
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(file_time, &st)) {
        return 0;
    }
    TDateTime result = 0;
    platform::TryEncodeDateTime(st.year, st.month, st.day, st.hour, st.minute, st.second,
                                st.milliseconds, &result);
    return result;
}

TDateTime FileTimeToLocalDateTime(const platform::FileTime& utc)
{
    platform::FileTime local;
    if (!platform::FileTimeToLocalFileTime(utc, &local)) {
        return 0;
    }
    return FileTimeToDateTime(local);
}

TDateTime NowDateTime()
{
    platform::SystemTime now;
    platform::GetLocalTime(&now);
    TDateTime result = 0;
    platform::TryEncodeDateTime(now.year, now.month, now.day, now.hour, now.minute, now.second,
                                now.milliseconds, &result);
    return result;
}

}  // namespace vantrel
