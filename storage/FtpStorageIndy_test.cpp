#include "storage/FtpStorageIndy.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TestSandbox.h"

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

TEST(FtpStorageIndyPaths, RemotePathOfTakesOnlyTheExactPrefix)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ftp:\\\\host\\base", "base"}, {"FTP:\\\\host\\base\\sub", "base\\sub"},
        {"ftp:\\\\host", ""},           {"ftp:host\\base", "ftp:host\\base"},
        {"base\\sub", "base\\sub"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(FtpIndyStorageDevice::RemotePathOf(path), expected) << path;
    }
}

class FtpServerIndyDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(server_.Start(&why)) << why;
        device_ = std::make_unique<FtpIndyStorageDevice>(&output_, server_.Port(), nullptr, 0,
                                                         nullptr, 5, 5, nullptr, nullptr, false);
        ASSERT_TRUE(
            device_->Open("ftp:\\\\127.0.0.1\\site", server_.User(), server_.Password(), ""))
            << (output_.lines.empty() ? "" : output_.lines.back());
    }
    size_t CountCommands(const std::string& command) const
    {
        size_t count = 0;
        for (const std::string& c : server_.Commands()) {
            count += c == command ? 1 : 0;
        }
        return count;
    }

    testing::PyftpdlibServer server_;
    testing::TestSandbox local_;
    // Downloads land in the temporary folder under their own names; a folder of this test's
    // own keeps parallel test programs from reading or deleting each other's copies.
    testing::ScopedEnv runtime_folder_{"XDG_RUNTIME_DIR", local_.Path()};
    testing::CollectingOutput output_;
    std::unique_ptr<FtpIndyStorageDevice> device_;
};

TEST_F(FtpServerIndyDeviceTest, FilesAndFoldersGoThroughTheClient)
{
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    const std::string big(1024 * 1024 + 7, 'b');
    local_.WriteFile("big.bin", big);
    ASSERT_TRUE(device_->CreateDirectory(site + "\\sub"));
    ASSERT_TRUE(device_->PutFile(local_.SystemPath("big.bin"), site + "\\sub", "big.bin", true))
        << (output_.lines.empty() ? "" : output_.lines.back());
    auto list = device_->ListDirectory(site + "\\sub", "", false);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Items(1)->Name, "big.bin");
    EXPECT_EQ(list->Items(1)->SizeHigh, 0u);
    EXPECT_EQ(list->Items(1)->SizeLow, big.size());
    ASSERT_TRUE(device_->RenameFile(site + "\\sub", "big.bin", "moved.bin"));
    const std::string back = device_->GetFile(site + "\\sub", "moved.bin");
    ASSERT_FALSE(back.empty());
    std::ifstream input(platform::ToPosixPath(back), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(input), {}), big);
    input.close();
    EXPECT_TRUE(device_->ReleaseFile(back));
    EXPECT_TRUE(device_->DeleteFile(site + "\\sub", "moved.bin", true));
    EXPECT_TRUE(device_->RemoveDirectory(site + "\\sub"));
    EXPECT_EQ(device_->ListDirectory(site, "", false)->Count(), 0);
}

TEST_F(FtpServerIndyDeviceTest, ARefusedDeletionIsReportedOnlyWhenAsked)
{
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    for (const bool report : {false, true}) {
        output_.lines.clear();
        EXPECT_FALSE(device_->DeleteFile(site, "missing.txt", report)) << report;
        EXPECT_EQ(device_->GetLastError(), 550u) << report;
        EXPECT_EQ(output_.lines.size(), report ? 1u : 0u) << report;
    }
}

TEST_F(FtpServerIndyDeviceTest, TheSameFolderIsEnteredOnce)
{
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    ASSERT_TRUE(device_->ChangeWorkingFolder(site));
    ASSERT_TRUE(device_->ChangeWorkingFolder(site));
    EXPECT_EQ(CountCommands("CWD /site"), 1u);
}

TEST_F(FtpServerIndyDeviceTest, NamesWithLineBreaksAreNotSent)
{
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    local_.WriteFile("a.txt", "a");
    for (const std::string& name :
         std::vector<std::string>{"a\r\nDELE x", std::string("a\0b", 3), "a\nb"}) {
        EXPECT_FALSE(device_->PutFile(local_.SystemPath("a.txt"), site, name, false));
        EXPECT_FALSE(device_->DeleteFile(site, name, true));
    }
    for (const std::string& c : server_.Commands()) {
        EXPECT_EQ(c.find("DELE"), std::string::npos) << c;
        EXPECT_EQ(c.find("STOR"), std::string::npos) << c;
    }
}

TEST(FtpStorageIndyStall, AStalledDownloadFailsWithinTheGeneralTimeOut)
{
    testing::ScriptedFtpServer server;
    server.SetFileContent(std::string(200000, 'd'));
    server.SetFault("RETR", testing::ScriptedFtpServer::Fault::kStallData);
    testing::CollectingOutput output;
    FtpIndyStorageDevice device(&output, server.Port(), nullptr, 0, nullptr, 1, 1, nullptr, nullptr,
                                false);
    ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.GetFile("", "f"), "");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(device.GetLastError(), 10060u);
    EXPECT_LT(took.count(), 3.0);
    server.Release();
}

}  // namespace
}  // namespace vantrel
