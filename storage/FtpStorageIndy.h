#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/FTPClientSession.h>

#include "storage/FtpStorage.h"

// The FTP client-library device's view of Poco's exceptions: the one place where a failure of
// the FTP client library becomes the code the device stores as its last error.
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

// The storage device for an FTP server reached through the FTP client library (Poco's FTP
// session) instead of the internet library: connection and log-in, folder changes, transfers,
// deletions, renames and listings go over the client; the address rules, the error texts and the
// bookkeeping are those of FtpStorageDevice. Every failure of the client is caught here: the
// caller sees false, the stored last error and a line on the output.
class FtpIndyStorageDevice : public FtpStorageDevice
{
public:
    using FtpStorageDevice::FtpStorageDevice;
    ~FtpIndyStorageDevice() override;

    bool Connect(bool passive, const std::string& connection_name) override;
    std::string ReadCurrentFolder();
    // The part after "ftp:\\" (exactly these six characters) and the host; any other path as
    // given.
    static std::string RemotePathOf(const std::string& path);
    bool ChangeWorkingFolder(const std::string& folder);

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

protected:
    // "SITE CHMOD" over this device's connection; a reply other than 250 is written as a
    // warning, and the result is true all the same.
    bool ApplyReadOnly(const std::string& folder,
                       const std::string& name,
                       const std::string& permission) override;
    std::string RemoteFolderOf(const std::string& folder) const override;

private:
    // Splits path at its last "\" and changes to the folder part; false on an empty name, an
    // unsafe name or a failed change.
    bool EnterFolderOf(const std::string& path, std::string* name);
    void Report(uint8_t type, const std::string& first, const Poco::Exception& failure);
    // Makes or removes the folder named by the last part of path; a failure writes failure
    // followed by the path, the code and its text.
    bool RunFolderRequest(const std::string& path,
                          void (Poco::Net::FTPClientSession::*request)(const std::string&),
                          const std::string& failure);

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
    std::string last_response_;
};

}  // namespace vantrel
