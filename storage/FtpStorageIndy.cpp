#include "storage/FtpStorageIndy.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <istream>
#include <ostream>
#include <type_traits>
#include <unistd.h>
#include <utility>

#include <Poco/Exception.h>
#include <Poco/Net/DialogSocket.h>
#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/FTPSClientSession.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SecureStreamSocketImpl.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timestamp.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include "foundation/ApiWrappers.h"
#include "foundation/QelDateFunctions.h"
#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/FtpListing.h"
#include "platform/Inet.h"
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
    // A write that the send time-out ended reports that it would block.
    if (dynamic_cast<const Poco::IOException*>(&failure) != nullptr &&
        (failure.code() == EAGAIN || failure.code() == EWOULDBLOCK)) {
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

// The code of a server's answer that is not FTP: too long, or without the port it must name.
constexpr int kCodeInvalidReply = static_cast<int>(platform::kErrorInternetInvalidServerResponse);

// What arrives on a control connection after each command is one reply; one longer than any
// FTP reply (in bytes or in lines) fails the request that waits for it, and so does one that is
// not whole within the limit from its first byte (a server that sends a byte or a line now and
// then would otherwise hold the request as long as it likes; silence stays the socket's time-out).
// The end of the connection ends a reply too: Poco's reader would otherwise read nothing, take it
// for a line without a code, and go round again for ever.
class ReplyBound
{
public:
    explicit ReplyBound(Poco::Timespan limit)
        : limit_(limit)
    {}

    void CommandSent()
    {
        received_ = 0;
        lines_ = 0;
    }
    // How long the next read may wait; the socket's own time-out between replies. Throws once a
    // reply that has begun is overdue.
    Poco::Timespan WaitBeforeRead(Poco::Timespan silence) const
    {
        if (!within_reply_) {
            return silence;
        }
        const Poco::Timespan left = limit_ - Poco::Timespan(started_.elapsed());
        if (left <= 0) {
            throw Poco::TimeoutException("The server's reply took longer than the time-out");
        }
        return std::min(silence, left);
    }
    void Received(const void* buffer, int got, int wanted)
    {
        if (got == 0 && wanted > 0) {
            // Code 0, as Poco gives a reply that never came.
            throw Poco::Net::FTPException("The server closed the connection", 0);
        }
        if (got <= 0) {
            return;
        }
        const char* bytes = static_cast<const char*>(buffer);
        received_ += static_cast<size_t>(got);
        for (int i = 0; i < got; ++i) {
            if (!within_reply_) {
                within_reply_ = true;
                started_.update();
            }
            if (bytes[i] == '\n') {
                ++lines_;
                // "123 " ends a reply; "123-" and any other line go on.
                within_reply_ = !(head_.size() == 4 && head_[3] == ' ' &&
                                  std::isdigit(static_cast<unsigned char>(head_[0])) &&
                                  std::isdigit(static_cast<unsigned char>(head_[1])) &&
                                  std::isdigit(static_cast<unsigned char>(head_[2])));
                head_.clear();
            } else if (head_.size() < 4) {
                head_ += bytes[i];
            }
        }
        if (received_ > platform::kFtpReplyBytesAtMost || lines_ > platform::kFtpReplyLinesAtMost) {
            throw Poco::Net::FTPException("The server's reply is longer than any FTP reply",
                                          kCodeInvalidReply);
        }
    }

private:
    Poco::Timespan limit_;
    size_t received_ = 0;
    size_t lines_ = 0;
    // A reply has begun and not ended; since when; the first bytes of its current line.
    bool within_reply_ = false;
    Poco::Timestamp started_;
    std::string head_;
};

// A socket that a stop request can shut down: it is among the device's stoppable sockets while
// it is open, and its connecting gives up once the run is stopped.
class StoppableSocketImpl : public Poco::Net::StreamSocketImpl
{
public:
    explicit StoppableSocketImpl(StoppableSockets* sockets)
        : sockets_(sockets)
    {}
    // An accepted connection's descriptor, which this socket takes over.
    StoppableSocketImpl(StoppableSockets* sockets, poco_socket_t fd)
        : Poco::Net::StreamSocketImpl(fd)
        , sockets_(sockets)
    {
        Register();
    }
    ~StoppableSocketImpl() override { Leave(); }

    void close() override
    {
        Leave();
        Poco::Net::StreamSocketImpl::close();
    }

    // As Poco's, but in slices, so that a stop ends the wait.
    void connect(const Poco::Net::SocketAddress& address, const Poco::Timespan& timeout) override
    {
        connectNB(address);
        Register();
        const Poco::Timestamp started;
        for (;;) {
            if (sockets_ != nullptr && sockets_->Stopped()) {
                throw Poco::TimeoutException("The run was stopped", address.toString());
            }
            const Poco::Timespan left = timeout - Poco::Timespan(started.elapsed());
            if (left <= 0) {
                throw Poco::TimeoutException("connect timed out", address.toString());
            }
            if (poll(std::min(left, Poco::Timespan(0, 100'000)),
                     SELECT_READ | SELECT_WRITE | SELECT_ERROR)) {
                break;
            }
        }
        if (const int failure = socketError()) {
            error(failure, address.toString());
        }
        setBlocking(true);
    }

private:
    void Register()
    {
        if (sockets_ != nullptr && !registered_ && sockfd() != POCO_INVALID_SOCKET) {
            registered_fd_ = sockfd();
            registered_ = true;
            sockets_->Add(registered_fd_);
        }
    }
    void Leave()
    {
        if (registered_) {
            registered_ = false;
            sockets_->Remove(registered_fd_);
        }
    }

    StoppableSockets* sockets_;
    bool registered_ = false;
    poco_socket_t registered_fd_ = POCO_INVALID_SOCKET;
};

// A control connection's socket layer, its replies bounded.
template <class Base>
class BoundedReplyImpl : public Base
{
public:
    template <class... Args>
    explicit BoundedReplyImpl(Poco::Timespan limit, Args&&... args)
        : Base(std::forward<Args>(args)...)
        , bound_(limit)
    {}

    using Base::receiveBytes;
    using Base::sendBytes;

    int sendBytes(const void* buffer, int length, int flags) override
    {
        bound_.CommandSent();
        return Base::sendBytes(buffer, length, flags);
    }
    int receiveBytes(void* buffer, int length, int flags) override
    {
        const Poco::Timespan silence = Base::getReceiveTimeout();
        const Poco::Timespan wait = bound_.WaitBeforeRead(silence);
        if (wait != silence) {
            Base::setReceiveTimeout(wait);
        }
        int got = 0;
        try {
            got = Base::receiveBytes(buffer, length, flags);
        } catch (const Poco::TimeoutException&) {
            RestoreTimeout(wait, silence);
            bound_.WaitBeforeRead(silence);
            throw;
        }
        RestoreTimeout(wait, silence);
        bound_.Received(buffer, got, length);
        return got;
    }

private:
    void RestoreTimeout(Poco::Timespan wait, Poco::Timespan silence)
    {
        if (wait != silence) {
            Base::setReceiveTimeout(silence);
        }
    }

    ReplyBound bound_;
};

using BoundedReplySocketImpl = BoundedReplyImpl<StoppableSocketImpl>;

// The TLS layer of a control connection, its replies bounded (counted after decryption).
class BoundedReplySecureImpl : public BoundedReplyImpl<Poco::Net::SecureStreamSocketImpl>
{
public:
    using BoundedReplyImpl<Poco::Net::SecureStreamSocketImpl>::BoundedReplyImpl;
    void Handshake() { connectSSL(); }
};

// Poco makes a secure socket of a given layer only for its own kinds.
struct BoundedReplySecureSocket : Poco::Net::SecureStreamSocket
{
    explicit BoundedReplySecureSocket(BoundedReplySecureImpl* layer)
        : Poco::Net::SecureStreamSocket(layer)
    {}
};

// The port that a reply to PASV ("227 ... (h1,h2,h3,h4,p1,p2)") or EPSV ("229 ... (|||p|)")
// names; 0 when it names none.
uint16_t PortOfPassiveReply(const std::string& reply, bool extended)
{
    const size_t open = reply.find('(');
    if (extended) {
        const size_t end = reply.find(')', open == std::string::npos ? 0 : open);
        if (open == std::string::npos || end == std::string::npos || end < open + 5) {
            return 0;
        }
        // "(|||port|)": the delimiter may be any character, the same four times.
        const std::string inner = reply.substr(open + 1, end - open - 1);
        const char d = inner[0];
        if (inner.size() < 5 || inner[1] != d || inner[2] != d || inner.back() != d) {
            return 0;
        }
        const std::string digits = inner.substr(3, inner.size() - 4);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return 0;
        }
        const unsigned long port = std::stoul(digits);
        return port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
    }
    // Six numbers after the code, with or without the brackets.
    size_t i = open == std::string::npos ? std::min<size_t>(reply.size(), 4) : open + 1;
    while (i < reply.size() && !std::isdigit(static_cast<unsigned char>(reply[i]))) {
        ++i;
    }
    unsigned numbers[6] = {};
    for (int n = 0; n < 6; ++n) {
        if (n > 0) {
            if (i >= reply.size() || reply[i] != ',') {
                return 0;
            }
            ++i;
        }
        size_t digits = 0;
        while (i < reply.size() && std::isdigit(static_cast<unsigned char>(reply[i])) &&
               digits < 3) {
            numbers[n] = numbers[n] * 10 + static_cast<unsigned>(reply[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || numbers[n] > 255) {
            return 0;
        }
    }
    const unsigned port = numbers[4] * 256 + numbers[5];
    return port > 0 ? static_cast<uint16_t>(port) : 0;
}

// A session whose control connection is connected by the device, so that connecting keeps to
// the web site's connection time-out: Poco's own open connects without a limit. Its passive
// data connections go to the host of the control connection, whatever address the server's
// reply names (a hostile or misconfigured server could otherwise have the content of a file
// sent anywhere), are connected within the connection time-out, and every read and write on
// them is bounded like those of the control connection.
template <class Session>
class ConnectedSession : public Session
{
public:
    // `host`: the server as the user named it, whose name its certificate must give;
    // `context`: the TLS context of a TLS session, null for a plain one.
    ConnectedSession(const Poco::Net::StreamSocket& control,
                     Poco::Timespan connect_limit,
                     Poco::Timespan reply_limit,
                     std::string host,
                     Poco::Net::Context::Ptr context,
                     StoppableSockets* sockets)
        : connect_limit_(connect_limit)
        , reply_limit_(reply_limit)
        , sockets_(sockets)
        , host_(std::move(host))
        , context_(std::move(context))
    {
        this->_pControlSocket = new Poco::Net::DialogSocket(control);
    }

protected:
    // After the greeting, a TLS session asks for TLS itself (AUTH TLS), so that the control
    // connection's TLS layer bounds its replies like a plain one.
    void receiveServerReadyReply() override
    {
        if constexpr (std::is_same_v<Session, Poco::Net::FTPSClientSession>) {
            Poco::Net::FTPClientSession::receiveServerReadyReply();
            std::string response;
            if (this->sendCommand("AUTH TLS", response) / 100 != 2) {
                // The caller finds the connection plain and refuses it.
                return;
            }
            auto* layer = new BoundedReplySecureImpl(
                reply_limit_,
                static_cast<Poco::Net::StreamSocketImpl*>(this->_pControlSocket->impl()), context_);
            BoundedReplySecureSocket secure(layer);
            secure.setPeerHostName(host_);
            layer->Handshake();
            *this->_pControlSocket = secure;
        } else {
            Session::receiveServerReadyReply();
        }
    }

    Poco::Net::StreamSocket establishDataConnection(const std::string& command,
                                                    const std::string& argument) override
    {
        if (!this->getPassive()) {
            return ActiveDataConnection(command, argument);
        }
        const bool secure = this->_pControlSocket->secure();
        std::string response;
        if (secure && !data_protected_) {
            int status = this->sendCommand("PBSZ 0", response);
            if (status / 100 == 2) {
                status = this->sendCommand("PROT P", response);
            }
            if (status / 100 != 2) {
                throw Poco::Net::FTPException("The server does not protect data connections",
                                              response, status);
            }
            data_protected_ = true;
        }
        uint16_t port = 0;
        if (extended_passive_) {
            const int status = this->sendCommand("EPSV", response);
            if (status / 100 == 2) {
                port = PortOfPassiveReply(response, true);
            } else if (status / 100 == 5) {
                extended_passive_ = false;
            } else {
                throw Poco::Net::FTPException("EPSV command failed", response, status);
            }
        }
        if (!extended_passive_) {
            const int status = this->sendCommand("PASV", response);
            if (status / 100 != 2) {
                throw Poco::Net::FTPException("PASV command failed", response, status);
            }
            port = PortOfPassiveReply(response, false);
        }
        if (port == 0) {
            throw Poco::Net::FTPException("The server named no port for the data connection",
                                          response, kCodeInvalidReply);
        }
        Poco::Net::StreamSocket data(new StoppableSocketImpl(sockets_));
        data.connect(Poco::Net::SocketAddress(this->_pControlSocket->peerAddress().host(), port),
                     connect_limit_);
        BoundTransfers(&data);
        const int status = this->sendCommand(command, argument, response);
        if (status / 100 != 1) {
            throw Poco::Net::FTPException(command + " command failed", response, status);
        }
        if (secure) {
            auto* control =
                dynamic_cast<Poco::Net::SecureStreamSocketImpl*>(this->_pControlSocket->impl());
            if (control == nullptr) {
                throw Poco::Net::SSLException("The control connection lost its TLS layer");
            }
            // The control connection's TLS session is reused, as servers ask.
            data = Poco::Net::SecureStreamSocket::attach(data, control->context(),
                                                         control->currentSession());
            BoundTransfers(&data);
        }
        return data;
    }

private:
    // The server connects to us (PORT, or EPRT over IPv6). Only a connection from the server's
    // own address is taken: anyone else who reaches the port first would otherwise receive an
    // upload, or hand the device a listing of his own making. Others are closed and the wait
    // goes on, within the connection time-out.
    Poco::Net::StreamSocket ActiveDataConnection(const std::string& command,
                                                 const std::string& argument)
    {
        const Poco::Net::IPAddress server = this->_pControlSocket->peerAddress().host();
        Poco::Net::ServerSocket listener(
            Poco::Net::SocketAddress(this->_pControlSocket->address().host(), 0), 1);
        const Poco::Net::SocketAddress local = listener.address();
        std::string response;
        int status = 0;
        if (local.family() == Poco::Net::SocketAddress::IPv4) {
            std::string numbers = local.host().toString();
            std::replace(numbers.begin(), numbers.end(), '.', ',');
            status = this->sendCommand("PORT",
                                       numbers + "," + std::to_string(local.port() / 256) + "," +
                                           std::to_string(local.port() % 256),
                                       response);
        } else {
            status = this->sendCommand(
                "EPRT", "|2|" + local.host().toString() + "|" + std::to_string(local.port()) + "|",
                response);
        }
        if (status / 100 != 2) {
            throw Poco::Net::FTPException("PORT command failed", response, status);
        }
        status = this->sendCommand(command, argument, response);
        if (status / 100 != 1) {
            throw Poco::Net::FTPException(command + " command failed", response, status);
        }
        const Poco::Timestamp started;
        for (;;) {
            if (sockets_->Stopped()) {
                throw Poco::TimeoutException("The run was stopped");
            }
            const Poco::Timespan left = connect_limit_ - Poco::Timespan(started.elapsed());
            if (left <= 0) {
                throw Poco::TimeoutException("The server did not open the data connection");
            }
            // In slices, so that a stop ends the wait.
            if (!listener.poll(std::min(left, Poco::Timespan(0, 100'000)),
                               Poco::Net::Socket::SELECT_READ)) {
                continue;
            }
            sockaddr_storage from{};
            socklen_t from_size = sizeof from;
            const int fd = ::accept4(listener.impl()->sockfd(), reinterpret_cast<sockaddr*>(&from),
                                     &from_size, SOCK_CLOEXEC);
            if (fd < 0) {
                continue;
            }
            Poco::Net::StreamSocket data(new StoppableSocketImpl(sockets_, fd));
            const Poco::Net::SocketAddress peer(reinterpret_cast<const sockaddr*>(&from),
                                                from_size);
            if (peer.host() == server) {
                BoundTransfers(&data);
                return data;
            }
            data.close();
        }
    }

    // A read or write that moves nothing for the session's time-out fails; one that moves
    // something starts the wait again, so a slow transfer that progresses goes on.
    void BoundTransfers(Poco::Net::StreamSocket* data) const
    {
        data->setReceiveTimeout(this->getTimeout());
        data->setSendTimeout(this->getTimeout());
    }

    Poco::Timespan connect_limit_;
    Poco::Timespan reply_limit_;
    StoppableSockets* sockets_;
    std::string host_;
    Poco::Net::Context::Ptr context_;
    bool extended_passive_ = true;
    bool data_protected_ = false;
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
// The internet library's time-out where the web site gives none.
constexpr int32_t kDefaultTimeoutSeconds = 60;

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
                                           const FtpDeviceSettings& settings)
    : FtpStorageDevice(output, settings, &FtpIndyStorageUnit(), IndyConnectionStatusCallback)
{}

// The client goes first; the unit's count, its status callback and the watchdog are the base's
// to end. The worker frees the device after the run's final status: lines written now would
// follow the run's own last lines, so the closing goes unreported, as the other device's does.
FtpIndyStorageDevice::~FtpIndyStorageDevice()
{
    CloseClient(false);
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

void FtpIndyStorageDevice::DropBrokenConnection(const Poco::Exception& failure)
{
    if (!client_ || dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr) {
        return;
    }
    // The transfer broke or stalled: the server may never answer on this connection again,
    // and a polite close would wait for it once more per reply it expects.
    try {
        ((*client_).*(&RawTransfer::_pControlSocket))->shutdown();
    } catch (const Poco::Exception&) {
        // Already gone.
    }
    try {
        client_->close();
    } catch (const Poco::Exception&) {
        // Nothing comes back from a connection shut down.
    }
    client_.reset();
    DoStatus(kStatusDisconnected, "Disconnected.");
}

void FtpIndyStorageDevice::CloseClient(bool report)
{
    if (!client_) {
        return;
    }
    if (report) {
        DoStatus(kStatusDisconnecting, "Disconnecting.");
    }
    try {
        client_->close();
    } catch (const Poco::Exception& failure) {
        if (report) {
            Write(kMsgWarning, "Closing the connection: " + failure.displayText());
        }
    }
    client_.reset();
    if (report) {
        DoStatus(kStatusDisconnected, "Disconnected.");
    }
}

void FtpIndyStorageDevice::ConnectClient(bool secure)
{
    // Without a time-out of its own, a wait is bounded by the internet library's default.
    const Poco::Timespan connect_limit(
        connection_timeout_ > 0 ? connection_timeout_ : kDefaultTimeoutSeconds, 0);
    const Poco::Timespan general_limit(
        general_timeout_ > 0 ? general_timeout_ : kDefaultTimeoutSeconds, 0);
    try {
        DoStatus(kStatusResolving, "Resolving hostname " + host_ + ".");
        const Poco::Net::SocketAddress address(host_, port_);
        DoStatus(kStatusConnecting, "Connecting to " + address.host().toString() + ".");
        Poco::Net::StreamSocket control(
            new BoundedReplySocketImpl(general_limit, &stoppable_sockets_));
        control.connect(address, connect_limit);
        if (secure) {
            client_ = std::make_unique<ConnectedSession<Poco::Net::FTPSClientSession>>(
                control, connect_limit, general_limit, host_, tls_context_, &stoppable_sockets_);
        } else {
            client_ = std::make_unique<ConnectedSession<Poco::Net::FTPClientSession>>(
                control, connect_limit, general_limit, host_, nullptr, &stoppable_sockets_);
        }
        // The connection time-out also bounds the greeting, the TLS handshake and the log-in:
        // a server that accepts and then says nothing fails as one that does not answer.
        client_->setTimeout(connect_limit);
        client_->open(host_, port_);
        if (secure && !IsSecure()) {
            throw Poco::Net::FTPException("The server does not accept AUTH TLS", 504);
        }
        DoStatus(kStatusConnected, "Connected.");
        client_->login(user_name_, password_);
        client_->setTimeout(general_limit);
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
    // The stop shut the connection down under the request: the server did nothing wrong.
    last_error_ = StopRequested() ? static_cast<int32_t>(platform::kErrorInternetOperationCancelled)
                                  : LastErrorCodeOf(failure);
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
    if (!SettingsAreSafe() || !CheckInternetConnection(connection_name)) {
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

bool FtpIndyStorageDevice::ChangeWorkingFolder(const std::string& folder, bool report_refusal)
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
        if (!report_refusal && dynamic_cast<const Poco::Net::FTPException*>(&failure) != nullptr &&
            failure.code() >= 400) {
            return false;
        }
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
    return ChangeWorkingFolder(path, false);
}

bool FtpIndyStorageDevice::PutFile(const std::string& local_path,
                                   const std::string& folder,
                                   const std::string& name,
                                   bool binary)
{
    if (name.empty() || !IsSafeName(name) || !ChangeWorkingFolder(folder)) {
        return false;
    }
    // Only a regular file is sent: a pipe would hold the upload for ever, a device never end it.
    const int input = platform::OpenFileToRead(local_path);
    if (input < 0) {
        last_error_ = 2;
        Write(kMsgWarning, "Mishap copying file " + local_path + " to " + folder +
                               "\r\nCode: 2\r\nDescription: " + GetLastErrorText());
        return false;
    }
    struct InputCloser
    {
        int fd;
        ~InputCloser() { close(fd); }
    } input_closer{input};
    try {
        UseFileType(binary ? Poco::Net::FTPClientSession::TYPE_BINARY
                           : Poco::Net::FTPClientSession::TYPE_TEXT);
        DoStatus(kStatusTransferStarting, "Transfer starting.");
        std::ostream& upload = client_->beginUpload(name);
        // A failed write (a time-out among them) fails the upload at once, not as a short file.
        upload.exceptions(std::ios::badbit);
        if (!platform::ReadToEnd(input, [&](std::string_view piece) {
                upload.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            })) {
            // A file that cannot be read to its end must not stand at the server as whole.
            throw Poco::IOException("Cannot read " + local_path);
        }
        client_->endUpload();
        DoStatus(kStatusReady, "Transfer complete.");
    } catch (const Poco::Exception& failure) {
        Report(kMsgWarning, "Mishap copying file " + local_path + " to " + folder, failure);
        DropBrokenConnection(failure);
        return false;
    }
    if (!drift_settled_) {
        MeasureTimeOffset(folder, name, NowDateTime(), false);
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
    std::string name;
    if (!EnterFolderOf(path, &name)) {
        return false;
    }
    try {
        client_->createDirectory(name);
    } catch (const Poco::Exception& error) {
        const bool refused =
            dynamic_cast<const Poco::Net::FTPException*>(&error) != nullptr && error.code() >= 400;
        // A server that hides dot folders from its listings refuses to make one it holds
        // already; a folder it lets us enter is there to publish into.
        if (!refused || !ChangeWorkingFolder(path, false)) {
            // The making's failure, not the entering's.
            StoreFailure(error);
            Write(kMsgError, "Error creating directory " + path + " (error " +
                                 std::to_string(last_error_) + "). " + GetLastErrorText());
            return false;
        }
    }
    // The next listings look for the dot folder the server may hide.
    CountUploadedDotFile(dot_file_state_, name);
    return true;
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
        download.exceptions(std::ios::badbit);
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
        DropBrokenConnection(failure);
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
    // Read as it comes, a receive at a time: a read that fails (a time-out among them) fails the
    // listing, since a part is not the folder, and so does a listing that comes slower than
    // 64 KB for each general time-out, which no real one does; one that trickles a line at a
    // time within the time-out would otherwise never end.
    std::streambuf& in = *listing.rdbuf();
    const Poco::Timespan limit(general_timeout_ > 0 ? general_timeout_ : kDefaultTimeoutSeconds, 0);
    const Poco::Timestamp started;
    std::string text;
    std::string buffer(kDataBufferSize, '\0');
    while (in.sgetc() != std::char_traits<char>::eof()) {
        const std::streamsize got =
            in.sgetn(buffer.data(), std::min<std::streamsize>(in.in_avail(), kDataBufferSize));
        if (text.size() + static_cast<size_t>(got) > platform::kFtpListingBytesAtMost) {
            throw Poco::Net::FTPException("The listing is longer than " +
                                              std::to_string(platform::kFtpListingBytesAtMost) +
                                              " bytes",
                                          kCodeInvalidReply);
        }
        text.append(buffer.data(), static_cast<size_t>(got));
        const auto chunks = static_cast<Poco::Timestamp::TimeDiff>(text.size() / (64 * 1024));
        if (started.elapsed() > limit.totalMicroseconds() * (1 + chunks)) {
            throw Poco::TimeoutException("The listing comes slower than any listing");
        }
    }
    client_->endList();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    DoStatus(kStatusReady, "Transfer complete.");
    return lines;
}

std::unique_ptr<QelDirectoryEntry> FtpIndyStorageDevice::ListedEntryOf(
    const platform::FindData& data, const std::string& line)
{
    auto entry = QelDirectoryEntry::Create();
    entry->Name = data.file_name;
    entry->Date2 = ListedFileTimeToDateTime(data);
    entry->Date = entry->Date2 - (time_drift_ != nullptr ? *time_drift_ : 0.0);
    entry->SizeHigh = data.size_high;
    entry->SizeLow = data.size_low;
    // The link bit tells the worker never to enter or write through a link on the server.
    entry->Attributes = data.attributes &
                        (platform::kFileAttributeDirectory | platform::kFileAttributeReparsePoint);
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
        listing_failed_ = true;
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
                // The caller learns that this folder could not be read; an empty list alone would
                // read as an empty folder.
                Write(kMsgWarning, "Listing " + folder + " failed: " + failure.displayText());
                listing_failed_ = true;
                DropBrokenConnection(failure);
                return list;
            }
            Write(kMsgWarning, "Renegotiating connection " + failure.displayText());
            retry_state_ = kRetryRenegotiating;
            if (!MayReconnect(0)) {
                listing_failed_ = true;
                return list;
            }
            if (!Connect(passive_ != 0, "")) {
                Write(kMsgError, "Failed to renegotiate connection");
                last_error_ = static_cast<int32_t>(platform::kErrorInternetTimeout);
                listing_failed_ = true;
                return list;
            }
            // The retry keeps the mask: a single-name listing must not come back as the whole
            // folder.
            if (!ChangeWorkingFolder(folder)) {
                listing_failed_ = true;
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
    if (!IsCompletionReply(reply)) {
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
    bool too_long = false;
    try {
        for (;;) {
            const int got = socket.receiveBytes(buffer.data(), kDataBufferSize);
            if (got <= 0) {
                break;
            }
            if (data->size() + static_cast<size_t>(got) > platform::kFtpListingBytesAtMost) {
                too_long = true;
                break;
            }
            data->append(buffer.data(), static_cast<size_t>(got));
        }
    } catch (const Poco::Exception& failure) {
        data->append(" " + failure.displayText());
    }
    socket.close();
    Poco::Net::DialogSocket* control = (*client_).*(&RawTransfer::_pControlSocket);
    const int status = control->receiveStatusMessage(last_response_);
    if (too_long) {
        data->clear();
        throw Poco::Net::FTPException("The answer is longer than any listing", kCodeInvalidReply);
    }
    return status;
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
            accepted_codes.end() &&
        !StopRequested()) {
        const std::string text = code == kCodeRefused
                                     ? platform::ErrorMessageText(kCodeRefused) + " (" +
                                           std::to_string(kCodeRefused) + ")" + last_response_
                                     : GetLastErrorText();
        platform::MessageBox(text, "", platform::kMbOk);
    }
}

bool FtpIndyStorageDevice::SendQuietCommand(const std::string& command,
                                            const std::string& folder,
                                            std::string* reply)
{
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    reply->clear();
    if (!client_ || !IsSafeName(command)) {
        return false;
    }
    try {
        const int status = client_->sendCommand(command, *reply);
        return status > 0 && status < 400;
    } catch (const Poco::Exception& failure) {
        DropBrokenConnection(failure);
        return false;
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
