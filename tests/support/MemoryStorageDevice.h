#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/QelStorage.h"

namespace vantrel::testing {

// One file or folder of a memory tree.
struct MemoryNode
{
    bool folder = false;
    std::string content;
    TDateTime date = 0;
    bool read_only = false;
    bool size_unknown = false;
    std::string permission;
    // What GetExactFileDate gives, as a server's MDTM would; 0 when the device cannot tell.
    TDateTime exact_date = 0;
};

// The shared record of a test: every device call and every sink message, in the order they
// happened, one line each.
using EventLog = std::vector<std::string>;

// A storage device over a tree held in memory, for worker tests: it logs every call (prefixed
// with its label) into a shared event log and can be told to fail calls. Paths are system
// paths ("\root\sub"); GetFile hands out "mem:" + the path, which PutFile of any memory device
// resolves through the registry of devices, so one device can be the source of another.
class MemoryStorageDevice : public QelStorageDevice
{
public:
    MemoryStorageDevice(std::string label, EventLog* log);
    ~MemoryStorageDevice() override;

    // Test set-up; these are not logged.
    void AddFolder(const std::string& path, TDateTime date = 1);
    void AddFile(const std::string& path, const std::string& content, TDateTime date);
    MemoryNode* Node(const std::string& path);
    bool Exists(const std::string& path) { return Node(path) != nullptr; }
    // Relative names of everything below a folder, sorted, folders ending with "\".
    std::vector<std::string> Tree(const std::string& root);

    // The call fails (last error 5) when this answers true for its log line.
    std::function<bool(const std::string& call)> fail_when;
    // Called with each log line before the call runs, e.g. to request a stop mid-run.
    std::function<void(const std::string& call)> on_call;
    uint8_t device_type = kDeviceLocalDisk;
    bool transfer_modes = false;
    bool permissions = false;
    bool keeps_file_dates = true;
    // Whether names that differ only in letter case are different files.
    bool case_sensitive = true;
    // Whether a rename that changes only letter case takes effect (a case-insensitive server
    // may answer yes and keep the old case).
    bool keeps_case = true;
    // Whether listings hold "." and ".." (a local folder's do; FTP listings do not).
    bool lists_dot_entries = true;
    // The date PutFile gives a file: the source's (a local copy) or this one (a server's clock).
    TDateTime upload_date = 0;

    uint8_t GetDeviceType() override;
    bool SupportsTransferModes() override;
    bool SetPermissions(const std::string& folder,
                        const std::string& name,
                        const std::string& permission) override;
    bool Open(const std::string& address,
              const std::string& user_name,
              const std::string& password,
              const std::string& connection_name) override;
    bool PutFile(const std::string& local_path,
                 const std::string& folder,
                 const std::string& name,
                 bool binary) override;
    bool CreateDirectory(const std::string& path) override;
    bool DeleteFile(const std::string& folder,
                    const std::string& name,
                    bool report_errors) override;
    bool RemoveDirectory(const std::string& path) override;
    bool KeepsFileDates() override;
    bool SupportsPermissions() override;
    bool ChangeDirectory(const std::string& path) override;
    bool ReleaseFile(const std::string& local_path) override;
    uint32_t GetLastError() override;
    std::string GetLastErrorText() override;
    std::string GetFile(const std::string& folder, const std::string& name) override;
    std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                    const std::string& mask,
                                                    bool cache_allowed) override;
    // A listing failed by fail_when counts as one that could not read its folder.
    bool TakeListingFailure() override;
    bool RenameFile(const std::string& folder,
                    const std::string& old_name,
                    const std::string& new_name) override;
    bool SetReadOnly(const std::string& folder,
                     const std::string& name,
                     bool read_only,
                     bool force) override;
    bool SetFileDate(const std::string& folder, const std::string& name, TDateTime date) override;
    bool GetExactFileDate(const std::string& folder,
                          const QelDirectoryEntry& listed,
                          TDateTime* date) override;

private:
    // Logs the call; false when it is to fail.
    bool Call(const std::string& line);
    std::string Key(const std::string& path) const;
    std::string Canonical(const std::string& path) const;
    std::unique_ptr<QelDirectoryEntry> EntryFor(const std::string& path, const std::string& name);

    std::string label_;
    EventLog* log_;
    // Keyed by the folded path when case does not count; the node keeps the path as written.
    std::map<std::string, std::pair<std::string, MemoryNode>> nodes_;
    uint32_t last_error_ = 0;
    bool listing_failed_ = false;
};

}  // namespace vantrel::testing
