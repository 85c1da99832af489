#pragma once

#include <cstdint>
#include <memory>
#include <string>

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

    std::unique_ptr<Poco::Net::FTPClientSession> client_;
};

}  // namespace vantrel
