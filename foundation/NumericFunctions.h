#pragma once

#include <cstdint>

namespace vantrel {

// 0 becomes the default; then a value above max becomes max and one below min becomes min.
int32_t ClampSetting(int32_t value, int32_t min, int32_t default_value, int32_t max);

}  // namespace vantrel
