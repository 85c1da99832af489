#include "storage/FtpStorageIndy.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Inet.h"
#include "sync/QelSyncBaseOutput.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/PlatformFakes.h"
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
        device_ = std::make_unique<FtpIndyStorageDevice>(
            &output_, FtpDeviceSettings{
                          .port = server_.Port(), .general_timeout = 5, .connection_timeout = 5});
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
    // The login folder is where a connection starts: entering it first sends nothing.
    ASSERT_TRUE(device_->Connect(true, ""));
    ASSERT_TRUE(device_->ChangeWorkingFolder("ftp:\\\\127.0.0.1"));
    EXPECT_EQ(CountCommands("CWD /"), 0u);
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

// Each misbehaviour that a real server will not show on demand ends within its bound (general
// and connection time-outs of 1 s) with a failure, and nothing the server sends is kept without
// limit. A stall ends the run (the device's close included) within about twice the general
// time-out.
TEST(FtpStorageIndyHostile, EachRequestFailsWithinItsBound)
{
    using Fault = testing::ScriptedFtpServer::Fault;
    enum class Request
    {
        kList,
        kGet,
        kPut,
    };
    struct Case
    {
        const char* label;
        const char* verb;
        Fault fault;
        std::string reply;
        Request request;
        uint32_t error;
        double seconds;
    };
    const Case cases[] = {
        {"a multi-line reply without end", "CWD", Fault::kEndlessReply, "", Request::kList, 12152,
         3},
        {"a listing without end", "LIST", Fault::kEndlessData, "", Request::kList, 12152, 10},
        {"a refused listing", "LIST", Fault::kNone, "550 No access.", Request::kList, 550, 1},
        {"a stalled listing", "LIST", Fault::kStallData, "", Request::kList, 10060, 2.5},
        {"a listing dripped a line at a time", "LIST", Fault::kDripData, "", Request::kList, 10060,
         2.5},
        {"a stalled download", "RETR", Fault::kStallData, "", Request::kGet, 10060, 2.5},
        // The upload moves until the socket buffers are full, which takes a while under load.
        {"a stalled upload", "STOR", Fault::kStallData, "", Request::kPut, 10060, 6},
    };
    testing::TestSandbox local;
    local.WriteFile("big.bin", std::string(16 << 20, 'u'));
    testing::ScopedEnv runtime_folder{"XDG_RUNTIME_DIR", local.Path()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        testing::ScriptedFtpServer server;
        server.SetListing(
            std::vector<std::string>(2000, "-rw-r--r-- 1 owner group 5 Jan 12 2005 listed.txt"));
        server.SetFileContent(std::string(200000, 'd'));
        if (c.fault != Fault::kNone) {
            server.SetFault(c.verb, c.fault);
        }
        if (!c.reply.empty()) {
            server.SetReply(c.verb, c.reply);
        }
        testing::CollectingOutput output;
        auto device = std::make_unique<FtpIndyStorageDevice>(
            &output, FtpDeviceSettings{
                         .port = server.Port(), .general_timeout = 1, .connection_timeout = 1});
        ASSERT_TRUE(device->Open("ftp:\\\\127.0.0.1", "u", "p", ""));
        const auto start = std::chrono::steady_clock::now();
        switch (c.request) {
            case Request::kList:
                EXPECT_EQ(device->ListDirectory("sub", "", false)->Count(), 0);
                EXPECT_TRUE(device->TakeListingFailure());
                break;
            case Request::kGet:
                EXPECT_EQ(device->GetFile("", "f"), "");
                break;
            case Request::kPut:
                EXPECT_FALSE(device->PutFile(local.SystemPath("big.bin"), "", "big.bin", true));
                break;
        }
        EXPECT_EQ(device->GetLastError(), c.error) << ::testing::PrintToString(output.lines);
        // The run ends with the device: closing the connection is part of the bound.
        device.reset();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), c.seconds);
        server.Release();
    }
}

// The device over the client library, or the one over the internet library.
std::unique_ptr<FtpStorageDevice> EitherDevice(bool client_library,
                                               QelSyncBaseOutput* output,
                                               const FtpDeviceSettings& settings)
{
    if (client_library) {
        return std::make_unique<FtpIndyStorageDevice>(output, settings);
    }
    return std::make_unique<FtpStorageDevice>(output, settings);
}

// A greeting that the server cuts short by closing the connection, or sends a byte at a time
// without end, fails the connection, and such a reply to PWD ends; each within its bound,
// through either device (general and
// connection time-outs of 2 s: above the watchdog's tick, so only the reply limit ends a drip).
TEST(FtpStorageIndyHostile, ARepliesCutOrDrippedFailOpenWithinItsBound)
{
    using Fault = testing::ScriptedFtpServer::Fault;
    struct Case
    {
        const char* label;
        bool cut_greeting;
        bool drip_greeting;
        Fault pwd;
    };
    const Case cases[] = {
        {"a greeting cut by the server's close", true, false, Fault::kNone},
        {"a greeting dripped", false, true, Fault::kNone},
        {"a PWD reply cut by the server's close", false, false, Fault::kCutReply},
        {"a PWD reply dripped", false, false, Fault::kDripReply},
    };
    for (const bool client_library : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (client_library ? ", client library" : ""));
            testing::ScriptedFtpServer server;
            if (c.cut_greeting) {
                server.CutGreeting();
            }
            if (c.drip_greeting) {
                server.DripGreeting();
            }
            if (c.pwd != Fault::kNone) {
                server.SetFault("PWD", c.pwd);
            }
            testing::CollectingOutput output;
            const FtpDeviceSettings settings{
                .port = server.Port(), .general_timeout = 2, .connection_timeout = 2};
            std::unique_ptr<FtpStorageDevice> device =
                EitherDevice(client_library, &output, settings);
            const auto start = std::chrono::steady_clock::now();
            // A folder that cannot be read after the log-in leaves the connection in use.
            const bool opened = device->Open("ftp:\\\\127.0.0.1", "u", "p", "");
            EXPECT_TRUE(!opened || c.pwd != Fault::kNone);
            device.reset();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            EXPECT_LT(took.count(), 15);
        }
    }
}

