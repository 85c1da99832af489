#include "foundation/QelDateFunctions.h"

#include <gtest/gtest.h>

#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
constexpr double kUnixEpochDateTime = 25569.0;  // 1 January 1970

TEST(QelDateFunctionsTest, FileTimeKeepsTheClockReadingWithMilliseconds)
{
    // 1.2345 seconds past the epoch: the 0.5 ms below a millisecond is dropped.
    const auto ft = platform::FileTime::FromValue(kUnixEpochFileTime + 12'345'000);
    EXPECT_DOUBLE_EQ(kUnixEpochDateTime + 1.234 / 86400.0, FileTimeToDateTime(ft));
    EXPECT_DOUBLE_EQ(-109205.0, FileTimeToDateTime(platform::FileTime{}));  // 1 January 1601
    EXPECT_EQ(0.0, FileTimeToDateTime(platform::FileTime{0, 0xFFFFFFFF}));
}

TEST(QelDateFunctionsTest, LocalDateTimeAppliesTheZoneOffsetInForceNow)
{
    testing::ScopedTimeZone zone("XYZ+5");  // five hours west of UTC
    const auto ft = platform::FileTime::FromValue(kUnixEpochFileTime);
    EXPECT_DOUBLE_EQ(kUnixEpochDateTime - 5.0 / 24.0, FileTimeToLocalDateTime(ft));
}

}  // namespace
}  // namespace vantrel
