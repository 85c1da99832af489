#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "platform/Inet.h"
#include "storage/DotFileState.h"
#include "storage/HandleTimeout.h"
#include "storage/QelStorage.h"
#include "storage/StopWatcher.h"

// What the FTP devices over the internet library share: the connection state
// (TFtpPersistentInformation), the alive callback interface (IFtpAliveInterface), the state of
// the device unit (FtpUnitState: its watchdog, alive callback and general time-out) and the
// internet status callback (ConnectionStatusCallback) that turns the library's progress reports
// into watchdog kicks and alive signals; what a caller gives an FTP device when making it
// (FtpDeviceSettings); and the storage device for an FTP server over the internet library
// (FtpStorageDevice).
namespace vantrel {
class QelSyncBaseOutput;

// Told while a connection shows activity. The publishing session's implementation puts an alive
// message into its message queue. Called on the thread of the FTP call (the publisher thread, or
// the thread that opens the device).
class IFtpAliveInterface
{
public:
    virtual ~IFtpAliveInterface() = default;
    virtual void Alive() = 0;
};

// The connection state: the internet session every FTP connection is opened on, a buffer for the
// library's answers, and the dial-up connection the program dialled. The publishing session makes
// one for all its runs; a device given none makes its own (the connection test's). Used by one
// thread at a time (the main thread at start and between runs, the thread that opens the
// destination, then the publisher thread during a run); no lock.
class TFtpPersistentInformation
{
public:
    // Opens the session.
    TFtpPersistentInformation();
    // Closes the session; does not hang up.
    ~TFtpPersistentInformation();
    TFtpPersistentInformation(const TFtpPersistentInformation&) = delete;
    TFtpPersistentInformation& operator=(const TFtpPersistentInformation&) = delete;

    // When there is no session, opens one; a failure leaves Session empty. The status callback
    // last set is registered on the new session, so that a reopened session still feeds the
    // watchdog.
    void OpenSession();
    void CloseSession();
    // Ends the dial-up connection the program dialled, if any.
    void HangUp();
    // The name of the connection in use, empty when there is none.
    std::string ConnectionName();
    // The connected-state flags (platform/Inet.h: 0x1 modem, 0x20 offline).
    uint32_t ConnectedStateFlags();
    bool IsConnected();
    // Registers the status callback on the session, now and on every session opened later.
    void SetStatusCallback(platform::InternetStatusCallback callback);

    platform::InternetHandle Session;
    std::string Buffer;
    const int32_t BufferSize = 32000;
    uintptr_t DialConnection = 0;
    std::string DialName;

private:
    platform::InternetStatusCallback status_callback_ = nullptr;
};

// The state shared by every FTP device of one unit: one watchdog for all of them, made by the
// first device and ended with the last, and the alive callback and general time-out of the
// device made last. Devices are made and freed on whichever thread holds them (the main thread,
// the connection test's thread, the publisher thread at the end of a run), so the state is
// guarded; the status callback reads it on the thread of each FTP call.
class FtpUnitState
{
public:
    // How the unit's status callback drives its watchdog.
    enum class Watching
    {
        // The device watches its connection handle; requests kick the countdown.
        kDeviceHandle,
        // The device watches no handle (its client library has none): a request hands the
        // watchdog the handle that reports it, and a finished request forgets it.
        kReportingHandle,
    };

    // `watchdog_tick` is one second but for tests that tick the watchdog themselves.
    explicit FtpUnitState(std::chrono::milliseconds watchdog_tick = std::chrono::seconds(1),
                          Watching watching = Watching::kDeviceHandle);

    // A device is made: the first makes the watchdog; the callback and the time-out become the
    // unit's.
    void DeviceCreated(std::shared_ptr<IFtpAliveInterface> alive, int32_t general_timeout);
    // A device is freed; the last one ends the watchdog and the unit forgets it (true then).
    bool DeviceDestroyed();

    std::shared_ptr<THandleTimeout> Watchdog() const;
    std::shared_ptr<IFtpAliveInterface> AliveCallback() const;
    int32_t GeneralTimeout() const;
    int32_t DeviceCount() const;