// A log-in refused by the server is sent once, and its reply is what the failure reports.
TEST(FtpStorageIndyHostile, ARefusedLogInIsNotRetried)
{
    for (const bool client_library : {false, true}) {
        SCOPED_TRACE(client_library ? "client library" : "internet library");
        testing::ScriptedFtpServer server;
        server.SetReply("PASS", "530 Login incorrect.");
        testing::CollectingOutput output;
        const FtpDeviceSettings settings{
            .port = server.Port(), .general_timeout = 2, .connection_timeout = 2};
        std::unique_ptr<FtpStorageDevice> device = EitherDevice(client_library, &output, settings);
        EXPECT_FALSE(device->Open("ftp:\\\\127.0.0.1", "u", "wrong", ""));
        const auto commands = server.Commands();
        EXPECT_EQ(1, std::count_if(commands.begin(), commands.end(),
                                   [](const std::string& c) { return c.rfind("PASS", 0) == 0; }));
        const std::string all = ::testing::PrintToString(output.lines);
        EXPECT_NE(std::string::npos, all.find("530 Login incorrect.")) << all;
        EXPECT_EQ(std::string::npos, all.find("(#0)")) << all;
    }
}

// In active mode a stranger who connects to the device's data port first, from another
// address, gets nothing and gives nothing: the listing is the server's.
TEST(FtpStorageIndyHostile, AnActiveDataConnectionIsTakenOnlyFromTheServer)
{
    testing::ScriptedFtpServer server;
    server.SetListing({"-rw-r--r-- 1 owner group 5 Jan 12 2005 listed.txt"});
    server.SetFault("LIST", testing::ScriptedFtpServer::Fault::kHang);
    testing::CollectingOutput output;
    FtpIndyStorageDevice device(&output, FtpDeviceSettings{.port = server.Port(),
                                                           .general_timeout = 2,
                                                           .connection_timeout = 2,
                                                           .passive = false});
    ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    std::thread stranger([&] {
        ASSERT_TRUE(server.WaitForCommand("LIST", std::chrono::seconds(5)));
        std::string port_argument;
        for (const std::string& command : server.Commands()) {
            if (command.rfind("PORT ", 0) == 0) {
                port_argument = command.substr(5);
            }
        }
        int n[6] = {};
        ASSERT_EQ(6, std::sscanf(port_argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2],
                                 &n[3], &n[4], &n[5]));
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(0x7F000001);
        to.sin_port = htons(static_cast<uint16_t>(n[4] * 256 + n[5]));
        ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to));
        const std::string planted = "-rw-r--r-- 1 owner group 5 Jan 12 2005 planted.txt\r\n";
        (void)!write(fd, planted.data(), planted.size());
        server.Release();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        close(fd);
    });
    const auto list = device.ListDirectory("", "", false);
    stranger.join();
    EXPECT_NE(nullptr, list->Find("listed.txt", true)) << ::testing::PrintToString(output.lines);
    EXPECT_EQ(nullptr, list->Find("planted.txt", true));
}

// A large listing that takes about twice the general time-out but keeps moving at more than
// 64 KB a time-out is not cut off.
TEST(FtpStorageIndyHostile, ASlowListingThatProgressesIsNotCutOff)
{
    testing::ScriptedFtpServer server;
    server.SetListing(
        std::vector<std::string>(3000, "-rw-r--r-- 1 owner group 5 Jan 12 2005 listed.txt"));
    server.SetFault("LIST", testing::ScriptedFtpServer::Fault::kSlowData);
    testing::CollectingOutput output;
    FtpIndyStorageDevice device(
        &output,
        FtpDeviceSettings{.port = server.Port(), .general_timeout = 1, .connection_timeout = 1});
    ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    EXPECT_EQ(device.ListDirectory("", "", false)->Count(), 3000);
    EXPECT_FALSE(device.TakeListingFailure()) << ::testing::PrintToString(output.lines);
}

// A PASV reply that names another address: the data connection goes to the server's own
// address all the same (127.0.0.2 would refuse it).
TEST(FtpStorageIndyHostile, APassiveReplyGivesOnlyThePort)
{
    testing::ScriptedFtpServer server;
    server.SetPassiveHost("127,0,0,2");
    server.SetListing({"-rw-r--r-- 1 owner group 5 Jan 12 2005 listed.txt"});
    testing::TestSandbox local;
    local.WriteFile("up.txt", "content");
    testing::CollectingOutput output;
    FtpIndyStorageDevice device(
        &output,
        FtpDeviceSettings{.port = server.Port(), .general_timeout = 1, .connection_timeout = 1});
    ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    EXPECT_EQ(device.ListDirectory("", "", false)->Count(), 1);
    EXPECT_FALSE(device.TakeListingFailure());
    EXPECT_TRUE(device.PutFile(local.SystemPath("up.txt"), "", "up.txt", true))
        << ::testing::PrintToString(output.lines);
    EXPECT_EQ(server.Uploaded(), "content");
}

