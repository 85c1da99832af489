#include "platform/FtpListing.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform {
namespace {

constexpr uint32_t kSizeMissingHalf = 0xFFFFFFFF;

struct Token
{
    std::string_view text;
    size_t end = 0;  // position just after the token in the line
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::vector<Token> Tokenize(std::string_view line)
{
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        if (i > start) {
            tokens.push_back({line.substr(start, i - start), i});
        }
    }
    return tokens;
}

bool AllDigits(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
    }
    return true;
}

// A decimal number of at most `max_digits` digits.
std::optional<int> SmallNumber(std::string_view text, size_t max_digits)
{
    if (!AllDigits(text) || text.size() > max_digits) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
    }
    return value;
}

// Empty optional when the digits do not fit 64 bits.
std::optional<uint64_t> Size(std::string_view text)
{
    uint64_t value = 0;
    for (char c : text) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<int> MonthOf(std::string_view text)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3) {
        return std::nullopt;
    }
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    for (int m = 0; m < 12; ++m) {
        if (lower == kMonths[m]) {
            return m + 1;
        }
    }
    return std::nullopt;
}

// "hh:mm" or "hh:mm:ss".
bool ParseClock(std::string_view text, int* hour, int* minute, int* second)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const auto h = SmallNumber(text.substr(0, colon), 2);
    std::string_view rest = text.substr(colon + 1);
    std::optional<int> s = 0;
    const size_t colon2 = rest.find(':');
    if (colon2 != std::string_view::npos) {
        s = SmallNumber(rest.substr(colon2 + 1), 2);
        rest = rest.substr(0, colon2);
    }
    const auto m = SmallNumber(rest, 2);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) {
        return false;
    }
    *hour = *h;
    *minute = *m;
    *second = *s;
    return true;
}

struct Calendar
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool ToFileTime(const Calendar& c, FileTime* file_time)
{
    if (c.year < 1601 || c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > DaysInMonth(c.year, c.month)) {
        return false;
    }
    SystemTime st;
    st.year = static_cast<uint16_t>(c.year);
    st.month = static_cast<uint16_t>(c.month);
    st.day = static_cast<uint16_t>(c.day);
    st.hour = static_cast<uint16_t>(c.hour);
    st.minute = static_cast<uint16_t>(c.minute);
    st.second = static_cast<uint16_t>(c.second);
    return SystemTimeToFileTime(st, file_time);
}

bool After(const Calendar& c, const SystemTime& now)
{
    const int a[] = {c.year, c.month, c.day, c.hour, c.minute, c.second};
    const int b[] = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    for (int i = 0; i < 6; ++i) {
        if (a[i] != b[i]) {
            return a[i] > b[i];
        }
    }
    return false;
}

// The year of a listed date that names none: this year, or the last one that holds the date
// (29 February) and does not put it after now.
bool GuessYear(Calendar* c, const SystemTime& now)
{
    for (int year = now.year; year > now.year - 8; --year) {
        c->year = year;
        if (c->day <= DaysInMonth(year, c->month) && !After(*c, now)) {
            return true;
        }
    }
    return false;
}