    // What an internet status report does to the unit: uploads and downloads (contexts 2 and 4)
    // signal alive on every report; the reports of a request (30, 31, 120, 200) and of its
    // response arriving (40) restart the watchdog's countdown, a complete response (41), a
    // completed request (100) or a closing (50, 51, 70) stop it; 40 and 41 also signal alive.
    // Does nothing on an abandoned connect thread. With kReportingHandle the reports of a request
    // (30, 31) watch `handle` for the general time-out instead.
    void ReportStatus(uintptr_t context,
                      uint32_t status,
                      platform::InternetHandle handle = platform::InternetHandle{}) const;

private:
    const std::chrono::milliseconds watchdog_tick_;
    const Watching watching_;
    mutable std::mutex lock_;
    // Guarded by lock_.
    std::shared_ptr<THandleTimeout> watchdog_;
    std::shared_ptr<IFtpAliveInterface> alive_;
    int32_t general_timeout_ = 0;
    int32_t devices_ = 0;
};

// The unit state of the FTP device over the internet library.
FtpUnitState& FtpStorageUnit();

// The internet status callback of the FTP devices over the internet library (contexts 0 active
// connect, 1 passive connect, 2 upload, 3 listing, 4 download): FtpStorageUnit().ReportStatus.
// Called on the thread of the FTP call.
void ConnectionStatusCallback(platform::InternetHandle handle,
                              uintptr_t context,
                              uint32_t status,
                              const void* information,
                              uint32_t information_length);

// The latest moment a listed entry can have been written, as compare time. Listings give whole
// minutes (UNIX and DOS lines): the server's clock stood anywhere in the listed minute. Taking
// its start as the offset's reading would date every published copy up to a minute late, and a
// same-size edit made in that minute would never be published; its end errs towards one copy
// too many instead.
TDateTime LatestListedTime(TDateTime listed, TDateTime compare_time);

// Whether an offset of the server's clock from ours (days) is one a measurement keeps: under a
// day either way. A larger one is a wrong reading, not a clock, and is measured again.
inline bool IsMeasurableTimeDrift(TDateTime drift)
{
    return drift > -1 && drift < 1;
}

// What the caller of an FTP device decides about it, given whole when the device is made. The
// defaults are those of a device nobody configured. The pointers are borrowed and outlive the
// device; the dot-file state and the time offset are the caller's record of what the run finds
// out about the server, which the device reads and updates through them on the thread that runs
// it, and which the caller reads once that thread is done with the device.
struct FtpDeviceSettings
{
    // 0 means 21.
    uint16_t port = 0;
    // Seconds.
    int32_t general_timeout = 0;
    int32_t connection_timeout = 0;
    // Null: the device makes one of its own.
    TFtpPersistentInformation* connection_state = nullptr;
    // Null: dot files are left to the server's plain listings, and the server type is not asked.
    TDotFileState* dot_file_state = nullptr;
    // The offset of the server's clock from ours (days), as the web site knew it: listed times
    // are corrected by it, and the first upload measures it anew into the same place. Null: the
    // device neither corrects nor measures.
    TDateTime* time_drift = nullptr;
    // Given an initialiser like every field, so that a designated initialiser may leave it out
    // without a warning.
    std::shared_ptr<IFtpAliveInterface> alive = nullptr;
    // FtpStorageDevice::kFlag... bits.
    uint8_t flags = 0;
    // The run's stop request (QelSyncFlags::StopRequested): once it is set, no operation
    // reconnects for a retry.
    const std::atomic<bool>* stop = nullptr;
    // The mode Open connects in first; the retries may switch it.
    bool passive = true;
};

// The storage device for an FTP server reached through the internet library. Open runs on the
// thread that opens the destination (the session's, or the connection test's), every later
// operation on the publisher thread; one thread at a time, no lock. The output is borrowed and
// outlives the device, as do the settings' pointers. The unit's watchdog may close the
// connection handle at any time; the operations read its fired flag after each call. A
// reconnection is tried at most kMaxReconnects times in a row per operation.
class FtpStorageDevice : public QelStorageDevice
{
public:
    static constexpr int kMaxReconnects = 3;

