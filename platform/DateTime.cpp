#include "platform/DateTime.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <optional>
#include <time.h>
#include <vector>

#include "platform/Errors.h"

namespace vantrel::platform {
namespace {

constexpr uint64_t kTicksPerMillisecond = 10'000;
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kTicksPerDay = kTicksPerSecond * 86'400;
constexpr int64_t kMillisecondsPerDay = 86'400'000;

// Days from 1 January 1970 of a proleptic Gregorian civil date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int64_t* m, int64_t* d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp + (mp < 10 ? 3 : -9);
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

// 1 January 1601 and 30 December 1899 counted from 1 January 1970.
const int64_t kFileTimeEpochDays = DaysFromCivil(1601, 1, 1);
const int64_t kDateTimeEpochDays = DaysFromCivil(1899, 12, 30);

uint16_t DayOfWeek(int64_t days_from_1970)
{
    // 1 January 1970 was a Thursday.
    const int64_t w = (days_from_1970 + 4) % 7;
    return static_cast<uint16_t>(w < 0 ? w + 7 : w);
}

bool ValidTime(int hour, int minute, int second, int milliseconds)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
           milliseconds >= 0 && milliseconds < 1000;
}

bool ValidDate(int year, int month, int day)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ShiftFileTime(const FileTime& in, int64_t seconds, FileTime* out)
{
    const int64_t value = static_cast<int64_t>(in.Value());
    const int64_t shifted = value + seconds * static_cast<int64_t>(kTicksPerSecond);
    if (value < 0 || shifted < 0) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    *out = FileTime::FromValue(static_cast<uint64_t>(shifted));
    return true;
}

void FillFromTimespec(const timespec& ts, bool local, SystemTime* fields)
{
    std::tm tm{};
    if (local) {
        localtime_r(&ts.tv_sec, &tm);
    } else {
        gmtime_r(&ts.tv_sec, &tm);
    }
    fields->year = static_cast<uint16_t>(tm.tm_year + 1900);
    fields->month = static_cast<uint16_t>(tm.tm_mon + 1);
    fields->day_of_week = static_cast<uint16_t>(tm.tm_wday);
    fields->day = static_cast<uint16_t>(tm.tm_mday);
    fields->hour = static_cast<uint16_t>(tm.tm_hour);
    fields->minute = static_cast<uint16_t>(tm.tm_min);
    fields->second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    fields->milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1'000'000);
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One piece of a format: a date or time field, or text that stands as it is.
enum class Field : uint8_t
{
    kText,
    kDay,
    kMonth,
    kYear,
    kHour,
    kMinute,
    kSecond,
    kMillisecond,
};

struct Token
{
    Field field = Field::kText;
    int digits = 0;    // the zero-padded width; 0 = as many digits as the value needs
    std::string text;  // for kText
};

// A run of one token letter is its long form from long_run letters on, else its short form.
struct TokenLetter
{
    char letter;
    Field field;
    int short_digits;  // 0 = as many digits as the value needs
    int long_digits;
    size_t long_run;
};

constexpr TokenLetter kTokenLetters[] = {
    {'d', Field::kDay, 0, 2, 2},         {'m', Field::kMonth, 0, 2, 2},
    {'y', Field::kYear, 2, 4, 3},        {'h', Field::kHour, 0, 2, 2},
    {'n', Field::kMinute, 0, 2, 2},      {'s', Field::kSecond, 0, 2, 2},
    {'z', Field::kMillisecond, 0, 3, 3},
};

void AppendText(std::string_view text, std::vector<Token>* tokens)
{
    if (tokens->empty() || tokens->back().field != Field::kText) {
        tokens->push_back(Token{});
    }
    tokens->back().text.append(text);
}

// Splits a format into tokens. "c" expands to the short date and, when with_time, a blank and the
// long time; inside those two formats "c" is an ordinary letter, so settings cannot recurse.
void Tokenize(std::string_view format,
              const FormatSettings& settings,
              bool with_time,
              bool expand_c,
              std::vector<Token>* tokens)
{
    size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        const char lower = AsciiLower(c);
        if (c == '"' || c == '\'') {
            const size_t end = format.find(c, i + 1);
            const size_t stop = end == std::string_view::npos ? format.size() : end;
            AppendText(format.substr(i + 1, stop - i - 1), tokens);
            i = stop + 1;
            continue;
        }
        if (lower == 'c' && expand_c) {
            Tokenize(settings.short_date_format, settings, false, false, tokens);
            if (with_time) {
                AppendText(" ", tokens);
                Tokenize(settings.long_time_format, settings, false, false, tokens);
            }
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < format.size() && AsciiLower(format[i + run]) == lower) {
            ++run;
        }
        const TokenLetter* letter = nullptr;
        for (const TokenLetter& candidate : kTokenLetters) {
            if (candidate.letter == lower) {
                letter = &candidate;
            }
        }
        if (letter == nullptr) {
            const char* separator = c == '/'   ? &settings.date_separator
                                    : c == ':' ? &settings.time_separator
                                               : &format[i];
            AppendText(std::string_view(separator, 1), tokens);
            ++i;
            continue;
        }
        const bool long_form = run >= letter->long_run;
        tokens->push_back(
            {letter->field, long_form ? letter->long_digits : letter->short_digits, {}});
        i += run;
    }
}

