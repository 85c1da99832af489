#include "dialogs/PublicationPatterns.h"

#include <algorithm>

#include "foundation/QelStringFunctions.h"

namespace vantrel {
namespace {

constexpr std::string_view kAnyFolderPrefix = "*\\";

// Blanks and control characters cut from both ends.
std::string Trimmed(std::string_view text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') {
        --last;
    }
    return std::string(text.substr(first, last - first));
}

// Exclusions and permissions are matched with letter case counting (the source is a local
// folder), so only patterns equal to the letter are one item; text-file patterns match ignoring
// case, so there letter case makes no other item.
bool Contains(const std::vector<std::string>& list, std::string_view item, bool ignore_case = false)
{
    return std::any_of(list.begin(), list.end(), [&](const std::string& each) {
        return ignore_case ? SamePattern(each, item) : each == item;
    });
}

void Remove(std::vector<std::string>& list, std::string_view item)
{
    const auto found = std::find(list.begin(), list.end(), item);
    if (found != list.end()) {
        list.erase(found);
    }
}

// Slashes and doubled backslashes made single backslashes, runs of wildcards around an asterisk
// made one asterisk, and a lone asterisk (which would match everything) dropped.
std::string CleanWildcards(std::string_view text)
{
    std::string result = ReplaceAll(ReplaceAll(text, "/", "\\"), "\\\\", "\\");
    // Repeated until nothing changes, so that "***" cannot come out as "**", which would match
    // everything as the dropped "*" would.
    for (std::string before; before != result;) {
        before = result;
        result = ReplaceAll(ReplaceAll(ReplaceAll(result, "*?", "*"), "?*", "*"), "**", "*");
    }
    return result == "*" ? std::string() : result;
}

}  // namespace

bool SamePattern(std::string_view a, std::string_view b)
{
    return AsciiLowerCase(a) == AsciiLowerCase(b);
}

void SortPatternList(std::vector<std::string>& items)
{
    std::stable_sort(items.begin(), items.end(), [](const std::string& a, const std::string& b) {
        const std::string fa = AsciiLowerCase(a);
        const std::string fb = AsciiLowerCase(b);
        return fa != fb ? fa < fb : a < b;
    });
}

std::string StripAnyPrefix(std::string_view pattern)
{
    if (pattern.substr(0, kAnyFolderPrefix.size()) == kAnyFolderPrefix) {
        pattern.remove_prefix(kAnyFolderPrefix.size());
    }
    return std::string(pattern);
}

std::string ShownPattern(std::string_view pattern)
{
    std::string shown = StripAnyPrefix(pattern);
    std::replace(shown.begin(), shown.end(), '\\', '/');
    return shown;
}

std::string NormalisePattern(std::string_view text, bool folder_style)
{
    std::string result = CleanWildcards(text);
    if (result.empty() || result.front() == '*') {
        return result;
    }
    if (result.front() == '\\') {
        return folder_style ? result : "*" + result;
    }
    return std::string(kAnyFolderPrefix) + result;
}

std::string NormaliseNamePattern(std::string_view text)
{
    std::string result = CleanWildcards(text);
    // Any number of any-folder prefixes and root anchors: a bare name lies in no folder.
    for (;;) {
        if (result.substr(0, kAnyFolderPrefix.size()) == kAnyFolderPrefix) {
            result.erase(0, kAnyFolderPrefix.size());
        } else if (!result.empty() && result.front() == '\\') {
            result.erase(0, 1);
        } else {
            break;
        }
    }
    return result == "*" ? std::string() : result;
}

std::string OnServerAction(std::string_view text)
{
    const std::string t = Trimmed(text);
    if (EndsWith(t, "D", true)) {
        return kActionDelete;
    }
    if (EndsWith(t, "I", true)) {
        return kActionIgnore;
    }
    return StartsWith(t, "D", true) ? kActionDelete : kActionIgnore;
}

std::vector<PatternRow> ExclusionRows(const std::vector<std::string>& ignore,
                                      const std::vector<std::string>& remove)
{
    std::vector<std::string> all = ignore;
    all.insert(all.end(), remove.begin(), remove.end());
    SortPatternList(all);
    std::vector<PatternRow> rows;
    rows.reserve(all.size());
    for (const std::string& pattern : all) {
        rows.push_back(
            {ShownPattern(pattern), Contains(ignore, pattern) ? kActionIgnore : kActionDelete});
    }
    return rows;
}

std::vector<std::string> TextFileRows(std::vector<std::string>& ascii_files)
{
    SortPatternList(ascii_files);
    std::vector<std::string> rows;
    rows.reserve(ascii_files.size());
    for (const std::string& pattern : ascii_files) {
        rows.push_back(ShownPattern(pattern));
    }
    return rows;
}

std::vector<PatternRow> PermissionRows(std::vector<std::string>& file_permissions)
{
    SortPatternList(file_permissions);
    std::vector<PatternRow> rows;
    rows.reserve(file_permissions.size());
    for (const std::string& line : file_permissions) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            rows.push_back({ShownPattern(line), std::string()});
        } else {
            rows.push_back({ShownPattern(line.substr(0, equals)), line.substr(equals + 1)});
        }
    }
    return rows;
}

void WriteExclusionRows(const std::vector<PatternRow>& rows,
                        bool folder_style,
                        std::vector<std::string>& ignore,
                        std::vector<std::string>& remove)
{
    ignore.clear();
    remove.clear();
    for (const PatternRow& row : rows) {
        const std::string pattern = NormalisePattern(Trimmed(row.pattern), folder_style);
        if (pattern.empty()) {
            continue;
        }
        if (row.value == kActionIgnore) {
            Remove(remove, pattern);
            if (!Contains(ignore, pattern)) {
                ignore.push_back(pattern);
            }
        } else if (!Contains(ignore, pattern) && !Contains(remove, pattern)) {
            remove.push_back(pattern);
        }
    }
    SortPatternList(ignore);
    SortPatternList(remove);
}

std::vector<std::string> WriteTextFileRows(const std::vector<std::string>& rows)
{
    std::vector<std::string> list;
    for (const std::string& row : rows) {
        const std::string pattern = NormaliseNamePattern(Trimmed(row));
        if (!pattern.empty() && !Contains(list, pattern, true)) {
            list.push_back(pattern);
        }
    }
    SortPatternList(list);
    return list;
}

std::vector<std::string> WritePermissionRows(const std::vector<PatternRow>& rows)
{
    std::vector<std::string> names;
    std::vector<std::string> lines;
    for (const PatternRow& row : rows) {
        const std::string name = NormaliseNamePattern(Trimmed(row.pattern));
        const std::string value = Trimmed(row.value);
        if (name.empty() || value.empty() || Contains(names, name)) {
            continue;
        }
        names.push_back(name);
        lines.push_back(name + "=" + value);
    }
    SortPatternList(lines);
    return lines;
}

}  // namespace vantrel
