#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/QelDateFunctions.h"
#include "storage/QelDirectoryListUnit.h"

// The abstract storage device: the one contract through which the worker reads the source tree
// and changes the destination tree, whatever the medium.
namespace vantrel {

// What GetDeviceType answers.
inline constexpr uint8_t kDeviceLocalDisk = 1;
inline constexpr uint8_t kDeviceFtp = 2;

// Folder arguments are device paths (the run's root plus the relative path, "\" separated);
// names are bare. Open runs on the thread that opens the device, every later operation on the
// publisher thread; a device is used by one thread at a time and freed once, by the worker, the
// publishing session or the connection test. No operation throws: each returns false (or an
// empty text) and leaves its code and text for GetLastError and GetLastErrorText, which the
// caller asks at once on the same thread. The order of the operations is part of the contract.
class QelStorageDevice
{
public:
    virtual ~QelStorageDevice() = default;

    // kDeviceLocalDisk or kDeviceFtp.
    virtual uint8_t GetDeviceType() = 0;
    // Text and binary transfers differ.
    virtual bool SupportsTransferModes();
    // permission: three octal digits.
    virtual bool SetPermissions(const std::string& folder,
                                const std::string& name,
                                const std::string& permission) = 0;
    // connection_name: a dial-up entry, empty for any or LAN.
    virtual bool Open(const std::string& address,
                      const std::string& user_name,
                      const std::string& password,
                      const std::string& connection_name) = 0;
    virtual bool PutFile(const std::string& local_path,
                         const std::string& folder,
                         const std::string& name,
                         bool binary) = 0;
    virtual bool CreateDirectory(const std::string& path) = 0;
    virtual bool DeleteFile(const std::string& folder,
                            const std::string& name,
                            bool report_errors) = 0;
    virtual bool RemoveDirectory(const std::string& path) = 0;
    // A copy made from this device keeps the file's date.
    virtual bool KeepsFileDates() = 0;
    virtual bool SupportsPermissions() = 0;
    // The folder exists (and, for FTP, is now current).
    virtual bool ChangeDirectory(const std::string& path) = 0;
    virtual bool ReleaseFile(const std::string& local_path) = 0;
    // The platform's last error of the calling thread, unless a kind keeps its own.
    virtual uint32_t GetLastError();
    virtual std::string GetLastErrorText();
    // The path of a local file with the file's content; empty on failure.
    virtual std::string GetFile(const std::string& folder, const std::string& name) = 0;
    // A new list that the caller owns, never null; mask empty for all.
    virtual std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                            const std::string& mask,
                                                            bool cache_allowed) = 0;
    virtual bool RenameFile(const std::string& folder,
                            const std::string& old_name,
                            const std::string& new_name) = 0;
    virtual bool SetReadOnly(const std::string& folder,
                             const std::string& name,
                             bool read_only,
                             bool force) = 0;
    // date: a local date-time.
    virtual bool SetFileDate(const std::string& folder,
                             const std::string& name,
                             TDateTime date) = 0;

    // True when a listing since the last call could not read its whole folder (refused, cut
    // short or too long); the empty or partial list it gave must not be taken for the folder's
    // content. Clears the mark. A device whose listings cannot fail that way always says false.
    virtual bool TakeListingFailure();

    // Text with LF line ends is what the destination keeps (an FTP server whose system type is
    // UNIX): a text file that holds no CR is already in the server's form and travels as binary,
    // byte for byte. False unless a kind knows better.
    virtual bool StoresTextWithLineFeeds();
    // From now on no operation on a path below root passes through a link below root.
    virtual void KeepWithin(const std::string& root);
    // The root given to KeepWithin is no longer the folder it was then: the device has refused
    // every operation on it since, and the run must end. False unless a kind holds its root.
    virtual bool RootReplaced();
    // How much earlier than its compare time a file listed by this device may have been
    // written: the compare time is corrected by a clock offset that was itself read only so
    // closely. 0 unless a kind knows better.
    virtual TDateTime ListedTimeError();
    // The earliest time at which the file that `listed`, an entry of this device's listing of
    // folder, names can have been written, read more exactly than the listing gives it, as a
    // compare time like the entry's Date: the precision of the reading and the error of the
    // clock offset are taken off. False when the device cannot tell, which unless a kind knows
    // better it cannot.
    virtual bool GetExactFileDate(const std::string& folder,
                                  const QelDirectoryEntry& listed,
                                  TDateTime* date);
};

}  // namespace vantrel
