#include "storage/DiskStorage.h"

#include <cctype>

#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/NetShare.h"
#include "sync/QelSyncBaseOutput.h"

namespace vantrel {
namespace {

std::string PlainJoin(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

std::string SeparatorJoin(const std::string& folder, const std::string& name)
{
    return JoinWithSeparator(folder, "\\", name);
}

}  // namespace

DiskStorageDevice::DiskStorageDevice(QelSyncBaseOutput* output)
    : output_(output)
{}

bool DiskStorageDevice::IsDiskPath(const std::string& path)
{
    // A leading "\\" is a UNC path; a single leading "\" (or "/", as a user may type it) is an
    // absolute local path on this platform. Drive letters never resolve here but stay disk paths,
    // so a web site defined with one reports its folder missing instead of being tried as FTP.
    // Only a letter makes a drive: "[::1]/site" is an FTP server's IPv6 address.
    const bool drive =
        path.size() > 1 && std::isalpha(static_cast<unsigned char>(path[0])) != 0 && path[1] == ':';
    return drive || (path.size() > 1 && (path[0] == '\\' || path[0] == '/'));
}

std::string DiskStorageDevice::OverlapError(const std::string& source,
                                            const std::string& destination)
{
    return OverlapText(platform::RelationOfFolders(source, destination), source, destination);
}

std::string DiskStorageDevice::OverlapText(platform::FolderRelation relation,
                                           const std::string& source,
                                           const std::string& destination)
{
    const std::string shown_source = platform::ToPosixPath(source);
    const std::string shown_destination = platform::ToPosixPath(destination);
    switch (relation) {
        case platform::FolderRelation::kSame:
            return "Source directory " + shown_source + " and destination directory " +
                   shown_destination + " are the same folder";
        case platform::FolderRelation::kFirstInsideSecond:
            return "Source directory " + shown_source + " lies inside destination directory " +
                   shown_destination;
        case platform::FolderRelation::kSecondInsideFirst:
            return "Destination directory " + shown_destination + " lies inside source directory " +
                   shown_source;
        case platform::FolderRelation::kApart:
            break;
    }
    return "";
}

uint8_t DiskStorageDevice::GetDeviceType()
{
    return kDeviceLocalDisk;
}

bool DiskStorageDevice::SetPermissions(const std::string& /*folder*/,
                                       const std::string& /*name*/,
                                       const std::string& /*permission*/)
{
    return false;
}

bool DiskStorageDevice::Open(const std::string& address,
                             const std::string& user_name,
                             const std::string& password,
                             const std::string& /*connection_name*/)
{
    // A local root is checked by the worker through ChangeDirectory, not here.
    if (!StartsWith(address, "\\\\", false)) {
        return true;
    }
    const std::string share_path =
        "\\\\" + NthField(address, 3, "\\") + "\\" + NthField(address, 4, "\\");
    if (ChangeDirectory(share_path)) {
        return true;
    }
    platform::NetResource resource;
    resource.type = platform::kResourceTypeDisk;
    resource.remote_name = share_path;
    // Flags 0: the connection is not remembered for later log-ons.
    if (platform::WNetAddConnection2(resource, password, user_name, 0) == platform::kErrorSuccess) {
        return true;
    }
    const uint32_t code = GetLastError();
    WriteError("Failed to connect to " + share_path);
    WriteError("Error code: " + std::to_string(code));
    WriteError("Description: " + GetLastErrorText());
    return false;
}

bool DiskStorageDevice::PutFile(const std::string& local_path,
                                const std::string& folder,
                                const std::string& name,
                                bool /*binary*/)
{
    return Checked(platform::CopyFile(local_path, PlainJoin(folder, name), root_));
}

bool DiskStorageDevice::CreateDirectory(const std::string& path)
{
    return Checked(platform::CreateDirectory(path, root_));
}

bool DiskStorageDevice::DeleteFile(const std::string& folder,
                                   const std::string& name,
                                   bool /*report_errors*/)
{
    return Checked(platform::DeleteFile(SeparatorJoin(folder, name), root_));
}

bool DiskStorageDevice::RemoveDirectory(const std::string& path)
{
    if (Checked(platform::RemoveDirectory(path, root_))) {
        return true;
    }
    const uint32_t code = GetLastError();
    WriteError("RemoveDirectory (" + path + ") failed with error " + std::to_string(code) + ": " +
               GetLastErrorText());
    return false;
}

bool DiskStorageDevice::KeepsFileDates()
{
    return true;
}

bool DiskStorageDevice::SupportsPermissions()
{
    return false;
}

bool DiskStorageDevice::ChangeDirectory(const std::string& path)
{
    return Checked(platform::DirectoryExists(path, root_));
}

bool DiskStorageDevice::ReleaseFile(const std::string& /*local_path*/)
{
    // GetFile hands out the file itself, so there is no copy to release.
    return true;
}

std::string DiskStorageDevice::GetFile(const std::string& folder, const std::string& name)
{
    return PlainJoin(folder, name);
}

std::unique_ptr<QelDirectoryList> DiskStorageDevice::ListDirectory(const std::string& folder,
                                                                   const std::string& mask,
                                                                   bool /*cache_allowed*/)
{
    auto list = QelDirectoryList::CreateFromFolder(folder, mask, root_);
    Checked(true);
    return list;
}

bool DiskStorageDevice::RenameFile(const std::string& folder,
                                   const std::string& old_name,
                                   const std::string& new_name)
{
    return Checked(platform::MoveFile(SeparatorJoin(folder, old_name),
                                      SeparatorJoin(folder, new_name), root_));
}

bool DiskStorageDevice::SetReadOnly(const std::string& folder,
                                    const std::string& name,
                                    bool read_only,
                                    bool force)
{
    const std::string path = PlainJoin(folder, name);
    const uint32_t old_attributes = platform::GetFileAttributes(path, root_);
    // Attributes that could not be read are not written back altered.
    if (old_attributes == platform::kInvalidFileAttributes) {
        return Checked(true);
    }
    const uint32_t new_attributes = read_only ? old_attributes | platform::kFileAttributeReadOnly
                                              : old_attributes & ~platform::kFileAttributeReadOnly;
    if (force || new_attributes != old_attributes) {
        Checked(platform::SetFileAttributes(path, new_attributes, root_));
    }
    return true;
}

bool DiskStorageDevice::SetFileDate(const std::string& folder,
                                    const std::string& name,
                                    TDateTime date)
{
    uint16_t dos_date = 0, dos_time = 0;
    platform::FileTime local, utc;
    return platform::DateTimeToDosDateTime(date, &dos_date, &dos_time) &&
           platform::DosDateTimeToFileTime(dos_date, dos_time, &local) &&
           platform::LocalFileTimeToFileTime(local, &utc) &&
           Checked(platform::SetFileLastWriteTime(PlainJoin(folder, name), utc, root_));
}

void DiskStorageDevice::KeepWithin(const std::string& root)
{
    if (root_.Holding() && root == kept_root_) {
        return;
    }
    const bool again = root == kept_root_;
    kept_root_ = root;
    replacement_reported_ = false;
    // Held before the worker checks it, a root that is no folder yet is left to its check (and
    // made); one that cannot be held once made refuses every operation, and the first one
    // reports it.
    if (!root_.Hold(root) && !again) {
        root_.Release();
    }
}

platform::FolderRelation DiskStorageDevice::RelationToRoot(const std::string& folder) const
{
    return root_.Holding() ? platform::RelationOfFolders(folder, root_)
                           : platform::RelationOfFolders(folder, kept_root_);
}

bool DiskStorageDevice::GatherFolders(
    const std::string& folder,
    const std::function<bool(const std::string&, const platform::FolderIdentity&)>& follow_link,
    platform::FolderTree* folders,
    bool* crossed)
{
    return Checked(platform::GatherFolders(folder, root_, follow_link, folders, crossed));
}

bool DiskStorageDevice::RootReplaced()
{
    return root_.Replaced();
}

bool DiskStorageDevice::Checked(bool ok)
{
    if (root_.Replaced() && !replacement_reported_) {
        // The operation's own error stays the caller's to read.
        const uint32_t code = platform::GetLastError();
        replacement_reported_ = true;
        WriteError("Destination directory " + platform::ToPosixPath(root_.Path()) +
                   " is no longer the folder this run started with");
        platform::SetLastError(code);
    }
    return ok;
}

void DiskStorageDevice::WriteError(const std::string& text)
{
    if (output_ != nullptr) {
        output_->Write(kMsgError, text);
    }
}

}  // namespace vantrel
