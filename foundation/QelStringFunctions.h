#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Text cutting and joining. Texts are 8-bit; positions are 1-based; comparisons that ignore case
// fold the ASCII letters A to Z only.
namespace vantrel {

// Empty when count is 1, else the text: the plural "s" of counted messages.
std::string IfNotOne(int32_t count, std::string_view text);
// The text before the last sep; empty when sep does not occur.
std::string BeforeLast(std::string_view text, char sep);
// b when a is empty; a when b is empty; a + b when a already ends with sep; else a + sep + b.
std::string JoinWithSeparator(std::string_view a, std::string_view sep, std::string_view b);
// The text after the last sep; the whole text when sep does not occur.
std::string AfterLast(std::string_view text, char sep);
std::string IfThenStr(bool flag, std::string_view text);
std::string IfThenElseStr(bool flag, std::string_view text, std::string_view alternative);
bool IsAsciiLetter(char c);
// From the position to the end; a position below 1 counts as 1, one past the end gives empty.
std::string RestOf(std::string_view text, int32_t position);
// Count characters from start, limited to the text; a start below 1 counts as 1.
std::string Mid(std::string_view text, int32_t start, int32_t count);
// The first n characters; a negative n gives all but the last -n.
std::string LeftStr(std::string_view text, int32_t n);
// The last n characters; a negative n gives all but the first -n.
std::string RightStr(std::string_view text, int32_t n);
// The text after the first sep; empty when sep does not occur.
std::string After(std::string_view text, std::string_view sep);
// The text before the first sep; the whole text when sep does not occur.
std::string Before(std::string_view text, std::string_view sep);
// head := the text before the first sep, text := the rest after it; without sep, head := the
// whole text and text := empty.
void SplitHead(std::string* text, std::string_view sep, std::string* head);
// Cuts the last word off the text: trailing set characters are dropped, the word before them goes
// to tail, and the one set character before the word is removed from what stays in text. An
// empty set means CR, LF, blank and tab. With the set "\" a path splits into folder and name.
void SplitTail(std::string* text, std::string_view set, std::string* tail);
// The n-th field of the text split at sep, numbered from 1 with empty fields counted; n below 2
// gives the first field, a field past the last gives empty.
std::string NthField(std::string_view text, int32_t n, std::string_view sep);
bool EndsWith(std::string_view text, std::string_view suffix, bool ignore_case);
bool StartsWith(std::string_view text, std::string_view prefix, bool ignore_case);
// Replaces every old by new. When new does not contain old, occurrences that a replacement forms
// with its neighbours are replaced too, so replacing "\\" by "\" collapses any run of
// backslashes; when it does, one left-to-right pass that never searches replaced text.
std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text);
// 1-based position of the last c, -1 when none.
int32_t LastIndexOfChar(std::string_view text, char c);

// The text with A to Z turned into a to z and every other byte as it is.
std::string AsciiLowerCase(std::string_view text);
char AsciiLowerChar(char c);

}  // namespace vantrel