int FieldValue(Field field, int digits, const SystemTime& t)
{
    switch (field) {
        case Field::kDay:
            return t.day;
        case Field::kMonth:
            return t.month;
        case Field::kYear:
            return digits == 2 ? t.year % 100 : t.year;
        case Field::kHour:
            return t.hour;
        case Field::kMinute:
            return t.minute;
        case Field::kSecond:
            return t.second;
        case Field::kMillisecond:
            return t.milliseconds;
        case Field::kText:
            break;
    }
    return 0;
}

// A two-digit year lies in the century window of 50 years before now to 49 after.
int ExpandTwoDigitYear(int year)
{
    SystemTime now;
    GetLocalTime(&now);
    const int base = now.year - 50;
    int full = base / 100 * 100 + year;
    if (full < base) {
        full += 100;
    }
    return full;
}

bool ParseTokens(std::string_view text, const std::vector<Token>& tokens, double* date_time)
{
    // A format without a date field reads as 30 December 1899, as date-time 0 is.
    int values[8] = {0, 30, 12, 1899, 0, 0, 0, 0};
    bool two_digit_year = false;
    size_t pos = 0;
    for (const Token& token : tokens) {
        if (token.field == Field::kText) {
            if (text.substr(pos, token.text.size()) != token.text) {
                return false;
            }
            pos += token.text.size();
            continue;
        }
        const size_t most = token.digits > 0                     ? token.digits
                            : token.field == Field::kMillisecond ? 3
                                                                 : 2;
        const size_t least = token.digits > 0 ? token.digits : 1;
        int value = 0;
        size_t count = 0;
        while (count < most && pos < text.size() && IsDigit(text[pos])) {
            value = value * 10 + (text[pos] - '0');
            ++pos;
            ++count;
        }
        if (count < least) {
            return false;
        }
        values[static_cast<int>(token.field)] = value;
        if (token.field == Field::kYear) {
            two_digit_year = token.digits == 2;
        }
    }
    if (pos != text.size()) {
        return false;
    }
    int year = values[static_cast<int>(Field::kYear)];
    if (two_digit_year) {
        year = ExpandTwoDigitYear(year);
    }
    return TryEncodeDateTime(
        year, values[static_cast<int>(Field::kMonth)], values[static_cast<int>(Field::kDay)],
        values[static_cast<int>(Field::kHour)], values[static_cast<int>(Field::kMinute)],
        values[static_cast<int>(Field::kSecond)], values[static_cast<int>(Field::kMillisecond)],
        date_time);
}

// One piece of a translated strftime pattern: a field's token, or one literal character.
struct PatternPart
{
    std::string_view token;  // empty for a literal
    char literal = 0;
};

// The parts of a strftime pattern; false when a conversion has no token of ours.
bool SplitStrftime(std::string_view pattern, std::vector<PatternPart>* parts)
{
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            parts->push_back({{}, pattern[i]});
            continue;
        }
        if (++i == pattern.size()) {
            return false;
        }
        // The alternative forms (%Ey, %Od) print the same fields.
        if ((pattern[i] == 'E' || pattern[i] == 'O') && i + 1 < pattern.size()) {
            ++i;
        }
        std::string_view token;
        std::string_view expansion;
        switch (pattern[i]) {
            case 'd':
                token = "dd";
                break;
            case 'e':
                token = "d";
                break;
            case 'm':
                token = "mm";
                break;
            case 'y':
            case 'Y':
                token = "yyyy";
                break;
            case 'H':
                token = "hh";
                break;
            case 'k':
                token = "h";
                break;
            case 'M':
                token = "nn";
                break;
            case 'S':
                token = "ss";
                break;
            case '%':
                parts->push_back({{}, '%'});
                continue;
            case 'D':
                expansion = "%m/%d/%y";
                break;
            case 'F':
                expansion = "%Y-%m-%d";
                break;
            case 'T':
                expansion = "%H:%M:%S";
                break;
            case 'R':
                expansion = "%H:%M";
                break;
            default:
                return false;
        }
        if (!expansion.empty()) {
            SplitStrftime(expansion, parts);
        } else {
            parts->push_back({token, 0});
        }
    }
    return true;
}

