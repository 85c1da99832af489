#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include "platform/Errors.h"
#include "platform/NetShare.h"

namespace vantrel::platform {

FindSearch::FindSearch(std::vector<FindData> records, std::vector<std::string> unlisted)
    : records_(std::move(records))
    , unlisted_(std::move(unlisted))
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

// `mode` is what a link points to, when it points anywhere.
uint32_t AttributesOf(mode_t mode, const std::string& name, bool is_link)
{
    uint32_t attributes = 0;
    if (S_ISDIR(mode)) {
        attributes |= kFileAttributeDirectory;
    } else if ((mode & S_IWUSR) == 0) {
        attributes |= kFileAttributeReadOnly;
    }
    // A dangling link (what it points to is unknown) lists as itself, a file that cannot be read.
    if (!S_ISDIR(mode) && !S_ISREG(mode) && !S_ISLNK(mode)) {
        attributes |= kFileAttributeDevice;
    }
    if (name != "." && name != ".." && !name.empty() && name[0] == '.') {
        attributes |= kFileAttributeHidden;
    }
    if (is_link) {
        attributes |= kFileAttributeReparsePoint;
    }
    return attributes;
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
    data->attributes = AttributesOf(sx.stx_mode, name, is_link);
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
    ~FdCloser()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    // Someone else closes the fd from now on.
    void Release() { fd_ = -1; }
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

std::vector<FolderIdentity> FoldersUpToRoot(
    FolderIdentity start, const std::function<std::optional<FolderIdentity>()>& up)
{
    // Deeper than any real tree; ends the walk should ".." somehow never reach the root.
    constexpr int kLevelsAtMost = 4096;
    std::vector<FolderIdentity> chain{start};
    for (int level = 0; level < kLevelsAtMost; ++level) {
        const std::optional<FolderIdentity> above = up();
        if (!above || *above == chain.back()) {
            break;
        }
        chain.push_back(*above);
    }
    return chain;
}

namespace {

// The folder open at `fd` (closed here) and every folder above it, by identity; each parent is
// opened through the handle of the folder below it, never by a path that a link or a swapped
// folder could lead elsewhere.
bool ChainFrom(int fd, std::vector<FolderIdentity>* chain)
{
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return FailWithErrno(error);
    }
    int failure = 0;
    bool missing_is_path = false;
    *chain = FoldersUpToRoot({st.st_dev, st.st_ino}, [&]() -> std::optional<FolderIdentity> {
        const int parent = openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (parent < 0) {
            failure = errno;
            missing_is_path = true;
            return std::nullopt;
        }
        close(fd);
        fd = parent;
        struct stat above = {};
        if (fstat(fd, &above) != 0) {
            failure = errno;
            return std::nullopt;
        }
        return FolderIdentity{above.st_dev, above.st_ino};
    });
    close(fd);
    return failure == 0 || FailWithErrno(failure, missing_is_path);
}

// The folder a path names (or, for a path that does not exist yet, its nearest existing parent)
// and every folder above it, by identity; *whole tells whether the path itself exists.
bool FolderChain(const std::string& system_path, std::vector<FolderIdentity>* chain, bool* whole)
{
    std::string posix;
    if (!ResolvePath(system_path, &posix)) {
        return false;
    }
    posix = WithoutTrailingSlashes(posix);
    if (posix.empty()) {
        SetLastError(kErrorPathNotFound);
        return false;
    }
    *whole = true;
    int fd;
    while ((fd = open(posix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) < 0) {
        if (errno != ENOENT || posix == "." || posix == "/") {
            return FailWithErrno(errno, true);
        }
        const size_t slash = posix.rfind('/');
        posix = slash == std::string::npos ? "." : slash == 0 ? "/" : posix.substr(0, slash);
        *whole = false;
    }
    return ChainFrom(fd, chain);
}

FolderRelation RelationOfChains(const std::vector<FolderIdentity>& first_chain,
                                bool first_whole,
                                const std::vector<FolderIdentity>& second_chain,
                                bool second_whole)
{
    const auto holds = [](const std::vector<FolderIdentity>& chain, const FolderIdentity& id) {
        return std::find(chain.begin(), chain.end(), id) != chain.end();
    };
    if (first_whole && second_whole && first_chain.front() == second_chain.front()) {
        return FolderRelation::kSame;
    }
    // A folder not made yet holds nothing, but lies inside whatever holds its parent.
    if (second_whole && holds(first_chain, second_chain.front())) {
        return FolderRelation::kFirstInsideSecond;
    }
    if (first_whole && holds(second_chain, first_chain.front())) {
        return FolderRelation::kSecondInsideFirst;
    }
    return FolderRelation::kApart;
}

}  // namespace

FolderRelation RelationOfFolders(const std::string& first, const std::string& second)
{
    std::vector<FolderIdentity> first_chain, second_chain;
    bool first_whole = false, second_whole = false;
    if (!FolderChain(first, &first_chain, &first_whole) ||
        !FolderChain(second, &second_chain, &second_whole)) {
        return FolderRelation::kApart;
    }
    return RelationOfChains(first_chain, first_whole, second_chain, second_whole);
}

FolderRelation RelationOfFolders(const std::string& first, const HeldFolder& second)
{
    std::vector<FolderIdentity> first_chain, second_chain;
    bool first_whole = false;
    const int fd =
        second.Fd() < 0 ? -1 : openat(second.Fd(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || !ChainFrom(fd, &second_chain) ||
        !FolderChain(first, &first_chain, &first_whole)) {
        return FolderRelation::kApart;
    }
    return RelationOfChains(first_chain, first_whole, second_chain, true);
}

namespace {

// Folder and last name of a POSIX path: "/a/b" gives "/a" and "b", "b" gives "." and "b".
std::pair<std::string, std::string> SplitParent(const std::string& posix_path)
{
    const size_t slash = posix_path.rfind('/');
    if (slash == std::string::npos) {
        return {".", posix_path};
    }
    return {slash == 0 ? "/" : posix_path.substr(0, slash), posix_path.substr(slash + 1)};
}

// POSIX says ENOENT both for a missing entry and for a missing folder on the way to it; the
// system tells them apart (2 and 3).
bool FailMissingAware(int errno_value, const std::string& posix_path)
{
    if (errno_value != ENOENT) {
        return FailWithErrno(errno_value);
    }
    struct stat st = {};
    const std::string folder = SplitParent(WithoutTrailingSlashes(posix_path)).first;
    const bool folder_exists = stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    SetLastError(folder_exists ? kErrorFileNotFound : kErrorPathNotFound);
    return false;
}

bool Fail(uint32_t code)
{
    SetLastError(code);
    return false;
}

// A folder on the way that cannot be entered: missing, no folder, or a link that is not
// followed; all of them leave the path without a folder to reach (3).
bool FailOnTheWay(int errno_value)
{
    return errno_value == ELOOP ? Fail(kErrorPathNotFound) : FailWithErrno(errno_value, true);
}

bool IsReadOnlyFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// Where a path lies to a confining folder: outside it, the folder itself, or below it.
enum class Placement
{
    kOutside,
    kRoot,
    kBelow,
};

// The names of `posix_path` below the confining folder `root` (resolved, see Files.h), empty
// names and "." left out.
Placement PlaceBelow(const std::string& posix_path,
                     const std::string& root,
                     std::vector<std::string>* names)
{
    // Without its slash, "/" is a prefix like any other.
    const std::string prefix = root == "/" ? "" : root;
    if (posix_path.size() < prefix.size() || posix_path.compare(0, prefix.size(), prefix) != 0 ||
        (posix_path.size() > prefix.size() && posix_path[prefix.size()] != '/')) {
        return Placement::kOutside;
    }
    names->clear();
    size_t begin = prefix.size() + 1;
    while (begin <= posix_path.size()) {
        const size_t end = std::min(posix_path.find('/', begin), posix_path.size());
        const std::string name = posix_path.substr(begin, end - begin);
        if (!name.empty() && name != ".") {
            names->push_back(name);
        }
        begin = end + 1;
    }
    return names->empty() ? Placement::kRoot : Placement::kBelow;
}

// The folder that holds a path's last name, open for the *at calls, and that name; the fd is
// O_PATH, so reaching a name needs only the right to search the folders, as a path does. Plainly
// the folder is opened by its path, links followed. Below a confining folder it is reached from
// there one folder at a time with O_NOFOLLOW, so no link below it is passed through, however the
// tree changed since it was listed. Every call below is written once over this folder.
class ParentFolder
{
public:
    ParentFolder() = default;
    ~ParentFolder()
    {
        if (owns_fd_) {
            close(fd_);
        }
    }
    ParentFolder(const ParentFolder&) = delete;
    ParentFolder& operator=(const ParentFolder&) = delete;

    // Trailing separators are dropped: "dir\" names the folder, and with the slash a link would
    // be followed. False with the last error set: 3 for a folder on the way that is missing or
    // no folder, or, when confined, a link or ".."; kErrorFileInvalid for a held folder that was
    // replaced.
    bool Open(const std::string& path, const Within& within)
    {
        std::string posix;
        return ResolvePath(path, &posix) && OpenResolved(posix, within);
    }

    // `entering`: below a held folder, the folder is the one the held folder keeps entered (see
    // HeldFolder::Entered), reached and checked only when it is another than last time.
    bool OpenResolved(const std::string& posix_path, const Within& within, bool entering = false)
    {
        const std::string path = WithoutTrailingSlashes(posix_path);
        std::vector<std::string> names;
        if (const HeldFolder* held = within.Held()) {
            const Placement placement = PlaceBelow(path, held->PosixPath(), &names);
            std::vector<std::string> folders;
            if (entering && placement == Placement::kBelow &&
                std::find(names.begin(), names.end(), "..") == names.end()) {
                folders.assign(names.begin(), names.end() - 1);
                if (const int fd = held->Entered(folders); fd >= 0) {
                    confined_ = true;
                    fd_ = fd;
                    name_ = names.back();
                    return true;
                }
            } else {
                entering = false;
            }
            if (placement != Placement::kOutside) {
                if (!held->StillInPlace()) {
                    return Fail(kErrorFileInvalid);
                }
                confined_ = true;
                if (placement == Placement::kRoot) {
                    // The held folder itself, through its handle.
                    fd_ = held->Fd();
                    name_ = ".";
                    return true;
                }
                if (!OpenBelow(held->Fd(), false, names)) {
                    return false;
                }
                if (entering) {
                    held->Enter(std::move(folders), fd_);
                    owns_fd_ = false;
                }
                return true;
            }
        } else if (!within.Path().empty()) {
            std::string root;
            if (ResolvePath(within.Path(), &root) &&
                PlaceBelow(path, WithoutTrailingSlashes(root), &names) == Placement::kBelow) {
                confined_ = true;
                // Links in the confining folder's own path are the user's choice and are
                // followed.
                const int fd =
                    open(WithoutTrailingSlashes(root).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                return fd >= 0 ? OpenBelow(fd, true, names) : FailWithErrno(errno, true);
            }
        }
        auto [folder, name] = SplitParent(path);
        name_ = path == "/" ? "." : name;
        fd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        owns_fd_ = fd_ >= 0;
        return fd_ >= 0 || FailWithErrno(errno, true);
    }

    int Fd() const { return fd_; }
    const std::string& Name() const { return name_; }
    // Reads the entry the last name stands for, a link itself rather than what it points to.
    bool Lstat(struct stat* st) const
    {
        return fstatat(fd_, name_.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 || FailWithErrno(errno);
    }
    // Reached below a confining folder: the last name, too, must not be followed where that
    // would leave it.
    bool Confined() const { return confined_; }

private:
    // From the confining folder's fd (closed here when owned) down to the folder of the last
    // name.
    bool OpenBelow(int fd, bool owned, const std::vector<std::string>& names)
    {
        if (std::find(names.begin(), names.end(), "..") != names.end()) {
            if (owned) {
                close(fd);
            }
            return Fail(kErrorPathNotFound);
        }
        if (names.size() > 1) {
            // The whole way in one call where the system offers it: no link on it, and nothing
            // outside the confining folder, as the walk below makes sure one folder at a time.
            std::string way = names[0];
            for (size_t i = 1; i + 1 < names.size(); ++i) {
                way += "/" + names[i];
            }
            open_how how = {};
            how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
            how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
            const int next =
                static_cast<int>(syscall(SYS_openat2, fd, way.c_str(), &how, sizeof how));
            const int error = errno;
            // Older kernels, and sandboxes that refuse calls they do not know, walk instead.
            if (next >= 0 ||
                (error != ENOSYS && error != EPERM && error != EINVAL && error != EAGAIN)) {
                if (owned) {
                    close(fd);
                }
                if (next < 0) {
                    return FailOnTheWay(error == EXDEV ? ELOOP : error);
                }
                fd_ = next;
                owns_fd_ = true;
                name_ = names.back();
                return true;
            }
        }
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            const int next =
                openat(fd, names[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int error = errno;
            if (owned) {
                close(fd);
            }
            if (next < 0) {
                return FailOnTheWay(error);
            }
            fd = next;
            owned = true;
        }
        fd_ = fd;
        owns_fd_ = owned;
        name_ = names.back();
        return true;
    }

    int fd_ = -1;
    bool owns_fd_ = false;
    std::string name_;
    bool confined_ = false;
};

// Whether a copy may take `name` in the open folder. Root could overwrite a read-only file; the
// system relies on the refusal, which makes the worker clear the bit first or report the file.
bool MayReplace(int dir_fd, const std::string& name, bool* exists = nullptr)
{
    struct stat st = {};
    if (fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (exists != nullptr) {
            *exists = errno != ENOENT;
        }
        return errno == ENOENT || FailWithErrno(errno, true);
    }
    if (S_ISDIR(st.st_mode) || IsReadOnlyFile(st)) {
        return Fail(kErrorAccessDenied);
    }
    return true;
}

// A new file of a name no one else uses in the open folder, made for a copy to `target`; -1 with
// errno on failure. O_EXCL and O_NOFOLLOW make a planted file or link of the same name fail
// instead of being written to. The name ends with the target's, so that a copy cut short (the
// program killed) can be told from a user's file later (TemporaryCopyTarget).
int CreateTemporaryFile(int dir_fd, mode_t mode, const std::string& target, std::string* name)
{
    static std::atomic<uint64_t> counter{0};
    // Asked once: every copy would ask the system again. A forked child that copies still makes
    // names of its own by the counter and the time, and O_EXCL settles any clash.
    static const pid_t pid = getpid();
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        *name = std::string(kTemporaryCopyPrefix) + std::to_string(pid) + "-" +
                std::to_string(counter++) + "-" + std::to_string(now.tv_nsec) + ".tmp";
        if (name->size() + 1 + target.size() <= NAME_MAX) {
            *name += "-" + target;
        }
        const int fd = openat(dir_fd, name->c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Copies the rest of `in`, a regular file of `size` bytes when it was opened, to `out`; false
// with errno on failure. A read that fills less than the buffer once the size is reached is at
// the end: no further read is made to be told so.
bool CopyContent(int in, int out, off_t size)
{
    std::vector<char> buffer(1 << 17);
    off_t total = 0;
    for (bool at_end = false; !at_end;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        total += got;
        at_end = static_cast<size_t>(got) < buffer.size() && total >= size;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put < 0) {
                return false;
            }
            done += put;
        }
    }
    return true;
}

// 1 January 1601 to 1 January 1970, in FILETIME ticks.
constexpr int64_t kFileTimeEpochOffsetTicks = kFileTimeEpochOffsetSeconds * 10'000'000;

}  // namespace

std::string TemporaryCopyTarget(const std::string& name)
{
    constexpr std::string_view kPrefix = kTemporaryCopyPrefix;
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) {
        return "";
    }
    // <pid>-<counter>-<nanoseconds>.tmp-<target>
    size_t at = kPrefix.size();
    for (const char separator : {'-', '-', '.'}) {
        const size_t digits = name.find_first_not_of("0123456789", at);
        if (digits == at || digits == std::string::npos || name[digits] != separator) {
            return "";
        }
        at = digits + 1;
    }
    constexpr std::string_view kSuffix = "tmp-";
    if (name.compare(at, kSuffix.size(), kSuffix) != 0) {
        return "";
    }
    return name.substr(at + kSuffix.size());
}

// Iterative with one backtracking point, so no mask can make a listing slow.
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

bool ResolvePath(const std::string& system_path, std::string* posix_path)
{
    if (system_path.find('\0') != std::string::npos) {
        return Fail(kErrorInvalidParameter);
    }
    if (IsUncPath(system_path)) {
        return ResolveUncPath(system_path, posix_path);
    }
    const char first = system_path.empty() ? '\0' : system_path[0];
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    if (letter && system_path.size() >= 2 && system_path[1] == ':') {
        return Fail(kErrorPathNotFound);
    }
    *posix_path = ToPosixPath(system_path);
    return true;
}

HeldFolder::~HeldFolder()
{
    Leave();
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool HeldFolder::Hold(const std::string& system_path)
{
    Leave();
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    path_ = system_path;
    // Refused until the folder is held.
    replaced_ = true;
    std::string posix;
    const bool resolved = ResolvePath(system_path, &posix);
    // Even unresolved, the path says which calls are refused: those at or below it.
    posix_path_ = WithoutTrailingSlashes(resolved ? posix : ToPosixPath(system_path));
    if (!resolved) {
        return false;
    }
    fd_ = open(posix_path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat st = {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        return FailWithErrno(errno, true);
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    replaced_ = false;
    return true;
}

bool HeldFolder::StillInPlace() const
{
    if (replaced_) {
        return false;
    }
    struct stat st = {};
    replaced_ = stat(posix_path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_;
    return !replaced_;
}

void HeldFolder::Release()
{
    Leave();
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    path_.clear();
    posix_path_.clear();
    replaced_ = false;
}

namespace {

// Deeper than any real site; a tree deeper still is gathered down to here.
constexpr int kGatherLevelsAtMost = 256;

// The identity as a listing gives it (see MakeRecord).
FolderIdentity IdentityOf(const struct statx& sx)
{
    return {(uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor, sx.stx_ino};
}

// Opens a folder below `dir_fd` to be gathered: for reading where it may be read, else for its
// identity alone.
int OpenToGather(int dir_fd, const char* name, int flags)
{
    const int fd = openat(dir_fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    return fd >= 0 || errno != EACCES
               ? fd
               : openat(dir_fd, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags);
}

// One gathering: a few system calls per folder and none per file, since a run pays for it
// before it publishes anything.
class Gatherer
{
public:
    Gatherer(const std::function<bool(const std::string&, const FolderIdentity&)>& follow_link,
             FolderTree* folders)
        : follow_link_(follow_link)
        , folders_(folders)
        , buffer_(1 << 16)
    {}

    // Adds the folder open at `fd` (owned) and, unless met before, the folders it holds.
    void From(int fd, const std::string& relative, int level)
    {
        FdCloser closer(fd);
        struct statx sx = {};
        if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID, &sx) !=
                0 ||
            !folders_->emplace(IdentityOf(sx), relative).second || level >= kGatherLevelsAtMost) {
            return;
        }
        if ((sx.stx_mask & STATX_MNT_ID) == 0) {
            crossed_ = true;
        } else if (level == 0) {
            mount_ = sx.stx_mnt_id;
        } else if (sx.stx_mnt_id != mount_) {
            crossed_ = true;
        }
        std::vector<std::pair<std::string, unsigned char>> entries;
        if (!ReadFolders(fd, &entries)) {
            // Held or opened for its identity alone: read through "." where that may be read.
            const int list_fd = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (list_fd < 0) {
                return;
            }
            FdCloser list_closer(list_fd);
            ReadFolders(list_fd, &entries);
        }
        // Folders of their own before links, each by name, so that a folder met twice is kept
        // under a path of its own where it has one.
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return std::make_pair(a.second != DT_DIR, a.first) <
                   std::make_pair(b.second != DT_DIR, b.first);
        });
        for (const auto& [name, type] : entries) {
            const std::string path = relative + "\\" + name;
            int child = OpenToGather(fd, name.c_str(), O_NOFOLLOW);
            if (child < 0 && (errno == ELOOP || errno == ENOTDIR) && type != DT_DIR) {
                // A link, or a name the listing could not type: entered only as the caller says.
                struct statx target = {};
                if (follow_link_ &&
                    statx(fd, name.c_str(), AT_STATX_SYNC_AS_STAT, STATX_TYPE | STATX_INO,
                          &target) == 0 &&
                    S_ISDIR(target.stx_mode) && follow_link_(path, IdentityOf(target))) {
                    child = OpenToGather(fd, name.c_str(), 0);
                    crossed_ = crossed_ || child >= 0;
                }
            }
            if (child >= 0) {
                From(child, path, level + 1);
            }
        }
    }

    bool Crossed() const { return crossed_; }

private:
    // The names of the entries that may be folders; false when the folder cannot be read.
    bool ReadFolders(int fd, std::vector<std::pair<std::string, unsigned char>>* entries)
    {
        for (;;) {
            const ssize_t got = getdents64(fd, buffer_.data(), buffer_.size());
            if (got <= 0) {
                return got == 0;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer_.data() + at);
                at += entry->d_reclen;
                const std::string_view name = entry->d_name;
                if ((entry->d_type == DT_DIR || entry->d_type == DT_LNK ||
                     entry->d_type == DT_UNKNOWN) &&
                    name != "." && name != ".." && name.find('\\') == std::string_view::npos) {
                    entries->emplace_back(name, entry->d_type);
                }
            }
        }
    }

    const std::function<bool(const std::string&, const FolderIdentity&)>& follow_link_;
    FolderTree* folders_;
    std::vector<char> buffer_;
    uint64_t mount_ = 0;
    bool crossed_ = false;
};

}  // namespace

bool GatherFolders(
    const std::string& path,
    const Within& within,
    const std::function<bool(const std::string&, const FolderIdentity&)>& follow_link,
    FolderTree* folders,
    bool* crossed)
{
    folders->clear();
    ParentFolder parent;
    if (!parent.Open(path, within)) {
        return false;
    }
    const int fd =
        OpenToGather(parent.Fd(), parent.Name().c_str(), parent.Confined() ? O_NOFOLLOW : 0);
    if (fd < 0) {
        return FailWithErrno(errno, true);
    }
    Gatherer gatherer(follow_link, folders);
    gatherer.From(fd, "", 0);
    if (crossed != nullptr) {
        *crossed = gatherer.Crossed();
    }
    return true;
}

int HeldFolder::Entered(const std::vector<std::string>& names) const
{
    return !replaced_ && entered_fd_ >= 0 && names == entered_names_ ? entered_fd_ : -1;
}

void HeldFolder::Enter(std::vector<std::string> names, int fd) const
{
    Leave();
    entered_names_ = std::move(names);
    entered_fd_ = fd;
}

void HeldFolder::Leave() const
{
    if (entered_fd_ >= 0 && entered_fd_ != fd_) {
        close(entered_fd_);
    }
    entered_fd_ = -1;
    entered_names_.clear();
}

std::unique_ptr<FindSearch> FindFirstFile(const std::string& pattern,
                                          FindData* data,
                                          const Within& within)
{
    std::string posix;
    if (!ResolvePath(pattern, &posix)) {
        return nullptr;
    }
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

    ParentFolder parent;
    if (!parent.OpenResolved(folder, within)) {
        return nullptr;
    }
    // A confined folder that is now a link holds nothing of the tree it was listed in.
    const int dir_fd =
        openat(parent.Fd(), parent.Name().c_str(),
               O_RDONLY | O_DIRECTORY | O_CLOEXEC | (parent.Confined() ? O_NOFOLLOW : 0));
    if (dir_fd < 0) {
        if (parent.Confined()) {
            FailOnTheWay(errno);
        } else {
            FailWithErrno(errno, true);
        }
        return nullptr;
    }
    FdCloser dir_fd_closer(dir_fd);

    std::vector<std::string> names;
    std::vector<std::string> unlisted;
    // Holds the folder's fd, when listing it, until the records are made.
    std::unique_ptr<DirCloser> dir_closer;
    if (!HasWildcard(mask)) {
        names.push_back(mask);
    } else {
        DIR* dir = fdopendir(dir_fd);
        if (dir == nullptr) {
            FailWithErrno(errno, true);
            return nullptr;
        }
        dir_fd_closer.Release();
        dir_closer = std::make_unique<DirCloser>(dir);
        for (const char* dot : {".", ".."}) {
            if (MaskMatches(dot, mask)) {
                names.push_back(dot);
            }
        }
        std::vector<std::pair<std::string, std::string>> sorted;  // folded name, name
        errno = 0;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            if (name.find('\\') != std::string::npos) {
                if (MaskMatches(name, mask)) {
                    unlisted.push_back(name);
                }
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
    std::sort(unlisted.begin(), unlisted.end());
    auto search = std::make_unique<FindSearch>(std::move(records), std::move(unlisted));
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
    std::string posix;
    if (!ResolvePath(path, &posix)) {
        return false;
    }
    struct stat st = {};
    if (stat(posix.c_str(), &st) != 0) {
        return FailWithErrno(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    return true;
}

bool DirectoryExists(const std::string& path, const Within& within)
{
    ParentFolder parent;
    if (!parent.Open(path, within)) {
        return false;
    }
    struct stat st = {};
    if (fstatat(parent.Fd(), parent.Name().c_str(), &st, 0) != 0) {
        return FailWithErrno(errno, true);
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(kErrorDirectory);
        return false;
    }
    return true;
}

int OpenFileToRead(const std::string& path, struct stat* looked)
{
    std::string posix;
    if (!ResolvePath(path, &posix)) {
        return -1;
    }
    // O_NONBLOCK: a pipe put in its place since it was listed must not wait for a writer;
    // O_NOCTTY: a terminal never becomes ours. Nothing is read before fstat has seen a regular
    // file.
    struct stat st = {};
    const int fd = open(posix.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        FailMissingAware(errno, posix);
        return -1;
    }
    const bool seen = fstat(fd, &st) == 0;
    const int error = errno;
    if (!seen || !S_ISREG(st.st_mode)) {
        close(fd);
        if (seen) {
            Fail(kErrorAccessDenied);
        } else {
            FailWithErrno(error);
        }
        return -1;
    }
    if (looked != nullptr) {
        *looked = st;
    }
    return fd;
}

bool ReadToEnd(int fd, const std::function<void(std::string_view)>& take)
{
    std::vector<char> buffer(65536);
    for (;;) {
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got == 0) {
            return true;
        }
        if (got < 0 && errno != EINTR) {
            return FailWithErrno(errno);
        }
        if (got > 0) {
            take(std::string_view(buffer.data(), static_cast<size_t>(got)));
        }
    }
}

bool ReadWholeFile(const std::string& path, const std::function<void(std::string_view)>& take)
{
    const int fd = OpenFileToRead(path);
    if (fd < 0) {
        return false;
    }
    FdCloser closer(fd);
    return ReadToEnd(fd, take);
}

bool CopyFile(const std::string& existing_path, const std::string& new_path, const Within& within)
{
    std::string target;
    if (!ResolvePath(new_path, &target)) {
        return false;
    }
    struct stat source_st = {};
    const int in = OpenFileToRead(existing_path, &source_st);
    if (in < 0) {
        return false;
    }
    FdCloser in_closer(in);

    if (SplitParent(target).second.empty()) {
        return Fail(kErrorPathNotFound);
    }
    ParentFolder parent;
    if (!parent.OpenResolved(target, within, true)) {
        return false;
    }
    const int dir_fd = parent.Fd();
    const std::string& name = parent.Name();
    // Checked before the copy too, so a refused file costs no transfer.
    bool exists = true;
    if (!MayReplace(dir_fd, name, &exists)) {
        return false;
    }

    std::string temp_name;
    const int out = CreateTemporaryFile(dir_fd, source_st.st_mode & 0777, name, &temp_name);
    if (out < 0) {
        return FailWithErrno(errno, true);
    }
    const timespec times[2] = {{0, UTIME_OMIT}, source_st.st_mtim};
    bool written = CopyContent(in, out, source_st.st_size) && futimens(out, times) == 0;
    int error = errno;
    // A network file system may report a failed write only when the file is closed.
    if (close(out) != 0 && written) {
        written = false;
        error = errno;
    }
    // A name that was free before the copy is taken only while it still is: nothing can have
    // come there that the check below would refuse.
    if (written && !exists &&
        renameat2(dir_fd, temp_name.c_str(), dir_fd, name.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (written && MayReplace(dir_fd, name)) {
        if (renameat(dir_fd, temp_name.c_str(), dir_fd, name.c_str()) == 0) {
            return true;
        }
        FailWithErrno(errno, true);
    } else if (!written) {
        FailWithErrno(error, true);
    }
    const uint32_t code = GetLastError();
    unlinkat(dir_fd, temp_name.c_str(), 0);
    return Fail(code);
}

bool MoveFile(const std::string& existing_path, const std::string& new_path, const Within& within)
{
    if (const HeldFolder* held = within.Held()) {
        held->Leave();
    }
    ParentFolder from, to;
    if (!from.Open(existing_path, within)) {
        return false;
    }
    struct stat st = {};
    if (!to.Open(new_path, within)) {
        // A missing file is told before a missing folder for its new name, as rename does.
        if (fstatat(from.Fd(), from.Name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT) {
            SetLastError(kErrorFileNotFound);
        }
        return false;
    }
    const char* from_name = from.Name().c_str();
    const char* to_name = to.Name().c_str();
    int result = renameat2(from.Fd(), from_name, to.Fd(), to_name, RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        // The file system cannot refuse a replacement itself (some network file systems): look
        // first. Another program could create the name in between; nothing here would.
        if (fstatat(to.Fd(), to_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            return Fail(kErrorAlreadyExists);
        }
        result = renameat(from.Fd(), from_name, to.Fd(), to_name);
    }
    return result == 0 || FailWithErrno(errno);
}

bool DeleteFile(const std::string& path, const Within& within)
{
    ParentFolder parent;
    struct stat st = {};
    if (!parent.Open(path, within) || !parent.Lstat(&st)) {
        return false;
    }
    if (S_ISDIR(st.st_mode) || IsReadOnlyFile(st)) {
        return Fail(kErrorAccessDenied);
    }
    return unlinkat(parent.Fd(), parent.Name().c_str(), 0) == 0 || FailWithErrno(errno);
}

bool CreateDirectory(const std::string& path, const Within& within)
{
    ParentFolder parent;
    if (!parent.Open(path, within)) {
        return false;
    }
    return mkdirat(parent.Fd(), parent.Name().c_str(), 0777) == 0 || FailWithErrno(errno, true);
}

bool RemoveDirectory(const std::string& path, const Within& within)
{
    if (const HeldFolder* held = within.Held()) {
        held->Leave();
    }
    ParentFolder parent;
    struct stat st = {};
    if (!parent.Open(path, within) || !parent.Lstat(&st)) {
        return false;
    }
    const int fd = parent.Fd();
    const char* name = parent.Name().c_str();
    if (S_ISLNK(st.st_mode)) {
        // Confined, the name was a folder when it was listed; whatever the link put in its place
        // points to, even nothing, it is no part of the tree and goes as a link.
        struct stat target = {};
        if (!parent.Confined() &&
            (fstatat(fd, name, &target, 0) != 0 || !S_ISDIR(target.st_mode))) {
            return Fail(kErrorDirectory);
        }
        return unlinkat(fd, name, 0) == 0 || FailWithErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return Fail(kErrorDirectory);
    }
    if (unlinkat(fd, name, AT_REMOVEDIR) != 0) {
        // Some file systems say EEXIST for a folder that is not empty.
        return errno == EEXIST ? Fail(kErrorDirNotEmpty) : FailWithErrno(errno);
    }
    return true;
}

uint32_t GetFileAttributes(const std::string& path, const Within& within)
{
    ParentFolder parent;
    struct stat st = {};
    if (!parent.Open(path, within) || !parent.Lstat(&st)) {
        return kInvalidFileAttributes;
    }
    const bool is_link = S_ISLNK(st.st_mode);
    if (is_link) {
        struct stat target = {};
        if (fstatat(parent.Fd(), parent.Name().c_str(), &target, 0) == 0) {
            st = target;
        }
    }
    return AttributesOf(st.st_mode, parent.Name(), is_link);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes, const Within& within)
{
    ParentFolder parent;
    struct stat st = {};
    if (!parent.Open(path, within) || !parent.Lstat(&st)) {
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        return Fail(kErrorNotSupported);
    }
    if (S_ISDIR(st.st_mode)) {
        return true;
    }
    const mode_t mode = (attributes & kFileAttributeReadOnly) != 0
                            ? st.st_mode & ~mode_t{S_IWUSR | S_IWGRP | S_IWOTH}
                            : st.st_mode | S_IWUSR;
    if (mode == st.st_mode) {
        return true;
    }
    // AT_SYMLINK_NOFOLLOW: a link put in the file's place meanwhile is refused, not followed.
    if (fchmodat(parent.Fd(), parent.Name().c_str(), mode & 07777, AT_SYMLINK_NOFOLLOW) != 0) {
        return FailWithErrno(errno);
    }
    return true;
}

bool SetFileLastWriteTime(const std::string& path,
                          const FileTime& last_write_time,
                          const Within& within)
{
    std::string posix;
    if (!ResolvePath(path, &posix)) {
        return false;
    }
    const uint64_t value = last_write_time.Value();
    if (value >= (uint64_t{1} << 63)) {
        return Fail(kErrorInvalidParameter);
    }
    ParentFolder parent;
    if (!parent.OpenResolved(posix, within)) {
        return false;
    }
    const int fd = openat(parent.Fd(), parent.Name().c_str(),
                          O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return FailWithErrno(errno);
    }
    FdCloser closer(fd);
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        return FailWithErrno(errno);
    }
    // Root may open a read-only file for writing; Windows refuses anyone.
    if (!S_ISREG(st.st_mode) || IsReadOnlyFile(st)) {
        return Fail(kErrorAccessDenied);
    }
    const int64_t ticks = static_cast<int64_t>(value) - kFileTimeEpochOffsetTicks;
    int64_t seconds = ticks / 10'000'000;
    int64_t rest = ticks % 10'000'000;
    if (rest < 0) {
        rest += 10'000'000;
        --seconds;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), rest * 100}};
    if (futimens(fd, times) != 0) {
        return FailWithErrno(errno);
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
