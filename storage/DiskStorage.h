#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "storage/QelStorage.h"

namespace vantrel {
class QelSyncBaseOutput;

// Storage device for a local folder or a folder on a network share given by a UNC path; the
// source of every run and the destination when that is a disk path. Its operations map directly
// onto the platform's file calls. Open() runs on the thread that opens the device (the main
// thread for a run's source, a thread of its own for a destination or the connection test), every
// later operation on the publisher thread; one device per run, used by one thread at a time. The
// output sink is borrowed and must outlive the device; error lines go to it as type 27.
class DiskStorageDevice : public QelStorageDevice
{
public:
    explicit DiskStorageDevice(QelSyncBaseOutput* output);

    // A drive letter and colon ("C:", "C:\www"), a UNC path ("\\server\share"), or, on this
    // platform, an absolute local path ("\home\me\site", which the user may type as
    // "/home/me/site"); never a one-character path.
    static bool IsDiskPath(const std::string& path);
    // The error for a source and a local destination that are one folder, or of which one holds
    // the other (through links and ".." too), naming both: publishing would copy the site into
    // itself or delete its master copy. Empty when they are apart.
    static std::string OverlapError(const std::string& source, const std::string& destination);
    // The same error for a relation already known (a run that met one folder as both); empty
    // for kApart.
    static std::string OverlapText(platform::FolderRelation relation,
                                   const std::string& source,
                                   const std::string& destination);

    uint8_t GetDeviceType() override;
    bool SetPermissions(const std::string& folder,
                        const std::string& name,
                        const std::string& permission) override;
    // Ready at once for a local path. For \\server\share\... the share must be reachable; if it
    // is not, it is connected with the user name and password, and a failure writes three lines.
    bool Open(const std::string& address,
              const std::string& user_name,
              const std::string& password,
              const std::string& connection_name) override;
    bool PutFile(const std::string& local_path,
                 const std::string& folder,
                 const std::string& name,
                 bool binary) override;
    bool CreateDirectory(const std::string& path) override;
    // Writes no message, whatever report_errors says.
    bool DeleteFile(const std::string& folder,
                    const std::string& name,
                    bool report_errors) override;
    // A failure writes one line.
    bool RemoveDirectory(const std::string& path) override;
    bool KeepsFileDates() override;
    bool SupportsPermissions() override;
    // The process's current folder is not changed.
    bool ChangeDirectory(const std::string& path) override;
    bool ReleaseFile(const std::string& local_path) override;
    // The file itself serves as the local copy: never empty, even when the file is missing.
    std::string GetFile(const std::string& folder, const std::string& name) override;
    std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                    const std::string& mask,
                                                    bool cache_allowed) override;
    // Fails when the new name exists.
    bool RenameFile(const std::string& folder,
                    const std::string& old_name,
                    const std::string& new_name) override;
    // Always true; a failure to read or write the attributes is not reported.
    bool SetReadOnly(const std::string& folder,
                     const std::string& name,
                     bool read_only,
                     bool force) override;
    // Sets the last-write time at the two-second resolution of the packed file date; false
    // outside years 1980 to 2107.
    bool SetFileDate(const std::string& folder, const std::string& name, TDateTime date) override;
    // root: the destination root, a system path without a trailing "\". It is held open from now
    // on (platform::HeldFolder), and every operation but GetFile acts at
    // or below it through that handle, as platform/Files.h describes for `within`: a link (or
    // "..") in place of a folder on the way fails with 3 (path not found); a listing of a folder
    // that is now a link is empty, without even "."; RemoveDirectory of it removes the link.
    // Should root's path come to name another folder, or a link, the device writes one error line
    // naming it, and from then on every operation at or below it fails without touching anything.
    // A root that names no folder yet is not held until KeepWithin is called again (once the
    // worker made it); a root held already stays the folder it is, its path not read again.
    void KeepWithin(const std::string& root) override;
    bool RootReplaced() override;

    // How a local folder lies to the root held (KeepWithin), judged on the held folder itself;
    // with none held yet, on the root's path as a folder to be made.
    platform::FolderRelation RelationToRoot(const std::string& folder) const;
    // The folders of the tree at `folder` by identity (platform::GatherFolders), within the root
    // held; false when the folder cannot be opened.
    bool GatherFolders(
        const std::string& folder,
        const std::function<bool(const std::string&, const platform::FolderIdentity&)>& follow_link,
        platform::FolderTree* folders,
        bool* crossed);

private:
    void WriteError(const std::string& text);
    // Passes an operation's result on, writing the line for a replaced root the first time.
    bool Checked(bool ok);

    QelSyncBaseOutput* output_;
    // Holds nothing until KeepWithin.
    platform::HeldFolder root_;
    // What KeepWithin was given.
    std::string kept_root_;
    bool replacement_reported_ = false;
};

}  // namespace vantrel
