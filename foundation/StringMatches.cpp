#include "foundation/StringMatches.h"

#include "foundation/QelStringFunctions.h"

namespace vantrel {

bool WildcardMatch(std::string_view name,
                   std::string_view pattern,
                   int32_t name_pos,
                   int32_t pattern_pos)
{
    const size_t m = name.size();
    const size_t n = pattern.size();
    size_t i = name_pos < 1 ? 0 : static_cast<size_t>(name_pos) - 1;
    size_t j = pattern_pos < 1 ? 0 : static_cast<size_t>(pattern_pos) - 1;

    // A run of "*" and "?" stands for any text followed by the ordinary character after the run,
    // tried at each later position of that character. Whatever an earlier run chose, the latest
    // run reached could absorb the difference, so only the latest run is ever retried: each retry
    // moves it one position on, which bounds the work by m x n and needs no recursion.
    bool have_run = false;
    size_t run_char = 0;  // pattern index of the ordinary character after the latest run
    size_t run_next = 0;  // name index from which that character is looked for next

    for (;;) {
        bool retry = false;
        if (j < n && pattern[j] == '*') {
            while (j < n && (pattern[j] == '*' || pattern[j] == '?')) {
                ++j;
            }
            if (j == n) {
                return true;
            }
            have_run = true;
            run_char = j;
            run_next = i;
            retry = true;
        } else if (j == n) {
            if (i == m) {
                return true;
            }
            retry = true;
        } else if (i < m && (pattern[j] == '?' || pattern[j] == name[i])) {
            ++i;
            ++j;
        } else {
            retry = true;
        }
        if (retry) {
            if (!have_run) {
                return false;
            }
            size_t k = run_next;
            while (k < m && name[k] != pattern[run_char]) {
                ++k;
            }
            if (k >= m) {
                return false;
            }
            run_next = k + 1;
            i = k + 1;
            j = run_char + 1;
        }
    }
}

bool MatchesWildcard(std::string_view name, std::string_view pattern, bool ignore_case)
{
    if (ignore_case) {
        return WildcardMatch(AsciiLowerCase(name), AsciiLowerCase(pattern), 1, 1);
    }
    return WildcardMatch(name, pattern, 1, 1);
}

int32_t FindMatchingPattern(std::string_view name,
                            const std::vector<std::string>& patterns,
                            bool ignore_case)
{
    for (int32_t index = static_cast<int32_t>(patterns.size()) - 1; index >= 0; --index) {
        if (MatchesWildcard(name, patterns[static_cast<size_t>(index)], ignore_case)) {
            return index;
        }
    }
    return -1;
}

}  // namespace vantrel
