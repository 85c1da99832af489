#include "publishing/qvr_functions.h"

#include <filesystem>
#include <memory>
#include <vector>

#include "foundation/QelRegistryU.h"
#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/Ui.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublishSession.h"
#include "storage/DUN.h"

namespace vantrel {
namespace {

constexpr uintmax_t kSettingsFileBytesAtMost = 1 << 20;

bool IsNumber(const PublicationSetting& setting)
{
    return setting.kind != SettingKind::kText && setting.kind != SettingKind::kList &&
           setting.kind != SettingKind::kDate;
}

}  // namespace

std::string NumberValueProblem(const PublicationSetting& setting, const std::string& text)
{
    const NumberBounds& b = setting.bounds;
    int32_t value = 0;
    const bool number = ParseSettingsFileInteger(text, &value);
    // A time-out of 0 stands for its default, as a missing one does.
    const bool in_range =
        (value >= b.min && value <= b.max) || (setting.kind == SettingKind::kClamped && value == 0);
    if (setting.kind == SettingKind::kPort && (!number || !in_range)) {
        return "the FTP port " + text + ", which is not a port (1 to " + std::to_string(b.max) +
               ")";
    }
    if (!number) {
        return setting.name + std::string(" the value \"") + text + "\", which is not a number";
    }
    if (!in_range) {
        return setting.name + std::string(" the value ") + text + ", outside its range of " +
               std::to_string(b.min) + " to " + std::to_string(b.max);
    }
    return "";
}

namespace {

// Why the file's numbers and dates cannot be a web site's settings; empty when they can. Only
// the values kChecked are looked at; an empty or missing one reads as the default.
std::string RangeProblem(QelIniReg& file)
{
    const std::string settings =
        "The web site settings in " + platform::ToPosixPath(file.FileName()) + " give ";
    const std::string refused = ", so nothing was imported.";
    auto number_problem = [&](const PublicationSetting& setting) -> std::string {
        const std::string text = file.ReadString(kSettingsFileSection, setting.name);
        if (text.empty()) {
            return "";
        }
        const std::string problem = NumberValueProblem(setting, text);
        return problem.empty() ? "" : settings + problem + refused;
    };
    // An offset no measurement keeps would shift every listed time by days, and hide every
    // same-size edit.
    auto date_problem = [&](const PublicationSetting& setting) -> std::string {
        const std::string text = file.ReadString(kSettingsFileSection, setting.name);
        TDateTime value = 0;
        if (!text.empty() && platform::TryParseDateTime(text, &value) &&
            !setting.date_bounds.holds(value)) {
            return settings + setting.name + " the value " + text + ", outside its range of " +
                   setting.date_bounds.range + refused;
        }
        return "";
    };
    // The port is told first, then the other numbers, then the dates.
    auto pass_of = [](const PublicationSetting& setting) {
        return setting.kind == SettingKind::kPort   ? 0
               : IsNumber(setting)                  ? 1
               : setting.kind == SettingKind::kDate ? 2
                                                    : 3;
    };
    for (int pass = 0; pass <= 2; ++pass) {
        for (const PublicationSetting& setting : kPublicationSettings) {
            if (!(setting.flags & kChecked) || pass_of(setting) != pass) {
                continue;
            }
            const std::string problem = pass == 2 ? date_problem(setting) : number_problem(setting);
            if (!problem.empty()) {
                return problem;
            }
        }
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

// A line of the file as a message shows it: printable ASCII as it is, any other byte as "\xNN"
// (a NUL as "\0"), a long line by its beginning.
std::string ShownLine(const std::string& line)
{
    constexpr size_t kShownBytes = 80;
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (size_t i = 0; i < line.size() && i < kShownBytes; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == 0) {
            shown += "\\0";
        } else if (c < 0x20 || c >= 0x7F) {
            shown += std::string("\\x") + kHex[c >> 4] + kHex[c & 0xF];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return line.size() > kShownBytes ? shown + "..." : shown;
}

// Why the file is no whole settings file: a line that none holds, as a file cut short and run
// into other data has. The values before such a line may be whole and those after it lost, so
// nothing of it is taken. Empty when every line is one a settings file holds.
std::string StrayLineProblem(const std::string& file_name)
{
    size_t number = 0;
    std::string line;
    if (!platform::FindStrayProfileLine(file_name, &number, &line) || number == 0) {
        return "";
    }
    return "The settings file " + platform::ToPosixPath(file_name) + " is damaged: its line " +
           std::to_string(number) + ", \"" + ShownLine(line) +
           "\", is neither a [section] line, a ; comment, a blank line nor a name=value line, "
           "so nothing was imported.";
}

// A password cut inside its scrambled form would come in as the scrambled text, and the user
// would learn of it only when the server refuses it.
std::string PasswordProblem(QelIniReg& file)
{
    const std::string stored = file.ReadString(kSettingsFileSection, "Password");
    if (!QelPublication::IsDamagedScrambledPassword(stored)) {
        return "";
    }
    return "The web site settings in " + platform::ToPosixPath(file.FileName()) +
           " give a password that is cut short or damaged, so nothing was imported.";
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
    told = StrayLineProblem(file_name);
    if (told.empty()) {
        told = NulProblem(file);
    }
    if (told.empty()) {
        told = PasswordProblem(file);
    }
    if (told.empty()) {
        told = RangeProblem(file);
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
    // An address no publish could read, or one that would publish elsewhere, is not taken in.
    const std::string unreadable = SettleServerAddress(*definition);
    if (!unreadable.empty()) {
        told = "The web site settings in " + shown_file + " were not imported. " + unreadable;
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
