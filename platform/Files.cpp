#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include <sys/stat.h>

#include "platform/Errors.h"

namespace vantrel::platform {

FindSearch::FindSearch(std::vector<FindData> records)
    : records_(std::move(records))
{}

bool FindSearch::Next(FindData* data)
{
    if (next_ >= records_.size()) {
        return false;
    }
    *data = std::move(records_[next_++]);
    return true;
}

namespace {

// 1 January 1601 to 1 January 1970, in seconds.
constexpr int64_t kFileTimeEpochOffsetSeconds = 11'644'473'600;

FileTime FileTimeFromStatx(const statx_timestamp& ts)
{
    const int64_t seconds = ts.tv_sec + kFileTimeEpochOffsetSeconds;
    if (seconds < 0) {
        return FileTime{};
    }
    return FileTime::FromValue(static_cast<uint64_t>(seconds) * 10'000'000 + ts.tv_nsec / 100);
}

bool HasWildcard(const std::string& mask)
{
    return mask.find_first_of("*?") != std::string::npos;
}

// "*" matches any run, "?" one character; letter case counts. Iterative with one backtracking
// point, so no mask can make a listing slow.
bool MaskMatches(const std::string& name, const std::string& mask)
{
    if (mask == "*.*") {
        return true;
    }
    size_t n = 0, m = 0;
    size_t star = std::string::npos, star_name = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            star = ++m;
            star_name = n;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (star != std::string::npos) {
            m = star;
            n = ++star_name;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

std::string AsciiFolded(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

// Fills a record for `name` inside the open folder; false when the entry vanished meanwhile.
bool MakeRecord(int dir_fd, const std::string& name, FindData* data)
{
    struct statx sx = {};
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (statx(dir_fd, name.c_str(), AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW, mask, &sx) != 0) {
        return false;
    }
    // A link lists as what it points to, marked as a link; a dangling link lists as itself.
    const bool is_link = S_ISLNK(sx.stx_mode);
    if (is_link) {
        struct statx target = {};
        if (statx(dir_fd, name.c_str(), AT_STATX_SYNC_AS_STAT, mask, &target) == 0) {
            sx = target;
        }
    }
    const bool is_folder = S_ISDIR(sx.stx_mode);
    const bool is_dot_entry = name == "." || name == "..";
    data->attributes = 0;
    if (is_folder) {
        data->attributes |= kFileAttributeDirectory;
    } else if ((sx.stx_mode & S_IWUSR) == 0) {
        data->attributes |= kFileAttributeReadOnly;
    }
    if (!is_dot_entry && name[0] == '.') {
        data->attributes |= kFileAttributeHidden;
    }
    if (is_link) {
        data->attributes |= kFileAttributeReparsePoint;
    }
    data->volume_id = (uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor;
    data->file_id = sx.stx_ino;
    data->last_write_time = FileTimeFromStatx(sx.stx_mtime);
    data->creation_time =
        FileTimeFromStatx((sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime : sx.stx_ctime);
    const uint64_t size = is_folder ? 0 : sx.stx_size;
    data->size_high = static_cast<uint32_t>(size >> 32);
    data->size_low = static_cast<uint32_t>(size);
    data->file_name = name;
    return true;
}

class DirCloser
{
public:
    explicit DirCloser(DIR* dir)
        : dir_(dir)
    {}
    ~DirCloser() { closedir(dir_); }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* dir_;
};

class FdCloser
{
public:
    explicit FdCloser(int fd)
        : fd_(fd)
    {}
    ~FdCloser() { close(fd_); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* pw = getpwuid(geteuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

std::string ToPosixPath(const std::string& system_path)
{
    std::string posix = system_path;
    std::replace(posix.begin(), posix.end(), '\\', '/');
    return posix;
}

std::string ToSystemPath(const std::string& posix_path)
{
    std::string system = posix_path;
    std::replace(system.begin(), system.end(), '/', '\\');
    return system;
}

std::unique_ptr<FindSearch> FindFirstFile(const std::string& pattern, FindData* data)
{
    const std::string posix = ToPosixPath(pattern);
    const size_t slash = posix.rfind('/');
    std::string folder = slash == std::string::npos ? "." : posix.substr(0, slash);
    const std::string mask = slash == std::string::npos ? posix : posix.substr(slash + 1);
    if (folder.empty()) {
        folder = "/";
    }
    if (mask.empty()) {
        SetLastError(kErrorFileNotFound);
        return nullptr;
    }

    const int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        FailWithErrno(errno, true);
        return nullptr;
    }
    FdCloser dir_fd_closer(dir_fd);

    std::vector<std::string> names;
    if (!HasWildcard(mask)) {
        names.push_back(mask);
    } else {
        const int list_fd = dup(dir_fd);
        DIR* dir = list_fd < 0 ? nullptr : fdopendir(list_fd);
        if (dir == nullptr) {
            const int error = errno;
            if (list_fd >= 0) {
                close(list_fd);
            }
            FailWithErrno(error, true);
            return nullptr;
        }
        DirCloser dir_closer(dir);
        for (const char* dot : {".", ".."}) {
            if (MaskMatches(dot, mask)) {
                names.push_back(dot);
            }
        }
        std::vector<std::pair<std::string, std::string>> sorted;  // folded name, name
        errno = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name.find('\\') != std::string::npos) {
                continue;
            }
            if (MaskMatches(name, mask)) {
                sorted.emplace_back(AsciiFolded(name), name);
            }
        }
        std::sort(sorted.begin(), sorted.end());
        for (auto& [folded, name] : sorted) {
            names.push_back(std::move(name));
        }
    }

    std::vector<FindData> records;
    records.reserve(names.size());
    for (const std::string& name : names) {
        FindData record;
        if (MakeRecord(dir_fd, name, &record)) {
            records.push_back(std::move(record));
        }
    }
    if (records.empty()) {
        SetLastError(kErrorFileNotFound);
        return nullptr;
    }
    auto search = std::make_unique<FindSearch>(std::move(records));
    search->Next(data);
    return search;
}

bool FindNextFile(FindSearch& search, FindData* data)
{
    if (!search.Next(data)) {
        SetLastError(kErrorNoMoreFiles);
        return false;
    }
    return true;
}

void FindClose(std::unique_ptr<FindSearch>& search)
{
    search.reset();
}

bool FileExists(const std::string& path)
{
    struct stat st = {};
    if (stat(ToPosixPath(path).c_str(), &st) != 0) {
        return FailWithErrno(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    return true;
}

bool DirectoryExists(const std::string& path)
{
    struct stat st = {};
    if (stat(ToPosixPath(path).c_str(), &st) != 0) {
        return FailWithErrno(errno, true);
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(kErrorDirectory);
        return false;
    }
    return true;
}

bool EnsurePrivateFolder(const std::string& posix_path)
{
    if (mkdir(posix_path.c_str(), 0700) != 0 && errno != EEXIST) {
        return FailWithErrno(errno, true);
    }
    // O_NOFOLLOW: a planted link is refused instead of followed to wherever it points.
    const int fd = open(posix_path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) {
            SetLastError(kErrorAccessDenied);
            return false;
        }
        return FailWithErrno(errno, true);
    }
    FdCloser closer(fd);
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        return FailWithErrno(errno);
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        SetLastError(kErrorAccessDenied);
        return false;
    }
    if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
        return FailWithErrno(errno);
    }
    return true;
}

bool GetTempPath(std::string* path)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string preferred = runtime != nullptr && runtime[0] == '/'
                                      ? WithoutTrailingSlashes(runtime) + "/vantrel"
                                      : "/tmp/vantrel-" + std::to_string(geteuid());
    // A name holding "\" would turn into another path inside the system.
    if (preferred.find('\\') == std::string::npos && EnsurePrivateFolder(preferred)) {
        *path = ToSystemPath(preferred) + "\\";
        return true;
    }

    const char* cache_home = std::getenv("XDG_CACHE_HOME");
    const std::string cache_base = cache_home != nullptr && cache_home[0] == '/'
                                       ? WithoutTrailingSlashes(cache_home)
                                       : WithoutTrailingSlashes(HomeFolder()) + "/.cache";
    const std::string cache = cache_base + "/vantrel";
    *path = ToSystemPath(cache) + "\\";
    if (cache.find('\\') != std::string::npos) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (mkdir(cache_base.c_str(), 0700) != 0 && errno != EEXIST) {
        return FailWithErrno(errno, true);
    }
    return EnsurePrivateFolder(cache);
}

}  // namespace vantrel::platform