// The connection of the client-library device: statuses, the fall-back to TLS, time-outs and the
// server type. Every device writes to a recording sink, so the tests read what it wrote by type.
class FtpIndyConnectTest : public ::testing::Test
{
protected:
    std::unique_ptr<FtpIndyStorageDevice> Device(uint16_t port,
                                                 TDotFileState* dots = nullptr,
                                                 int32_t connection_timeout = 5,
                                                 uint8_t flags = 0)
    {
        return std::make_unique<FtpIndyStorageDevice>(
            sink_.get(), FtpDeviceSettings{.port = port,
                                           .general_timeout = 5,
                                           .connection_timeout = connection_timeout,
                                           .dot_file_state = dots,
                                           .flags = flags});
    }
    // The texts written with that type so far.
    std::vector<std::string> Written(int type)
    {
        const std::string prefix = "d write " + std::to_string(type) + " ";
        std::vector<std::string> texts;
        for (const std::string& line : log_.Take()) {
            seen_.push_back(line);
        }
        for (const std::string& line : seen_) {
            if (StartsWith(line, prefix, false)) {
                texts.push_back(line.substr(prefix.size()));
            }
        }
        return texts;
    }
    static bool HasCommand(const std::vector<std::string>& commands, const std::string& command)
    {
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }
    static double SecondsSince(std::chrono::steady_clock::time_point start)
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    testing::RecordingLog log_;
    std::unique_ptr<testing::RecordingOutput> sink_ = log_.Sink("d");
    std::vector<std::string> seen_;
    testing::TestSandbox local_;
    testing::ScopedEnv runtime_folder_{"XDG_RUNTIME_DIR", local_.Path()};
    const std::string site_ = "ftp:\\\\127.0.0.1\\site";
};

TEST_F(FtpIndyConnectTest, StatusesOtherThanTransferAndReadyAreWrittenAsInformation)
{
    auto device = Device(21);
    EXPECT_EQ(device->LastStatus(), FtpIndyStorageDevice::kStatusDisconnected);
    for (uint8_t status = 0; status <= 8; ++status) {
        const std::string text = "status " + std::to_string(status);
        device->DoStatus(status, text);
        const bool quiet = status == 6 || status == 7;
        const std::vector<std::string> written = Written(20);
        EXPECT_EQ(written.size(), quiet ? 0u : 1u) << text;
        if (!quiet && !written.empty()) {
            EXPECT_EQ(written.back(), text);
        }
        EXPECT_EQ(device->LastStatus(), status);
        EXPECT_EQ(device->LastStatusText(), text);
        seen_.clear();
    }
}

TEST_F(FtpIndyConnectTest, AServerThatResetsPlainFtpIsReachedOverExplicitTls)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.StartTls(testing::PyftpdlibServer::Reset::kPlain, &why)) << why;
    testing::ScopedEnv trust("SSL_CERT_FILE", server.CertificatePath());
    auto device = Device(server.Port());
    ASSERT_TRUE(device->Open(site_, server.User(), server.Password(), "")) << Written(27).back();
    const std::vector<std::string> errors = Written(27);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(StartsWith(errors[0],
                           "Could not resolve server name 127.0.0.1.\r\nError code: 10054\r\n"
                           "Description: ",
                           false))
        << errors[0];
    EXPECT_TRUE(device->IsSecure());
    EXPECT_EQ(device->GetLastError(), 0u);
    EXPECT_EQ(device->LastStatus(), FtpIndyStorageDevice::kStatusReady);

    local_.WriteFile("page.html", "<p>over tls</p>");
    ASSERT_TRUE(device->PutFile(local_.SystemPath("page.html"), site_, "page.html", false))
        << Written(24).back();
    auto list = device->ListDirectory(site_, "", false);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Items(1)->Name, "page.html");
    EXPECT_EQ(list->Items(1)->SizeLow, 15u);
    std::ifstream stored(server.SiteLocalPath("page.html"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), "<p>over tls</p>");
    // The plain attempt got as far as the user name; the data went under PROT P.
    const std::vector<std::string> commands = server.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER vantrel");
    EXPECT_EQ(commands[1], "AUTH TLS");
    EXPECT_TRUE(HasCommand(commands, "PBSZ 0"));
    EXPECT_TRUE(HasCommand(commands, "PROT P"));
    EXPECT_TRUE(HasCommand(commands, "STOR page.html"));

    // A reconnection tries plain FTP again and falls back on the TLS context it kept.
    ASSERT_TRUE(device->Connect(true, ""));
    EXPECT_TRUE(device->IsSecure());
    EXPECT_EQ(Written(27).size(), 2u);
    EXPECT_EQ(device->ListDirectory(site_, "", false)->Count(), 1);
}

TEST_F(FtpIndyConnectTest, AServerThatResetsTheTlsAttemptTooFailsWithTheReset)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.StartTls(testing::PyftpdlibServer::Reset::kAll, &why)) << why;
    testing::ScopedEnv trust("SSL_CERT_FILE", server.CertificatePath());
    auto device = Device(server.Port());
    EXPECT_FALSE(device->Open(site_, server.User(), server.Password(), ""));
    EXPECT_EQ(device->GetLastError(), 10054u);
    const std::vector<std::string> errors = Written(27);
    ASSERT_EQ(errors.size(), 2u);
    for (const std::string& error : errors) {
        EXPECT_TRUE(StartsWith(
            error, "Could not resolve server name 127.0.0.1.\r\nError code: 10054\r\n", false))
            << error;
    }
    EXPECT_TRUE(HasCommand(server.Commands(), "AUTH TLS"));
    EXPECT_FALSE(device->IsSecure());
}

