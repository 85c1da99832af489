#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Sockets.h"

// TSimplePortIO: a small client socket for a raw text dialogue with a server port (the FTP
// probe): connect to host and port, send text, collect whatever the server sends within a time
// window, close.
namespace vantrel {

// Non-blocking and polled. It waits on its socket alone and runs no message loop, so nothing
// else of the calling thread can happen in the middle of a dialogue. Used by one thread; failures
// give false and a message that holds the Windows Sockets code (10061 when nothing listens), never
// an exception.
class TSimplePortIO
{
public:
    // How ReadReply sleeps between polls; tests count the polls with their own.
    using Sleeper = std::function<void(int32_t milliseconds)>;

    TSimplePortIO();
    ~TSimplePortIO();
    TSimplePortIO(const TSimplePortIO&) = delete;
    TSimplePortIO& operator=(const TSimplePortIO&) = delete;

    // Looks the host up and connects, within 60 s.
    [[nodiscard]] bool Open(const std::string& host, uint16_t port);
    [[nodiscard]] bool SendText(const std::string& text);
    void Close();

    // Collects what arrives: it polls, a tenth of `poll_ms` apart (at least 5 ms) until the first
    // text comes and `poll_ms` apart after it, and ends once `total_ms` have passed without text
    // (since the start when none comes). Text that arrived before the call is part of it; a
    // total of 0 or less returns empty at once. A reply that grows beyond kReplyBytesAtMost
    // ends the call at once: false, the reply cut there, and a message; a server that keeps
    // sending would otherwise keep the call (and its memory) growing for ever.
    bool ReadReply(int32_t total_ms, int32_t poll_ms, std::string* reply);

    static constexpr size_t kReplyBytesAtMost = 64 * 1024;
    // No ReadReply lasts longer than this from its start, however the text keeps coming: a
    // server that sends a byte now and then would otherwise hold the dialogue as long as it
    // likes. 0, as at the start: no limit but the silence.
    void SetReplyLimit(int32_t milliseconds) { reply_limit_ms_ = milliseconds; }

    // The message of the last failure.
    const std::string& ErrorMessage() const { return error_message_; }
    int32_t LastSocketError() const { return last_socket_error_; }
    bool Connected() const { return connected_; }
    // 4 looking up the host, 1 connecting, 2 connected, 3 error.
    uint8_t State() const { return state_; }
    // "Socket Write " and the remote port once the connection became writable.
    const std::string& Trace() const { return trace_; }

    void SetSleeper(Sleeper sleeper) { sleeper_ = std::move(sleeper); }

private:
    bool Failed(int32_t code, const std::string& operation);

    platform::Socket socket_;
    uint16_t port_ = 0;
    bool connected_ = false;
    int32_t last_socket_error_ = 0;
    uint8_t state_ = 0;
    std::string trace_;
    std::string error_message_;
    Sleeper sleeper_;
    int32_t reply_limit_ms_ = 0;
};

}  // namespace vantrel
