#pragma once

#include <string>

namespace vantrel {

// The user's private temporary folder, ending with "\". When none can be made, the name of the
// per-user folder it would be, so the caller's files fail to open rather than land in a folder
// another user controls.
std::string GetTempFolder();

}  // namespace vantrel
