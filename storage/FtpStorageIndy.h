#pragma once

#include <cstdint>

namespace Poco {
class Exception;
}

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

}  // namespace vantrel