    // Retry states: what the ladders of an operation last did.
    static constexpr uint8_t kRetryNone = 0;
    static constexpr uint8_t kRetryRenegotiating = 1;
    static constexpr uint8_t kRetryAfterTimeout = 2;
    static constexpr uint8_t kRetryModeSwitched = 3;

    // Flag bits of FtpDeviceSettings::flags.
    static constexpr uint8_t kFlagQuietTimeout = 1;
    static constexpr uint8_t kFlagAskSyst = 2;
    static constexpr uint8_t kFlagVerbose = 4;
    static constexpr uint8_t kFlagAskOnModem = 8;

    // The device is counted in `unit`, whose status callback goes on the session.
    FtpStorageDevice(QelSyncBaseOutput* output,
                     const FtpDeviceSettings& settings,
                     FtpUnitState* unit = &FtpStorageUnit(),
                     platform::InternetStatusCallback status_callback = ConnectionStatusCallback);
    ~FtpStorageDevice() override;
    FtpStorageDevice(const FtpStorageDevice&) = delete;
    FtpStorageDevice& operator=(const FtpStorageDevice&) = delete;

    uint8_t GetDeviceType() override;
    bool SupportsTransferModes() override;
    uint32_t GetLastError() override;
    std::string GetLastErrorText() override;
    void StoreLastError(int32_t code);
    virtual std::string GetLastResponse();

    // address: any form ReadFtpAddress reads; one it cannot read is refused with its message.
    // A port written in it takes the place of the settings' port.
    bool Open(const std::string& address,
              const std::string& user_name,
              const std::string& password,
              const std::string& connection_name) override;
    virtual bool Connect(bool passive, const std::string& connection_name);
    bool CheckInternetConnection(const std::string& connection_name);
    bool PromptGoOnline();
    void SetWorkOffline(bool offline);
    std::string ReadCurrentFolder();
    static std::string RemotePathOf(const std::string& path);
    static std::string SlashesToBackslashes(const std::string& path);
    // Without report_refusal, a folder the server refuses to enter (it is missing, most often)
    // is left to the caller to report.
    bool ChangeWorkingFolder(const std::string& folder, bool report_refusal = true);
    // The raw dialogue of a server that gave neither a connection, nor a code, nor a reply.
    std::string ProbeServer();

    bool SetPermissions(const std::string& folder,
                        const std::string& name,
                        const std::string& permission) override;
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
    // A folder the server refuses to enter is no error of the device's: the worker makes a
    // missing destination folder, or says that it is missing.
    bool ChangeDirectory(const std::string& path) override;
    bool ReleaseFile(const std::string& local_path) override;
    std::string GetFile(const std::string& folder, const std::string& name) override;
    std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                    const std::string& mask,
                                                    bool cache_allowed) override;
    bool RenameFile(const std::string& folder,
                    const std::string& old_name,
                    const std::string& new_name) override;
    bool SetReadOnly(const std::string& folder,
                     const std::string& name,
                     bool read_only,
                     bool force) override;
    bool SetFileDate(const std::string& folder, const std::string& name, TDateTime date) override;
    bool TakeListingFailure() override;
    // The reply to "SYST" named UNIX.
    bool StoresTextWithLineFeeds() override;
    TDateTime ListedTimeError() override;
    // From the server's modification time (MDTM); false once the server refused the command or
    // left it unanswered.
    bool GetExactFileDate(const std::string& folder,
                          const QelDirectoryEntry& listed,
                          TDateTime* date) override;

    // The outcome is in *reply and the last error; a code not accepted shows a message box.
    virtual void SendCommand(const std::string& command,
                             const std::string& folder,
                             std::string* reply,
                             const std::vector<uint32_t>& accepted_codes,
                             bool expect_data);
    static bool ReplyHasCode(const std::string& code, const std::string& reply);
    // A reply of the 2xx kind: the command was done.
    static bool IsCompletionReply(const std::string& reply);
    // The "SITE CHMOD" mode that makes the entry read-only or writable.
    static const char* ReadOnlyPermission(const QelDirectoryEntry& entry, bool read_only);
    static bool SplitFolderAndName(const std::string& path, std::string* folder, std::string* name);