TEST_F(FtpIndyConnectTest, ACertificateThatIsNotTrustedOrNamesAnotherAddressIsRefused)
{
    for (const std::string certified : {"127.0.0.1", "10.0.0.1"}) {
        SCOPED_TRACE(certified);
        testing::PyftpdlibServer server;
        std::string why;
        ASSERT_TRUE(server.StartTls(testing::PyftpdlibServer::Reset::kPlain, &why, certified))
            << why;
        // 127.0.0.1's certificate is trusted by no one; 10.0.0.1's is trusted, for another host.
        local_.WriteFile("none.pem", "");
        testing::ScopedEnv trust("SSL_CERT_FILE", certified == "10.0.0.1"
                                                      ? server.CertificatePath()
                                                      : local_.Path("none.pem"));
        testing::ScopedEnv no_folder("SSL_CERT_DIR", local_.Path());
        auto device = Device(server.Port());
        EXPECT_FALSE(device->Open(site_, server.User(), server.Password(), ""));
        const std::vector<std::string> errors = Written(27);
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_TRUE(StartsWith(errors[1], "Failed to connect to server 127.0.0.1.\r\n", false))
            << errors[1];
        EXPECT_NE(errors[1].find("certificate verify failed"), std::string::npos) << errors[1];
        // The password never went to the server that could not prove who it is.
        EXPECT_FALSE(HasCommand(server.Commands(), "PASS ******"));
        seen_.clear();
    }
}

TEST_F(FtpIndyConnectTest, AListenerThatNeverGreetsFailsWithinTheConnectionTimeOut)
{
    testing::ScriptedFtpServer server;
    server.HoldGreeting();
    auto device = Device(server.Port(), nullptr, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(device->Open("ftp:127.0.0.1", "u", "p", ""));
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(device->GetLastError(), 10060u);
    const std::vector<std::string> errors = Written(27);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(StartsWith(errors[0],
                           "Could not resolve server name 127.0.0.1.\r\nError code: 10060", false))
        << errors[0];
    server.Release();
}

// The worker frees the device after the run's final status, which must stay the run's last
// line: the closing of the connection writes nothing.
TEST_F(FtpIndyConnectTest, FreeingAConnectedDeviceWritesNothing)
{
    testing::ScriptedFtpServer server;
    auto device = Device(server.Port());
    ASSERT_TRUE(device->Open(site_, "u", "p", ""));
    Written(20);
    device.reset();
    EXPECT_TRUE(log_.Take().empty());
    EXPECT_TRUE(server.WaitForSessionsEnded(1, std::chrono::seconds(5)));
}

TEST_F(FtpIndyConnectTest, AnUnresolvableHostGivesTheSocketCodeAndOpenFails)
{
    auto device = Device(21);
    EXPECT_FALSE(device->Open("ftp:nonexistent.invalid\\site", "u", "p", ""));
    EXPECT_EQ(device->GetLastError(), 11001u);
    const std::vector<std::string> errors = Written(27);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(StartsWith(errors[0],
                           "Could not resolve server name nonexistent.invalid.\r\nError code: "
                           "11001\r\nDescription: ",
                           false))
        << errors[0];
    EXPECT_EQ(device->LastStatus(), FtpIndyStorageDevice::kStatusDisconnected);
    EXPECT_EQ(Written(20).front(), "Resolving hostname nonexistent.invalid.");
}

TEST_F(FtpIndyConnectTest, ARefusedLogInIsAnErrorWithTheReplyCode)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    auto device = Device(server.Port());
    EXPECT_FALSE(device->Open(site_, server.User(), "wrong", ""));
    EXPECT_EQ(device->GetLastError(), 530u);
    const std::vector<std::string> errors = Written(27);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(
        StartsWith(errors[0], "Failed to connect to server 127.0.0.1.\r\nError code: 530", false))
        << errors[0];
    // No second attempt over TLS for a refusal.
    EXPECT_FALSE(HasCommand(server.Commands(), "AUTH TLS"));
}

TEST_F(FtpIndyConnectTest, SystAtConnectDecidesUnixAndTheDotFileTreatment)
{
    testing::PyftpdlibServer unix_server;
    std::string why;
    ASSERT_TRUE(unix_server.Start(&why)) << why;
    TDotFileState unix_dots;
    auto unix_device = Device(unix_server.Port(), &unix_dots);
    ASSERT_TRUE(unix_device->Open(site_, unix_server.User(), unix_server.Password(), ""));
    EXPECT_TRUE(unix_device->IsUnix());
    EXPECT_EQ(unix_dots.Treatment, 0);
    EXPECT_TRUE(HasCommand(unix_server.Commands(), "SYST "));

    struct Case
    {
        uint8_t treatment;
        bool ask_syst;
        bool syst_sent;
        uint8_t treatment_after;
    };
    for (const Case& c : {Case{0, false, true, 2}, Case{1, false, true, 2},
                          Case{2, false, false, 2}, Case{2, true, true, 2}}) {
        const std::string label = std::to_string(c.treatment) + (c.ask_syst ? " ask" : "");
        testing::ScriptedFtpServer server;
        server.SetReply("SYST", "215 Windows_NT");
        TDotFileState dots;
        dots.Treatment = c.treatment;
        auto device = Device(server.Port(), &dots, 5,
                             c.ask_syst ? FtpStorageDevice::kFlagAskSyst : uint8_t{0});
        ASSERT_TRUE(device->Open("ftp:127.0.0.1", "u", "p", "")) << label;
        EXPECT_FALSE(device->IsUnix()) << label;
        EXPECT_EQ(dots.Treatment, c.treatment_after) << label;
        EXPECT_EQ(HasCommand(server.Commands(), "SYST"), c.syst_sent) << label;
    }
}

