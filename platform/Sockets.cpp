#include "platform/Sockets.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>

namespace vantrel::platform {
namespace {

// Without an event descriptor a wait looks at the cancel flag this often.
constexpr int kCancelSliceMs = 20;

struct SocketErrorEntry
{
    int32_t code;
    const char* text;
};

constexpr SocketErrorEntry kSocketErrorTexts[] = {
    {kWsaENetUnreach, "The network cannot be reached"},
    {kWsaEConnAborted, "The connection was aborted"},
    {kWsaEConnReset, "The connection was reset by the peer"},
    {kWsaENotConn, "The socket is not connected"},
    {kWsaETimedOut, "The connection attempt timed out"},
    {kWsaEConnRefused, "Connection refused"},
    {kWsaEHostUnreach, "The host cannot be reached"},
    {kWsaHostNotFound, "The host name could not be found"},
};

}  // namespace

int32_t SocketErrorFromErrno(int errno_value)
{
    switch (errno_value) {
        case ENETUNREACH:
        case ENETDOWN:
            return kWsaENetUnreach;
        case ECONNABORTED:
        case EPIPE:
            return kWsaEConnAborted;
        case ECONNRESET:
            return kWsaEConnReset;
        case ENOTCONN:
            return kWsaENotConn;
        case ETIMEDOUT:
            return kWsaETimedOut;
        case ECONNREFUSED:
            return kWsaEConnRefused;
        case EHOSTUNREACH:
        case EHOSTDOWN:
            return kWsaEHostUnreach;
        default:
            // Windows Sockets numbers its codes 10000 above the matching BSD ones.
            return 10000 + errno_value;
    }
}

std::string SocketErrorText(int32_t code)
{
    for (const auto& entry : kSocketErrorTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    if (code > 10000 && code < 11000) {
        return std::strerror(code - 10000);
    }
    return "Socket error";
}

void IgnoreBrokenPipeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

Canceller::Canceller()
    : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{}

Canceller::~Canceller()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Canceller::Cancel()
{
    cancelled_ = true;
    if (fd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
    }
}

bool Canceller::Cancelled() const
{
    return cancelled_;
}

uint16_t SocketAddress::Port() const
{
    if (Family() == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
    if (Family() == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    }
    return 0;
}

void SocketAddress::SetPort(uint16_t port)
{
    if (Family() == AF_INET) {
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    } else if (Family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
    }
}

std::string SocketAddress::HostText() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text,
                  sizeof text);
    } else if (Family() == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text,
                  sizeof text);
    }
    return text;
}

bool SocketAddress::SameHost(const SocketAddress& other) const
{
    return Family() == other.Family() && HostText() == other.HostText();
}

bool ResolveHost(const std::string& host,
                 uint16_t port,
                 std::vector<SocketAddress>* addresses,
                 int* resolve_error)
{
    addresses->clear();
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == EAI_NONAME || rc == EAI_ADDRFAMILY) {
        // AI_ADDRCONFIG hides loopback names on a host whose only addresses are loopback ones.
        hints.ai_flags = 0;
        rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    }
    *resolve_error = rc;
    if (rc != 0) {
        return false;
    }
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen <= sizeof(sockaddr_storage)) {
            SocketAddress address;
            std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
            address.length = a->ai_addrlen;
            addresses->push_back(address);
        }
    }
    freeaddrinfo(found);
    return !addresses->empty();
}

Deadline DeadlineAfter(uint32_t milliseconds)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

Socket::~Socket()
{
    Close();
}

Socket::Socket(Socket&& other) noexcept
    : fd_(other.fd_)
{
    other.fd_ = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void Socket::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SocketResult Socket::Wait(short events, Deadline deadline, const Canceller* canceller) const
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return {SocketOutcome::kTimedOut, 0};
        }
        pollfd p[2] = {{fd_, events, 0}, {-1, POLLIN, 0}};
        int timeout = static_cast<int>(std::min<int64_t>(left, INT32_MAX));
        if (canceller != nullptr) {
            if (canceller->fd() >= 0) {
                p[1].fd = canceller->fd();
            } else {
                timeout = std::min(timeout, kCancelSliceMs);
            }
        }
        const int rc = ::poll(p, 2, timeout);
        if (rc < 0 && errno != EINTR) {
            return {SocketOutcome::kFailed, errno};
        }
        if (canceller != nullptr && (p[1].revents != 0 || canceller->Cancelled())) {
            return {SocketOutcome::kCancelled, 0};
        }
        if (rc > 0 && p[0].revents != 0) {
            return {SocketOutcome::kOk, 0};
        }
    }
}

