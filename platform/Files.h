#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "platform/DateTime.h"

// Files and folders as the system sees them. Paths inside the system use "\" separators; this
// layer turns each "\" into "/" before it asks the file system, so an absolute local path is
// "\home\me\site". Every call that fails sets the calling thread's last error (platform/Errors.h).
//
// The calls that take `within` can be kept inside a tree, so that a link put in place of one of
// its folders after the folder was listed never leads outside. With `within` empty, or for a path
// that is not below that folder (the folder itself is not), a call acts as it always does. For a
// path below it, the folder `within` is opened (resolved like any path; links in it are the user's
// choice and are followed), then each folder below it on the way to the path's last name is entered
// one at a time without following a link: a link there, or "..", fails with 3 like a missing
// folder. Empty names (doubled separators) and "." are skipped. The last name is treated as without
// `within`, except that a listing of a folder that is a link lists nothing (3) and RemoveDirectory
// removes a link as a link, whatever it points to, even nothing.
//
// `within` may also be a HeldFolder: the folder is then reached through the handle it was held
// by, never again through its path, and so is a path equal to it. Before each such call the
// folder's path must still name that very folder; see HeldFolder. CopyFile alone keeps the folder
// it copied into open for the copies that follow into the same folder: the way there is walked,
// and the held folder's path looked at, once for each folder entered, not for every file. A copy
// so never leaves the held tree, but a change above the copied-to folder made while copies go
// into it is seen when the next folder is entered.
namespace vantrel::platform {

inline constexpr uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
// Neither a regular file nor a folder: a pipe, a socket or a device, itself or behind a link.
// Reading one may wait for ever or never end, so nothing of the system opens it.
inline constexpr uint32_t kFileAttributeDevice = 0x40;
// A symbolic link: listed with the attributes of what it points to, plus this bit.
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;

// One record of a find-first/find-next listing.
struct FindData
{
    // 0x1 read-only (the owner may not write), 0x2 hidden (name begins with "."), 0x10 folder,
    // 0x40 pipe, socket or device, 0x400 symbolic link.
    uint32_t attributes = 0;
    FileTime creation_time;
    FileTime last_write_time;
    uint32_t size_high = 0;
    uint32_t size_low = 0;
    std::string file_name;
    // Which file this is (after following a link): two records name the same file or folder
    // exactly when both numbers agree. Not part of the Windows record; 0 when unknown.
    uint64_t volume_id = 0;
    uint64_t file_id = 0;
    // The listing that gave this record showed a date without a year, so the year is a guess
    // (see platform/FtpListing.h). Not part of the Windows record; false for local files.
    bool date_without_year = false;
};

inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

std::string ToPosixPath(const std::string& system_path);
std::string ToSystemPath(const std::string& posix_path);

// The POSIX path every call below works on: "\" turned into "/", and a UNC path \\server\share\rest
// taken through the mount of its share (platform/NetShare.h). False with last error 53 for a
// share that is not mounted, 3 for a drive-letter path (there are no drives here), 87 for a path
// holding a NUL.
bool ResolvePath(const std::string& system_path, std::string* posix_path);
// The user's home folder in POSIX form: $HOME when it is absolute, else the password database's.
std::string HomeFolder();

// A folder's identity: the number of its file system's device and its own number there.
using FolderIdentity = std::pair<uint64_t, uint64_t>;

// A folder and every folder above it up to the file system root, by identity: `start` first, then
// what `up` gives, one folder higher at each call, until the root, which is its own parent, comes
// round again, or `up` gives nothing (the folder above cannot be known). A walk that never meets
// the root ends at a depth no real tree has. How a folder's parent is reached is up to `up`: a
// handle to ".." or a path through a storage device.
std::vector<FolderIdentity> FoldersUpToRoot(
    FolderIdentity start, const std::function<std::optional<FolderIdentity>()>& up);

// How two folders lie to each other, however they are named: each is compared by the identity of
// its folder and of every folder above it up to the file system root, so links, ".." and a tree
// mounted twice are seen through. A path that does not exist yet stands for a new folder in its
// nearest existing parent. Apart when either path cannot be resolved or names no folder.
enum class FolderRelation
{
    kApart,
    kSame,
    kFirstInsideSecond,
    kSecondInsideFirst,
};
FolderRelation RelationOfFolders(const std::string& first, const std::string& second);
class HeldFolder;
// The same, with the second folder the one held, however its path reads now.
FolderRelation RelationOfFolders(const std::string& first, const HeldFolder& second);

// A folder opened once and kept open with the identity it had then, to keep the `within` calls
// inside it. Each call that acts at or below it first looks whether its path (links followed)
// still names that folder. Once the path names another folder or nothing, or the folder could not
// be held at all, every such call fails with kErrorFileInvalid and nothing is touched, even should
// the folder come back: whoever swapped it may swap it again. Used by one thread at a time.
class HeldFolder
{
public:
    HeldFolder() = default;
    ~HeldFolder();
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Holds the folder a system path names now; links in the path are followed (they are the
    // user's choice). False with the last error set when it names no folder.
    bool Hold(const std::string& system_path);
    // Lets the folder go: nothing is held, and calls kept within it act as without `within`.
    void Release();
    // Hold was called: calls kept within this folder are confined or refused, never free.
    bool Holding() const { return !path_.empty(); }
    // The folder's path no longer names the held folder, or it could not be held.
    bool Replaced() const { return replaced_; }
    const std::string& Path() const { return path_; }

    // For this layer's calls: the resolved path, the handle (O_PATH), and the check above.
    const std::string& PosixPath() const { return posix_path_; }
    int Fd() const { return fd_; }
    bool StillInPlace() const;

    // For this layer's copies: the folder copies last went into, by its names below this one
    // (none for this folder itself). Entered gives its handle when `names` are those, else -1;
    // Enter keeps `fd` for them (closing it when done, unless it is Fd()); Leave forgets it, as
    // whatever removes or renames an entry below this folder must.
    int Entered(const std::vector<std::string>& names) const;
    void Enter(std::vector<std::string> names, int fd) const;
    void Leave() const;

private:
    std::string path_;
    std::string posix_path_;
    int fd_ = -1;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    mutable bool replaced_ = false;
    mutable std::vector<std::string> entered_names_;
    mutable int entered_fd_ = -1;
};

// What a `within` call is kept inside: nothing, the folder a path names (opened by its path at
// each call), or a held folder. Made for one call; it refers to what it was made from.
class Within
{
public:
    // Implicit, so that a path or a held folder is passed as it is.
    Within() = default;
    Within(const std::string& path)
        : path_(&path)
    {}
    Within(const HeldFolder& folder)
        : folder_(&folder)
    {}