TEST(FtpIndyUnitTest, RequestsWatchTheReportingHandleAndFinishedOnesForgetIt)
{
    enum Effect
    {
        kWatch,
        kKick,
        kReset,
        kNothing
    };
    struct Case
    {
        uint32_t status;
        Effect effect;
        int alive_calls;
    };
    const Case kCases[] = {
        {30, kWatch, 0}, {31, kWatch, 0}, {40, kKick, 1},    {41, kReset, 1},
        {50, kReset, 0}, {51, kReset, 0}, {70, kReset, 0},   {100, kReset, 0},
        {120, kKick, 0}, {200, kKick, 0}, {10, kNothing, 0},
    };
    class CountingAlive : public IFtpAliveInterface
    {
    public:
        void Alive() override { ++calls; }
        int calls = 0;
    };
    FtpUnitState unit(std::chrono::hours(24), FtpUnitState::Watching::kReportingHandle);
    auto alive = std::make_shared<CountingAlive>();
    unit.DeviceCreated(alive, 20);
    THandleTimeout& watchdog = *unit.Watchdog();
    const platform::InternetHandle watched = platform::InternetOpen("Vantrel", 4, "", "", 0);
    const platform::InternetHandle reporting = platform::InternetOpen("Vantrel", 4, "", "", 0);
    for (const Case& c : kCases) {
        // Counting on `watched`, one tick in: 20 on a kick or a new watch, 0 on a reset, 19
        // otherwise.
        watchdog.Watch();
        watchdog.WatchHandle(watched, 20);
        watchdog.Tick();
        alive->calls = 0;
        unit.ReportStatus(3, c.status, reporting);
        const int32_t expected = c.effect == kReset ? 0 : c.effect == kNothing ? 19 : 20;
        EXPECT_EQ(watchdog.Countdown(), expected) << c.status;
        const platform::InternetHandle now_watched = c.effect == kWatch ? reporting
                                                     : c.effect == kReset
                                                         ? platform::InternetHandle{}
                                                         : watched;
        EXPECT_EQ(watchdog.WatchedHandle(), now_watched) << c.status;
        EXPECT_TRUE(watchdog.Armed()) << c.status;
        EXPECT_EQ(alive->calls, c.alive_calls) << c.status;
    }
    watchdog.Disarm();
    EXPECT_TRUE(unit.DeviceDestroyed());
    platform::InternetCloseHandle(watched);
    platform::InternetCloseHandle(reporting);
}

TEST(FtpIndyUnitTest, DevicesAreCountedInTheirOwnUnitAndTheLastTearsItDown)
{
    testing::CollectingOutput output;
    TFtpPersistentInformation state;
    const uint16_t nothing_listens = testing::UnusedLoopbackPort();
    auto first = std::make_unique<FtpIndyStorageDevice>(
        &output, FtpDeviceSettings{.port = nothing_listens,
                                   .general_timeout = 30,
                                   .connection_timeout = 5,
                                   .connection_state = &state});
    const std::shared_ptr<THandleTimeout> watchdog = FtpIndyStorageUnit().Watchdog();
    ASSERT_NE(watchdog, nullptr);
    auto second = std::make_unique<FtpIndyStorageDevice>(
        &output, FtpDeviceSettings{
                     .general_timeout = 45, .connection_timeout = 5, .connection_state = &state});
    EXPECT_EQ(FtpIndyStorageUnit().DeviceCount(), 2);
    EXPECT_EQ(FtpStorageUnit().DeviceCount(), 0);
    EXPECT_EQ(FtpIndyStorageUnit().GeneralTimeout(), 45);
    EXPECT_EQ(FtpIndyStorageUnit().Watchdog(), watchdog);
    platform::InternetStatusCallback callback = nullptr;
    ASSERT_TRUE(platform::InternetSetStatusCallback(state.Session, IndyConnectionStatusCallback,
                                                    &callback));
    EXPECT_EQ(callback, &IndyConnectionStatusCallback);

    // Connecting disarms the unit's watchdog, whether or not the server answers.
    watchdog->Watch();
    EXPECT_FALSE(first->Open("ftp:127.0.0.1", "u", "p", ""));
    EXPECT_FALSE(watchdog->Armed());

    first.reset();
    EXPECT_EQ(FtpIndyStorageUnit().DeviceCount(), 1);
    EXPECT_EQ(FtpIndyStorageUnit().Watchdog(), watchdog);
    second.reset();
    EXPECT_EQ(FtpIndyStorageUnit().DeviceCount(), 0);
    EXPECT_EQ(FtpIndyStorageUnit().Watchdog(), nullptr);
    ASSERT_TRUE(platform::InternetSetStatusCallback(state.Session, nullptr, &callback));
    EXPECT_EQ(callback, nullptr);
}

// The device as the scripted server's tests need it: the server type is found at connection,
// which these tests do not exercise.
class ScriptedIndyDevice : public FtpIndyStorageDevice
{
public:
    using FtpIndyStorageDevice::FtpIndyStorageDevice;
    void MarkUnix() { unix_ = true; }
};

class ScriptedIndyDeviceTest : public ::testing::Test
{
protected:
    static constexpr const char* kBase = "ftp:\\\\127.0.0.1\\base";

