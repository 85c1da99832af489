#include "publishing/qvr_functions.h"

#include <memory>

#include "foundation/QelRegistryU.h"
#include "publishing/PublicationInfo.h"

namespace vantrel {

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
    QelIniReg file(file_name);
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