bool IsPermissionText(std::string_view text)
{
    if (text.size() != 10 &&
        !(text.size() == 11 && std::string_view("+.@").find(text[10]) != std::string_view::npos)) {
        return false;
    }
    if (std::string_view("-dlbcps").find(text[0]) == std::string_view::npos) {
        return false;
    }
    for (size_t i = 1; i < 10; ++i) {
        if (std::string_view("-rwxsStTlL").find(text[i]) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// A size column: digits, or a device's "major," "minor" pair (size missing).
bool ReadSizeColumn(const std::vector<Token>& tokens, size_t i, FindData* data)
{
    const std::string_view text = tokens[i].text;
    const bool device = i >= 2 && !tokens[i - 1].text.empty() && tokens[i - 1].text.back() == ',';
    if (!AllDigits(text)) {
        // "1,3" written as one column.
        const size_t comma = text.find(',');
        if (comma == std::string_view::npos || !AllDigits(text.substr(0, comma)) ||
            !AllDigits(text.substr(comma + 1))) {
            return false;
        }
        data->size_high = data->size_low = kSizeMissingHalf;
        return true;
    }
    const auto size = Size(text);
    if (device || !size) {
        data->size_high = data->size_low = kSizeMissingHalf;
    } else {
        data->size_high = static_cast<uint32_t>(*size >> 32);
        data->size_low = static_cast<uint32_t>(*size);
    }
    return true;
}

// Month, day and time or year at `i`, or an ISO date and time; *last is the last date token.
bool ReadUnixDate(
    const std::vector<Token>& tokens, size_t i, const SystemTime& now, FindData* data, size_t* last)
{
    Calendar c;
    const std::string_view first = tokens[i].text;
    if (first.size() == 10 && first[4] == '-' && first[7] == '-') {
        const auto y = SmallNumber(first.substr(0, 4), 4);
        const auto m = SmallNumber(first.substr(5, 2), 2);
        const auto d = SmallNumber(first.substr(8, 2), 2);
        if (!y || !m || !d || i + 1 >= tokens.size() ||
            !ParseClock(tokens[i + 1].text, &c.hour, &c.minute, &c.second)) {
            return false;
        }
        c.year = *y;
        c.month = *m;
        c.day = *d;
        *last = i + 1;
        return ToFileTime(c, &data->last_write_time);
    }
    if (i + 2 >= tokens.size()) {
        return false;
    }
    const auto month = MonthOf(first);
    const auto day = SmallNumber(tokens[i + 1].text, 2);
    if (!month || !day) {
        return false;
    }
    c.month = *month;
    c.day = *day;
    const std::string_view third = tokens[i + 2].text;
    *last = i + 2;
    if (const auto year = SmallNumber(third, 4); year && third.size() == 4) {
        c.year = *year;
        return ToFileTime(c, &data->last_write_time);
    }
    if (!ParseClock(third, &c.hour, &c.minute, &c.second) || c.day < 1 || c.day > 31 ||
        !GuessYear(&c, now)) {
        return false;
    }
    data->date_without_year = true;
    return ToFileTime(c, &data->last_write_time);
}

bool ParseUnixLine(std::string_view line,
                   const std::vector<Token>& tokens,
                   const SystemTime& now,
                   FindData* data)
{
    if (tokens.size() < 5 || !IsPermissionText(tokens[0].text)) {
        return false;
    }
    const std::string_view permissions = tokens[0].text;
    // The date follows the size column; the columns before it (links, owner, group) vary.
    for (size_t i = 2; i + 1 < tokens.size(); ++i) {
        FindData record;
        size_t last = 0;
        if (!ReadSizeColumn(tokens, i - 1, &record) ||
            !ReadUnixDate(tokens, i, now, &record, &last) || tokens[last].end + 1 >= line.size()) {
            continue;
        }
        std::string name(line.substr(tokens[last].end + 1));
        if (permissions[0] == 'l') {
            record.attributes |= kFileAttributeReparsePoint;
            const size_t arrow = name.find(" -> ");
            if (arrow != std::string::npos) {
                if (name.back() == '/') {
                    record.attributes |= kFileAttributeDirectory;
                }
                name.resize(arrow);
            }
        }
        if (permissions[0] == 'd') {
            record.attributes |= kFileAttributeDirectory;
        }
        if (permissions[2] != 'w') {
            record.attributes |= kFileAttributeReadOnly;
        }
        if (permissions[0] == 'd' || permissions[0] == 'l') {
            // A folder's size says nothing about its content.
        } else if (permissions[0] != '-') {
            record.size_high = record.size_low = kSizeMissingHalf;
        }
        record.file_name = std::move(name);
        *data = std::move(record);
        return true;
    }
    return false;
}

// "01-12-05" or "01-12-2005" (month first), "-" or "/" between.
bool ParseDosDate(std::string_view text, Calendar* c)
{
    if (text.size() != 8 && text.size() != 10) {
        return false;
    }
    const char sep = text[2];
    if ((sep != '-' && sep != '/') || text[5] != sep) {
        return false;
    }
    const auto m = SmallNumber(text.substr(0, 2), 2);
    const auto d = SmallNumber(text.substr(3, 2), 2);
    const auto y = SmallNumber(text.substr(6), 4);
    if (!m || !d || !y) {
        return false;
    }
    c->month = *m;
    c->day = *d;
    c->year = text.size() == 10 ? *y : (*y < 70 ? 2000 + *y : 1900 + *y);
    return true;
}

// "10:11", "10:11AM" or "10:11PM"; `suffix` is a following "AM"/"PM" column, if any.
bool ParseDosTime(std::string_view text, std::string_view suffix, Calendar* c, bool* used_suffix)
{
    std::string_view half;
    if (text.size() > 2 && (text.ends_with("AM") || text.ends_with("PM") || text.ends_with("am") ||
                            text.ends_with("pm"))) {
        half = text.substr(text.size() - 2);
        text.remove_suffix(2);
    } else if (suffix == "AM" || suffix == "PM" || suffix == "am" || suffix == "pm") {
        half = suffix;
        *used_suffix = true;
    }
    if (!ParseClock(text, &c->hour, &c->minute, &c->second)) {
        return false;
    }
    if (!half.empty()) {
        if (c->hour < 1 || c->hour > 12) {
            return false;
        }
        const bool pm = half[0] == 'P' || half[0] == 'p';
        c->hour = (c->hour % 12) + (pm ? 12 : 0);
    }
    return true;
}

bool ParseDosLine(std::string_view line, const std::vector<Token>& tokens, FindData* data)
{
    if (tokens.size() < 4) {
        return false;
    }
    Calendar c;
    bool used_suffix = false;
    if (!ParseDosDate(tokens[0].text, &c) ||
        !ParseDosTime(tokens[1].text, tokens[2].text, &c, &used_suffix)) {
        return false;
    }
    const size_t size_at = used_suffix ? 3 : 2;
    if (size_at >= tokens.size()) {
        return false;
    }
    FindData record;
    if (!ToFileTime(c, &record.last_write_time)) {
        return false;
    }
    const std::string_view size_text = tokens[size_at].text;
    size_t name_at = tokens[size_at].end;
    if (size_text == "<DIR>" || size_text == "<dir>") {
        record.attributes |= kFileAttributeDirectory;
        while (name_at < line.size() && IsBlank(line[name_at])) {
            ++name_at;
        }
    } else {
        std::string digits;
        for (char ch : size_text) {
            if (ch != ',') {
                digits += ch;
            }
        }
        if (!AllDigits(digits)) {
            return false;
        }
        const auto size = Size(digits);
        record.size_high = size ? static_cast<uint32_t>(*size >> 32) : kSizeMissingHalf;
        record.size_low = size ? static_cast<uint32_t>(*size) : kSizeMissingHalf;
        ++name_at;
    }
    if (name_at >= line.size()) {
        return false;
    }
    record.file_name = std::string(line.substr(name_at));
    *data = std::move(record);
    return true;
}

bool IsTotalLine(const std::vector<Token>& tokens)
{
    if (tokens.size() != 2 || tokens[0].text != "total") {
        return false;
    }
    // "total 12" or, from "ls -h", "total 1.5K".
    std::string_view count = tokens[1].text;
    while (!count.empty() && std::isalpha(static_cast<unsigned char>(count.back()))) {
        count.remove_suffix(1);
    }
    if (count.empty() || !IsDigit(count.front())) {
        return false;
    }
    for (char c : count) {
        if (!IsDigit(c) && c != '.' && c != ',') {
            return false;
        }
    }
    return true;
}

bool SafeName(const FindData& data)
{
    const std::string& name = data.file_name;
    if (name.empty() || name.find_first_of(std::string_view("/\\\r\n\0", 5)) != std::string::npos) {
        return false;
    }
    // "." and ".." stand for folders themselves; anything else of that name is a trap.
    const bool folder = (data.attributes & kFileAttributeDirectory) != 0 &&
                        (data.attributes & kFileAttributeReparsePoint) == 0;
    return folder || (name != "." && name != "..");
}

}  // namespace

bool ParseListingLine(std::string_view line, const SystemTime& now, FindData* data)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    const std::vector<Token> tokens = Tokenize(line);
    if (tokens.empty() || IsTotalLine(tokens)) {
        return false;
    }
    FindData record;
    if (!ParseUnixLine(line, tokens, now, &record) && !ParseDosLine(line, tokens, &record)) {
        record = FindData{};
        record.file_name = std::string(line);
    }
    if (!SafeName(record)) {
        return false;
    }
    const std::string& name = record.file_name;
    if (name[0] == '.' && name != "." && name != "..") {
        record.attributes |= kFileAttributeHidden;
    }
    *data = std::move(record);
    return true;
}

std::string_view ListingPermissionText(std::string_view line)
{
    const std::vector<Token> tokens = Tokenize(line);
    if (tokens.size() < 5 || !IsPermissionText(tokens[0].text)) {
        return {};
    }
    return tokens[0].text;
}

}  // namespace vantrel::platform