    std::vector<std::string> ListDotFiles(const std::string& folder);
    void ParseVmsListing(QelDirectoryEntry* entry, bool first);
    // A year guessed by the listing that puts the date about a year back is moved a year on.
    static TDateTime ListedFileTimeToDateTime(const platform::FindData& data);
    static TDateTime ParseVmsDateTime(const std::string& text);
    static std::string FormatListingLine(const platform::FileTime& file_time);

    // For the tests and the wizard.
    uint8_t RetryState() const { return retry_state_; }
    bool Passive() const { return passive_ != 0; }
    uint8_t VmsMode() const { return vms_mode_; }
    bool IsUnix() const { return unix_; }
    const std::string& Host() const { return host_; }
    const std::string& BaseFolder() const { return base_folder_; }
    const std::string& LoginRoot() const { return login_root_; }

protected:
    // Once the run is stopped, warnings and errors are left out: the stop ended the waits, and
    // their failures are not the server's.
    void Write(uint8_t type, const std::string& text);
    bool StopRequested() const { return stop_ != nullptr && *stop_; }
    // False, with last error 87 and a message naming the field (never its text), when the host,
    // user name, password or base folder holds CR, LF or NUL.
    bool SettingsAreSafe();
    // Removes or makes the folder named by the last part of path; a failure writes failure,
    // the path, the code and its text.
    bool FolderOperation(const std::string& path,
                         bool (*operation)(platform::InternetHandle, const std::string&),
                         const std::string& failure);
    // False, with "Failed to reconnect" and 12002, once an operation used up its reconnections;
    // false with 12017 once a stop was requested.
    bool MayReconnect(int reconnects);
    // Connect for a retry; a failure writes `failure` and keeps `cause`, the code that led to
    // the retry, when the connection left none.
    bool Reconnect(bool passive, const char* failure, uint32_t cause);
    void KeepCause(uint32_t cause);
    std::string FourLines(const std::string& first, const std::string& code_label);
    std::shared_ptr<THandleTimeout> Watchdog() const;
    void Watch();
    void Disarm();
    bool WatchdogFired() const;
    // The offset of the server's listing times from our clock, read from the file just
    // uploaded: `uploaded_at` is our clock when the upload completed, about when the server
    // wrote its last bytes. `report` writes the offset measured when the verbose flag is set.
    void MeasureTimeOffset(const std::string& folder,
                           const std::string& name,
                           TDateTime uploaded_at,
                           bool report);
    // The time MDTM gives for a file, in UTC, and whether it holds milliseconds. False when it
    // gives none; a server that refuses MDTM, or does not answer it in time, is not asked again.
    bool AskModificationTime(const std::string& folder,
                             const std::string& name,
                             TDateTime* utc,
                             bool* milliseconds);
    // The time the server's machine listing (MLSD) of the folder gives for a file, in UTC, and
    // whether it holds milliseconds. The folder is listed once while its files are asked about;
    // only whole lines are read. False when the server offers no such listing or it holds no
    // complete line for the file: MDTM is asked then.
    bool MachineListedTime(const std::string& folder,
                           const std::string& name,
                           TDateTime* utc,
                           bool* milliseconds);
    // Whether the server's features (FEAT) include machine listings with modification times.
    virtual bool OffersMachineListings();
    // The folder's machine listing as it came, up to where it stopped; false when the server
    // refused it or gave nothing.
    virtual bool ReadMachineListing(const std::string& folder, std::string* content);
    // A file written, renamed or removed: its listed time no longer holds.
    void ForgetMachineListedTime(const std::string& name);
    // A command answered on the control connection, for what the device can do without: false
    // when it fails or the server refuses it, with nothing written or shown. *reply holds what
    // the server said.
    virtual bool SendQuietCommand(const std::string& command,
                                  const std::string& folder,
                                  std::string* reply);
    // The VMS fix-up and the dot-file bookkeeping of a listed entry; false when the entry was
    // dropped.
    bool KeepListedEntry(QelDirectoryList* list,
                         std::unique_ptr<QelDirectoryEntry> entry,
                         bool first,
                         const std::string& mask);
    // Sends the mode that SetReadOnly chose for the entry.
    virtual bool ApplyReadOnly(const std::string& folder,
                               const std::string& name,
                               const std::string& permission);
    // Adds the entry; a dot file counts, and in a whole folder's listing tells that the server
    // lists dot files.
    void AddCountedEntry(QelDirectoryList* list,
                         std::unique_ptr<QelDirectoryEntry> entry,
                         const std::string& mask);
    // The folder path on the server that the ".quota" rule compares with the base folder.
    virtual std::string RemoteFolderOf(const std::string& folder) const;
    void AddListedEntry(QelDirectoryList* list,
                        const platform::FindData& data,
                        bool first,
                        const std::string& folder,
                        const std::string& mask);
    // The dot files a UNIX server may be hiding from the folder's listing: by "NLST -a .*" and a
    // listing of each name (a name that lists no entry of its own may be a folder, which is
    // entered to tell), or, from a server that refuses the pattern, from "LIST -a".
    void AddDotFiles(QelDirectoryList* list, const std::string& folder, bool cache_allowed);
    void AddDotFilesOfFullListing(QelDirectoryList* list, const std::string& folder);
    // The entry of one parsed line of a listing, as this device's own listings make it.
    virtual std::unique_ptr<QelDirectoryEntry> ListedEntryOf(const platform::FindData& data,
                                                             const std::string& line);

