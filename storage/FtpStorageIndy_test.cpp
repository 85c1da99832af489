#include "storage/FtpStorageIndy.h"

#include <memory>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct ErrorCase
{
    std::string label;
    std::shared_ptr<Poco::Exception> failure;
    int32_t expected;
};

TEST(FtpStorageIndyErrors, PocoFailuresBecomeSocketOrReplyCodes)
{
    const std::vector<ErrorCase> cases = {
        {"refused", std::make_shared<Poco::Net::ConnectionRefusedException>("x"), 10061},
        {"reset", std::make_shared<Poco::Net::ConnectionResetException>("x"), 10054},
        {"host not found", std::make_shared<Poco::Net::HostNotFoundException>("x"), 11001},
        {"no address", std::make_shared<Poco::Net::NoAddressFoundException>("x"), 11001},
        {"timed out", std::make_shared<Poco::TimeoutException>("x"), 10060},
        {"aborted", std::make_shared<Poco::Net::ConnectionAbortedException>("x"), 10050},
        {"other I/O", std::make_shared<Poco::IOException>("x"), 10050},
        {"reply 550", std::make_shared<Poco::Net::FTPException>("x", "550 no", 550), 550},
        {"reply without code", std::make_shared<Poco::Net::FTPException>("x"), 10050},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(LastErrorCodeOf(*c.failure), c.expected);
    }
}

}  // namespace
}  // namespace vantrel
