#include "foundation/QelStringFunctions.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(QelStringFunctionsTest, IfNotOneGivesThePluralForAnyCountButOne)
{
    EXPECT_EQ("", IfNotOne(1, "s"));
    EXPECT_EQ("s", IfNotOne(0, "s"));
    EXPECT_EQ("s", IfNotOne(2, "s"));
    EXPECT_EQ("s", IfNotOne(-1, "s"));
}

TEST(QelStringFunctionsTest, CuttingAtTheFirstOrLastSeparator)
{
    struct Case
    {
        const char* text;
        std::string before_last, after_last, before, after;
    };
    const Case kCases[] = {
        {"a\\b\\c", "a\\b", "c", "a", "b\\c"},
        {"abc", "", "abc", "abc", ""},
        {"\\x", "", "x", "", "x"},
        {"x\\", "x", "", "x", ""},
        {"", "", "", "", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.before_last, BeforeLast(c.text, '\\')) << c.text;
        EXPECT_EQ(c.after_last, AfterLast(c.text, '\\')) << c.text;
        EXPECT_EQ(c.before, Before(c.text, "\\")) << c.text;
        EXPECT_EQ(c.after, After(c.text, "\\")) << c.text;
    }
    EXPECT_EQ("b=c", After("a==b=c", "=="));
    EXPECT_EQ("abc", Before("abc", ""));
    EXPECT_EQ("", After("abc", ""));
}

TEST(QelStringFunctionsTest, JoinWithSeparatorNeverDoublesTheSeparator)
{
    EXPECT_EQ("folder\\name", JoinWithSeparator("folder\\", "\\", "name"));
    EXPECT_EQ("folder\\name", JoinWithSeparator("folder", "\\", "name"));
    EXPECT_EQ("name", JoinWithSeparator("", "\\", "name"));
    EXPECT_EQ("folder", JoinWithSeparator("folder", "\\", ""));
    // Only the first text's end counts: a name that starts with the separator is kept as it is.
    EXPECT_EQ("a\\\\b", JoinWithSeparator("a", "\\", "\\b"));
}

TEST(QelStringFunctionsTest, PositionsAndCountsAreLimitedToTheText)
{
    EXPECT_EQ("abc", LeftStr("abcde", -2));
    EXPECT_EQ("cde", RightStr("abcde", -2));
    EXPECT_EQ("abcde", LeftStr("abcde", 5));
    EXPECT_EQ("abcde", RightStr("abcde", 9));
    EXPECT_EQ("", LeftStr("abcde", -5));
    EXPECT_EQ("", RightStr("abcde", -7));
    EXPECT_EQ("", LeftStr("abcde", 0));
    EXPECT_EQ("ab", LeftStr("abcde", 2));
    EXPECT_EQ("de", RightStr("abcde", 2));

    EXPECT_EQ("cde", RestOf("abcde", 3));
    EXPECT_EQ("abcde", RestOf("abcde", -4));
    EXPECT_EQ("e", RestOf("abcde", 5));
    EXPECT_EQ("", RestOf("abcde", 6));

    EXPECT_EQ("bc", Mid("abcde", 2, 2));
    EXPECT_EQ("de", Mid("abcde", 4, 10));
    EXPECT_EQ("ab", Mid("abcde", 0, 2));
    EXPECT_EQ("", Mid("abcde", 6, 1));
    EXPECT_EQ("", Mid("abcde", 2, -1));

    EXPECT_EQ(4, LastIndexOfChar("a\\b\\c", '\\'));
    EXPECT_EQ(-1, LastIndexOfChar("abc", '\\'));
}

TEST(QelStringFunctionsTest, SplitHeadTakesTheTextBeforeTheFirstSeparator)
{
    std::string text = "*.cgi=755=x";
    std::string head;
    SplitHead(&text, "=", &head);
    EXPECT_EQ("*.cgi", head);
    EXPECT_EQ("755=x", text);
    SplitHead(&text, "#", &head);
    EXPECT_EQ("755=x", head);
    EXPECT_EQ("", text);
}

