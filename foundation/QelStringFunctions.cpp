#include "foundation/QelStringFunctions.h"

namespace vantrel {
namespace {

constexpr std::string_view kDefaultSplitSet = "\r\n \t";

bool InSet(std::string_view set, char c)
{
    return set.find(c) != std::string_view::npos;
}

// Position of sep in text, npos for an empty sep, which never occurs.
size_t FindSep(std::string_view text, std::string_view sep)
{
    return sep.empty() ? std::string_view::npos : text.find(sep);
}

bool SameText(std::string_view a, std::string_view b, bool ignore_case)
{
    if (a.size() != b.size()) {
        return false;
    }
    if (!ignore_case) {
        return a == b;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

char AsciiLowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLowerCase(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded) {
        c = AsciiLowerChar(c);
    }
    return folded;
}

std::string IfNotOne(int32_t count, std::string_view text)
{
    return count == 1 ? std::string() : std::string(text);
}

std::string BeforeLast(std::string_view text, char sep)
{
    const size_t pos = text.rfind(sep);
    return pos == std::string_view::npos ? std::string() : std::string(text.substr(0, pos));
}

std::string JoinWithSeparator(std::string_view a, std::string_view sep, std::string_view b)
{
    if (a.empty()) {
        return std::string(b);
    }
    if (b.empty()) {
        return std::string(a);
    }
    std::string joined(a);
    if (!EndsWith(a, sep, false)) {
        joined += sep;
    }
    joined += b;
    return joined;
}

std::string AfterLast(std::string_view text, char sep)
{
    const size_t pos = text.rfind(sep);
    return std::string(pos == std::string_view::npos ? text : text.substr(pos + 1));
}

std::string IfThenStr(bool flag, std::string_view text)
{
    return flag ? std::string(text) : std::string();
}

std::string IfThenElseStr(bool flag, std::string_view text, std::string_view alternative)
{
    return std::string(flag ? text : alternative);
}

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string RestOf(std::string_view text, int32_t position)
{
    const size_t start = position < 1 ? 0 : static_cast<size_t>(position) - 1;
    return start >= text.size() ? std::string() : std::string(text.substr(start));
}

std::string Mid(std::string_view text, int32_t start, int32_t count)
{
    if (count <= 0) {
        return std::string();
    }
    const size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    if (from >= text.size()) {
        return std::string();
    }
    return std::string(text.substr(from, static_cast<size_t>(count)));
}

std::string LeftStr(std::string_view text, int32_t n)
{
    const int64_t length = static_cast<int64_t>(text.size());
    const int64_t keep = n < 0 ? length + n : n;
    if (keep <= 0) {
        return std::string();
    }
    return std::string(text.substr(0, static_cast<size_t>(keep < length ? keep : length)));
}

std::string RightStr(std::string_view text, int32_t n)
{
    const int64_t length = static_cast<int64_t>(text.size());
    const int64_t keep = n < 0 ? length + n : n;
    if (keep <= 0) {
        return std::string();
    }
    if (keep >= length) {
        return std::string(text);
    }
    return std::string(text.substr(static_cast<size_t>(length - keep)));
}

std::string After(std::string_view text, std::string_view sep)
{
    const size_t pos = FindSep(text, sep);
    return pos == std::string_view::npos ? std::string()
                                         : std::string(text.substr(pos + sep.size()));
}

std::string Before(std::string_view text, std::string_view sep)
{
    const size_t pos = FindSep(text, sep);
    return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

void SplitHead(std::string* text, std::string_view sep, std::string* head)
{
    const size_t pos = FindSep(*text, sep);
    if (pos == std::string::npos) {
        *head = std::move(*text);
        text->clear();
        return;
    }
    *head = text->substr(0, pos);
    text->erase(0, pos + sep.size());
}

void SplitTail(std::string* text, std::string_view set, std::string* tail)
{
    if (set.empty()) {
        set = kDefaultSplitSet;
    }
    size_t end = text->size();
    while (end > 0 && InSet(set, (*text)[end - 1])) {
        --end;
    }
    size_t start = end;
    while (start > 0 && !InSet(set, (*text)[start - 1])) {
        --start;
    }
    *tail = text->substr(start, end - start);
    // When a set character ends the head, that one character goes; any before it stay.
    text->resize(start > 0 ? start - 1 : 0);
}

std::string NthField(std::string_view text, int32_t n, std::string_view sep)
{
    std::string rest(text);
    for (int32_t i = 1; i < n; ++i) {
        rest = After(rest, sep);
        if (rest.empty()) {
            return rest;
        }
    }
    return Before(rest, sep);
}

bool EndsWith(std::string_view text, std::string_view suffix, bool ignore_case)
{
    if (suffix.size() > text.size()) {
        return false;
    }
    return SameText(text.substr(text.size() - suffix.size()), suffix, ignore_case);
}

bool StartsWith(std::string_view text, std::string_view prefix, bool ignore_case)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    return SameText(text.substr(0, prefix.size()), prefix, ignore_case);
}

std::string ReplaceAll(std::string_view text, std::string_view old_text, std::string_view new_text)
{
    std::string result(text);
    if (old_text.empty()) {
        return result;
    }
    if (new_text.find(old_text) != std::string_view::npos) {
        std::string replaced;
        size_t from = 0;
        for (size_t pos = result.find(old_text); pos != std::string::npos;
             pos = result.find(old_text, from)) {
            replaced.append(result, from, pos - from);
            replaced += new_text;
            from = pos + old_text.size();
        }
        replaced.append(result, from, std::string::npos);
        return replaced;
    }
    // Searching again from the start finds the first occurrence that the last replacement may
    // have formed; none can begin earlier than old's length minus one before it, so the search
    // resumes there instead of at the start and a long run does not cost quadratic time.
    size_t pos = result.find(old_text);
    while (pos != std::string::npos) {
        result.replace(pos, old_text.size(), new_text);
        const size_t back = old_text.size() - 1;
        pos = result.find(old_text, pos > back ? pos - back : 0);
    }
    return result;
}

int32_t LastIndexOfChar(std::string_view text, char c)
{
    const size_t pos = text.rfind(c);
    return pos == std::string_view::npos ? -1 : static_cast<int32_t>(pos) + 1;
}

}  // namespace vantrel