    void Open(TDotFileState* dots = nullptr, TDateTime* drift = nullptr, uint8_t flags = 0)
    {
        device_ = std::make_unique<ScriptedIndyDevice>(&output_,
                                                       FtpDeviceSettings{.port = server_.Port(),
                                                                         .general_timeout = 5,
                                                                         .connection_timeout = 5,
                                                                         .dot_file_state = dots,
                                                                         .time_drift = drift,
                                                                         .flags = flags});
        ASSERT_TRUE(device_->Open(kBase, "u", "p", "")) << ::testing::PrintToString(Problems());
    }
    size_t CountCommands(const std::string& command) const
    {
        const std::vector<std::string> commands = server_.Commands();
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
    }
    // The last "TYPE" command sent before `command`.
    std::string TypeBefore(const std::string& command) const
    {
        std::string type;
        for (const std::string& c : server_.Commands()) {
            if (c == command) {
                return type;
            }
            if (c.rfind("TYPE ", 0) == 0) {
                type = c;
            }
        }
        return "";
    }
    // The warnings and errors only: the client's status texts come and go with connections.
    std::vector<std::string> Problems() const { return output_.TextsOf({kMsgWarning, kMsgError}); }
    bool Logged(const std::string& text) const
    {
        const std::vector<std::string> problems = Problems();
        return std::any_of(problems.begin(), problems.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    testing::ScriptedFtpServer server_;
    testing::ScriptedMessageBoxes boxes_;
    testing::TestSandbox local_;
    testing::CollectingOutput output_;
    std::unique_ptr<ScriptedIndyDevice> device_;
};

TEST_F(ScriptedIndyDeviceTest, ListedItemsGiveSizesFolderAndReadOnlyBits)
{
    struct Case
    {
        std::string line;
        std::string name;
        uint32_t size_high;
        uint32_t size_low;
        bool folder;
        bool read_only;
    };
    const std::vector<Case> cases = {
        {"-rw-r--r--   1 u g 4294967296 Jan 12  2005 four.bin", "four.bin", 1, 0, false, false},
        {"-rw-r--r--   1 u g 4294967295 Jan 12  2005 just.bin", "just.bin", 0, 0xFFFFFFFF, false,
         false},
        {"-rw-r--r--   1 u g 1048577 Jan 12  2005 mega.bin", "mega.bin", 0, 1048577, false, false},
        {"-r--rw-rw-   1 u g 5 Jan 12  2005 locked.txt", "locked.txt", 0, 5, false, true},
        {"-rwxr-xr-x   1 u g 5 Jan 12  2005 run.cgi", "run.cgi", 0, 5, false, false},
        {"drwxr-xr-x   2 u g 4096 Jan 12  2005 docs", "docs", 0, 4096, true, false},
        {"dr-xr-xr-x   2 u g 4096 Jan 12  2005 sealed", "sealed", 0, 4096, true, true},
        // No permission text: nothing says the owner may write.
        {"01-12-05  12:00AM                  123 dos.txt", "dos.txt", 0, 123, false, true},
        {"01-12-05  12:00AM       <DIR>          dosdir", "dosdir", 0, 0, true, true},
    };
    std::vector<std::string> lines;
    for (const Case& c : cases) {
        lines.push_back(c.line);
    }
    server_.SetListing(lines);
    TDateTime drift = 0.25;
    Open(nullptr, &drift);
    const auto list = device_->ListDirectory(kBase, "", false);
    ASSERT_EQ(list->Count(), static_cast<int32_t>(cases.size()));
    double listed = 0;
    ASSERT_TRUE(platform::TryEncodeDateTime(2005, 1, 12, 0, 0, 0, 0, &listed));
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const QelDirectoryEntry& entry = *list->Items(static_cast<int32_t>(i + 1));
        SCOPED_TRACE(c.line);
        EXPECT_EQ(entry.Name, c.name);
        EXPECT_EQ(entry.SizeHigh, c.size_high);
        EXPECT_EQ(entry.SizeLow, c.size_low);
        EXPECT_EQ(entry.IsDirectory(), c.folder);
        EXPECT_EQ(entry.IsReadOnly(), c.read_only);
        EXPECT_FALSE(entry.IsHidden());
        EXPECT_NEAR(entry.Date, listed - 0.25, 1e-6);
        EXPECT_NEAR(entry.Date2, listed, 1e-6);
        EXPECT_EQ(entry.FileTime.Value(), 0u);
    }
    EXPECT_EQ(drift, 0.25);
}

TEST_F(ScriptedIndyDeviceTest, AVmsListingGivesItsFilesAndFolders)
{
    server_.SetListing(
        {"Directory DKA0:[WEB]", "", "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)",
         "DOCS.DIR;1 1 03-FEB-2004 08:00:00 [WEB] (RWED,RWED,RE,)", "Total of 2 files."});
    Open();
    const auto list = device_->ListDirectory(kBase, "", false);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(device_->VmsMode(), 1);
    const QelDirectoryEntry& file = *list->Items(1);
    EXPECT_EQ(file.Name, "INDEX.HTML");
    EXPECT_FALSE(file.IsDirectory());
    EXPECT_FALSE(file.IsReadOnly());
    EXPECT_EQ(file.SizeLow, 0xFFFFFFFFu);
    double listed = 0;
    ASSERT_TRUE(platform::TryEncodeDateTime(2005, 1, 12, 10, 11, 12, 0, &listed));
    EXPECT_NEAR(file.Date, listed, 1e-6);
    EXPECT_EQ(list->Items(2)->Name, "DOCS");
    EXPECT_TRUE(list->Items(2)->IsDirectory());
}

TEST_F(ScriptedIndyDeviceTest, ARefusedSiteChmodOpensNoBoxAndTurnsPermissionsOff)
{
    server_.SetReply("SITE", "500 'SITE CHMOD': command not understood.");
    Open();
    ASSERT_TRUE(device_->SupportsPermissions());
    for (const char* name : {"a.html", "b.html"}) {
        EXPECT_TRUE(device_->SetPermissions(kBase, name, "644"));
    }
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_FALSE(device_->SupportsPermissions());
    EXPECT_EQ(device_->GetLastError(), platform::kErrorInternetExtendedError);
    EXPECT_TRUE(Logged("CHMOD not supported by FTP server"));
    EXPECT_EQ(CountCommands("SITE CHMOD 644 b.html"), 1u);

    // Without accepted codes the refusal is shown, with the server's words.
    std::string reply = "stale";
    device_->SendCommand("SITE CHMOD 644 c.html", "", &reply, {}, false);
    const auto shown = boxes_.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, platform::ErrorMessageText(platform::kErrorInternetExtendedError) +
                                 " (12003)500 'SITE CHMOD': command not understood.");
    EXPECT_EQ(shown[0].caption, "");
    EXPECT_EQ(shown[0].type, platform::kMbOk);
    EXPECT_EQ(reply, "500 'SITE CHMOD': command not understood.");
}

