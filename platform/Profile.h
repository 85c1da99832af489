#pragma once

#include <string>
#include <string_view>
#include <vector>

// INI-style profile files: "[section]" lines, "name=value" lines, ";" comment lines. Section and
// value names ignore ASCII letter case and the first match wins (a repeated section or name is
// never read). Names and values are cut of surrounding blanks and tabs; otherwise a value is read
// whole, quotes included, whatever its length. Reads accept LF or CRLF line ends; writes use CRLF
// and replace the file atomically (a temporary file beside it, flushed, then renamed over it),
// with mode 0600, since exported settings hold a password. File names are in the system's form
// ("\" separators). Failures set the calling thread's last error.
namespace vantrel::platform {

// False when the file cannot be read (2, 3, 5) or has no such value (2).
bool ReadProfileString(const std::string& file_name,
                       std::string_view section,
                       std::string_view name,
                       std::string* value);

// The value names of the section in file order; false when the file cannot be read. A missing
// section gives an empty list.
bool ReadProfileSection(const std::string& file_name,
                        std::string_view section,
                        std::vector<std::string>* names);

// Finds the first line that no profile file holds: neither a "[section]" line (nothing after the
// "]"), a ";" comment, a blank line nor a "name=value" line with a name, as a damaged or cut file
// has. The readers above pass over such lines; a caller that must not take a damaged file for a
// whole one asks here. `number` (1-based) is 0 and `text` empty when every line is one of those.
// False when the file cannot be read.
bool FindStrayProfileLine(const std::string& file_name, size_t* number, std::string* text);

// Sets the value, adding the section (at the end of the file) and the name (after the section's
// last value) when they are missing; the file is made when it does not exist. A line break or
// NUL anywhere, "]" in the section or "=" in the name (or an empty name) would corrupt the file
// and is refused (87).
bool WriteProfileString(const std::string& file_name,
                        std::string_view section,
                        std::string_view name,
                        std::string_view value);

// Removes the value's line; true when the value is gone afterwards, also when it never existed.
bool DeleteProfileString(const std::string& file_name,
                         std::string_view section,
                         std::string_view name);

}  // namespace vantrel::platform
