#include "storage/FtpStorageIndy.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>

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

}  // namespace vantrel