// Translates a strftime pattern that holds each field named by `fields` (token letters) exactly
// once and no other; otherwise leaves both results as they are. The separator is the first
// single character between two fields; it becomes `separator_token`, and every other literal
// that our tokens would read is quoted.
void TranslateStrftime(std::string_view pattern,
                       std::string_view fields,
                       char separator_token,
                       std::string* format,
                       char* separator)
{
    std::vector<PatternPart> parts;
    if (!SplitStrftime(pattern, &parts)) {
        return;
    }
    for (const char letter : fields) {
        int seen = 0;
        for (const PatternPart& part : parts) {
            if (!part.token.empty()) {
                if (fields.find(part.token[0]) == std::string_view::npos) {
                    return;
                }
                seen += part.token[0] == letter ? 1 : 0;
            }
        }
        if (seen != 1) {
            return;
        }
    }
    char found = separator_token;
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
        if (parts[i].token.empty() && !parts[i - 1].token.empty() && !parts[i + 1].token.empty()) {
            found = parts[i].literal;
            break;
        }
    }
    std::string translated;
    for (const PatternPart& part : parts) {
        const char c = part.literal;
        if (!part.token.empty()) {
            translated.append(part.token);
        } else if (c == found) {
            translated.push_back(separator_token);
        } else if (c == '"') {
            translated.append("'\"'");
        } else if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '\'') {
            translated.append({'"', c, '"'});
        } else {
            translated.push_back(c);
        }
    }
    *format = translated;
    *separator = found;
}

bool IsCLocaleName(std::string_view name)
{
    return name == "C" || name == "POSIX" || name.starts_with("C.");
}

std::mutex settings_lock;
std::optional<FormatSettings> current_settings;  // Guarded by settings_lock.

}  // namespace

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool FileTimeToSystemTime(const FileTime& file_time, SystemTime* system_time)
{
    const uint64_t value = file_time.Value();
    if (value >= (uint64_t{1} << 63)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const int64_t days = static_cast<int64_t>(value / kTicksPerDay) + kFileTimeEpochDays;
    const uint64_t in_day = value % kTicksPerDay;
    int64_t y, m, d;
    CivilFromDays(days, &y, &m, &d);
    system_time->year = static_cast<uint16_t>(y);
    system_time->month = static_cast<uint16_t>(m);
    system_time->day = static_cast<uint16_t>(d);
    system_time->day_of_week = DayOfWeek(days);
    const uint64_t ms = in_day / kTicksPerMillisecond;
    system_time->hour = static_cast<uint16_t>(ms / 3'600'000);
    system_time->minute = static_cast<uint16_t>(ms / 60'000 % 60);
    system_time->second = static_cast<uint16_t>(ms / 1000 % 60);
    system_time->milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& st, FileTime* file_time)
{
    if (st.year < 1601 || st.year > 30827 || !ValidDate(st.year, st.month, st.day) ||
        !ValidTime(st.hour, st.minute, st.second, st.milliseconds)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const int64_t days = DaysFromCivil(st.year, st.month, st.day) - kFileTimeEpochDays;
    const uint64_t ms =
        ((uint64_t{st.hour} * 60 + st.minute) * 60 + st.second) * 1000 + st.milliseconds;
    *file_time =
        FileTime::FromValue(static_cast<uint64_t>(days) * kTicksPerDay + ms * kTicksPerMillisecond);
    return true;
}

int64_t LocalOffsetSecondsNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_gmtoff;
}

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime* local)
{
    return ShiftFileTime(utc, LocalOffsetSecondsNow(), local);
}

bool LocalFileTimeToFileTime(const FileTime& local, FileTime* utc)
{
    return ShiftFileTime(local, -LocalOffsetSecondsNow(), utc);
}

void GetSystemTime(SystemTime* utc)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    FillFromTimespec(ts, false, utc);
}

void GetLocalTime(SystemTime* local)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    FillFromTimespec(ts, true, local);
}

bool TryEncodeDateTime(int year,
                       int month,
                       int day,
                       int hour,
                       int minute,
                       int second,
                       int milliseconds,
                       double* date_time)
{
    *date_time = 0;
    if (year < 1 || year > 9999 || !ValidDate(year, month, day) ||
        !ValidTime(hour, minute, second, milliseconds)) {
        return false;
    }
    const double date = static_cast<double>(DaysFromCivil(year, month, day) - kDateTimeEpochDays);
    const double time =
        static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + milliseconds) /
        static_cast<double>(kMillisecondsPerDay);
    *date_time = date < 0 ? date - time : date + time;
    return true;
}

