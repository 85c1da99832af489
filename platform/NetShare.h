#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Network shares. Linux has no UNC paths: a share \\server\share is reachable only where it is
// mounted, either as a CIFS/SMB mount of //server/share in the mount table or as a desktop's gvfs
// share mount under $XDG_RUNTIME_DIR/gvfs. Server and share names compare ignoring ASCII case.
// Mounting needs privileges here, so the connection call connects nothing itself.
namespace vantrel::platform {

inline constexpr uint32_t kResourceTypeDisk = 1;

// The network resource of a connection request; only disk shares exist here.
struct NetResource
{
    uint32_t type = kResourceTypeDisk;
    // The share as \\server\share.
    std::string remote_name;
};

// The path begins with "\\".
bool IsUncPath(const std::string& system_path);

// The POSIX path of a UNC path \\server\share\rest: the mount point of the share, then rest with
// "\" turned into "/". False with last error 53 when the share is not mounted (or the path names
// no server and share).
bool ResolveUncPath(const std::string& unc_path, std::string* posix_path);

// Connects resource.remote_name: returns 0 when the share is mounted and its mount point is a
// reachable folder; otherwise 53, also set as the last error. The password and user name cannot
// be used without privileges to mount; flags 0 is the only value the system passes.
uint32_t WNetAddConnection2(const NetResource& resource,
                            const std::string& password,
                            const std::string& user_name,
                            uint32_t flags);

// Where shares are looked up, for tests: mounts_text replaces /proc/self/mounts, gvfs_folder the
// gvfs folder (an empty text: none). std::nullopt restores the system's own source.
void SetShareMountSources(std::optional<std::string> mounts_text,
                          std::optional<std::string> gvfs_folder);

}  // namespace vantrel::platform
