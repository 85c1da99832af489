#include "storage/SimplePortIO.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

constexpr uint32_t kConnectLimitMs = 60'000;
constexpr uint32_t kSendLimitMs = 60'000;

constexpr uint8_t kStateConnecting = 1;
constexpr uint8_t kStateConnected = 2;
constexpr uint8_t kStateError = 3;
constexpr uint8_t kStateLookup = 4;

}  // namespace

TSimplePortIO::TSimplePortIO()
    : sleeper_([](int32_t milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    })
{
    platform::IgnoreBrokenPipeSignal();
}

TSimplePortIO::~TSimplePortIO()
{
    Close();
}

bool TSimplePortIO::Failed(int32_t code, const std::string& operation)
{
    last_socket_error_ = code;
    state_ = kStateError;
    error_message_ = "Socket error: " + platform::SocketErrorText(code) + " (" +
                     std::to_string(code) + "), on " + operation;
    return false;
}

bool TSimplePortIO::Open(const std::string& host, uint16_t port)
{
    Close();
    state_ = kStateLookup;
    std::vector<platform::SocketAddress> addresses;
    int resolve_error = 0;
    if (!platform::ResolveHost(host, port, &addresses, &resolve_error)) {
        return Failed(platform::kWsaHostNotFound, "lookup");
    }
    state_ = kStateConnecting;
    const platform::Deadline deadline = platform::DeadlineAfter(kConnectLimitMs);
    platform::SocketResult result;
    for (const platform::SocketAddress& address : addresses) {
        result = socket_.Connect(address, deadline, nullptr);
        if (result.ok() || result.outcome == platform::SocketOutcome::kTimedOut) {
            break;
        }
    }
    if (!result.ok()) {
        return Failed(result.outcome == platform::SocketOutcome::kTimedOut
                          ? platform::kWsaETimedOut
                          : platform::SocketErrorFromErrno(result.error),
                      "connect");
    }
    port_ = port;
    connected_ = true;
    state_ = kStateConnected;
    trace_ += "Socket Write " + std::to_string(port_);
    return true;
}

bool TSimplePortIO::SendText(const std::string& text)
{
    if (!socket_.IsOpen()) {
        return Failed(platform::kWsaENotConn, "send");
    }
    const platform::SocketResult result = socket_.SendAll(text, kSendLimitMs, nullptr);
    if (!result.ok()) {
        return Failed(result.outcome == platform::SocketOutcome::kTimedOut
                          ? platform::kWsaETimedOut
                          : platform::SocketErrorFromErrno(result.error),
                      "send");
    }
    return true;
}

void TSimplePortIO::Close()
{
    socket_.Close();
    connected_ = false;
}

bool TSimplePortIO::ReadReply(int32_t total_ms, int32_t poll_ms, std::string* reply)
{
    reply->clear();
    int32_t wait = std::max(poll_ms / 10, 5);
    int32_t idle = 0;
    const auto started = std::chrono::steady_clock::now();
    const auto overdue = [&] {
        return reply_limit_ms_ > 0 && std::chrono::steady_clock::now() - started >=
                                          std::chrono::milliseconds(reply_limit_ms_);
    };
    while (idle < total_ms && !overdue()) {
        idle += wait;
        std::string arrived;
        if (socket_.IsOpen()) {
            // An ended or broken stream only means that nothing more comes.
            socket_.ReceiveAvailable(&arrived, kReplyBytesAtMost + 1 - reply->size());
        }
        if (reply->size() + arrived.size() > kReplyBytesAtMost) {
            reply->append(arrived, 0, kReplyBytesAtMost - reply->size());
            error_message_ =
                "The server's reply is longer than " + std::to_string(kReplyBytesAtMost) + " bytes";
            return false;
        }
        if (!arrived.empty()) {
            reply->append(arrived);
            idle = 0;
            // A poll interval of 0 or less would never let the call end.
            wait = std::max(poll_ms, 1);
        }
        if (idle < total_ms) {
            sleeper_(wait);
        }
    }
    return true;
}

}  // namespace vantrel