SocketResult Socket::Connect(const SocketAddress& address,
                             Deadline deadline,
                             const Canceller* canceller)
{
    Close();
    fd_ = ::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return {SocketOutcome::kFailed, errno};
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) {
        return {};
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        Close();
        return {SocketOutcome::kFailed, error};
    }
    const SocketResult waited = Wait(POLLOUT, deadline, canceller);
    if (!waited.ok()) {
        Close();
        return waited;
    }
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        Close();
        return {SocketOutcome::kFailed, error};
    }
    return {};
}

SocketResult Socket::Listen(const SocketAddress& local)
{
    Close();
    fd_ = ::socket(local.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return {SocketOutcome::kFailed, errno};
    }
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0 ||
        ::listen(fd_, 1) != 0) {
        const int error = errno;
        Close();
        return {SocketOutcome::kFailed, error};
    }
    return {};
}

SocketResult Socket::Accept(const SocketAddress& expected_peer,
                            Deadline deadline,
                            const Canceller* canceller,
                            Socket* accepted)
{
    for (;;) {
        const SocketResult waited = Wait(POLLIN, deadline, canceller);
        if (!waited.ok()) {
            return waited;
        }
        SocketAddress peer;
        peer.length = sizeof peer.storage;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer.storage), &peer.length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return {SocketOutcome::kFailed, errno};
        }
        Socket candidate(fd);
        // Only the server may feed our data port; anyone else could slip data into a listing.
        if (peer.SameHost(expected_peer)) {
            *accepted = std::move(candidate);
            return {};
        }
    }
}

SocketResult Socket::SendAll(std::string_view data, uint32_t silence_ms, const Canceller* canceller)
{
    while (!data.empty()) {
        const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN) {
            return {SocketOutcome::kFailed, errno};
        }
        const SocketResult waited = Wait(POLLOUT, DeadlineAfter(silence_ms), canceller);
        if (!waited.ok()) {
            return waited;
        }
    }
    return {};
}

SocketResult Socket::Receive(
    char* buffer, size_t size, uint32_t silence_ms, const Canceller* canceller, size_t* received)
{
    *received = 0;
    const Deadline deadline = DeadlineAfter(silence_ms);
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, size, 0);
        if (got > 0) {
            *received = static_cast<size_t>(got);
            return {};
        }
        if (got == 0) {
            return {SocketOutcome::kClosed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return {SocketOutcome::kFailed, errno};
        }
        const SocketResult waited = Wait(POLLIN, deadline, canceller);
        if (!waited.ok()) {
            return waited;
        }
    }
}

SocketResult Socket::ReceiveAvailable(std::string* text, size_t at_most)
{
    char buffer[4096];
    for (size_t taken = 0; taken < at_most;) {
        const ssize_t got =
            ::recv(fd_, buffer, std::min(sizeof buffer, at_most - taken), MSG_DONTWAIT);
        if (got > 0) {
            text->append(buffer, static_cast<size_t>(got));
            taken += static_cast<size_t>(got);
            continue;
        }
        if (got == 0) {
            return {SocketOutcome::kClosed, 0};
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            return {};
        }
        return {SocketOutcome::kFailed, errno};
    }
    return {};
}

void Socket::SendWithoutWaiting(std::string_view data)
{
    if (fd_ >= 0) {
        [[maybe_unused]] const ssize_t sent =
            ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void Socket::Abort()
{
    if (fd_ >= 0) {
        const linger reset = {1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        Close();
    }
}

bool Socket::Local(SocketAddress* address) const
{
    address->length = sizeof address->storage;
    return ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address->storage), &address->length) ==
           0;
}

bool Socket::Peer(SocketAddress* address) const
{
    address->length = sizeof address->storage;
    return ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address->storage), &address->length) ==
           0;
}

}  // namespace vantrel::platform
