#include "foundation/NumericFunctions.h"

#include <climits>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(NumericFunctionsTest, ZeroTakesTheDefaultThenTheRangeApplies)
{
    struct Case
    {
        int32_t value, min, default_value, max, expected;
    };
    const Case kCases[] = {
        {0, 10, 30, 60, 30},
        {5, 10, 30, 60, 10},
        {90, 10, 30, 60, 60},
        {45, 10, 30, 60, 45},
        {-7, 10, 30, 60, 10},
        {7, 0, 0, 3, 3},
        {0, 10, 90, 60, 60},  // a default outside the range is clamped too
        {INT32_MIN, 0, 1, INT32_MAX, 0},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, ClampSetting(c.value, c.min, c.default_value, c.max)) << c.value;
    }
}

}  // namespace
}  // namespace vantrel
