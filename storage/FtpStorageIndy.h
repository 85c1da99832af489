#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/FTPClientSession.h>

#include "storage/FtpStorage.h"

// The FTP client-library device (FtpIndyStorageDevice) and its unit's own state and internet
// status callback; and its view of Poco's exceptions: the one place where a failure of the FTP
// client library becomes the code the device stores as its last error.
namespace vantrel {

// Windows socket codes of the failures the FTP client library reports at connection.
constexpr int32_t kSocketConnectionRefused = 10061;
constexpr int32_t kSocketConnectionReset = 10054;
constexpr int32_t kSocketHostNotFound = 11001;
constexpr int32_t kSocketTimedOut = 10060;
constexpr int32_t kSocketNetworkDown = 10050;

// The socket code of a network failure: refused, reset, host not found and timed out by their
// own codes, any other 10050.
int32_t SocketErrorCodeOf(const Poco::Exception& failure);

// The last error for any failure of the FTP client library: the reply code of a command the
// server refused, else the socket code.
int32_t LastErrorCodeOf(const Poco::Exception& failure);

// A failure of the network itself (name resolution, connection, a reset, a time-out), as opposed
// to a refusal by the server or a failure of TLS.
bool IsSocketFailure(const Poco::Exception& failure);

// The unit state of the client-library device, apart from the internet-library device's: its
// watchdog is handed the handle of each request its status callback sees.
FtpUnitState& FtpIndyStorageUnit();

// The internet status callback of the client-library device's unit:
// FtpIndyStorageUnit().ReportStatus. Called on the thread of the internet library's call.
void IndyConnectionStatusCallback(platform::InternetHandle handle,
                                  uintptr_t context,
                                  uint32_t status,
                                  const void* information,
                                  uint32_t information_length);

// The storage device for an FTP server reached through the FTP client library (Poco's FTP
// session) instead of the internet library: connection and log-in, folder changes, transfers,
// deletions, renames and listings go over the client; the address rules, the error texts and the
// bookkeeping are those of FtpStorageDevice. Every failure of the client is caught here: the
// caller sees false, the stored last error and a line on the output.
//
// Connect tries plain FTP first; a server that resets that connection gets one attempt over
// explicit TLS (AUTH TLS, then PBSZ 0 and PROT P, passive), whose certificate must be trusted by
// the system's certificate store (OpenSSL's default paths) and name the host. The TLS context
// made then stays with the device for its later reconnections.
class FtpIndyStorageDevice : public FtpStorageDevice
{
public:
    // The client's connection statuses, each reported with a text through DoStatus.
    static constexpr uint8_t kStatusResolving = 0;
    static constexpr uint8_t kStatusConnecting = 1;
    static constexpr uint8_t kStatusConnected = 2;
    static constexpr uint8_t kStatusDisconnecting = 3;
    static constexpr uint8_t kStatusDisconnected = 4;
    static constexpr uint8_t kStatusText = 5;
    static constexpr uint8_t kStatusTransferStarting = 6;
    static constexpr uint8_t kStatusReady = 7;
    static constexpr uint8_t kStatusTransferAborted = 8;

    // The device is counted in FtpIndyStorageUnit().
    FtpIndyStorageDevice(QelSyncBaseOutput* output, const FtpDeviceSettings& settings);
    ~FtpIndyStorageDevice() override;

    bool Connect(bool passive, const std::string& connection_name) override;
    // A status of the client's connection: kept as the last status, and written as type 20
    // unless it is a transfer starting (6) or the client being ready (7).
    void DoStatus(uint8_t status, const std::string& text);
    uint8_t LastStatus() const { return last_status_; }
    const std::string& LastStatusText() const { return last_status_text_; }
    // True while the connection to the server runs over TLS.
    bool IsSecure() const;
    std::string ReadCurrentFolder();
    // The part after "ftp:\\" (exactly these six characters) and the host; any other path as
    // given.
    static std::string RemotePathOf(const std::string& path);
    // Without report_refusal, a folder the server refuses to enter is left to the caller to
    // report.
    bool ChangeWorkingFolder(const std::string& folder, bool report_refusal = true);

