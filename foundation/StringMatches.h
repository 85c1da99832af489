#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Wildcard patterns over names and relative paths. "*" matches any run of characters,
// backslashes included, and swallows every "*" and "?" that follows it directly, so "*?" behaves
// as "*"; any other "?" matches exactly one character; every other character only itself.
namespace vantrel {

// Matches name from 1-based position name_pos against pattern from pattern_pos. A "*" run
// tries the later positions of the character after it left to right; only the latest run is
// ever retried, so the work is bounded by the product of the two lengths.
bool WildcardMatch(std::string_view name,
                   std::string_view pattern,
                   int32_t name_pos,
                   int32_t pattern_pos);

// When ignore_case, both texts are first folded with ASCII lower-casing.
bool MatchesWildcard(std::string_view name, std::string_view pattern, bool ignore_case);

// The 0-based index of the last line of the list that matches the name, searching from the last
// line to the first; -1 when none does. Lines are used as stored, without trimming.
int32_t FindMatchingPattern(std::string_view name,
                            const std::vector<std::string>& patterns,
                            bool ignore_case);

}  // namespace vantrel
