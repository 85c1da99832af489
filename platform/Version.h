#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The version information of the running program, as the program file's version resource would
// carry it: the fixed file version, the translation table and the string values by key.
namespace vantrel::platform {

// The program's title: its main window's caption, the caption of a message box without one of
// its own, and the name it gives the internet library.
inline constexpr char kApplicationTitle[] = "Vantrel";

struct VersionTranslation
{
    uint16_t language = 0;
    uint16_t code_page = 0;
};

struct VersionInfo
{
    // Major and minor in the high and low words of the most significant half; release and build
    // likewise in the least significant half.
    uint32_t file_version_ms = 0;
    uint32_t file_version_ls = 0;
    std::vector<VersionTranslation> translations;
    // Keyed "\StringFileInfo\" + language and code page as eight upper-case hex digits + "\" +
    // value name, e.g. "\StringFileInfo\040904E4\ProductVersion".
    std::map<std::string, std::string> strings;
};

// The running program's version information; false when it carries none.
bool GetProgramVersionInfo(VersionInfo* info);

// Queries a block the way the version functions do: "\" gives the fixed file version,
// "\VarFileInfo\Translation" the translation table, any other key a string value. False when
// the block holds no such value.
bool VerQueryFixedFileInfo(const VersionInfo& info,
                           uint32_t* file_version_ms,
                           uint32_t* file_version_ls);
bool VerQueryTranslations(const VersionInfo& info, std::vector<VersionTranslation>* translations);
bool VerQueryString(const VersionInfo& info, const std::string& key, std::string* value);

// For tests: makes GetProgramVersionInfo report `info`, or no information at all for
// std::nullopt, until RestoreProgramVersionInfo. Not thread-safe; call before use.
void OverrideProgramVersionInfoForTesting(std::optional<VersionInfo> info);
void RestoreProgramVersionInfo();

// The information generated from the build's project version.
const VersionInfo& BuiltInVersionInfo();

}  // namespace vantrel::platform
