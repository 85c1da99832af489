#include "foundation/NumericFunctions.h"

namespace vantrel {

int32_t ClampSetting(int32_t value, int32_t min, int32_t default_value, int32_t max)
{
    int32_t result = value == 0 ? default_value : value;
    if (result > max) {
        result = max;
    }
    if (result < min) {
        result = min;
    }
    return result;
}

}  // namespace vantrel