    // The unit that counts this device; its watchdog is the one Watch and Disarm act on.
    FtpUnitState* const unit_;
    platform::InternetHandle connection_;
    uint8_t retry_state_ = kRetryNone;
    std::unique_ptr<TFtpPersistentInformation> own_state_;
    TFtpPersistentInformation* state_ = nullptr;
    bool chmod_supported_ = false;
    bool chmod_known_ = false;
    uint8_t vms_mode_ = 2;
    uint16_t port_ = 21;
    std::string current_folder_ = "\\";
    std::string login_root_;
    std::string host_;
    std::string base_folder_;
    std::string user_name_;
    std::string password_;
    uint8_t passive_ = 1;
    uint8_t flags_ = 0;
    TDateTime* time_drift_ = nullptr;
    // No measurement of the offset is pending: it has been measured, or it is not wanted.
    bool drift_settled_ = true;
    bool session_reopened_ = false;
    bool compensating_ = false;
    int32_t connection_timeout_ = 0;
    int32_t general_timeout_ = 0;
    QelSyncBaseOutput* output_;
    int32_t last_error_ = 0;
    std::shared_ptr<IFtpAliveInterface> alive_;
    TDotFileState* dot_file_state_ = nullptr;
    bool unix_ = false;
    const std::atomic<bool>* stop_ = nullptr;
    // The connection handle as the stop watcher may close it from its thread, and the sockets
    // it shuts down (the client library's).
    std::atomic<uint64_t> watched_connection_{0};
    StoppableSockets stoppable_sockets_;
    std::unique_ptr<StopWatcher> stop_watcher_;
    // The server refused "NLST -a .*" (it refuses it in every folder): dot files come from
    // "LIST -a" for the rest of the device's life. Refused that too: they are not looked for.
    bool nlst_pattern_refused_ = false;
    bool list_all_refused_ = false;
    // The server does not know MDTM, or answers it in another form: it is not asked again.
    bool mdtm_refused_ = false;
    // Whether the server lists modification times by MLSD: 0 not yet asked, 1 it does, 2 it does
    // not (or refused the listing).
    uint8_t machine_listings_ = 0;
    struct ListedTime
    {
        TDateTime utc = 0;
        bool milliseconds = false;
    };
    // The times of the last folder whose machine listing was read, by file name.
    bool machine_listing_read_ = false;
    std::string machine_listed_folder_;
    std::map<std::string, ListedTime> machine_listed_times_;
    // Set by a listing that could not read its whole folder, cleared by TakeListingFailure.
    bool listing_failed_ = false;
};

}  // namespace vantrel