TEST_F(ScriptedIndyDeviceTest, AnAcceptedSiteChmodKeepsPermissionsOn)
{
    server_.SetReply("SITE", "250 Mode changed.");
    Open();
    EXPECT_TRUE(device_->SetPermissions(kBase, "a.cgi", "755"));
    EXPECT_TRUE(device_->SupportsPermissions());
    EXPECT_EQ(device_->GetLastError(), 0u);
    EXPECT_EQ(CountCommands("SITE CHMOD 755 a.cgi"), 1u);
    EXPECT_TRUE(Problems().empty()) << ::testing::PrintToString(Problems());
}

TEST_F(ScriptedIndyDeviceTest, SetReadOnlySendsTheModeAndWarnsOnAReplyThatIsNoCompletion)
{
    server_.SetListing({"-r--r--r--   1 u g 5 Jan 12  2005 a.txt"});
    Open();
    // Already read-only: nothing to send unless forced.
    EXPECT_TRUE(device_->SetReadOnly(kBase, "a.txt", true, false));
    EXPECT_EQ(CountCommands("SITE CHMOD 444 a.txt"), 0u);
    // "200 Okay.", as proftpd answers, is done as much as "250 Done.".
    EXPECT_TRUE(device_->SetReadOnly(kBase, "a.txt", false, false));
    EXPECT_EQ(CountCommands("SITE CHMOD 666 a.txt"), 1u);
    server_.SetReply("SITE", "250 Done.");
    EXPECT_TRUE(device_->SetReadOnly(kBase, "a.txt", true, true));
    EXPECT_EQ(CountCommands("SITE CHMOD 444 a.txt"), 1u);
    EXPECT_TRUE(Problems().empty()) << ::testing::PrintToString(Problems());
    server_.SetReply("SITE", "350 Pending.");
    EXPECT_TRUE(device_->SetReadOnly(kBase, "a.txt", true, true));
    EXPECT_EQ(Problems(), std::vector<std::string>{"Rename mishap: 350 Pending."});
    output_.Clear();

    server_.SetListing({"drwxr-xr-x   2 u g 4096 Jan 12  2005 docs"});
    EXPECT_TRUE(device_->SetReadOnly(kBase, "docs", true, false));
    EXPECT_EQ(CountCommands("SITE CHMOD 555 docs"), 1u);
    server_.SetListing({});
    EXPECT_FALSE(device_->SetReadOnly(kBase, "gone.txt", true, true));
}

TEST_F(ScriptedIndyDeviceTest, TheFirstUploadMeasuresTheServersClockOffset)
{
    local_.WriteFile("up.txt", "u");
    struct Case
    {
        double ahead;
        bool kept;
    };
    for (const Case& c : {Case{0.5, true}, Case{1.5, false}, Case{-0.25, true}}) {
        SCOPED_TRACE(c.ahead);
        testing::ScriptedFtpServer server;
        const std::string stamp =
            platform::FormatDateTime("yyyy-mm-dd hh:nn", NowDateTime() + c.ahead);
        server.SetListing({"-rw-r--r--   1 u g 1 " + stamp + " up.txt"});
        TDateTime drift = 0;
        ScriptedIndyDevice device(&output_, FtpDeviceSettings{.port = server.Port(),
                                                              .general_timeout = 5,
                                                              .connection_timeout = 5,
                                                              .time_drift = &drift});
        ASSERT_TRUE(device.Open(kBase, "u", "p", ""));
        ASSERT_TRUE(device.PutFile(local_.SystemPath("up.txt"), kBase, "up.txt", false));
        ASSERT_TRUE(device.PutFile(local_.SystemPath("up.txt"), kBase, "up.txt", false));
        const std::vector<std::string> commands = server.Commands();
        const auto listings = std::count(commands.begin(), commands.end(), "LIST up.txt");
        if (c.kept) {
            EXPECT_NEAR(drift, c.ahead, 2.0 / (24 * 60));
            EXPECT_EQ(listings, 1);
        } else {
            EXPECT_EQ(drift, 0);
            // Not settled: the next upload measures again.
            EXPECT_EQ(listings, 2);
        }
    }
    EXPECT_TRUE(Problems().empty()) << ::testing::PrintToString(Problems());
}

