#include "storage/FtpStorageIndy.h"

#include <algorithm>
#include <fstream>
#include <istream>
#include <ostream>
#include <utility>

#include <Poco/Exception.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/FTPSClientSession.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/StreamCopier.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "foundation/ApiWrappers.h"
#include "foundation/QelDateFunctions.h"
#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/FtpListing.h"
#include "platform/Ui.h"
#include "storage/QelDirectoryListUnit.h"
#include "sync/QelSyncBaseOutput.h"

namespace vantrel {

int32_t SocketErrorCodeOf(const Poco::Exception& failure)
{
    if (dynamic_cast<const Poco::Net::ConnectionRefusedException*>(&failure) != nullptr) {
        return kSocketConnectionRefused;
    }
    if (dynamic_cast<const Poco::Net::ConnectionResetException*>(&failure) != nullptr) {
        return kSocketConnectionReset;
    }
    if (dynamic_cast<const Poco::Net::DNSException*>(&failure) != nullptr) {
        return kSocketHostNotFound;
    }
    if (dynamic_cast<const Poco::TimeoutException*>(&failure) != nullptr) {
        return kSocketTimedOut;
    }
    return kSocketNetworkDown;
}

int32_t LastErrorCodeOf(const Poco::Exception& failure)
{
    // Poco's FTP session throws FTPException with the server's reply code as its code.
    if (dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr && failure.code() != 0) {
        return failure.code();
    }
    return SocketErrorCodeOf(failure);
}

bool IsSocketFailure(const Poco::Exception& failure)
{
    if (dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr ||
        dynamic_cast<const Poco::Net::SSLException*>(&failure) != nullptr) {
        return false;
    }
    return dynamic_cast<const Poco::Net::NetException*>(&failure) != nullptr ||
           dynamic_cast<const Poco::TimeoutException*>(&failure) != nullptr;
}

FtpUnitState& FtpIndyStorageUnit()
{
    static FtpUnitState unit(std::chrono::seconds(1), FtpUnitState::Watching::kReportingHandle);
    return unit;
}

void IndyConnectionStatusCallback(platform::InternetHandle handle,
                                  uintptr_t context,
                                  uint32_t status,
                                  const void* /*information*/,
                                  uint32_t /*information_length*/)
{
    FtpIndyStorageUnit().ReportStatus(context, status, handle);
}

namespace {

// A session whose control connection is connected by the device, so that connecting keeps to
// the web site's connection time-out: Poco's own open connects without a limit.
template <class Session>
class ConnectedSession : public Session
{
public:
    template <class... Arguments>
    explicit ConnectedSession(const Poco::Net::StreamSocket& control, Arguments&&... arguments)
        : Session(std::forward<Arguments>(arguments)...)
    {
        this->_pControlSocket = new Poco::Net::DialogSocket(control);
    }
};

// Poco sends names as given; a CR, LF or NUL would end the command early and start another.
bool IsSafeName(const std::string& name)
{
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Poco opens data connections for its own transfers only; these name the protected parts that
// a raw command answering on a data connection needs.
struct RawTransfer : Poco::Net::FTPClientSession
{
    using Poco::Net::FTPClientSession::_pControlSocket;
    using Poco::Net::FTPClientSession::establishDataConnection;
};

constexpr int32_t kCodeRefused = static_cast<int32_t>(platform::kErrorInternetExtendedError);
constexpr int32_t kSocketNotConnected = 10057;
constexpr int32_t kErrorInvalidName = 123;
constexpr int kDataBufferSize = 32000;

// The server's reply that Poco put after the message of its exception.
std::string ReplyOf(const Poco::Exception& failure)
{
    const std::string& message = failure.message();
    const size_t separator = message.find(": ");
    return separator == std::string::npos ? message : message.substr(separator + 2);
}

// The control connection ended under a request: nothing came back (EOF), or 421.
bool ServerClosedConnection(const Poco::Exception& failure)
{
    return dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr &&
           (failure.code() == 0 || failure.code() == 421);
}

std::string ToSlashes(std::string path)
{
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

}  // namespace

FtpIndyStorageDevice::FtpIndyStorageDevice(QelSyncBaseOutput* output,
                                           uint16_t port,
                                           TFtpPersistentInformation* connection_state,
                                           uintptr_t owner_window,
                                           TDotFileState* dot_file_state,
                                           int32_t general_timeout,
                                           int32_t connection_timeout,
                                           std::shared_ptr<IFtpAliveInterface> alive,
                                           TDateTime* time_drift,
                                           bool use_drift)
    : FtpStorageDevice(output,
                       port,
                       connection_state,
                       owner_window,
                       dot_file_state,
                       general_timeout,
                       connection_timeout,
                       std::move(alive),
                       time_drift,
                       use_drift,
                       &FtpIndyStorageUnit(),
                       IndyConnectionStatusCallback)
{}

// The client goes first; the unit's count, its status callback and the watchdog are the base's
// to end.
FtpIndyStorageDevice::~FtpIndyStorageDevice()
{
    CloseClient();
}

void FtpIndyStorageDevice::DoStatus(uint8_t status, const std::string& text)
{
    last_status_ = status;
    if (status != kStatusTransferStarting && status != kStatusReady) {
        Write(kMsgInformation, text);
    }
    last_status_text_ = text;
}

bool FtpIndyStorageDevice::IsSecure() const
{
    const auto* secure = dynamic_cast<const Poco::Net::FTPSClientSession*>(client_.get());
    return secure != nullptr && secure->isSecure();
}

void FtpIndyStorageDevice::CloseClient()
{
    if (!client_) {
        return;
    }
    DoStatus(kStatusDisconnecting, "Disconnecting.");
    try {
        client_->close();
    } catch (const Poco::Exception& failure) {
        Write(kMsgWarning, "Closing the connection: " + failure.displayText());
    }
    client_.reset();
    DoStatus(kStatusDisconnected, "Disconnected.");
}

void FtpIndyStorageDevice::ConnectClient(bool secure)
{
    const Poco::Timespan connect_limit(connection_timeout_, 0);
    try {
        DoStatus(kStatusResolving, "Resolving hostname " + host_ + ".");
        const Poco::Net::SocketAddress address(host_, port_);
        DoStatus(kStatusConnecting, "Connecting to " + address.host().toString() + ".");
        Poco::Net::StreamSocket control;
        if (connection_timeout_ > 0) {
            control.connect(address, connect_limit);
        } else {
            control.connect(address);
        }
        if (secure) {
            client_ = std::make_unique<ConnectedSession<Poco::Net::FTPSClientSession>>(
                control, tls_context_);
        } else {
            client_ = std::make_unique<ConnectedSession<Poco::Net::FTPClientSession>>(control);
        }
        // The connection time-out also bounds the greeting, the TLS handshake and the log-in:
        // a server that accepts and then says nothing fails as one that does not answer.
        if (connection_timeout_ > 0) {
            client_->setTimeout(connect_limit);
        }
        client_->open(host_, port_);
        if (secure && !IsSecure()) {
            throw Poco::Net::FTPException("The server does not accept AUTH TLS", 504);
        }
        DoStatus(kStatusConnected, "Connected.");
        client_->login(user_name_, password_);
        if (general_timeout_ > 0) {
            client_->setTimeout(Poco::Timespan(general_timeout_, 0));
        }
        client_->setPassive(secure || passive_ == 1);
        DoStatus(kStatusReady, "Logged in.");
    } catch (const Poco::Exception&) {
        if (client_) {
            CloseClient();
        } else {
            DoStatus(kStatusDisconnected, "Disconnected.");
        }
        throw;
    }
}

void FtpIndyStorageDevice::ReportConnectFailure(const std::string& first,
                                                int32_t code,
                                                const std::string& why)
{
    Write(kMsgError, first + "\r\nError code: " + std::to_string(code) + "\r\nDescription: " + why);
}

std::string FtpIndyStorageDevice::AskSystemType()
{
    std::string reply;
    try {
        client_->sendCommand("SYST", reply);
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
        reply.clear();
    }
    return reply;
}

void FtpIndyStorageDevice::StoreFailure(const Poco::Exception& failure)
{
    last_error_ = LastErrorCodeOf(failure);
    failure_code_ = last_error_;
    const bool refused =
        dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr && failure.code() >= 400;
    failure_text_ = refused ? ReplyOf(failure)
                            : failure.displayText() + " (#" + std::to_string(last_error_) + ")";
}

std::string FtpIndyStorageDevice::GetLastErrorText()
{
    // Neither a reply code nor the client's socket codes have a text of the system's: what the
    // server said, or what the client saw, describes them.
    if (last_error_ != 0 && last_error_ == failure_code_) {
        return failure_text_;
    }
    return FtpStorageDevice::GetLastErrorText();
}

void FtpIndyStorageDevice::Report(uint8_t type,
                                  const std::string& first,
                                  const Poco::Exception& failure)
{
    StoreFailure(failure);
    Write(type, first + "\r\nCode: " + std::to_string(last_error_) +
                    "\r\nDescription: " + failure.displayText());
}

bool FtpIndyStorageDevice::Connect(bool passive, const std::string& connection_name)
{
    if (!CheckInternetConnection(connection_name)) {
        return false;
    }
    passive_ = passive ? 1 : 0;
    Disarm();
    platform::SetLastError(0);
    CloseClient();
    const std::string unresolved = "Could not resolve server name " + host_ + ".";
    const std::string refused = "Failed to connect to server " + host_ + ".";
    bool socket_failed = false;
    try {
        ConnectClient(false);
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
        if (!IsSocketFailure(failure)) {
            ReportConnectFailure(refused, last_error_, failure.displayText());
            return false;
        }
        // Every network failure gets this first line, a refused or reset connection too.
        ReportConnectFailure(unresolved, last_error_, failure.displayText());
        socket_failed = true;
    }
    if (last_status_ == kStatusReady) {
        last_error_ = 0;
    } else if (last_error_ == kSocketConnectionReset && last_status_ == kStatusDisconnected) {
        // A server that resets plain FTP may insist on TLS.
        try {
            if (!tls_context_) {
                Poco::Net::Context::Params params;
                params.verificationMode = Poco::Net::Context::VERIFY_RELAXED;
                params.loadDefaultCAs = true;
                tls_context_ = new Poco::Net::Context(Poco::Net::Context::CLIENT_USE, params);
                // Poco would check the name against the peer's address; OpenSSL checks it
                // against the host the user named, on the control and the data connections.
                tls_context_->enableExtendedCertificateVerification(false);
            }
            X509_VERIFY_PARAM* check = SSL_CTX_get0_param(tls_context_->sslContext());
            Poco::Net::IPAddress numeric;
            const int named = Poco::Net::IPAddress::tryParse(host_, numeric)
                                  ? X509_VERIFY_PARAM_set1_ip_asc(check, host_.c_str())
                                  : X509_VERIFY_PARAM_set1_host(check, host_.c_str(), host_.size());
            // Without the name any trusted certificate would do, another site's too.
            if (named != 1) {
                throw Poco::Net::SSLException("The certificate cannot be checked for " + host_);
            }
            DoStatus(kStatusText, "Trying explicit TLS.");
            ConnectClient(true);
            last_error_ = 0;
        } catch (const Poco::Exception& failure) {
            if (IsSocketFailure(failure)) {
                ReportConnectFailure(unresolved, SocketErrorCodeOf(failure), failure.displayText());
            } else {
                StoreFailure(failure);
                ReportConnectFailure(refused, last_error_, failure.displayText());
            }
            return false;
        }
    } else if (socket_failed) {
        return false;
    }
    current_folder_.clear();
    const std::string folder = ReadCurrentFolder();
    login_root_ = folder == "\\" ? "" : folder;
    if (dot_file_state_ != nullptr &&
        (dot_file_state_->Treatment != kDotFilesListed || (flags_ & kFlagAskSyst) != 0)) {
        unix_ = AskSystemType().find("UNIX") != std::string::npos;
        if (dot_file_state_->Treatment != kDotFilesListed && !unix_) {
            dot_file_state_->Treatment = kDotFilesListed;
        }
    }
    return true;
}

std::string FtpIndyStorageDevice::ReadCurrentFolder()
{
    try {
        std::string folder = SlashesToBackslashes(client_->getWorkingDirectory());
        while (folder.size() > 1 && folder.back() == '\\') {
            folder.pop_back();
        }
        // The server is in that folder now: changing to it needs no command.
        current_folder_ = folder.empty() ? "\\" : folder;
        return current_folder_;
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
        return "\\";
    }
}

std::string FtpIndyStorageDevice::RemotePathOf(const std::string& path)
{
    if (!StartsWith(path, "ftp:\\\\", true)) {
        return path;
    }
    const std::string rest = path.substr(6);
    const size_t separator = rest.find('\\');
    return separator == std::string::npos ? "" : rest.substr(separator + 1);
}

bool FtpIndyStorageDevice::ChangeWorkingFolder(const std::string& folder)
{
    if (!client_) {
        return false;
    }
    const std::string remote = RemotePathOf(folder);
    std::string path = !remote.empty()       ? login_root_ + "\\" + remote
                       : login_root_.empty() ? "\\"
                                             : login_root_;
    if (path == current_folder_) {
        return true;
    }
    if (!IsSafeName(path)) {
        last_error_ = 123;
        return false;
    }
    try {
        client_->setWorkingDirectory(ToSlashes(path));
        current_folder_ = path;
        return true;
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
        Write(kMsgError, "Cannot change directory to " + folder + " (error " +
                             std::to_string(last_error_) + ")." + failure.displayText() +
                             " root: " + login_root_ + " cwd: " + current_folder_);
        return false;
    }
}

bool FtpIndyStorageDevice::EnterFolderOf(const std::string& path, std::string* name)
{
    std::string folder = path;
    if (folder.find('\\') == std::string::npos) {
        *name = folder;
        folder.clear();
    } else {
        SplitTail(&folder, "\\", name);
    }
    if (name->empty() || !IsSafeName(*name)) {
        last_error_ = name->empty() ? 0 : 123;
        return false;
    }
    return ChangeWorkingFolder(folder);
}

bool FtpIndyStorageDevice::ChangeDirectory(const std::string& path)
{
    return ChangeWorkingFolder(path);
}

bool FtpIndyStorageDevice::PutFile(const std::string& local_path,
                                   const std::string& folder,
                                   const std::string& name,
                                   bool binary)
{
    if (name.empty() || !IsSafeName(name) || !ChangeWorkingFolder(folder)) {
        return false;
    }
    std::string posix_path;
    std::ifstream input;
    if (platform::ResolvePath(local_path, &posix_path)) {
        input.open(posix_path, std::ios::binary);
    }
    if (!input) {
        last_error_ = 2;
        Write(kMsgWarning, "Mishap copying file " + local_path + " to " + folder +
                               "\r\nCode: 2\r\nDescription: " + GetLastErrorText());
        return false;
    }
    const TDateTime start = drift_settled_ ? 0 : NowDateTime();
    try {
        UseFileType(binary ? Poco::Net::FTPClientSession::TYPE_BINARY
                           : Poco::Net::FTPClientSession::TYPE_TEXT);
        DoStatus(kStatusTransferStarting, "Transfer starting.");
        std::ostream& upload = client_->beginUpload(name);
        Poco::StreamCopier::copyStream(input, upload);
        client_->endUpload();
        DoStatus(kStatusReady, "Transfer complete.");
    } catch (const Poco::Exception& failure) {
        Report(kMsgWarning, "Mishap copying file " + local_path + " to " + folder, failure);
        return false;
    }
    if (!drift_settled_) {
        MeasureTimeOffset(folder, name, start, false);
    }
    CountUploadedDotFile(dot_file_state_, name);
    return true;
}

bool FtpIndyStorageDevice::DeleteFile(const std::string& folder,
                                      const std::string& name,
                                      bool report_errors)
{
    std::string path = folder.empty() ? name : name.empty() ? folder : folder;
    if (!folder.empty() && !name.empty()) {
        path = folder.back() == '\\' ? folder + name : folder + "\\" + name;
    }
    std::string file;
    if (!EnterFolderOf(path, &file)) {
        return false;
    }
    try {
        client_->remove(file);
        return true;
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
        if (report_errors) {
            Report(kMsgWarning,
                   "Failed to delete file " + file + " in " +
                       path.substr(0, path.size() - file.size()),
                   failure);
        }
        return false;
    }
}

bool FtpIndyStorageDevice::RenameFile(const std::string& folder,
                                      const std::string& old_name,
                                      const std::string& new_name)
{
    if (!IsSafeName(old_name) || !IsSafeName(new_name) || !ChangeWorkingFolder(folder)) {
        return false;
    }
    try {
        client_->rename(old_name, new_name);
        return true;
    } catch (const Poco::Exception& failure) {
        Report(kMsgWarning,
               "Mishap renaming file " + old_name + " to " + new_name + " in " + folder, failure);
        return false;
    }
}

bool FtpIndyStorageDevice::RunFolderRequest(
    const std::string& path,
    void (Poco::Net::FTPClientSession::*request)(const std::string&),
    const std::string& failure)
{
    std::string name;
    if (!EnterFolderOf(path, &name)) {
        return false;
    }
    try {
        (client_.get()->*request)(name);
        return true;
    } catch (const Poco::Exception& error) {
        StoreFailure(error);
        Write(kMsgError, failure + path + " (error " + std::to_string(last_error_) + "). " +
                             GetLastErrorText());
        return false;
    }
}

bool FtpIndyStorageDevice::CreateDirectory(const std::string& path)
{
    return RunFolderRequest(path, &Poco::Net::FTPClientSession::createDirectory,
                            "Error creating directory ");
}

bool FtpIndyStorageDevice::RemoveDirectory(const std::string& path)
{
    return RunFolderRequest(path, &Poco::Net::FTPClientSession::removeDirectory,
                            "Failed to delete directory ");
}

std::string FtpIndyStorageDevice::GetFile(const std::string& folder, const std::string& name)
{
    const std::string local_path = GetTempFolder() + name;
    if (name.empty() || !IsSafeName(name) || name.find('/') != std::string::npos) {
        return "";
    }
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    try {
        std::ofstream output(platform::ToPosixPath(local_path), std::ios::binary | std::ios::trunc);
        UseFileType(Poco::Net::FTPClientSession::TYPE_BINARY);
        DoStatus(kStatusTransferStarting, "Transfer starting.");
        std::istream& download = client_->beginDownload(name);
        Poco::StreamCopier::copyStream(download, output);
        client_->endDownload();
        DoStatus(kStatusReady, "Transfer complete.");
        output.close();
        if (output) {
            return local_path;
        }
        last_error_ = 29;
    } catch (const Poco::Exception& failure) {
        StoreFailure(failure);
    }
    platform::DeleteFile(local_path);
    return "";
}

void FtpIndyStorageDevice::UseFileType(Poco::Net::FTPClientSession::FileType type)
{
    // The session knows the type in force (it sets it at log-in): transfers and listings in a
    // row of the same type send no TYPE command each.
    if (client_->getFileType() != type) {
        client_->setFileType(type);
    }
}

std::vector<std::string> FtpIndyStorageDevice::ReadListing(const std::string& mask)
{
    std::vector<std::string> lines;
    UseFileType(Poco::Net::FTPClientSession::TYPE_TEXT);
    DoStatus(kStatusTransferStarting, "Transfer starting.");
    std::istream& listing = client_->beginList(mask, true);
    std::string line;
    while (std::getline(listing, line)) {
        lines.push_back(line);
    }
    client_->endList();
    DoStatus(kStatusReady, "Transfer complete.");
    return lines;
}

std::unique_ptr<QelDirectoryEntry> FtpIndyStorageDevice::ListedEntryOf(
    const platform::FindData& data, const std::string& line)
{
    auto entry = QelDirectoryEntry::Create();
    entry->Name = data.file_name;
    entry->Date = FileTimeToDateTime(data.last_write_time) - (time_drift_ ? *time_drift_ : 0);
    entry->SizeHigh = data.size_high;
    entry->SizeLow = data.size_low;
    entry->Attributes = data.attributes & platform::kFileAttributeDirectory;
    // Only the owner's write permission counts; a listing without permission texts (DOS, IIS)
    // shows nothing writable.
    const std::string_view permissions = platform::ListingPermissionText(line);
    if (permissions.size() < 3 || permissions[2] != 'w') {
        entry->Attributes |= platform::kFileAttributeReadOnly;
    }
    return entry;
}

bool FtpIndyStorageDevice::AddClientEntry(QelDirectoryList* list,
                                          const std::string& line,
                                          bool first,
                                          const std::string& mask)
{
    platform::SystemTime now{};
    platform::GetLocalTime(&now);
    platform::FindData data{};
    if (!platform::ParseListingLine(line, now, &data)) {
        return false;
    }
    auto entry = ListedEntryOf(data, line);
    // A VMS line has read its own bits (and its header must not look like an entry with bits
    // before the fix-up has seen it).
    const bool read_only = entry->IsReadOnly();
    entry->SetReadOnly(false);
    ParseVmsListing(entry.get(), first);
    if (entry->Name.empty()) {
        return true;
    }
    if (vms_mode_ != 1 && read_only) {
        entry->SetReadOnly(true);
    }
    AddCountedEntry(list, std::move(entry), mask);
    return true;
}

std::unique_ptr<QelDirectoryList> FtpIndyStorageDevice::ListDirectory(const std::string& folder,
                                                                      const std::string& mask,
                                                                      bool cache_allowed)
{
    auto list = QelDirectoryList::Create();
    if (!IsSafeName(mask) || !ChangeWorkingFolder(folder)) {
        return list;
    }
    std::vector<std::string> lines;
    for (bool retried = false;; retried = true) {
        try {
            lines = ReadListing(mask);
            break;
        } catch (const Poco::Exception& failure) {
            StoreFailure(failure);
            if (retried || !ServerClosedConnection(failure)) {
                Write(kMsgWarning, "Listing " + folder + " failed: " + failure.displayText());
                return list;
            }
            Write(kMsgWarning, "Renegotiating connection " + failure.displayText());
            retry_state_ = kRetryRenegotiating;
            if (!MayReconnect(0)) {
                return list;
            }
            if (!Connect(passive_ != 0, "")) {
                Write(kMsgError, "Failed to renegotiate connection");
                last_error_ = static_cast<int32_t>(platform::kErrorInternetTimeout);
                return list;
            }
            // The retry keeps the mask: a single-name listing must not come back as the whole
            // folder.
            if (!ChangeWorkingFolder(folder)) {
                return list;
            }
        }
    }
    bool first = true;
    for (const std::string& line : lines) {
        if (AddClientEntry(list.get(), line, first, mask)) {
            first = false;
        }
    }
    if (mask.empty()) {
        AddDotFiles(list.get(), folder, cache_allowed);
    }
    return list;
}

bool FtpIndyStorageDevice::ApplyReadOnly(const std::string& folder,
                                         const std::string& name,
                                         const std::string& permission)
{
    std::string reply;
    SendCommand("SITE CHMOD " + permission + " " + name, folder, &reply, {}, false);
    if (!StartsWith(reply, "250", false)) {
        Write(kMsgWarning, "Rename mishap: " + reply);
    }
    return true;
}

int FtpIndyStorageDevice::ReadCommandData(const std::string& command, std::string* data)
{
    const size_t blank = command.find(' ');
    const std::string verb = command.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : command.substr(blank + 1);
    Poco::Net::StreamSocket socket =
        ((*client_).*(&RawTransfer::establishDataConnection))(verb, argument);
    std::string buffer(kDataBufferSize, '\0');
    try {
        for (;;) {
            const int got = socket.receiveBytes(buffer.data(), kDataBufferSize);
            if (got <= 0) {
                break;
            }
            data->append(buffer.data(), static_cast<size_t>(got));
        }
    } catch (const Poco::Exception& failure) {
        data->append(" " + failure.displayText());
    }
    socket.close();
    Poco::Net::DialogSocket* control = (*client_).*(&RawTransfer::_pControlSocket);
    return control->receiveStatusMessage(last_response_);
}

void FtpIndyStorageDevice::SendCommand(const std::string& command,
                                       const std::string& folder,
                                       std::string* reply,
                                       const std::vector<uint32_t>& accepted_codes,
                                       bool expect_data)
{
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    reply->clear();
    last_response_.clear();
    int32_t code = 0;
    std::string data;
    if (!client_) {
        code = kSocketNotConnected;
    } else if (!IsSafeName(command)) {
        code = kErrorInvalidName;
    } else {
        try {
            const int status = expect_data ? ReadCommandData(command, &data)
                                           : client_->sendCommand(command, last_response_);
            // No status at all: the server closed the connection without a word.
            code = status >= 400 ? kCodeRefused : status <= 0 ? kSocketNetworkDown : 0;
        } catch (const Poco::Exception& failure) {
            code = LastErrorCodeOf(failure);
            if (dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr &&
                failure.code() >= 400) {
                code = kCodeRefused;
                last_response_ = ReplyOf(failure);
            }
        }
    }
    last_error_ = code;
    if (code == 0) {
        *reply = expect_data ? data : last_response_;
        return;
    }
    if (code == kCodeRefused) {
        *reply = last_response_;
    }
    if (std::find(accepted_codes.begin(), accepted_codes.end(), static_cast<uint32_t>(code)) ==
        accepted_codes.end()) {
        const std::string text = code == kCodeRefused
                                     ? platform::ErrorMessageText(kCodeRefused) + " (" +
                                           std::to_string(kCodeRefused) + ")" + last_response_
                                     : GetLastErrorText();
        platform::MessageBox(text, "", platform::kMbOk);
    }
}

std::string FtpIndyStorageDevice::GetLastResponse()
{
    return last_response_;
}

std::string FtpIndyStorageDevice::RemoteFolderOf(const std::string& folder) const
{
    return RemotePathOf(folder);
}

}  // namespace vantrel
