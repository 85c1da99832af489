#include "foundation/ApiWrappers.h"

#include "foundation/QelStringFunctions.h"
#include "platform/Files.h"

namespace vantrel {

std::string GetTempFolder()
{
    std::string folder;
    // A failure still leaves the safe per-user name in folder; see GetTempPath.
    (void)platform::GetTempPath(&folder);
    if (!EndsWith(folder, "\\", false)) {
        folder += "\\";
    }
    return folder;
}

}  // namespace vantrel