TEST(QelStringFunctionsTest, SplitTailCutsTheLastWord)
{
    struct Case
    {
        const char* text;
        const char* set;
        std::string head, tail;
    };
    const Case kCases[] = {
        {"\\site\\www\\index.htm", "\\", "\\site\\www", "index.htm"},
        {"index.htm", "\\", "", "index.htm"},
        {"a\\\\b", "\\", "a\\", "b"},  // only the one backslash before the name goes
        {"a\\b\\\\", "\\", "a", "b"},  // trailing set characters are dropped first
        {"one two\r\n", "", "one", "two"},
        {"one \t two", "", "one \t", "two"},
        {"  ", "", "", ""},
        {"", "\\", "", ""},
    };
    for (const auto& c : kCases) {
        std::string text = c.text;
        std::string tail = "junk";
        SplitTail(&text, c.set, &tail);
        EXPECT_EQ(c.head, text) << c.text;
        EXPECT_EQ(c.tail, tail) << c.text;
    }
}

TEST(QelStringFunctionsTest, NthFieldCountsEmptyFields)
{
    struct Case
    {
        int n;
        std::string expected;
    };
    const Case kCases[] = {{-1, ""},     {1, ""},       {2, ""}, {3, "server"},
                           {4, "share"}, {5, "folder"}, {6, ""}};
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, NthField("\\\\server\\share\\folder", c.n, "\\")) << c.n;
    }
    EXPECT_EQ("a", NthField("a,b", 0, ","));
    EXPECT_EQ("b", NthField("a,b", 2, ","));
}

TEST(QelStringFunctionsTest, StartsAndEndsWithFoldOnlyAsciiLetters)
{
    EXPECT_TRUE(EndsWith("Page.HTM", ".htm", true));
    EXPECT_FALSE(EndsWith("Page.HTM", ".htm", false));
    EXPECT_TRUE(EndsWith("x", "", false));
    EXPECT_FALSE(EndsWith("m", "htm", true));
    EXPECT_TRUE(StartsWith("FTP:host", "ftp:", true));
    EXPECT_FALSE(StartsWith("FTP:host", "ftp:", false));
    EXPECT_TRUE(StartsWith("", "", false));
    EXPECT_FALSE(StartsWith("ft", "ftp", true));
    // "\xC4" and "\xE4" are capital and small a with diaeresis in the Latin-1 code page.
    EXPECT_FALSE(EndsWith("x\xC4", "\xE4", true));
    EXPECT_EQ("abc\xC4_z", AsciiLowerCase("AbC\xC4_Z"));
    EXPECT_TRUE(IsAsciiLetter('z'));
    EXPECT_FALSE(IsAsciiLetter('\xC4'));
    EXPECT_FALSE(IsAsciiLetter('['));
}

TEST(QelStringFunctionsTest, ReplaceAllCollapsesRunsUnlessTheNewTextHoldsTheOld)
{
    struct Case
    {
        const char* text;
        const char* old_text;
        const char* new_text;
        std::string expected;
    };
    const Case kCases[] = {
        {"a\\\\\\\\b\\\\c", "\\\\", "\\", "a\\b\\c"},
        {"a/b/c", "/", "\\", "a\\b\\c"},
        {"aaa", "a", "aa", "aaaaaa"},  // one pass: replaced text is not searched again
        {"x.y", "", "z", "x.y"},
        {"abab", "ab", "", ""},
        {"aabb", "ab", "", ""},  // removing "ab" forms a new "ab"
        {"none", "q", "r", "none"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, ReplaceAll(c.text, c.old_text, c.new_text)) << c.text;
    }
    // A long run collapses in one call and in reasonable time.
    EXPECT_EQ("\\", ReplaceAll(std::string(200000, '\\'), "\\\\", "\\"));
}

TEST(QelStringFunctionsTest, IfThenHelpersChooseByTheFlag)
{
    EXPECT_EQ("yes", IfThenStr(true, "yes"));
    EXPECT_EQ("", IfThenStr(false, "yes"));
    EXPECT_EQ("no", IfThenElseStr(false, "yes", "no"));
}

}  // namespace
}  // namespace vantrel