TEST_F(ScriptedIndyDeviceTest, QuotaIsDroppedOnlyAtTheBaseFolderOfAUnixServerWithFlag2)
{
    server_.SetNameList({".", "..", ".htaccess", ".quota"});
    struct Case
    {
        std::string folder;
        bool unix_server;
        bool flag;
        bool quota_listed;
    };
    const std::string base = kBase;
    const std::vector<Case> cases = {
        {base, true, true, false},
        {base + "\\sub", true, true, true},
        {base, false, true, true},
        {base, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + (c.unix_server ? " unix" : "") + (c.flag ? " flag" : ""));
        Open(nullptr, nullptr, c.flag ? FtpStorageDevice::kFlagAskSyst : uint8_t{0});
        if (c.unix_server) {
            device_->MarkUnix();
        }
        std::vector<std::string> expected = {".", "..", ".htaccess"};
        if (c.quota_listed) {
            expected.push_back(".quota");
        }
        EXPECT_EQ(device_->ListDotFiles(c.folder), expected);
    }
    EXPECT_EQ(CountCommands("NLST -a .*"), cases.size());
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(ScriptedIndyDeviceTest, ARefusedNameListTakesTheDotFilesFromAFullListingOnce)
{
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    server_.SetListingFor("-a", {"-rw-rw-r-- 1 u g 14 Jan 02 2004 .htaccess",
                                 "-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    server_.SetReply("NLST -a .*", "550 Can't check for file existence");
    TDotFileState dots{kDotFilesUploaded, 0};
    Open(&dots);
    for (int listing = 0; listing < 2; ++listing) {
        const auto list = device_->ListDirectory(kBase, "", false);
        ASSERT_EQ(2, list->Count());
        EXPECT_FALSE(list->Find(".htaccess", true)->IsReadOnly());
    }
    EXPECT_EQ(1u, CountCommands("NLST -a .*"));
    EXPECT_EQ(2u, CountCommands("LIST -a"));
    EXPECT_EQ(kDotFilesHidden, dots.Treatment);
    EXPECT_EQ(2, dots.DotFilesFound);
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(ScriptedIndyDeviceTest, AListingReconnectsOnceWhenTheServerClosedAndKeepsTheMask)
{
    for (const auto fault : {testing::ScriptedFtpServer::Fault::kCloseControl,
                             testing::ScriptedFtpServer::Fault::kReply421}) {
        testing::ScriptedFtpServer server;
        server.SetListing({"-rw-r--r--   1 u g 3 Jan 12  2005 a.txt"});
        server.SetFault("LIST", fault, 1);
        output_.Clear();
        ScriptedIndyDevice device(
            &output_, FtpDeviceSettings{
                          .port = server.Port(), .general_timeout = 5, .connection_timeout = 5});
        ASSERT_TRUE(device.Open(kBase, "u", "p", ""));
        const auto list = device.ListDirectory(kBase, "a.txt", false);
        ASSERT_EQ(list->Count(), 1);
        EXPECT_EQ(list->Items(1)->Name, "a.txt");
        EXPECT_EQ(device.RetryState(), 1);
        const std::vector<std::string> commands = server.Commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST a.txt"), 2);
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST"), 0);
        EXPECT_TRUE(server.WaitForSessions(2, std::chrono::seconds(1)));
        ASSERT_FALSE(Problems().empty());
        EXPECT_EQ(Problems()[0].rfind("Renegotiating connection ", 0), 0u) << Problems()[0];
    }
}

TEST_F(ScriptedIndyDeviceTest, AFailedReconnectionGivesAnEmptyListAndTimedOut)
{
    server_.SetListing({"-rw-r--r--   1 u g 3 Jan 12  2005 a.txt"});
    server_.SetFault("LIST", testing::ScriptedFtpServer::Fault::kCloseControl);
    Open();
    server_.SetFault("USER", testing::ScriptedFtpServer::Fault::kReply421);
    EXPECT_EQ(device_->ListDirectory(kBase, "", false)->Count(), 0);
    EXPECT_EQ(device_->GetLastError(), platform::kErrorInternetTimeout);
    EXPECT_TRUE(Logged("Failed to renegotiate connection"));
    // One reconnection per call, never more.
    EXPECT_EQ(CountCommands("LIST"), 1u);
    EXPECT_EQ(CountCommands("USER u"), 2u);
}

TEST_F(ScriptedIndyDeviceTest, ARefusedDeletionWritesTheThreeLineWarningOnlyWhenAsked)
{
    server_.SetReply("DELE", "550 a.txt: No such file.");
    Open();
    EXPECT_FALSE(device_->DeleteFile(kBase, "a.txt", false));
    EXPECT_TRUE(Problems().empty());
    EXPECT_EQ(device_->GetLastError(), 550u);
    EXPECT_FALSE(device_->DeleteFile(kBase, "a.txt", true));
    ASSERT_EQ(Problems().size(), 1u);
    const std::string warning = Problems()[0];
    const size_t code = warning.find("\r\nCode: 550\r\nDescription: ");
    ASSERT_NE(code, std::string::npos) << warning;
    const std::string first = warning.substr(0, code);
    EXPECT_NE(first.find("a.txt"), std::string::npos) << first;
    EXPECT_NE(first.find(kBase), std::string::npos) << first;
    EXPECT_NE(warning.find("No such file", code), std::string::npos) << warning;
    EXPECT_EQ(device_->GetLastErrorText(), "550 a.txt: No such file.");
}

TEST_F(ScriptedIndyDeviceTest, ARefusedFolderRemovalIsDescribedByTheServersReply)
{
    server_.SetReply("RMD", "550 Can't remove directory: Directory not empty");
    Open();
    EXPECT_FALSE(device_->RemoveDirectory(std::string(kBase) + "\\sub"));
    ASSERT_EQ(Problems().size(), 1u);
    EXPECT_EQ(Problems()[0], std::string("Failed to delete directory ") + kBase +
                                 "\\sub (error 550). 550 Can't remove directory: Directory "
                                 "not empty");
}

TEST_F(ScriptedIndyDeviceTest, UploadsGoInTheirOwnModeEvenRightAfterAListing)
{
    local_.WriteFile("image.bin", std::string("\x00\x01\r\n", 4));
    local_.WriteFile("page.html", "<p>\n");
    Open();
    device_->ListDirectory(kBase, "", false);
    device_->ListDirectory(kBase, "", false);
    // The second listing finds text mode in force already.
    EXPECT_EQ(CountCommands("TYPE A"), 1u);
    ASSERT_TRUE(device_->PutFile(local_.SystemPath("image.bin"), kBase, "image.bin", true));
    EXPECT_EQ(TypeBefore("STOR image.bin"), "TYPE I");
    EXPECT_EQ(server_.Uploaded(), std::string("\x00\x01\r\n", 4));
    device_->ListDirectory(kBase, "", false);
    ASSERT_TRUE(device_->PutFile(local_.SystemPath("page.html"), kBase, "page.html", false));
    EXPECT_EQ(TypeBefore("STOR page.html"), "TYPE A");
    device_->ListDirectory(kBase, "", false);
    ASSERT_TRUE(device_->PutFile(local_.SystemPath("image.bin"), kBase, "again.bin", true));
    EXPECT_EQ(TypeBefore("STOR again.bin"), "TYPE I");
    // The text upload found text mode in force after its listing.
    EXPECT_EQ(CountCommands("TYPE A"), 2u);
    // Poco sets binary mode at log-in; each binary upload after a listing sets it again.
    EXPECT_EQ(CountCommands("TYPE I"), 3u);
}

}  // namespace
}  // namespace vantrel