    bool PutFile(const std::string& local_path,
                 const std::string& folder,
                 const std::string& name,
                 bool binary) override;
    bool CreateDirectory(const std::string& path) override;
    bool DeleteFile(const std::string& folder,
                    const std::string& name,
                    bool report_errors) override;
    bool RemoveDirectory(const std::string& path) override;
    bool ChangeDirectory(const std::string& path) override;
    std::string GetFile(const std::string& folder, const std::string& name) override;
    std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                    const std::string& mask,
                                                    bool cache_allowed) override;
    bool RenameFile(const std::string& folder,
                    const std::string& old_name,
                    const std::string& new_name) override;
    // A reply of 400 or more counts as the server's refusal, code 12003 (as the internet library
    // reports it); the reply then holds the server's answer. With expect_data the reply is what
    // the data connection brought. Never throws.
    void SendCommand(const std::string& command,
                     const std::string& folder,
                     std::string* reply,
                     const std::vector<uint32_t>& accepted_codes,
                     bool expect_data) override;
    // The reply to the last raw command on this device's connection.
    std::string GetLastResponse() override;
    // A failure of the client is described by the server's reply or the client's own text.
    std::string GetLastErrorText() override;

protected:
    // "SITE CHMOD" over this device's connection; a reply other than 250 is written as a
    // warning, and the result is true all the same.
    bool ApplyReadOnly(const std::string& folder,
                       const std::string& name,
                       const std::string& permission) override;
    std::string RemoteFolderOf(const std::string& folder) const override;
    // A failure of the network ends the connection: a reply that comes late would answer the
    // next command.
    bool SendQuietCommand(const std::string& command,
                          const std::string& folder,
                          std::string* reply) override;
    // Exact times come from MDTM alone on this device.
    bool OffersMachineListings() override { return false; }
    // The read-only bit from the owner's write permission of the line; Date2 is the listed time
    // as ListedFileTimeToDateTime reads it.
    std::unique_ptr<QelDirectoryEntry> ListedEntryOf(const platform::FindData& data,
                                                     const std::string& line) override;

private:
    // One connection and log-in, plain or over TLS; the client's failures are thrown.
    void ConnectClient(bool secure);
    // Ends the connection, if any, reporting the statuses when asked; the session is freed.
    void CloseClient(bool report = true);
    // After a transfer that failed on the network (not a refusal by the server): ends the
    // connection at once, without waiting for replies that may never come.
    void DropBrokenConnection(const Poco::Exception& failure);
    // The three-line error of a failed connection, the first line naming what failed.
    void ReportConnectFailure(const std::string& first, int32_t code, const std::string& why);
    // The server's reply to SYST; empty when the server refuses it or the connection fails.
    std::string AskSystemType();
    // Splits path at its last "\" and changes to the folder part; false on an empty name, an
    // unsafe name or a failed change.
    bool EnterFolderOf(const std::string& path, std::string* name);
    // Keeps the code of a failure of the client as the last error, and its description; a
    // failure after a stop request is the stop's, 12017.
    void StoreFailure(const Poco::Exception& failure);
    void Report(uint8_t type, const std::string& first, const Poco::Exception& failure);
    // Makes or removes the folder named by the last part of path; a failure writes failure
    // followed by the path, the code and its text.
    bool RunFolderRequest(const std::string& path,
                          void (Poco::Net::FTPClientSession::*request)(const std::string&),
                          const std::string& failure);

    // Sets the transfer type unless it is in force already; throws what the client throws.
    void UseFileType(Poco::Net::FTPClientSession::FileType type);
    // Sends a command that answers on a data connection and reads that connection to its end;
    // gives the final reply's status.
    int ReadCommandData(const std::string& command, std::string* data);
    // The lines of a LIST of the current folder (with mask when given). Throws what the client
    // throws.
    std::vector<std::string> ReadListing(const std::string& mask);
    // Makes the entry of one listed line; false when the line names no item. `first`: the first
    // item of the listing, which the VMS fix-up reads.
    bool AddClientEntry(QelDirectoryList* list,
                        const std::string& line,
                        bool first,
                        const std::string& mask);

    std::unique_ptr<Poco::Net::FTPClientSession> client_;
    uint8_t last_status_ = kStatusDisconnected;
    std::string last_status_text_;
    // Made at the first fall-back to TLS, kept for the device's life.
    Poco::Net::Context::Ptr tls_context_;
    std::string last_response_;
    // The description of the last failure of the client: the server's reply to a refused
    // command, else the client's own text; and its code.
    std::string failure_text_;
    int32_t failure_code_ = 0;
};

}  // namespace vantrel
