#include "publishing/qvr_functions.h"

#include <filesystem>
#include <memory>

#include "foundation/QelRegistryU.h"
#include "platform/Files.h"
#include "publishing/PublicationInfo.h"

namespace vantrel {
namespace {

constexpr uintmax_t kSettingsFileBytesAtMost = 1 << 20;

}  // namespace

std::string MakeSafeFileName(const std::string& name)
{
    std::string result;
    bool gap = false;
    for (char c : name) {
        const bool keep =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!keep) {
            gap = true;
            continue;
        }
        if (gap && !result.empty()) {
            result += '_';
        }
        gap = false;
        result += c;
    }
    return result;
}

bool ImportSettingsFile(QelPublicationList& list,
                        const std::string& file_name,
                        std::string* problem)
{
    std::string ignored;
    std::string& told = problem != nullptr ? *problem : ignored;
    told.clear();
    if (file_name.empty()) {
        return false;
    }
    // One web site's settings take a few kilobytes; a huge file would be carried into every
    // start of the program.
    std::error_code size_error;
    const auto size = std::filesystem::file_size(platform::ToPosixPath(file_name), size_error);
    if (!size_error && size > kSettingsFileBytesAtMost) {
        told = "The settings file " + file_name + " holds " + std::to_string(size) +
               " bytes, far more than the settings of a web site, so nothing was imported.";
        return false;
    }
    QelIniReg file(file_name);
    const int32_t port = file.ReadInteger(kSettingsFileSection, "FtpPort", 0);
    if (port < 0 || port > 65535) {
        told = "The web site settings in " + file_name + " give the FTP port " +
               std::to_string(port) +
               ", which is not a port (1 to 65535), so nothing was imported.";
        return false;
    }
    auto definition = std::make_unique<QelPublication>();
    if (!definition->LoadFrom(kSettingsFileSection, file, true)) {
        told = "No web site settings could be read from " + file_name + ".";
        return false;
    }
    // A nameless definition would escape to the empty key name: the base key of every web site.
    if (!IsUsablePublicationName(definition->GetName())) {
        told = "The web site settings in " + file_name +
               " have no web site name, so nothing was imported.";
        return false;
    }
    // The listed web site stays as it was, and the user learns why nothing came in.
    if (list.FindByName(definition->GetName()) != nullptr) {
        told = "There is already a web site called \"" + definition->GetName() +
               "\", so the "
               "settings in " +
               file_name +
               " were not imported. Rename or delete that web site "
               "first to import them.";
        return false;
    }
    list.Add(definition);
    return true;
}

}  // namespace vantrel
