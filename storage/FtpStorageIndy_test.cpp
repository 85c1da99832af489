#include "storage/FtpStorageIndy.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <gtest/gtest.h>

#include "foundation/QelStringFunctions.h"
#include "platform/Files.h"
#include "platform/Inet.h"
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

// The connection of the client-library device: statuses, the fall-back to TLS, time-outs and the
// server type. Every device writes to a recording sink, so the tests read what it wrote by type.
class FtpIndyConnectTest : public ::testing::Test
{
protected:
    std::unique_ptr<FtpIndyStorageDevice> Device(uint16_t port,
                                                 TDotFileState* dots = nullptr,
                                                 int32_t connection_timeout = 5)
    {
        return std::make_unique<FtpIndyStorageDevice>(sink_.get(), port, nullptr, 0, dots, 5,
                                                      connection_timeout, nullptr, nullptr, false);
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
        auto device = Device(server.Port(), &dots);
        if (c.ask_syst) {
            device->SetFlags(FtpStorageDevice::kFlagAskSyst);
        }
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
    auto first = std::make_unique<FtpIndyStorageDevice>(&output, nothing_listens, &state, 0,
                                                        nullptr, 30, 5, nullptr, nullptr, false);
    const std::shared_ptr<THandleTimeout> watchdog = FtpIndyStorageUnit().Watchdog();
    ASSERT_NE(watchdog, nullptr);
    auto second = std::make_unique<FtpIndyStorageDevice>(&output, 0, &state, 0, nullptr, 45, 5,
                                                         nullptr, nullptr, false);
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

}  // namespace
}  // namespace vantrel