    // The held folder, when one is being held.
    const HeldFolder* Held() const
    {
        return folder_ != nullptr && folder_->Holding() ? folder_ : nullptr;
    }
    // The path of a folder opened at each call; empty for none.
    const std::string& Path() const { return path_ != nullptr ? *path_ : kNone; }

private:
    static inline const std::string kNone;
    const std::string* path_ = nullptr;
    const HeldFolder* folder_ = nullptr;
};

// Every folder of a tree by identity (the numbers a listing gives as volume_id and file_id), with
// its path below the tree's root: "" for the root itself, else "\a\b".
using FolderTree = std::map<FolderIdentity, std::string>;

// Gathers the folders of the tree at `path`, itself first. Each folder is entered through the
// folder above it, never by a path, and whatever is mounted on it is entered as it stands. Links
// to folders are entered only where `follow_link` (the link's path below the root, the identity
// it leads to) says so, and never without one. A folder met again (through a second link, or
// mounted twice) is kept once, under the path first met (each folder's own folders go first, by
// name, then its links), and not entered again; one that cannot be read adds only itself.
// `crossed`, when given, tells whether some folder was reached through a link or lies on another
// mount than the root (or the system cannot tell mounts apart): only then can a folder of
// another tree be among them without that tree's root being one of them or holding them. False
// with the last error set when the root cannot be opened.
bool GatherFolders(
    const std::string& path,
    const Within& within,
    const std::function<bool(const std::string&, const FolderIdentity&)>& follow_link,
    FolderTree* folders,
    bool* crossed = nullptr);

// An open listing: the records of one FindFirstFile, handed out in order by FindNextFile.
class FindSearch
{
public:
    explicit FindSearch(std::vector<FindData> records, std::vector<std::string> unlisted = {});
    bool Next(FindData* data);
    // Names the folder holds that match the mask but cannot be listed: a "\" in a name would
    // read as a folder separator.
    const std::vector<std::string>& Unlisted() const { return unlisted_; }

private:
    std::vector<FindData> records_;
    size_t next_ = 0;
    std::vector<std::string> unlisted_;
};

// Starts a listing of `pattern`: a folder, "\", and a mask of "*" and "?" wildcards (or one exact
// name). The mask compares letter case exactly, as the file system does; "*.*" matches every
// name. Records come in a fixed order: "." and ".." first, then by name with ASCII letters
// folded, then by exact name. Names holding "\" cannot be named inside the system and are
// skipped. Null on failure: last error 3 when the folder is missing, 2 when nothing matches.
std::unique_ptr<FindSearch> FindFirstFile(const std::string& pattern,
                                          FindData* data,
                                          const Within& within = {});

// The next record; false with last error 18 when there are no more.
bool FindNextFile(FindSearch& search, FindData* data);

// Ends a search and frees it; the search may also simply be destroyed.
void FindClose(std::unique_ptr<FindSearch>& search);

// A listing mask: "*" matches any run, "?" one character, letter case counts; "*.*" matches
// every name.
bool MaskMatches(const std::string& name, const std::string& mask);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path, const Within& within = {});

// Opens a regular file to read, links followed, and gives its descriptor, which the caller
// closes, and what fstat says of it in `looked` when given. Anything else (a folder, a pipe, a
// socket, a device) fails with 5 before a byte is read, so a pipe without a writer or an endless
// device never holds up the caller; -1 on failure, with the last error set. Listings mark such
// entries, so a walk never asks for one: this is the guard for a file replaced since it was listed.
int OpenFileToRead(const std::string& path, struct ::stat* looked = nullptr);
// Reads an open file from where it stands to its end, handing each piece read to `take` in order;
// false with the last error set when a read failed.
bool ReadToEnd(int fd, const std::function<void(std::string_view)>& take);
// Opens a file as OpenFileToRead does and reads it whole; false when it could not be opened or
// read, with the last error set.
bool ReadWholeFile(const std::string& path, const std::function<void(std::string_view)>& take);

// CopyFile with fail-if-exists off: copies a regular file (opened as OpenFileToRead does) to
// new_path, replacing a file of that name, and keeps the source's last-write time and read-only
// bit. Fails with 5 when new_path is a read-only file (also for root) or a folder. The copy is
// written under a temporary name in the destination folder and renamed over new_path only when
// complete, so a broken copy never leaves a half-written file under that name, and a symbolic link
// there is replaced, never written through. `within` applies to new_path.
bool CopyFile(const std::string& existing_path,
              const std::string& new_path,
              const Within& within = {});

// The temporary name of a copy begins with this, then "<pid>-<n>-<nanoseconds>.tmp-" and the name
// it is copied to (left out when the whole would be too long for a file name).
inline constexpr char kTemporaryCopyPrefix[] = ".vantrel-";
// The name a copy's temporary file was made for; empty when `name` is no such temporary file.
std::string TemporaryCopyTarget(const std::string& name);

// Renames a file or folder; fails with 183 when new_path exists.
bool MoveFile(const std::string& existing_path,
              const std::string& new_path,
              const Within& within = {});

// Deletes a file; a symbolic link is removed itself. Fails with 5 for a read-only file (also for
// root) and for a folder.
bool DeleteFile(const std::string& path, const Within& within = {});

// Fails with 183 when the path exists, 3 when its parent folder is missing.
bool CreateDirectory(const std::string& path, const Within& within = {});

// Removes an empty folder, or a symbolic link to a folder as a link. Fails with 145 when the
// folder is not empty, 267 when the path is no folder.
bool RemoveDirectory(const std::string& path, const Within& within = {});

// The attribute bits as a listing gives them (see FindData); kInvalidFileAttributes on failure.
uint32_t GetFileAttributes(const std::string& path, const Within& within = {});

// Applies the read-only bit to a file: set, every write permission is taken away; cleared, the
// owner may write. The other bits follow from the name and the kind of entry and cannot be set;
// a folder keeps its permissions (its read-only bit means nothing here). A symbolic link has no
// permissions of its own and fails with 50: what it points to is never changed through it.
bool SetFileAttributes(const std::string& path, uint32_t attributes, const Within& within = {});

// Sets the last-write time (UTC) of a regular file, which must be open to writing as on Windows:
// a read-only file fails with 5 (also for root); a symbolic link is not followed (1921).
bool SetFileLastWriteTime(const std::string& path,
                          const FileTime& last_write_time,
                          const Within& within = {});

// The user's private temporary folder in system form, ending with "\": $XDG_RUNTIME_DIR\vantrel
// when XDG_RUNTIME_DIR is set, else \tmp\vantrel-<uid>. /tmp is shared, so the folder is made
// with mode 0700 and refused (access denied) when it is a symbolic link or not ours; then the
// per-user cache folder ($XDG_CACHE_HOME or ~/.cache, then "vantrel") is used instead. False only
// when no folder could be made; *path then still names the cache folder, where no other user can
// plant a file, so a caller that must have a name gets a safe one.
bool GetTempPath(std::string* path);

// Makes `posix_path` a folder of mode 0700 owned by the calling user if it is missing; true when
// it then is a real folder (not a link), ours, and private (a wider mode is narrowed to 0700).
bool EnsurePrivateFolder(const std::string& posix_path);

}  // namespace vantrel::platform
