#include "platform/Version.h"

namespace vantrel::platform {
namespace {

// Outer empty: no override. Inner empty: a program without version information.
std::optional<std::optional<VersionInfo>>& Override()
{
    static std::optional<std::optional<VersionInfo>> info;
    return info;
}

}  // namespace

bool GetProgramVersionInfo(VersionInfo* info)
{
    const auto& override_info = Override();
    if (override_info.has_value()) {
        if (!override_info->has_value()) {
            return false;
        }
        *info = **override_info;
        return true;
    }
    *info = BuiltInVersionInfo();
    return true;
}

bool VerQueryFixedFileInfo(const VersionInfo& info,
                           uint32_t* file_version_ms,
                           uint32_t* file_version_ls)
{
    *file_version_ms = info.file_version_ms;
    *file_version_ls = info.file_version_ls;
    return true;
}

bool VerQueryTranslations(const VersionInfo& info, std::vector<VersionTranslation>* translations)
{
    if (info.translations.empty()) {
        return false;
    }
    *translations = info.translations;
    return true;
}

bool VerQueryString(const VersionInfo& info, const std::string& key, std::string* value)
{
    const auto it = info.strings.find(key);
    if (it == info.strings.end()) {
        return false;
    }
    *value = it->second;
    return true;
}

void OverrideProgramVersionInfoForTesting(std::optional<VersionInfo> info)
{
    Override() = std::move(info);
}

void RestoreProgramVersionInfo()
{
    Override().reset();
}

}  // namespace vantrel::platform
