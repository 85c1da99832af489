#pragma once

#include <string>
#include <string_view>
#include <vector>

// The pattern lists of a web site as the configuration dialog shows them in its grids and writes
// them back: plain functions over texts, without widgets. Lists compare and sort their items as
// the definition's lists do: ASCII letters folded.
namespace vantrel {

inline constexpr char kActionDelete[] = "Delete";
inline constexpr char kActionIgnore[] = "Ignore";

// The pattern after its any-folder prefix ("*\"), when it starts with one; else the pattern.
std::string StripAnyPrefix(std::string_view pattern);

// A stored pattern as a grid shows it: without its any-folder prefix, with "/" between its
// folders as every path is shown on this system, so that a pattern shows back as it was typed
// (a typed "\" shows as "/"). Written back, "/" is stored as "\" again.
std::string ShownPattern(std::string_view pattern);

// A typed pattern in its stored form: slashes as backslashes, doubled backslashes single, "*?",
// "?*" and "**" as "*", a lone "*" dropped (empty), then the any-folder prefix in front of a
// pattern that does not start with an asterisk. In folder style a leading backslash anchors the
// pattern at the root and stays; in file style it gets the asterisk in front.
std::string NormalisePattern(std::string_view text, bool folder_style);

// A typed pattern in the form of the lists matched against bare file names (text files and
// permissions): as NormalisePattern, but without the any-folder prefix and without a leading
// backslash, neither of which a bare name could ever match.
std::string NormaliseNamePattern(std::string_view text);

// The action an "On Server" text stands for: the trimmed text ending in "D" (any case) is
// "Delete", else ending in "I" "Ignore", else starting with "D" "Delete", else "Ignore". So a
// letter typed at the end of the word switches the action.
std::string OnServerAction(std::string_view text);

// One row of an exclusion grid ("File" and "On Server") or of the permission grid ("File" and
// "Permission").
struct PatternRow
{
    std::string pattern;
    std::string value;

    bool operator==(const PatternRow&) const = default;
};

// The rows of an exclusion grid: the ignore and delete lists together, sorted, each pattern as
// ShownPattern gives it, "Ignore" when the ignore list holds the pattern, else "Delete".
std::vector<PatternRow> ExclusionRows(const std::vector<std::string>& ignore,
                                      const std::vector<std::string>& remove);
// The rows of the text-file grid (ShownPattern); sorts the list in place, as the definition keeps
// it.
std::vector<std::string> TextFileRows(std::vector<std::string>& ascii_files);
// The rows of the permission grid from lines "pattern=permission"; sorts the list in place.
std::vector<PatternRow> PermissionRows(std::vector<std::string>& file_permissions);

// Writes an exclusion grid's rows back into its two lists (emptied first, sorted after): each
// non-empty pattern normalised; "Ignore" takes the pattern out of the delete list and puts it in
// the ignore list once; any other action puts it in the delete list unless either list holds it.
void WriteExclusionRows(const std::vector<PatternRow>& rows,
                        bool folder_style,
                        std::vector<std::string>& ignore,
                        std::vector<std::string>& remove);
// The text-file list of the grid's rows: each non-empty pattern once, in the bare-name form,
// sorted.
std::vector<std::string> WriteTextFileRows(const std::vector<std::string>& rows);
// The permission lines of the grid's rows: rows with both a pattern (bare-name form) and a
// permission, the first row of a pattern winning, sorted.
std::vector<std::string> WritePermissionRows(const std::vector<PatternRow>& rows);

// Whether two patterns are the same list item (ASCII letters folded).
bool SamePattern(std::string_view a, std::string_view b);
// Sorts a list in the definition's order: ASCII letters folded, then exactly.
void SortPatternList(std::vector<std::string>& items);

}  // namespace vantrel
