#include "platform/Profile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace vantrel::platform {
namespace {

// Larger files are no settings files; refusing them keeps a wrong choice from filling memory.
constexpr off_t kMaxProfileSize = 64 * 1024 * 1024;

std::string_view Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool SameFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        x = (x >= 'A' && x <= 'Z') ? static_cast<char>(x - 'A' + 'a') : x;
        y = (y >= 'A' && y <= 'Z') ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

// One line of the file as it was read, without its line end.
struct Line
{
    std::string text;

    // The section a "[name]" line opens; none for other lines.
    std::optional<std::string_view> Section() const
    {
        const std::string_view t = Trimmed(text);
        if (t.empty() || t.front() != '[') {
            return std::nullopt;
        }
        const size_t close = t.find(']');
        return Trimmed(t.substr(1, close == std::string_view::npos ? close : close - 1));
    }
    // The name of a "name=value" line; none for other lines.
    std::optional<std::string_view> Name() const
    {
        const std::string_view t = Trimmed(text);
        const size_t equals = t.find('=');
        if (t.empty() || t.front() == ';' || t.front() == '[' || equals == std::string_view::npos) {
            return std::nullopt;
        }
        return Trimmed(t.substr(0, equals));
    }
    std::string_view Value() const
    {
        const std::string_view t = text;
        return Trimmed(t.substr(t.find('=') + 1));
    }
};

bool ReadLines(const std::string& file_name, std::vector<Line>* lines)
{
    lines->clear();
    // O_NONBLOCK: a pipe chosen by mistake must not hang the program.
    const int fd = open(ToPosixPath(file_name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return FailWithErrno(errno);
    }
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return FailWithErrno(error);
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxProfileSize) {
        close(fd);
        SetLastError(S_ISREG(st.st_mode) ? kErrorNotEnoughMemory : kErrorAccessDenied);
        return false;
    }
    std::string content;
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<size_t>(got));
    }
    const int error = errno;
    close(fd);
    if (got < 0) {
        return FailWithErrno(error);
    }
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            end = content.size();
        }
        std::string text = content.substr(start, end - start);
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        lines->push_back(Line{std::move(text)});
        start = end + 1;
    }
    return true;
}

// Where the first section of that name lies: the header's index and the index after its last
// line; nullopt when the file has no such section.
struct SectionSpan
{
    size_t header;
    size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto name = lines[i].Section();
        if (name.has_value() && SameFolded(*name, section)) {
            size_t end = i + 1;
            while (end < lines.size() && !lines[end].Section().has_value()) {
                ++end;
            }
            return SectionSpan{i, end};
        }
    }
    return std::nullopt;
}

// The index of the section's first line for that name.
std::optional<size_t> FindName(const std::vector<Line>& lines,
                               const SectionSpan& span,
                               std::string_view name)
{
    for (size_t i = span.header + 1; i < span.end; ++i) {
        const auto line_name = lines[i].Name();
        if (line_name.has_value() && SameFolded(*line_name, name)) {
            return i;
        }
    }
    return std::nullopt;
}

// The section's first line for the name, in the first section of that name.
std::optional<size_t> FindValue(const std::vector<Line>& lines,
                                std::string_view section,
                                std::string_view name)
{
    const auto span = FindSection(lines, section);
    return span.has_value() ? FindName(lines, *span, name) : std::nullopt;
}

bool Breaks(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool WriteAll(int fd, const std::string& content)
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = write(fd, content.data() + done, content.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

// Replaces the file with the lines, so a reader sees the old file or the new, never a part.
bool ReplaceFile(const std::string& file_name, const std::vector<Line>& lines)
{
    std::string content;
    for (const Line& line : lines) {
        content += line.text;
        content += "\r\n";
    }
    const std::string posix = ToPosixPath(file_name);
    std::string temp = posix + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return FailWithErrno(errno, true);
    }
    if (!WriteAll(fd, content) || fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        unlink(temp.c_str());
        return FailWithErrno(error);
    }
    if (close(fd) != 0 || rename(temp.c_str(), posix.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        return FailWithErrno(error);
    }
    return true;
}

// The file's lines for a change; a missing file is an empty one.
bool LinesForChange(const std::string& file_name, std::vector<Line>* lines)
{
    if (ReadLines(file_name, lines)) {
        return true;
    }
    return GetLastError() == kErrorFileNotFound;
}

}  // namespace

bool ReadProfileString(const std::string& file_name,
                       std::string_view section,
                       std::string_view name,
                       std::string* value)
{
    std::vector<Line> lines;
    if (!ReadLines(file_name, &lines)) {
        return false;
    }
    const auto index = FindValue(lines, section, name);
    if (!index.has_value()) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    *value = lines[*index].Value();
    return true;
}

bool ReadProfileSection(const std::string& file_name,
                        std::string_view section,
                        std::vector<std::string>* names)
{
    names->clear();
    std::vector<Line> lines;
    if (!ReadLines(file_name, &lines)) {
        return false;
    }
    if (const auto span = FindSection(lines, section); span.has_value()) {
        for (size_t i = span->header + 1; i < span->end; ++i) {
            if (const auto name = lines[i].Name(); name.has_value()) {
                names->emplace_back(*name);
            }
        }
    }
    return true;
}

bool FindStrayProfileLine(const std::string& file_name, size_t* number, std::string* text)
{
    *number = 0;
    text->clear();
    std::vector<Line> lines;
    if (!ReadLines(file_name, &lines)) {
        return false;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view t = Trimmed(lines[i].text);
        const bool section = t.size() >= 2 && t.front() == '[' && t.back() == ']';
        const auto name = lines[i].Name();
        if (t.empty() || t.front() == ';' || section || (name.has_value() && !name->empty())) {
            continue;
        }
        *number = i + 1;
        *text = lines[i].text;
        break;
    }
    return true;
}

bool WriteProfileString(const std::string& file_name,
                        std::string_view section,
                        std::string_view name,
                        std::string_view value)
{
    const std::string_view trimmed_name = Trimmed(name);
    if (Breaks(section) || Breaks(name) || Breaks(value) ||
        section.find(']') != std::string_view::npos || name.find('=') != std::string_view::npos ||
        trimmed_name.empty() || trimmed_name.front() == '[' || trimmed_name.front() == ';') {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::vector<Line> lines;
    if (!LinesForChange(file_name, &lines)) {
        return false;
    }
    Line line{std::string(name) + "=" + std::string(value)};
    const auto span = FindSection(lines, section);
    if (!span.has_value()) {
        lines.push_back(Line{"[" + std::string(section) + "]"});
        lines.push_back(std::move(line));
    } else if (const auto index = FindName(lines, *span, name); index.has_value()) {
        lines[*index] = std::move(line);
    } else {
        // After the section's last value, so blank lines and comments that end it stay there.
        size_t after = span->header + 1;
        for (size_t i = span->header + 1; i < span->end; ++i) {
            if (lines[i].Name().has_value()) {
                after = i + 1;
            }
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), std::move(line));
    }
    return ReplaceFile(file_name, lines);
}

bool DeleteProfileString(const std::string& file_name,
                         std::string_view section,
                         std::string_view name)
{
    std::vector<Line> lines;
    if (!LinesForChange(file_name, &lines)) {
        return false;
    }
    const auto index = FindValue(lines, section, name);
    if (!index.has_value()) {
        return true;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*index));
    return ReplaceFile(file_name, lines);
}

}  // namespace vantrel::platform
