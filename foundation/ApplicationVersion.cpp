#include "foundation/ApplicationVersion.h"

#include <cstdio>

#include "platform/Version.h"

namespace vantrel {

void GetApplicationVersion(uint16_t* major, uint16_t* minor, uint16_t* release, uint16_t* build)
{
    platform::VersionInfo info;
    uint32_t ms = 0;
    uint32_t ls = 0;
    if (!platform::GetProgramVersionInfo(&info) ||
        !platform::VerQueryFixedFileInfo(info, &ms, &ls)) {
        return;
    }
    *major = static_cast<uint16_t>(ms >> 16);
    *minor = static_cast<uint16_t>(ms & 0xFFFF);
    *release = static_cast<uint16_t>(ls >> 16);
    *build = static_cast<uint16_t>(ls & 0xFFFF);
}

std::string GetApplicationVersionString()
{
    uint16_t major = 0, minor = 0, release = 0, build = 0;
    GetApplicationVersion(&major, &minor, &release, &build);
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d  (Build %d)", major, minor, release, build);
    return text;
}

}  // namespace vantrel
