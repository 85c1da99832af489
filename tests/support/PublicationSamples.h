#pragma once

#include <memory>
#include <string>

#include "publishing/PublicationInfo.h"

namespace vantrel::testing {

// A definition whose every stored value is away from its default, with pattern lists that hold
// blanks, quotes, commas and more than 2047 characters.
std::unique_ptr<QelPublication> EveryValueAwayFromDefault(const std::string& name);

}  // namespace vantrel::testing
