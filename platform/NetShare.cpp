#include "platform/NetShare.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "platform/Errors.h"

namespace vantrel::platform {
namespace {

struct ShareName
{
    std::string server;
    std::string share;
};

std::mutex sources_mutex;
// Guarded by sources_mutex.
std::optional<std::string> mounts_text_override;
// Guarded by sources_mutex.
std::optional<std::string> gvfs_folder_override;

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool SameShare(const ShareName& a, const ShareName& b)
{
    return EqualsIgnoringAsciiCase(a.server, b.server) && EqualsIgnoringAsciiCase(a.share, b.share);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The mount table writes a blank, tab, line break and backslash inside a field as "\" and three
// octal digits.
std::string DecodeMountField(std::string_view field)
{
    std::string decoded;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                         (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

// gvfs escapes the reserved characters of a mount name's values as "%" and two hex digits.
std::string DecodePercent(std::string_view value)
{
    std::string decoded;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
            HexDigit(value[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            decoded += value[i];
        }
    }
    return decoded;
}

// Server and share of a CIFS device "//server/share"; a mount of a folder inside a share
// ("//server/share/sub") does not stand for the whole share and is not taken.
std::optional<ShareName> ShareOfDevice(std::string device)
{
    std::replace(device.begin(), device.end(), '\\', '/');
    while (device.size() > 2 && device.back() == '/') {
        device.pop_back();
    }
    if (device.size() < 2 || device[0] != '/' || device[1] != '/') {
        return std::nullopt;
    }
    const size_t slash = device.find('/', 2);
    if (slash == std::string::npos || device.find('/', slash + 1) != std::string::npos) {
        return std::nullopt;
    }
    ShareName name{device.substr(2, slash - 2), device.substr(slash + 1)};
    if (name.server.empty() || name.share.empty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<std::string> MountPointInTable(const std::string& mounts_text, const ShareName& want)
{
    std::optional<std::string> found;
    std::istringstream lines(mounts_text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mount_point, type;
        if (!(fields >> device >> mount_point >> type) || (type != "cifs" && type != "smb3")) {
            continue;
        }
        const std::optional<ShareName> share = ShareOfDevice(DecodeMountField(device));
        // The last mount of a share in the table is the newest one, which covers older ones.
        if (share.has_value() && SameShare(*share, want)) {
            found = DecodeMountField(mount_point);
        }
    }
    return found;
}

// A gvfs share folder is named "smb-share:" and comma-separated key=value pairs, such as
// "smb-share:domain=WORK,server=host,share=site,user=me".
std::optional<ShareName> ShareOfGvfsName(std::string_view name)
{
    constexpr std::string_view kPrefix = "smb-share:";
    if (name.substr(0, kPrefix.size()) != kPrefix) {
        return std::nullopt;
    }
    name.remove_prefix(kPrefix.size());
    ShareName share;
    while (!name.empty()) {
        const size_t comma = std::min(name.find(','), name.size());
        const std::string_view pair = name.substr(0, comma);
        name.remove_prefix(std::min(comma + 1, name.size()));
        const size_t equals = pair.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = pair.substr(0, equals);
        if (key == "server") {
            share.server = DecodePercent(pair.substr(equals + 1));
        } else if (key == "share") {
            share.share = DecodePercent(pair.substr(equals + 1));
        }
    }
    if (share.server.empty() || share.share.empty()) {
        return std::nullopt;
    }
    return share;
}

std::optional<std::string> MountPointInGvfs(const std::string& gvfs_folder, const ShareName& want)
{
    if (gvfs_folder.empty()) {
        return std::nullopt;
    }
    DIR* dir = opendir(gvfs_folder.c_str());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    // One share mounted for two users gives two folders; sorted, the choice does not change
    // between calls.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::optional<ShareName> share = ShareOfGvfsName(name);
        if (share.has_value() && SameShare(*share, want)) {
            return gvfs_folder + "/" + name;
        }
    }
    return std::nullopt;
}

std::string SystemMountsText()
{
    std::ifstream in("/proc/self/mounts");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string SystemGvfsFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return "";
    }
    return std::string(runtime) + "/gvfs";
}

std::optional<std::string> MountPointOf(const ShareName& share)
{
    std::optional<std::string> mounts_text, gvfs_folder;
    {
        std::lock_guard<std::mutex> lock(sources_mutex);
        mounts_text = mounts_text_override;
        gvfs_folder = gvfs_folder_override;
    }
    if (std::optional<std::string> found =
            MountPointInTable(mounts_text.has_value() ? *mounts_text : SystemMountsText(), share)) {
        return found;
    }
    return MountPointInGvfs(gvfs_folder.has_value() ? *gvfs_folder : SystemGvfsFolder(), share);
}

}  // namespace

bool IsUncPath(const std::string& system_path)
{
    return system_path.size() >= 2 && system_path[0] == '\\' && system_path[1] == '\\';
}

bool ResolveUncPath(const std::string& unc_path, std::string* posix_path)
{
    if (!IsUncPath(unc_path)) {
        SetLastError(kErrorBadNetpath);
        return false;
    }
    const size_t server_end = unc_path.find('\\', 2);
    if (server_end == std::string::npos) {
        SetLastError(kErrorBadNetpath);
        return false;
    }
    const size_t share_end = unc_path.find('\\', server_end + 1);
    const ShareName share{unc_path.substr(2, server_end - 2),
                          unc_path.substr(server_end + 1, share_end == std::string::npos
                                                              ? std::string::npos
                                                              : share_end - server_end - 1)};
    if (share.server.empty() || share.share.empty()) {
        SetLastError(kErrorBadNetpath);
        return false;
    }
    const std::optional<std::string> mount_point = MountPointOf(share);
    if (!mount_point.has_value()) {
        SetLastError(kErrorBadNetpath);
        return false;
    }
    std::string rest = share_end == std::string::npos ? "" : unc_path.substr(share_end);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    *posix_path = *mount_point + rest;
    return true;
}

uint32_t WNetAddConnection2(const NetResource& resource,
                            const std::string& /*password*/,
                            const std::string& /*user_name*/,
                            uint32_t /*flags*/)
{
    std::string mount_point;
    struct stat st = {};
    if (resource.type != kResourceTypeDisk || !ResolveUncPath(resource.remote_name, &mount_point) ||
        stat(mount_point.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(kErrorBadNetpath);
        return kErrorBadNetpath;
    }
    SetLastError(kErrorSuccess);
    return kErrorSuccess;
}

void SetShareMountSources(std::optional<std::string> mounts_text,
                          std::optional<std::string> gvfs_folder)
{
    std::lock_guard<std::mutex> lock(sources_mutex);
    mounts_text_override = std::move(mounts_text);
    gvfs_folder_override = std::move(gvfs_folder);
}

}  // namespace vantrel::platform
