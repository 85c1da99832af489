#include "foundation/StringMatches.h"

#include <chrono>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// The matcher as the system first described it, recursion and all: exponential on hostile
// patterns, so only fed short ones.
bool RecursiveReference(const std::string& name, const std::string& pattern, size_t i, size_t j)
{
    const size_t m = name.size(), n = pattern.size();
    while (j < n) {
        if (pattern[j] == '*') {
            while (pattern[j] == '*' || pattern[j] == '?') {
                if (j == n - 1) {
                    return true;
                }
                ++j;
            }
            if (i >= m) {
                return false;
            }
            for (size_t k = i; k < m; ++k) {
                if (name[k] == pattern[j] && RecursiveReference(name, pattern, k + 1, j + 1)) {
                    return true;
                }
            }
            return false;
        }
        if (i >= m) {
            return false;
        }
        if (pattern[j] != '?' && pattern[j] != name[i]) {
            return false;
        }
        ++i;
        ++j;
    }
    return i >= m;
}

// An independent matcher: first rewrite each run of "*" and "?" that starts with "*" into one
// "*", then fill the usual table of which prefix of the name matches which prefix of the pattern.
bool TableReference(const std::string& name, const std::string& raw_pattern)
{
    std::string pattern;
    for (size_t j = 0; j < raw_pattern.size(); ++j) {
        if (raw_pattern[j] == '*') {
            pattern += '*';
            while (j + 1 < raw_pattern.size() &&
                   (raw_pattern[j + 1] == '*' || raw_pattern[j + 1] == '?')) {
                ++j;
            }
        } else {
            pattern += raw_pattern[j];
        }
    }
    const size_t m = name.size(), n = pattern.size();
    std::vector<std::vector<bool>> t(m + 1, std::vector<bool>(n + 1, false));
    t[0][0] = true;
    for (size_t j = 1; j <= n; ++j) {
        t[0][j] = pattern[j - 1] == '*' && t[0][j - 1];
    }
    for (size_t i = 1; i <= m; ++i) {
        for (size_t j = 1; j <= n; ++j) {
            const char p = pattern[j - 1];
            if (p == '*') {
                t[i][j] = t[i][j - 1] || t[i - 1][j];
            } else {
                t[i][j] = t[i - 1][j - 1] && (p == '?' || p == name[i - 1]);
            }
        }
    }
    return t[m][n];
}

TEST(StringMatchesTest, PatternsMatchNamesAndRelativePaths)
{
    struct Case
    {
        const char* pattern;
        const char* name;
        bool ignore_case;
        bool expected;
    };
    const Case kCases[] = {
        {"*.htm", "index.htm", false, true},
        {"*.htm", "a.b.htm", false, true},
        {"*.htm", "index.html", false, false},
        {"*.htm", "\\sub\\page.htm", false, true},
        {"?.txt", "a.txt", false, true},
        {"?.txt", ".txt", false, false},
        {"?.txt", "ab.txt", false, false},
        {"*?.txt", ".txt", false, true},
        {"a*", "a", false, true},
        {"*a", "ba.txt", false, false},
        {"*", "", false, true},
        {"", "a", false, false},
        {"", "", false, true},
        {"*.HTM", "Page.htm", true, true},
        {"*.HTM", "Page.htm", false, false},
        {"\\cgi-bin\\*", "\\cgi-bin\\x\\y.pl", false, true},
        {"*?", "", false, true},
        {"a?", "a", false, false},
        {"*\xC4.txt", "\xE4.txt", true, false},  // only A to Z fold
        {"*.T?T", "readme.txt", true, true},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, MatchesWildcard(c.name, c.pattern, c.ignore_case))
            << "pattern " << c.pattern << " name " << c.name;
    }
}

TEST(StringMatchesTest, MatchingFromLaterPositions)
{
    EXPECT_TRUE(WildcardMatch("xx.htm", "*.htm", 3, 1));
    EXPECT_TRUE(WildcardMatch("ab", "zzab", 1, 3));
    EXPECT_FALSE(WildcardMatch("ab", "a", 2, 1));
    EXPECT_TRUE(WildcardMatch("ab", "a", 3, 2));  // both used up
}

TEST(StringMatchesTest, AgreesWithReferenceMatchersOnGeneratedCases)
{
    std::mt19937 random(20261209);
    const std::string name_chars = "ab.\\";
    const std::string pattern_chars = "ab.\\*?";
    auto make = [&](const std::string& alphabet, size_t max_length) {
        std::string text(random() % (max_length + 1), ' ');
        for (char& c : text) {
            c = alphabet[random() % alphabet.size()];
        }
        return text;
    };
    for (int round = 0; round < 60000; ++round) {
        const std::string name = make(name_chars, 9);
        const std::string pattern = make(pattern_chars, 7);
        const bool ours = MatchesWildcard(name, pattern, false);
        ASSERT_EQ(RecursiveReference(name, pattern, 0, 0), ours)
            << "pattern " << pattern << " name " << name;
        ASSERT_EQ(TableReference(name, pattern), ours) << "pattern " << pattern << " name " << name;
    }
}

TEST(StringMatchesTest, HostilePatternsFinishQuickly)
{
    // Thirty "*a" against a long run of "a" with no "b" would take the recursive matcher longer
    // than the age of the universe.
    std::string pattern;
    for (int i = 0; i < 30; ++i) {
        pattern += "*a";
    }
    const std::string no_b(5000, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesWildcard(no_b, pattern + "b", false));
    EXPECT_TRUE(MatchesWildcard(no_b + "b", pattern + "b", false));
    EXPECT_TRUE(MatchesWildcard(no_b, pattern, true));
    EXPECT_FALSE(MatchesWildcard(no_b, std::string(6000, '*') + "b", false));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(StringMatchesTest, TheLastMatchingLineWins)
{
    EXPECT_EQ(1, FindMatchingPattern("x.htm", {"*.htm", "*"}, false));
    EXPECT_EQ(0, FindMatchingPattern("x.htm", {"*.htm", "*.gif"}, false));
    EXPECT_EQ(-1, FindMatchingPattern("x.htm", {}, false));
    EXPECT_EQ(-1, FindMatchingPattern("x.htm", {"*.gif", " *.htm"}, false));  // no trimming
    EXPECT_EQ(1, FindMatchingPattern("", {"a", ""}, false));
    EXPECT_EQ(0, FindMatchingPattern("X.HTM", {"*.htm", "*.gif"}, true));
}

}  // namespace
}  // namespace vantrel
