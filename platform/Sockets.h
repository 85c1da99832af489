#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

// TCP client sockets that never block for good: every wait has a limit and can be cut short
// from another thread. The internet library layer (platform/Inet.h) and the raw FTP probe build
// on them.
namespace vantrel::platform {

// The Windows Sockets numbering of socket errors, which the probe's messages carry.
inline constexpr int32_t kWsaENetUnreach = 10051;
inline constexpr int32_t kWsaEConnAborted = 10053;
inline constexpr int32_t kWsaEConnReset = 10054;
inline constexpr int32_t kWsaENotConn = 10057;
inline constexpr int32_t kWsaETimedOut = 10060;
inline constexpr int32_t kWsaEConnRefused = 10061;
inline constexpr int32_t kWsaEHostUnreach = 10065;
inline constexpr int32_t kWsaHostNotFound = 11001;

int32_t SocketErrorFromErrno(int errno_value);
// Our own text for a socket error code, without the number.
std::string SocketErrorText(int32_t code);

// A peer that hangs up makes the next write fail instead of ending the program. Once per
// process; later calls do nothing. Every send also passes MSG_NOSIGNAL.
void IgnoreBrokenPipeSignal();

// Wakes every wait that names it, at once and for good. Cancel may be called from any thread.
class Canceller
{
public:
    Canceller();
    ~Canceller();
    Canceller(const Canceller&) = delete;
    Canceller& operator=(const Canceller&) = delete;

    void Cancel();
    bool Cancelled() const;
    // For poll; -1 when no event descriptor could be made (waits then notice a cancel within
    // a short slice).
    int fd() const { return fd_; }

private:
    std::atomic<bool> cancelled_{false};
    int fd_ = -1;
};

struct SocketAddress
{
    sockaddr_storage storage = {};
    socklen_t length = 0;

    int Family() const { return storage.ss_family; }
    uint16_t Port() const;
    void SetPort(uint16_t port);
    // The numeric host ("127.0.0.1", "::1").
    std::string HostText() const;
    // Same host (the port is not compared).
    bool SameHost(const SocketAddress& other) const;
};

enum class SocketOutcome
{
    kOk,
    kClosed,     // the peer ended the stream
    kTimedOut,   // the limit passed
    kCancelled,  // the canceller fired
    kFailed,     // error holds the errno
};

struct SocketResult
{
    SocketOutcome outcome = SocketOutcome::kOk;
    int error = 0;

    bool ok() const { return outcome == SocketOutcome::kOk; }
};

// Host and port to addresses; false with the getaddrinfo code in *resolve_error.
bool ResolveHost(const std::string& host,
                 uint16_t port,
                 std::vector<SocketAddress>* addresses,
                 int* resolve_error);

using Deadline = std::chrono::steady_clock::time_point;

Deadline DeadlineAfter(uint32_t milliseconds);

// One non-blocking TCP socket, owned. Used by one thread at a time; only a Canceller reaches it
// from another thread.
class Socket
{
public:
    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    SocketResult Connect(const SocketAddress& address,
                         Deadline deadline,
                         const Canceller* canceller);
    // Listens on `local` (port 0 picks one); Local() then gives the port.
    SocketResult Listen(const SocketAddress& local);
    // Accepts one connection; one from a host other than `expected_peer` is refused and the
    // wait goes on.
    SocketResult Accept(const SocketAddress& expected_peer,
                        Deadline deadline,
                        const Canceller* canceller,
                        Socket* accepted);
    // Sends everything; each wait for room may last `silence_ms`.
    SocketResult SendAll(std::string_view data, uint32_t silence_ms, const Canceller* canceller);
    // Receives what is there, waiting at most `silence_ms` for the first byte; kClosed at the
    // end of the stream.
    SocketResult Receive(char* buffer,
                         size_t size,
                         uint32_t silence_ms,
                         const Canceller* canceller,
                         size_t* received);
    // Appends what has arrived, without waiting; kClosed when the stream has ended.
    // At most `at_most` bytes: a sender faster than the reader would otherwise never let the
    // call end.
    SocketResult ReceiveAvailable(std::string* text, size_t at_most);
    // Queues what fits without waiting (a parting word); the rest is dropped.
    void SendWithoutWaiting(std::string_view data);
    // Closes so that the peer sees the stream broken (a reset), not ended.
    void Abort();

    bool Local(SocketAddress* address) const;
    bool Peer(SocketAddress* address) const;

private:
    explicit Socket(int fd)
        : fd_(fd)
    {}
    SocketResult Wait(short events, Deadline deadline, const Canceller* canceller) const;

    int fd_ = -1;
};

}  // namespace vantrel::platform
