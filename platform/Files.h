#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DateTime.h"

// Files and folders as the system sees them. Paths inside the system use "\" separators; this
// layer turns each "\" into "/" before it asks the file system, so an absolute local path is
// "\home\me\site". Every call that fails sets the calling thread's last error (platform/Errors.h).
namespace vantrel::platform {

inline constexpr uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
// A symbolic link: listed with the attributes of what it points to, plus this bit.
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;

// One record of a find-first/find-next listing.
struct FindData
{
    // 0x1 read-only (the owner may not write), 0x2 hidden (name begins with "."), 0x10 folder,
    // 0x400 symbolic link.
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
};

std::string ToPosixPath(const std::string& system_path);
std::string ToSystemPath(const std::string& posix_path);

// The user's home folder in POSIX form: $HOME when it is absolute, else the password database's.
std::string HomeFolder();

// An open listing: the records of one FindFirstFile, handed out in order by FindNextFile.
class FindSearch
{
public:
    explicit FindSearch(std::vector<FindData> records);
    bool Next(FindData* data);

private:
    std::vector<FindData> records_;
    size_t next_ = 0;
};

// Starts a listing of `pattern`: a folder, "\", and a mask of "*" and "?" wildcards (or one exact
// name). The mask compares letter case exactly, as the file system does; "*.*" matches every
// name. Records come in a fixed order: "." and ".." first, then by name with ASCII letters
// folded, then by exact name. Names holding "\" cannot be named inside the system and are
// skipped. Null on failure: last error 3 when the folder is missing, 2 when nothing matches.
std::unique_ptr<FindSearch> FindFirstFile(const std::string& pattern, FindData* data);

// The next record; false with last error 18 when there are no more.
bool FindNextFile(FindSearch& search, FindData* data);

// Ends a search and frees it; the search may also simply be destroyed.
void FindClose(std::unique_ptr<FindSearch>& search);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

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