bool DecodeDateTime(double date_time, SystemTime* fields)
{
    if (!std::isfinite(date_time) || date_time < -693594.0 || date_time >= 2958466.0) {
        return false;
    }
    int64_t days = static_cast<int64_t>(std::trunc(date_time));
    int64_t ms = std::llround(std::fabs(date_time - static_cast<double>(days)) *
                              static_cast<double>(kMillisecondsPerDay));
    if (ms >= kMillisecondsPerDay) {
        // Rounding reached the next midnight, away from zero like the time of day itself.
        ms -= kMillisecondsPerDay;
        days += date_time < 0 ? -1 : 1;
    }
    const int64_t civil_days = days + kDateTimeEpochDays;
    int64_t y, m, d;
    CivilFromDays(civil_days, &y, &m, &d);
    if (y < 1 || y > 9999) {
        return false;
    }
    fields->year = static_cast<uint16_t>(y);
    fields->month = static_cast<uint16_t>(m);
    fields->day = static_cast<uint16_t>(d);
    fields->day_of_week = DayOfWeek(civil_days);
    fields->hour = static_cast<uint16_t>(ms / 3'600'000);
    fields->minute = static_cast<uint16_t>(ms / 60'000 % 60);
    fields->second = static_cast<uint16_t>(ms / 1000 % 60);
    fields->milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

FormatSettings FormatSettingsFromStrftime(std::string_view date_pattern,
                                          std::string_view time_pattern)
{
    FormatSettings settings;
    TranslateStrftime(date_pattern, "dmy", '/', &settings.short_date_format,
                      &settings.date_separator);
    TranslateStrftime(time_pattern, "hns", ':', &settings.long_time_format,
                      &settings.time_separator);
    return settings;
}

FormatSettings FormatSettingsFromLocale()
{
    const char* name = nullptr;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            name = value;
            break;
        }
    }
    if (name == nullptr || IsCLocaleName(name)) {
        return FormatSettings{};
    }
    const locale_t locale = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return FormatSettings{};
    }
    FormatSettings settings =
        FormatSettingsFromStrftime(nl_langinfo_l(D_FMT, locale), nl_langinfo_l(T_FMT, locale));
    freelocale(locale);
    return settings;
}

FormatSettings GetFormatSettings()
{
    std::lock_guard<std::mutex> hold(settings_lock);
    if (!current_settings.has_value()) {
        current_settings = FormatSettingsFromLocale();
    }
    return *current_settings;
}

void SetFormatSettings(const FormatSettings& settings)
{
    std::lock_guard<std::mutex> hold(settings_lock);
    current_settings = settings;
}

std::string ShortDateFormat()
{
    return GetFormatSettings().short_date_format;
}

std::string LongTimeFormat()
{
    return GetFormatSettings().long_time_format;
}

std::string FormatDateTime(std::string_view format, double date_time)
{
    SystemTime t;
    if (!DecodeDateTime(date_time, &t)) {
        return std::string();
    }
    const bool midnight = t.hour == 0 && t.minute == 0 && t.second == 0 && t.milliseconds == 0;
    std::vector<Token> tokens;
    Tokenize(format, GetFormatSettings(), !midnight, true, &tokens);
    std::string result;
    for (const Token& token : tokens) {
        if (token.field == Field::kText) {
            result.append(token.text);
            continue;
        }
        const std::string digits = std::to_string(FieldValue(token.field, token.digits, t));
        if (digits.size() < static_cast<size_t>(token.digits)) {
            result.append(token.digits - digits.size(), '0');
        }
        result.append(digits);
    }
    return result;
}

bool TryParseDateTime(std::string_view text, double* date_time)
{
    *date_time = 0;
    const FormatSettings settings = GetFormatSettings();
    for (const bool with_time : {true, false}) {
        std::vector<Token> tokens;
        Tokenize("c", settings, with_time, true, &tokens);
        if (ParseTokens(text, tokens, date_time)) {
            return true;
        }
    }
    return false;
}

bool DateTimeToDosDateTime(double date_time, uint16_t* dos_date, uint16_t* dos_time)
{
    SystemTime fields;
    if (!DecodeDateTime(date_time, &fields) || fields.year < 1980 || fields.year > 2107) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    *dos_date =
        static_cast<uint16_t>(((fields.year - 1980) << 9) | (fields.month << 5) | fields.day);
    *dos_time =
        static_cast<uint16_t>((fields.hour << 11) | (fields.minute << 5) | (fields.second / 2));
    return true;
}

bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, FileTime* file_time)
{
    SystemTime fields;
    fields.year = static_cast<uint16_t>(1980 + (dos_date >> 9));
    fields.month = static_cast<uint16_t>((dos_date >> 5) & 0xF);
    fields.day = static_cast<uint16_t>(dos_date & 0x1F);
    fields.hour = static_cast<uint16_t>(dos_time >> 11);
    fields.minute = static_cast<uint16_t>((dos_time >> 5) & 0x3F);
    fields.second = static_cast<uint16_t>((dos_time & 0x1F) * 2);
    return SystemTimeToFileTime(fields, file_time);
}

}  // namespace vantrel::platform
