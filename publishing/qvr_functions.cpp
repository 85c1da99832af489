#include "publishing/qvr_functions.h"

#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "foundation/QelRegistryU.h"
#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/Ui.h"
#include "publishing/PublicationInfo.h"
#include "storage/DUN.h"
#include "storage/FtpStorage.h"

namespace vantrel {
namespace {

constexpr uintmax_t kSettingsFileBytesAtMost = 1 << 20;

// The numbers of a web site's settings, in the ranges the dialogs allow. A time-out of 0 stands
// for its default, as a missing one does.
struct IntegerRange
{
    const char* name;
    int32_t min;
    int32_t max;
    bool zero_is_default = false;
};

constexpr int32_t kAnyCount = std::numeric_limits<int32_t>::max();
constexpr IntegerRange kIntegerRanges[] = {
    {"Status", 0, 5},
    {"WebFileCount", 0, kAnyCount},
    {"WebPageCount", 0, kAnyCount},
    {"WebDirsCount", 0, kAnyCount},
    {"SrcFileCount", 0, kAnyCount},
    {"SrcPageCount", 0, kAnyCount},
    {"SrcDirsCount", 0, kAnyCount},
    {"DeleteOldFiles", 0, 2},
    {"UploadViaIntermediary", 0, 1},
    {"Disabled", 0, 1},
    {"ConnectionType", 0, 1},
    {"ConnectionBehaviour", 0, 2},
    {"ConnectionTimeout", 10, 60, true},
    {"GeneralTimeout", 10, 60, true},
    {"DotFileTreatment", 0, 3},
    {"LogExplainCopy", 0, 1},
};

// Why the file's numbers cannot be a web site's settings; empty when they can. An empty or
// missing value reads as the default.
std::string IntegerProblem(QelIniReg& file)
{
    const std::string settings =
        "The web site settings in " + platform::ToPosixPath(file.FileName()) + " give ";
    const std::string refused = ", so nothing was imported.";
    const std::string port_text = file.ReadString(kSettingsFileSection, "FtpPort");
    int32_t port = 0;
    if (!port_text.empty() &&
        (!ParseSettingsFileInteger(port_text, &port) || port < 0 || port > 65535)) {
        return settings + "the FTP port " + port_text + ", which is not a port (1 to 65535)" +
               refused;
    }
    for (const IntegerRange& range : kIntegerRanges) {
        const std::string text = file.ReadString(kSettingsFileSection, range.name);
        int32_t value = 0;
        if (text.empty()) {
            continue;
        }
        if (!ParseSettingsFileInteger(text, &value)) {
            return settings + range.name + " the value \"" + text + "\", which is not a number" +
                   refused;
        }
        if ((value < range.min || value > range.max) && !(range.zero_is_default && value == 0)) {
            return settings + range.name + " the value " + text + ", outside its range of " +
                   std::to_string(range.min) + " to " + std::to_string(range.max) + refused;
        }
    }
    // An offset no measurement keeps would shift every listed time by days, and hide every
    // same-size edit.
    const std::string drift_text = file.ReadString(kSettingsFileSection, "ServerTimeDrift");
    TDateTime drift = 0;
    if (!drift_text.empty() && platform::TryParseDateTime(drift_text, &drift) &&
        !IsMeasurableTimeDrift(drift)) {
        return settings + "ServerTimeDrift the value " + drift_text +
               ", outside its range of less than one day either way" + refused;
    }
    return "";
}

// Why a value of the file cannot be taken: a NUL byte, which no dialog lets through, ends a text
// wherever the system stores or writes it, so the web site could not be exported again. Empty
// when there is none.
std::string NulProblem(QelIniReg& file)
{
    std::vector<std::string> names;
    platform::ReadProfileSection(file.FileName(), kSettingsFileSection, &names);
    for (const std::string& name : names) {
        const std::string text = file.ReadString(kSettingsFileSection, name);
        if (text.find('\0') != std::string::npos) {
            return "The web site settings in " + platform::ToPosixPath(file.FileName()) + " give " +
                   name + " the value \"" + ReplaceAll(text, std::string(1, '\0'), "\\0") +
                   "\", which holds a NUL character, so nothing was imported.";
        }
    }
    return "";
}

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
    const std::string shown_file = platform::ToPosixPath(file_name);
    // One web site's settings take a few kilobytes; a huge file would be carried into every
    // start of the program.
    std::error_code size_error;
    const auto size = std::filesystem::file_size(platform::ToPosixPath(file_name), size_error);
    if (!size_error && size > kSettingsFileBytesAtMost) {
        told = "The settings file " + shown_file + " holds " + std::to_string(size) +
               " bytes, far more than the settings of a web site, so nothing was imported.";
        return false;
    }
    QelIniReg file(file_name);
    auto definition = std::make_unique<QelPublication>();
    if (!definition->LoadFrom(kSettingsFileSection, file, true)) {
        told = "No web site settings could be read from " + shown_file + ".";
        return false;
    }
    // A nameless definition would escape to the empty key name: the base key of every web site.
    if (!IsUsablePublicationName(definition->GetName())) {
        told = "The web site settings in " + shown_file +
               " have no web site name, so nothing was imported.";
        return false;
    }
    // What the dialogs would never let through is refused, not mended: the file is not what it
    // claims to be, or not the whole of it.
    told = NulProblem(file);
    if (told.empty()) {
        told = IntegerProblem(file);
    }
    if (!told.empty()) {
        return false;
    }
    const std::vector<std::string> beyond_bounds = ValuesBeyondBounds(*definition);
    if (!beyond_bounds.empty()) {
        std::string names;
        for (const std::string& name : beyond_bounds) {
            names += (names.empty() ? "" : ", ") + name;
        }
        told = "The web site settings in " + shown_file + " hold values far larger than any web " +
               "site needs (" + names + "; " + BoundsText() + "), so nothing was imported.";
        return false;
    }
    // The listed web site stays as it was, and the user learns why nothing came in.
    if (list.FindByName(definition->GetName()) != nullptr) {
        told = "There is already a web site called \"" + definition->GetName() +
               "\", so the "
               "settings in " +
               shown_file +
               " were not imported. Rename or delete that web site "
               "first to import them.";
        return false;
    }
    // The system lists no such dial-up entry: Publish All would pass the web site over for ever.
    const std::string missing_entry = MissingDialUpEntryText(
        *definition, GetDialUpEntryNames().value_or(std::vector<std::string>{}));
    if (!missing_entry.empty()) {
        platform::MessageBox(missing_entry, kMissingDialUpEntryCaption,
                             platform::kMbOk | platform::kMbIconExclamation);
        definition->Connection.clear();
    }
    const std::string name = definition->GetName();
    if (!list.Add(definition) && definition == nullptr) {
        // Listed, but not in the settings file: the user hears so now, not at the next start.
        list.TellStoreFailure(*list.FindByName(name), true);
    }
    return true;
}

}  // namespace vantrel
