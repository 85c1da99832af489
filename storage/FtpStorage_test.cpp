#include "storage/FtpStorage.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "storage/FtpStorageIndy.h"
#include "sync/QelSyncBaseOutput.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ScriptedFtpServer;

class CountingAlive : public IFtpAliveInterface
{
public:
    void Alive() override { ++calls; }
    std::atomic<int> calls{0};
};

std::mutex statuses_lock;
std::vector<uint32_t> statuses;  // Guarded by statuses_lock.

// Notes each report, then hands it on as the devices' callback does.
void RecordThenReport(platform::InternetHandle handle,
                      uintptr_t context,
                      uint32_t status,
                      const void* information,
                      uint32_t length)
{
    {
        std::lock_guard<std::mutex> lock(statuses_lock);
        statuses.push_back(status);
    }
    ConnectionStatusCallback(handle, context, status, information, length);
}

std::vector<uint32_t> TakeStatuses()
{
    std::lock_guard<std::mutex> lock(statuses_lock);
    return std::exchange(statuses, {});
}

double SecondsSince(steady_clock::time_point start)
{
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

TEST(FtpUnitStateTest, ReportsKickResetAndSignalAliveByStatusAndContext)
{
    enum Effect
    {
        kNothing,
        kKick,
        kReset
    };
    struct Case
    {
        uintptr_t context;
        uint32_t status;
        Effect effect;
        int alive_calls;
    };
    const Case kCases[] = {
        {3, 30, kKick, 0},  {3, 31, kKick, 0},     {3, 40, kKick, 1},    {3, 41, kReset, 1},
        {3, 50, kReset, 0}, {3, 51, kReset, 0},    {3, 70, kReset, 0},   {3, 100, kReset, 0},
        {3, 120, kKick, 0}, {3, 200, kKick, 0},    {3, 10, kNothing, 0}, {0, 41, kReset, 1},
        {1, 30, kKick, 0},  {2, 10, kNothing, 1},  {2, 31, kKick, 1},    {2, 40, kKick, 2},
        {4, 41, kReset, 2}, {4, 999, kNothing, 1},
    };
    FtpUnitState unit(std::chrono::hours(24));
    auto alive = std::make_shared<CountingAlive>();
    unit.DeviceCreated(alive, 20);
    THandleTimeout& watchdog = *unit.Watchdog();
    const platform::InternetHandle handle = platform::InternetOpen("Vantrel", 4, "", "", 0);
    for (const Case& c : kCases) {
        // Counting, one tick in: a kick shows as 20, a reset as 0, nothing as 19.
        watchdog.Watch(handle);
        watchdog.Kick();
        watchdog.Tick();
        alive->calls = 0;
        unit.ReportStatus(c.context, c.status);
        const int32_t expected = c.effect == kKick ? 20 : c.effect == kReset ? 0 : 19;
        EXPECT_EQ(expected, watchdog.Countdown()) << c.context << " " << c.status;
        EXPECT_EQ(c.alive_calls, alive->calls) << c.context << " " << c.status;
    }
    watchdog.Disarm();
    EXPECT_TRUE(unit.DeviceDestroyed());
    platform::InternetCloseHandle(handle);
}

TEST(FtpUnitStateTest, TheFirstDeviceMakesTheWatchdogAndTheLastEndsIt)
{
    FtpUnitState unit(std::chrono::hours(24));
    EXPECT_EQ(nullptr, unit.Watchdog());
    auto first = std::make_shared<CountingAlive>();
    auto second = std::make_shared<CountingAlive>();
    unit.DeviceCreated(first, 30);
    const std::shared_ptr<THandleTimeout> watchdog = unit.Watchdog();
    unit.DeviceCreated(second, 45);
    EXPECT_EQ(watchdog, unit.Watchdog());
    EXPECT_EQ(second, unit.AliveCallback());
    EXPECT_EQ(45, unit.GeneralTimeout());
    EXPECT_EQ(2, unit.DeviceCount());
    EXPECT_FALSE(unit.DeviceDestroyed());
    EXPECT_EQ(watchdog, unit.Watchdog());
    EXPECT_TRUE(unit.DeviceDestroyed());
    EXPECT_EQ(nullptr, unit.Watchdog());
    EXPECT_FALSE(unit.DeviceDestroyed());
    EXPECT_EQ(0, unit.DeviceCount());
}

class TFtpPersistentInformationTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        platform::InternetSetConnectedState(platform::kInternetStateConnected, 0);
    }
};

TEST_F(TFtpPersistentInformationTest, AReopenedSessionKeepsTheStatusCallback)
{
    ScriptedFtpServer server;
    TFtpPersistentInformation info;
    ASSERT_TRUE(info.Session);
    info.SetStatusCallback(RecordThenReport);
    info.CloseSession();
    EXPECT_FALSE(info.Session);
    info.OpenSession();
    ASSERT_TRUE(info.Session);
    TakeStatuses();
    const platform::InternetHandle connection = platform::InternetConnect(
        info.Session, "127.0.0.1", server.Port(), "u", "p", platform::kInternetServiceFtp, 0, 0);
    ASSERT_TRUE(connection);
    EXPECT_FALSE(TakeStatuses().empty());
}

TEST_F(TFtpPersistentInformationTest, DestroyingItClosesTheSession)
{
    const size_t before = platform::OpenInternetHandleCount();
    {
        TFtpPersistentInformation info;
        EXPECT_EQ(before + 1, platform::OpenInternetHandleCount());
    }
    EXPECT_EQ(before, platform::OpenInternetHandleCount());
}

TEST_F(TFtpPersistentInformationTest, HangUpEndsOnlyADialledConnection)
{
    TFtpPersistentInformation info;
    info.DialName = "Work";
    info.HangUp();
    EXPECT_EQ("Work", info.DialName);
    info.DialConnection = 7;
    info.HangUp();
    EXPECT_EQ(0u, info.DialConnection);
    EXPECT_EQ("", info.DialName);
}

TEST_F(TFtpPersistentInformationTest, TheConnectionIsTheLanUnlessOffline)
{
    TFtpPersistentInformation info;
    EXPECT_TRUE(info.IsConnected());
    EXPECT_EQ("LAN", info.ConnectionName());
    EXPECT_EQ(0u, info.ConnectedStateFlags() & platform::kInternetConnectionOffline);
    ASSERT_TRUE(platform::InternetSetConnectedState(platform::kInternetStateDisconnectedByUser,
                                                    platform::kIsoForceDisconnected));
    EXPECT_FALSE(info.IsConnected());
    EXPECT_EQ("", info.ConnectionName());
    EXPECT_NE(0u, info.ConnectedStateFlags() & platform::kInternetConnectionOffline);
}

// The unit's own watchdog, with its one-second tick, closing a transfer that stalls.
class WatchdogStallTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Two seconds: the close comes between one and two ticks after the last progress.
        FtpStorageUnit().DeviceCreated(alive_, 2);
        info_.SetStatusCallback(ConnectionStatusCallback);
        ASSERT_TRUE(platform::InternetSetTimeouts(info_.Session, {5000, 10000}));
    }
    void TearDown() override
    {
        server_.Release();
        EXPECT_TRUE(FtpStorageUnit().DeviceDestroyed());
    }

    platform::InternetHandle Connect()
    {
        return platform::InternetConnect(info_.Session, "127.0.0.1", server_.Port(), "u", "p",
                                         platform::kInternetServiceFtp,
                                         platform::kInternetFlagPassive, 1);
    }

    std::shared_ptr<CountingAlive> alive_ = std::make_shared<CountingAlive>();
    TFtpPersistentInformation info_;
    ScriptedFtpServer server_;
    testing::TestSandbox sandbox_;
};

TEST_F(WatchdogStallTest, AStalledDownloadIsClosedAfterTheGeneralTimeOut)
{
    server_.SetFileContent(std::string(200000, 'd'));
    server_.SetFault("RETR", ScriptedFtpServer::Fault::kStallData);
    const platform::InternetHandle connection = Connect();
    ASSERT_TRUE(connection);
    THandleTimeout& watchdog = *FtpStorageUnit().Watchdog();
    watchdog.Watch(connection);
    const auto start = steady_clock::now();
    EXPECT_FALSE(platform::FtpGetFile(connection, "f", sandbox_.SystemPath("f"), false, 0,
                                      platform::kFtpTransferTypeBinary, 4));
    const uint32_t error = platform::GetLastError();
    watchdog.Disarm();
    EXPECT_TRUE(error == platform::kErrorInternetConnectionAborted ||
                error == platform::kErrorInternetOperationCancelled)
        << error;
    EXPECT_TRUE(watchdog.Fired());
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 4.0);
    EXPECT_GT(alive_->calls, 0);
    EXPECT_FALSE(platform::IsInternetHandleOpen(connection));
}

TEST_F(WatchdogStallTest, AStalledUploadIsClosedAfterTheGeneralTimeOut)
{
    // More than the socket buffers hold, so the upload stalls in the middle.
    sandbox_.WriteFile("big", std::string(32 * 1024 * 1024, 'u'));
    server_.SetFault("STOR", ScriptedFtpServer::Fault::kStallData);
    const platform::InternetHandle connection = Connect();
    ASSERT_TRUE(connection);
    THandleTimeout& watchdog = *FtpStorageUnit().Watchdog();
    watchdog.Watch(connection);
    EXPECT_FALSE(platform::FtpPutFile(connection, sandbox_.SystemPath("big"), "big",
                                      platform::kFtpTransferTypeBinary, 2));
    const uint32_t error = platform::GetLastError();
    watchdog.Disarm();
    EXPECT_EQ(platform::kErrorInternetConnectionAborted, error);
    EXPECT_TRUE(watchdog.Fired());
}

// One upload and one download against pyftpdlib, reported through the devices' callback.
TEST(FtpServerFtpStorageTest, TransfersSignalAliveOnEveryReport)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    testing::TestSandbox local;
    local.WriteFile("page.html", std::string(150 * 1024, 'p'));
    auto alive = std::make_shared<CountingAlive>();
    FtpStorageUnit().DeviceCreated(alive, 20);
    {
        TFtpPersistentInformation info;
        info.SetStatusCallback(RecordThenReport);
        const platform::InternetHandle connection = platform::InternetConnect(
            info.Session, server.Host(), server.Port(), server.User(), server.Password(),
            platform::kInternetServiceFtp, platform::kInternetFlagPassive, 1);
        ASSERT_TRUE(connection);
        THandleTimeout& watchdog = *FtpStorageUnit().Watchdog();
        for (const bool upload : {true, false}) {
            TakeStatuses();
            alive->calls = 0;
            watchdog.Watch(connection);
            ASSERT_TRUE(upload ? platform::FtpPutFile(connection, local.SystemPath("page.html"),
                                                      "site/page.html",
                                                      platform::kFtpTransferTypeBinary, 2)
                               : platform::FtpGetFile(connection, "site/page.html",
                                                      local.SystemPath("back.html"), false, 0,
                                                      platform::kFtpTransferTypeBinary, 4));
            const std::vector<uint32_t> reported = TakeStatuses();
            const auto responses = std::count_if(reported.begin(), reported.end(), [](uint32_t s) {
                return s == platform::kInternetStatusReceivingResponse ||
                       s == platform::kInternetStatusResponseReceived;
            });
            // Every report signals alive, and 40 and 41 once more.
            EXPECT_GT(reported.size(), 10u) << upload;
            EXPECT_EQ(static_cast<int>(reported.size() + responses), alive->calls) << upload;
            EXPECT_EQ(platform::kInternetStatusRequestComplete, reported.back()) << upload;
            // The completed request left the watchdog stopped, not counting.
            EXPECT_EQ(0, watchdog.Countdown()) << upload;
            watchdog.Disarm();
        }
        EXPECT_EQ(std::string(150 * 1024, 'p'), local.ReadFile("back.html"));
    }
    EXPECT_TRUE(FtpStorageUnit().DeviceDestroyed());
}

int CountCommands(const std::vector<std::string>& commands, const std::string& start)
{
    int n = 0;
    for (const std::string& command : commands) {
        n += command.rfind(start, 0) == 0 ? 1 : 0;
    }
    return n;
}

// A UNIX listing line of a file of 5 bytes, in the form without a year.
std::string LineDated(const std::string& name, TDateTime date)
{
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    platform::SystemTime fields;
    platform::DecodeDateTime(date, &fields);
    char line[200];
    std::snprintf(line, sizeof(line), "-rw-r--r-- 1 u g 5 %s %2d %.2d:%.2d %s",
                  kMonths[fields.month - 1], fields.day, fields.hour, fields.minute, name.c_str());
    return line;
}

std::string LineDatedFromNow(const std::string& name, double days)
{
    return LineDated(name, NowDateTime() + days);
}

class FtpStorageDeviceTest : public ::testing::Test
{
protected:
    std::unique_ptr<FtpStorageDevice> Make(int32_t general_timeout = 5,
                                           int32_t connection_timeout = 0,
                                           bool use_drift = false,
                                           uint16_t port = 0)
    {
        return std::make_unique<FtpStorageDevice>(
            &output_, FtpDeviceSettings{.port = port == 0 ? server_.Port() : port,
                                        .general_timeout = general_timeout,
                                        .connection_timeout = connection_timeout,
                                        .dot_file_state = &dots_,
                                        .time_drift = use_drift ? &drift_ : nullptr});
    }
    std::unique_ptr<FtpStorageDevice> Opened(int32_t general_timeout = 5, bool use_drift = false)
    {
        auto device = Make(general_timeout, 0, use_drift);
        EXPECT_TRUE(device->Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << output_.All();
        return device;
    }
    std::string Local(const std::string& name, const std::string& content = "hello")
    {
        sandbox_.WriteFile(name, content);
        return sandbox_.SystemPath(name);
    }

    testing::ScriptedMessageBoxes boxes_;
    ScriptedFtpServer server_;
    testing::TestSandbox sandbox_;
    testing::CollectingOutput output_;
    TDotFileState dots_;
    TDateTime drift_ = 0;
};

TEST_F(FtpStorageDeviceTest, AddressesGiveHostAndBaseFolder)
{
    const struct
    {
        const char* address;
        const char* base;
    } kCases[] = {
        {"ftp://127.0.0.1/a/b", "a\\b"},
        {"FTP:\\\\127.0.0.1\\a\\b", "a\\b"},
        {"ftp:127.0.0.1", ""},
        {"127.0.0.1/x", "x"},
    };
    for (const auto& c : kCases) {
        auto device = Make();
        EXPECT_TRUE(device->Open(c.address, "u", "p", "")) << c.address;
        EXPECT_EQ("127.0.0.1", device->Host()) << c.address;
        EXPECT_EQ(c.base, device->BaseFolder()) << c.address;
    }
    EXPECT_EQ("base\\sub", FtpStorageDevice::RemotePathOf("ftp:\\\\host\\base\\sub"));
    EXPECT_EQ("", FtpStorageDevice::RemotePathOf("ftp:\\\\host"));
    EXPECT_EQ("rel\\x", FtpStorageDevice::RemotePathOf("rel\\x"));
}

TEST_F(FtpStorageDeviceTest, FoldersAreChangedBelowTheLoginFolder)
{
    const struct
    {
        const char* pwd_reply;
        const char* login_root;
        const char* expected_cwd;
    } kCases[] = {
        {"257 \"/\" is the current directory.", "", "CWD /base/sub"},
        {"257 \"/home/u\" is the current directory.", "\\home\\u", "CWD /home/u/base/sub"},
    };
    for (const auto& c : kCases) {
        ScriptedFtpServer server;
        server.SetReply("PWD", c.pwd_reply);
        FtpStorageDevice device(&output_,
                                FtpDeviceSettings{.port = server.Port(), .general_timeout = 5});
        ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << c.pwd_reply;
        EXPECT_EQ(c.login_root, device.LoginRoot()) << c.pwd_reply;
        EXPECT_TRUE(device.ChangeWorkingFolder("ftp:\\\\127.0.0.1\\base\\sub"));
        // The same folder again sends nothing.
        EXPECT_TRUE(device.ChangeWorkingFolder("ftp:\\\\127.0.0.1\\base\\sub"));
        EXPECT_EQ(1, CountCommands(server.Commands(), c.expected_cwd)) << c.pwd_reply;
    }
}

// A log-in refused by the server is not tried in the other mode: that would only send the
// password again.
TEST_F(FtpStorageDeviceTest, ARefusedLoginReportsFourLinesWithoutTryingActive)
{
    server_.SetReply("PASS", "530 Login incorrect.");
    auto device = Make();
    EXPECT_FALSE(device->Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    EXPECT_EQ(platform::kErrorInternetExtendedError, device->GetLastError());
    EXPECT_EQ(0, output_.Count(kMsgInformation, "Trying active rather than passive."));
    EXPECT_EQ(1, output_.Count(kMsgWarning, "530 Login incorrect.")) << output_.All();
    const std::string failure = output_.Find(kMsgError, "Failed to connect to server 127.0.0.1.");
    EXPECT_EQ(
        "Failed to connect to server 127.0.0.1.\r\nError code: 12003\r\nDescription: Internet "
        "extended error: 530 Login incorrect.\r\nLast response: 530 Login incorrect.",
        failure);
    EXPECT_TRUE(device->Passive());
}

// The connection attempt runs on a thread of its own (a connection time-out is set); its error
// still names what went wrong, never "(#0)".
TEST_F(FtpStorageDeviceTest, AConnectionRefusedIsReportedWithItsCode)
{
    auto device = Make(5, 2, false, testing::UnusedLoopbackPort());
    // On a thread of its own, where no earlier reply is the last response.
    std::thread([&] { EXPECT_FALSE(device->Open("ftp:127.0.0.1", "u", "p", "")); }).join();
    const std::string failure = output_.Find(kMsgError, "Failed to connect to server");
    EXPECT_NE(std::string::npos, failure.find("\r\nError code: 12029\r\n")) << output_.All();
    EXPECT_EQ(std::string::npos, failure.find("(#0)")) << output_.All();
}

TEST_F(FtpStorageDeviceTest, ATimedOutConnectIsSilentWithTheQuietFlag)
{
    for (const bool quiet : {true, false}) {
        ScriptedFtpServer server;
        server.HoldGreeting();
        testing::CollectingOutput output;
        FtpStorageDevice device(
            &output,
            FtpDeviceSettings{.port = server.Port(),
                              .general_timeout = 5,
                              .connection_timeout = 1,
                              .flags = quiet ? FtpStorageDevice::kFlagQuietTimeout : uint8_t{0}});
        EXPECT_FALSE(device.Open("ftp:127.0.0.1", "u", "p", ""));
        EXPECT_EQ(platform::kErrorInternetTimeout, device.GetLastError());
        EXPECT_EQ(quiet ? 0 : 1, static_cast<int>(output.lines.size())) << output.All();
        server.Release();
    }
}

TEST_F(FtpStorageDeviceTest, ANonUnixServerTreatsDotFilesNormally)
{
    const struct
    {
        const char* syst;
        uint8_t before;
        uint8_t after;
    } kCases[] = {
        {"215 Windows_NT", 0, 2},
        {"215 Windows_NT", 1, 2},
        {"215 UNIX Type: L8", 1, 1},
        {"215 UNIX Type: L8", 3, 3},
    };
    for (const auto& c : kCases) {
        ScriptedFtpServer server;
        server.SetReply("SYST", c.syst);
        TDotFileState dots;
        dots.Treatment = c.before;
        FtpStorageDevice device(
            &output_, FtpDeviceSettings{
                          .port = server.Port(), .general_timeout = 5, .dot_file_state = &dots});
        ASSERT_TRUE(device.Open("ftp:127.0.0.1", "u", "p", ""));
        EXPECT_EQ(c.after, dots.Treatment) << c.syst << " " << int{c.before};
    }
}

TEST_F(FtpStorageDeviceTest, ErrorTextsNameTheCode)
{
    auto device = Make();
    const struct
    {
        int32_t code;
        std::string text;
    } kCases[] = {
        {12002, "Timed out"},
        {12017, "Operation cancelled"},
        {12163, "Internet disconnected (possibly working offline)"},
        {12005, platform::ErrorMessageText(12005) + " (#12005)"},
        {5, platform::ErrorMessageText(5) + " (#5)"},
    };
    for (const auto& c : kCases) {
        device->StoreLastError(c.code);
        EXPECT_EQ(c.text, device->GetLastErrorText()) << c.code;
    }
}

TEST_F(FtpStorageDeviceTest, ListingsDropPlaceholdersAndReadVms)
{
    const struct
    {
        std::vector<std::string> lines;
        std::vector<std::string> names;
        uint8_t vms_mode;
    } kCases[] = {
        {{"Directory DKA0:[WEB]", "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)",
          "DOCS.DIR;1 1 03-FEB-2004 08:00:00 [WEB] (RWED,RWED,RE,)", "Total of 2 files."},
         {"INDEX.HTML", "DOCS"},
         1},
        // A UNIX folder whose first file merely starts with "Directory" is no VMS listing.
        {{"-rw-r--r-- 1 u g 7 Jan 02 2004 Directory.html", "-rw-r--r-- 1 u g 9 Jan 02 2004 b.html"},
         {"Directory.html", "b.html"},
         0},
    };
    for (const auto& c : kCases) {
        ScriptedFtpServer server;
        server.SetListing(c.lines);
        FtpStorageDevice device(&output_,
                                FtpDeviceSettings{.port = server.Port(), .general_timeout = 5});
        ASSERT_TRUE(device.Open("ftp:127.0.0.1", "u", "p", ""));
        const auto list = device.ListDirectory("ftp:\\\\127.0.0.1", "", false);
        std::vector<std::string> names;
        for (int32_t i = 1; i <= list->Count(); ++i) {
            names.push_back(list->Items(i)->Name);
        }
        EXPECT_EQ(c.names, names) << c.lines[0];
        EXPECT_EQ(c.vms_mode, device.VmsMode()) << c.lines[0];
        if (c.vms_mode == 1) {
            const QelDirectoryEntry& file = *list->Items(1);
            double expected = 0;
            platform::TryEncodeDateTime(2005, 1, 12, 10, 11, 12, 0, &expected);
            EXPECT_DOUBLE_EQ(expected, file.Date);
            EXPECT_EQ(kSizeMissing, file.SizeLow);
            EXPECT_FALSE(file.IsDirectory());
            EXPECT_TRUE(list->Items(2)->IsDirectory());
            EXPECT_FALSE(list->Items(2)->IsReadOnly());
        }
    }
}

TEST_F(FtpStorageDeviceTest, OnlyAGuessedYearIsCorrected)
{
    platform::FindData data;
    platform::SystemTime now;
    platform::GetLocalTime(&now);
    platform::SystemTime year_ago = now;
    year_ago.year = now.year - 1;
    year_ago.day_of_week = 0;
    if (year_ago.month == 2 && year_ago.day == 29) {
        year_ago.day = 28;
    }
    year_ago.milliseconds = 0;
    platform::SystemTimeToFileTime(year_ago, &data.last_write_time);
    const TDateTime listed = FileTimeToDateTime(data.last_write_time);
    data.date_without_year = false;
    EXPECT_DOUBLE_EQ(listed, FtpStorageDevice::ListedFileTimeToDateTime(data));
    data.date_without_year = true;
    const TDateTime moved = FtpStorageDevice::ListedFileTimeToDateTime(data);
    platform::SystemTime fields;
    ASSERT_TRUE(platform::DecodeDateTime(moved, &fields));
    EXPECT_EQ(now.year, fields.year);
    EXPECT_EQ(year_ago.month, fields.month);
    EXPECT_EQ(year_ago.day, fields.day);
}

// A new file refused (nothing to make writable): the failure reports the refusal, not the reply
// to the listing that looked for the file.
TEST_F(FtpStorageDeviceTest, ARefusedUploadIsReportedWithTheRefusal)
{
    server_.SetReply("STOR", "550 Not enough privileges.");
    server_.SetListing({});
    auto device = Opened();
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", true));
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Failed..."));
    EXPECT_EQ("Internet extended error: 550 Not enough privileges.", device->GetLastErrorText());
    EXPECT_EQ(std::string::npos, output_.Find(kMsgError, "Failed to copy file").find("226"))
        << output_.All();
}

TEST_F(FtpStorageDeviceTest, AnUploadRefusedWith553IsCompensatedByChmod)
{
    server_.SetReply("STOR", "553 Could not create file.");
    server_.SetListing({"-r--r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    auto device = Opened();
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", false));
    EXPECT_NE("", output_.Find(kMsgWarning, "Mishap copying file ")) << output_.All();
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Compensating..."));
    const std::vector<std::string> commands = server_.Commands();
    std::vector<std::string> sequence;
    for (const std::string& command : commands) {
        if (command.rfind("STOR", 0) == 0 || command.rfind("SITE", 0) == 0 ||
            command.rfind("TYPE", 0) == 0) {
            sequence.push_back(command);
        }
    }
    ASSERT_LE(4u, sequence.size()) << output_.All();
    EXPECT_EQ("TYPE A", sequence[0]);
    EXPECT_EQ("STOR a.txt", sequence[1]);
    EXPECT_EQ("SITE CHMOD 666 a.txt", sequence[2]);
    EXPECT_EQ("TYPE I", sequence[3]);
    // A compensation never nests.
    EXPECT_EQ(1, CountCommands(commands, "SITE CHMOD"));
}

TEST_F(FtpStorageDeviceTest, RepliesHoldACodeAtTheStartOfALine)
{
    EXPECT_TRUE(FtpStorageDevice::ReplyHasCode("550", "550 No such file."));
    EXPECT_TRUE(FtpStorageDevice::ReplyHasCode("550", "150 Opening\r\n550 Failed."));
    EXPECT_FALSE(FtpStorageDevice::ReplyHasCode("550", "451 Error 550 inside."));
}

TEST_F(FtpStorageDeviceTest, ADroppedUploadRenegotiatesOnceInBinary)
{
    server_.SetFault("STOR", ScriptedFtpServer::Fault::kReply421);
    auto device = Opened();
    // A listing the server answers allows the renegotiation (an open connection does not).
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 x.txt"});
    device->ListDirectory("ftp:\\\\127.0.0.1\\base", "", false);
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", false));
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Renegotiating connection")) << output_.All();
    EXPECT_NE("", output_.Find(kMsgError, "Failed to copy file ")) << output_.All();
    EXPECT_EQ(2, CountCommands(server_.Commands(), "STOR a.txt"));
    EXPECT_EQ(1, CountCommands(server_.Commands(), "TYPE I"));
}

TEST_F(FtpStorageDeviceTest, ARefusedUploadSwitchesTheModeOnlyOnce)
{
    server_.SetReply("STOR", "451 Local error.");
    auto device = Opened();
    // A listing the server answers allows the renegotiation (an open connection does not).
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 x.txt"});
    device->ListDirectory("ftp:\\\\127.0.0.1\\base", "", false);
    EXPECT_TRUE(device->Passive());
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", true));
    EXPECT_FALSE(device->Passive());
    EXPECT_EQ(3, device->RetryState());
    EXPECT_NE("", output_.Find(kMsgError, "Failed to copy file ")) << output_.All();
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", true));
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Renegotiating connection type")) << output_.All();
    EXPECT_EQ(3, CountCommands(server_.Commands(), "STOR a.txt"));
}

TEST_F(FtpStorageDeviceTest, StalledUploadsAreRetriedAtMostThreeTimes)
{
    server_.SetFault("STOR", ScriptedFtpServer::Fault::kStallData);
    auto device = Opened(1);
    // A listing the server answers allows the renegotiation (an open connection does not).
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 x.txt"});
    device->ListDirectory("ftp:\\\\127.0.0.1\\base", "", false);
    const auto start = steady_clock::now();
    EXPECT_FALSE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", true));
    server_.Release();
    EXPECT_LT(SecondsSince(start), 20.0);
    // The first cut renegotiates; the later ones are time-out retries, until three are used up.
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Renegotiating connection")) << output_.All();
    EXPECT_EQ(2, output_.Count(kMsgWarning, "Timedout - Retrying")) << output_.All();
    EXPECT_EQ(1, output_.Count(kMsgError, "Failed to reconnect"));
    EXPECT_EQ(platform::kErrorInternetTimeout, device->GetLastError());
    EXPECT_EQ(4, CountCommands(server_.Commands(), "STOR a.txt"));
}

TEST_F(FtpStorageDeviceTest, StalledListingsAreRetriedAtMostThreeTimes)
{
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 x.txt"});
    auto device = Opened(1);
    device->ListDirectory("ftp:\\\\127.0.0.1\\base", "", false);
    server_.SetFault("LIST", ScriptedFtpServer::Fault::kStallData);
    const auto start = steady_clock::now();
    EXPECT_EQ(0, device->ListDirectory("ftp:\\\\127.0.0.1\\base", "", false)->Count());
    server_.Release();
    EXPECT_LT(SecondsSince(start), 20.0);
    EXPECT_EQ(3, output_.Count(kMsgWarning, "Timedout - retrying")) << output_.All();
    EXPECT_EQ(1, output_.Count(kMsgError, "Failed to reconnect")) << output_.All();
    EXPECT_EQ(platform::kErrorInternetTimeout, device->GetLastError());
    EXPECT_EQ(5, CountCommands(server_.Commands(), "LIST"));
}

// A stop request ends every kind of wait at once, whatever the time-outs, and nothing is tried
// again after it. What failed under the stop is no failure of the server's: nothing is
// complained of.
TEST(FtpStorageDeviceStopTest, AStopEndsEveryWaitWithinTwoSecondsWithoutRetrying)
{
    using Fault = ScriptedFtpServer::Fault;
    enum class Wait
    {
        kConnect,
        kReply,
        kListing,
        kUpload,
    };
    const struct
    {
        const char* label;
        Wait wait;
        const char* verb;
        Fault fault;
    } kCases[] = {
        {"a greeting that never comes", Wait::kConnect, "", Fault::kNone},
        {"a log-in that is never answered", Wait::kConnect, "USER", Fault::kHang},
        {"a reply that never comes", Wait::kReply, "CWD", Fault::kHang},
        {"a stalled listing", Wait::kListing, "LIST", Fault::kStallData},
        {"a stalled upload", Wait::kUpload, "STOR", Fault::kStallData},
    };
    testing::TestSandbox local;
    local.WriteFile("a.txt", "a");
    for (const bool client_library : {false, true}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.label) + (client_library ? ", client library" : ""));
            ScriptedFtpServer server;
            testing::ScriptedMessageBoxes boxes;
            if (*c.verb == '\0') {
                server.HoldGreeting();
            } else {
                server.SetFault(c.verb, c.fault);
            }
            testing::CollectingOutput output;
            std::atomic<bool> stop{false};
            const FtpDeviceSettings settings{.port = server.Port(),
                                             .general_timeout = 60,
                                             .connection_timeout = 60,
                                             .stop = &stop};
            std::unique_ptr<FtpStorageDevice> owned =
                client_library ? std::make_unique<FtpIndyStorageDevice>(&output, settings)
                               : std::make_unique<FtpStorageDevice>(&output, settings);
            FtpStorageDevice& device = *owned;
            if (c.wait != Wait::kConnect) {
                ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", "")) << output.All();
            }
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stop = true;
            });
            const auto start = steady_clock::now();
            switch (c.wait) {
                case Wait::kConnect:
                    EXPECT_FALSE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
                    break;
                case Wait::kReply:
                    // Not virtual: each device's own.
                    EXPECT_FALSE(
                        client_library
                            ? static_cast<FtpIndyStorageDevice&>(device).ChangeWorkingFolder("sub")
                            : device.ChangeWorkingFolder("sub"));
                    break;
                case Wait::kListing:
                    EXPECT_EQ(0, device.ListDirectory("", "", false)->Count());
                    break;
                case Wait::kUpload:
                    EXPECT_FALSE(device.PutFile(local.SystemPath("a.txt"), "", "a.txt", true));
                    break;
            }
            EXPECT_LT(SecondsSince(start), 2.0);
            stopper.join();
            server.Release();
            EXPECT_EQ(0, output.Count(kMsgWarning, "Timedout - Retrying")) << output.All();
            EXPECT_EQ(0, output.Count(kMsgInformation, "Trying active rather than passive."));
            EXPECT_EQ("", output.Find(kMsgWarning, "") + output.Find(kMsgError, ""))
                << output.All();
            EXPECT_TRUE(boxes.Shown().empty());
            const std::string verb = c.wait == Wait::kConnect ? "USER" : c.verb;
            EXPECT_GE(1, CountCommands(server.Commands(), verb));
        }
    }
}

TEST_F(FtpStorageDeviceTest, TheFirstUploadMeasuresTheServerTimeOffset)
{
    const struct
    {
        double hours;
        bool stored;
    } kCases[] = {{2, true}, {30, false}};
    for (const auto& c : kCases) {
        ScriptedFtpServer server;
        server.SetListing({LineDatedFromNow("a.txt", c.hours / 24)});
        testing::CollectingOutput output;
        TDateTime drift = 0;
        FtpStorageDevice device(&output,
                                FtpDeviceSettings{.port = server.Port(),
                                                  .general_timeout = 5,
                                                  .time_drift = &drift,
                                                  .flags = FtpStorageDevice::kFlagVerbose});
        ASSERT_TRUE(device.Open("ftp:127.0.0.1", "u", "p", ""));
        ASSERT_TRUE(device.PutFile(Local("a.txt"), "ftp:127.0.0.1", "a.txt", true));
        EXPECT_NE("", output.Find(kMsgVerbose, "Calculated server time offset ")) << c.hours;
        if (c.stored) {
            EXPECT_NEAR(2.0 / 24, drift, 70.0 / 86400) << c.hours;
        } else {
            EXPECT_EQ(0, drift) << c.hours;
        }
        // A stored offset is settled; one not stored is measured again.
        ASSERT_TRUE(device.PutFile(Local("a.txt"), "ftp:127.0.0.1", "a.txt", true));
        EXPECT_EQ(c.stored ? 1 : 2, CountCommands(server.Commands(), "LIST")) << c.hours;
    }
}

TEST_F(FtpStorageDeviceTest, AnOffsetReadFromAWholeMinuteNeverDatesCopiesLate)
{
    // The server's clock is ours and its listing gives the minute only. Away from the end of a
    // minute, so the listed minute is the one the upload starts in.
    while (std::fmod(NowDateTime() * 24 * 60 * 60, 60.0) > 58) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ScriptedFtpServer server;
    server.SetListing({LineDatedFromNow("a.txt", 0)});
    testing::CollectingOutput output;
    TDateTime drift = 0;
    FtpStorageDevice device(
        &output,
        FtpDeviceSettings{.port = server.Port(), .general_timeout = 5, .time_drift = &drift});
    ASSERT_TRUE(device.Open("ftp:127.0.0.1", "u", "p", ""));
    ASSERT_TRUE(device.PutFile(Local("a.txt"), "ftp:127.0.0.1", "a.txt", true));
    // Read from the start of the minute, the offset would be negative and every copy listed
    // in that minute would seem written after an edit made later in it.
    EXPECT_GE(drift, 0);
    EXPECT_LE(drift, 61.0 / 86400);
    const auto list = device.ListDirectory("ftp:127.0.0.1", "a.txt", false);
    ASSERT_EQ(1, list->Count());
    EXPECT_LE(list->Items(1)->Date, list->Items(1)->Date2);
}

TEST_F(FtpStorageDeviceTest, BothDevicesReadTheOffsetFromTheModificationTimeInTheListingsZone)
{
    // MDTM replies, in FormatDateTime's form, of the server's clock, which stands `ahead` of
    // ours; the listing is in a zone `zone_minutes` east of UTC, to the minute and without the
    // year, which the listing's reader guesses.
    const struct
    {
        const char* mdtm;
        double zone_minutes;
        double ahead_seconds;
        bool to_the_second;
    } kCases[] = {
        {"'213 'yyyymmddhhnnss", 345, 0, true},
        {"'213 'yyyymmddhhnnss'.'zzz", -210, 0, true},
        {"'213 'yyyymmddhhnnss", 0, 2 * 3600 + 10 * 60, true},
        {"'213 'yyyymmddhhnnss'.'zzz", 60, -7 * 60, true},
        {"'550 Not a plain file.'", 120, 0, false},
        {"'213 'yyyymmddhhnn", 120, 0, false},
        {"'213 'yyyymmddhhnnss' and more'", 120, 0, false},
    };
    constexpr double kDay = 86400;
    const double local_zone = static_cast<double>(platform::LocalOffsetSecondsNow());
    for (const auto& c : kCases) {
        for (const bool client_library : {false, true}) {
            SCOPED_TRACE(std::string(c.mdtm) + " " + std::to_string(c.zone_minutes) +
                         (client_library ? " client library" : ""));
            const double utc_now = NowDateTime() - local_zone / kDay;
            double server = utc_now + c.ahead_seconds / kDay;
            // 20 s into the minute: the listing alone would be up to 40 s off.
            server += (20 - std::fmod(server * kDay, 60)) / kDay;
            server_.SetReply("MDTM", platform::FormatDateTime(c.mdtm, server));
            server_.SetListing({LineDated("a.txt", server + c.zone_minutes * 60 / kDay)});
            TDateTime drift = 0;
            std::unique_ptr<FtpStorageDevice> device;
            if (client_library) {
                device = std::make_unique<FtpIndyStorageDevice>(
                    &output_, FtpDeviceSettings{.port = server_.Port(),
                                                .general_timeout = 5,
                                                .connection_timeout = 5,
                                                .time_drift = &drift});
            } else {
                device = std::make_unique<FtpStorageDevice>(
                    &output_,
                    FtpDeviceSettings{
                        .port = server_.Port(), .general_timeout = 5, .time_drift = &drift});
            }
            ASSERT_TRUE(device->Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << output_.All();
            ASSERT_TRUE(device->PutFile(Local("a.txt"), "ftp:\\\\127.0.0.1\\base", "a.txt", true));
            const double expected = (server - utc_now) * kDay + c.zone_minutes * 60 - local_zone;
            // Without the modification time: the end of the listed minute, 40 s after the
            // server's clock.
            EXPECT_NEAR(c.to_the_second ? expected : expected + 40, drift * kDay, 2);
        }
    }
    EXPECT_EQ(0u, boxes_.Shown().size());
    EXPECT_EQ("", output_.Find(kMsgWarning, "")) << output_.All();
    EXPECT_EQ("", output_.Find(kMsgError, "")) << output_.All();
}

TEST_F(FtpStorageDeviceTest, ARefusedChmodMakesPermissionsUnsupported)
{
    server_.SetReply("SITE", "500 SITE CHMOD not understood.");
    auto device = Opened();
    EXPECT_TRUE(device->SupportsPermissions());
    EXPECT_TRUE(device->SetPermissions("ftp:\\\\127.0.0.1\\base", "a.cgi", "755"));
    EXPECT_FALSE(device->SupportsPermissions());
    EXPECT_EQ(1, output_.Count(kMsgWarning, "500 SITE CHMOD not understood."));
    EXPECT_EQ(1, output_.Count(kMsgWarning, "CHMOD not supported by FTP server"));
    EXPECT_TRUE(boxes_.Shown().empty());
}

// proftpd answers a done SITE CHMOD with 200: no warning, and permissions stay supported.
TEST_F(FtpStorageDeviceTest, AnyCompletionOfChmodIsSuccess)
{
    server_.SetReply("SITE", "200 SITE CHMOD command successful");
    auto device = Opened();
    EXPECT_TRUE(device->SetPermissions("ftp:\\\\127.0.0.1\\base", "a.cgi", "755"));
    EXPECT_TRUE(device->SupportsPermissions());
    EXPECT_EQ("", output_.Find(kMsgWarning, "")) << output_.All();
}

TEST_F(FtpStorageDeviceTest, SetReadOnlySendsNothingWhenTheBitIsRight)
{
    server_.SetListing({"-r--r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    auto device = Opened();
    EXPECT_TRUE(device->SetReadOnly("ftp:127.0.0.1\\base", "a.txt", true, false));
    EXPECT_EQ(0, CountCommands(server_.Commands(), "SITE"));
    EXPECT_TRUE(device->SetReadOnly("ftp:127.0.0.1\\base", "a.txt", true, true));
    EXPECT_EQ(1, CountCommands(server_.Commands(), "SITE CHMOD 444 a.txt"));
    EXPECT_FALSE(device->SetReadOnly("ftp:127.0.0.1\\base", "b.txt", true, true));
}

TEST_F(FtpStorageDeviceTest, AFailedDeleteNamesThePath)
{
    server_.SetReply("DELE", "550 No such file.");
    auto device = Opened();
    EXPECT_FALSE(device->DeleteFile("ftp:\\\\127.0.0.1\\base", "a.txt", false));
    EXPECT_TRUE(output_.lines.empty() || output_.Find(kMsgError, "Failed to delete").empty());
    EXPECT_FALSE(device->DeleteFile("ftp:\\\\127.0.0.1\\base", "a.txt", true));
    EXPECT_EQ(1, CountCommands(server_.Commands(), "CWD /base"));
    EXPECT_EQ(
        "Failed to delete file ftp:\\\\127.0.0.1\\base\\a.txt (error 12003). Internet extended "
        "error: 550 No such file.",
        output_.Find(kMsgError, "Failed to delete"));
}

TEST_F(FtpStorageDeviceTest, ListingRetriesKeepTheMask)
{
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    auto device = Opened();
    device->ListDirectory("ftp:127.0.0.1", "", false);
    server_.SetFault("LIST", ScriptedFtpServer::Fault::kReply421);
    EXPECT_EQ(0, device->ListDirectory("ftp:127.0.0.1", "a.txt", false)->Count());
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Renegotiating connection")) << output_.All();
    EXPECT_EQ(1, output_.Count(kMsgWarning, "Renegotiating connection type")) << output_.All();
    std::vector<std::string> lists;
    for (const std::string& command : server_.Commands()) {
        if (command.rfind("LIST", 0) == 0) {
            lists.push_back(command);
        }
    }
    const std::vector<std::string> expected = {"LIST", "LIST a.txt", "LIST a.txt", "LIST a.txt"};
    EXPECT_EQ(expected, lists);
}

TEST_F(FtpStorageDeviceTest, TheFolderAndItsParentFromNlstAreNoEntries)
{
    // The parent, listed by name, would be one entry of its own.
    server_.SetListing(
        {"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt", "drwxr-xr-x 2 u g 4096 Jan 02 2004 .."});
    server_.SetNameList({".", ".."});
    dots_.Treatment = 1;
    auto device = Opened();
    const auto list = device->ListDirectory("ftp:127.0.0.1", "", false);
    int parents = 0;
    for (int32_t i = 1; i <= list->Count(); ++i) {
        parents += list->Items(i)->Name == ".." ? 1 : 0;
    }
    EXPECT_EQ(1, parents);
    EXPECT_EQ(2, list->Count());
    EXPECT_EQ(3, dots_.Treatment);
    EXPECT_EQ(2, dots_.DotFilesFound);
    EXPECT_EQ(1, CountCommands(server_.Commands(), "NLST -a .*"));
}

TEST_F(FtpStorageDeviceTest, QuotaIsNoDotFileOnlyInTheBaseFolderOfAUnixServerWhenAsked)
{
    const struct
    {
        const char* folder;
        bool ask_syst;
        const char* syst;
        bool quota_listed;
    } kCases[] = {
        {"ftp:\\\\127.0.0.1\\base", true, "215 UNIX Type: L8", false},
        {"ftp:\\\\127.0.0.1\\base\\sub", true, "215 UNIX Type: L8", true},
        {"ftp:\\\\127.0.0.1\\base", false, "215 UNIX Type: L8", true},
        {"ftp:\\\\127.0.0.1\\base", true, "215 Windows_NT", true},
    };
    for (const auto& c : kCases) {
        const std::string name =
            std::string(c.folder) + " " + c.syst + " " + (c.ask_syst ? "asked" : "not asked");
        ScriptedFtpServer server;
        server.SetReply("SYST", c.syst);
        server.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
        server.SetNameList({".", "..", ".htaccess", ".quota"});
        server.SetListingFor(".htaccess", {"-rw-r--r-- 1 u g 14 Jan 02 2004 .htaccess"});
        server.SetListingFor(".quota", {"-rw------- 1 u g 20 Jan 02 2004 .quota"});
        TDotFileState dots;
        dots.Treatment = 1;
        FtpStorageDevice device(
            &output_,
            FtpDeviceSettings{.port = server.Port(),
                              .general_timeout = 5,
                              .dot_file_state = &dots,
                              .flags = c.ask_syst ? FtpStorageDevice::kFlagAskSyst : uint8_t{0}});
        ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << name;
        std::vector<std::string> expected = {".", "..", ".htaccess"};
        if (c.quota_listed) {
            expected.push_back(".quota");
        }
        EXPECT_EQ(expected, device.ListDotFiles(c.folder)) << name;
        if (!device.IsUnix()) {
            continue;
        }
        const auto list = device.ListDirectory(c.folder, "", false);
        std::vector<std::string> names;
        for (int32_t i = 1; i <= list->Count(); ++i) {
            names.push_back(list->Items(i)->Name);
        }
        expected = {"a.txt", ".htaccess"};
        if (c.quota_listed) {
            expected.push_back(".quota");
        }
        EXPECT_EQ(expected, names) << name;
        EXPECT_EQ(c.quota_listed ? 1 : 0, CountCommands(server.Commands(), "LIST .quota")) << name;
        EXPECT_EQ(3, dots.Treatment) << name;
    }
}

TEST_F(FtpStorageDeviceTest, TheVerboseLogListsEveryEntryUnderItsFolder)
{
    using Lines = std::vector<std::pair<int, std::string>>;
    const struct
    {
        const char* name;
        bool verbose;
        std::vector<std::string> listing;
        const char* mask;
        uint8_t treatment;
        Lines expected;
    } kCases[] = {
        {"folder",
         true,
         {"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt", "01-12-05  10:11PM                 7 b.txt"},
         "",
         2,
         {{21, "Directory listing for ftp:\\\\127.0.0.1\\base"},
          {21, "2004-01-02 00:00:00 a.txt"},
          {21, "2005-01-12 22:11:00 b.txt"}}},
        {"one name",
         true,
         {"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"},
         "a.txt",
         2,
         {{21, "Directory listing for ftp:\\\\127.0.0.1\\base\\a.txt"},
          {21, "2004-01-02 00:00:00 a.txt"}}},
        {"quiet", false, {"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"}, "", 2, {}},
        // The header line of a VMS listing is dropped, and with it the log's own header.
        {"vms",
         true,
         {"Directory DKA0:[WEB]", "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)",
          "Total of 1 file."},
         "",
         2,
         {{21, "1601-01-01 00:00:00 INDEX.HTML"}}},
        // A hidden dot file fetched by name has a listing of its own.
        {"hidden dot file",
         true,
         {"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"},
         "",
         3,
         {{21, "Directory listing for ftp:\\\\127.0.0.1\\base"},
          {21, "2004-01-02 00:00:00 a.txt"},
          {21, "Directory listing for ftp:\\\\127.0.0.1\\base\\.htaccess"},
          {21, "2003-03-04 00:00:00 .htaccess"}}},
    };
    for (const auto& c : kCases) {
        ScriptedFtpServer server;
        server.SetListing(c.listing);
        server.SetNameList({".htaccess"});
        server.SetListingFor(".htaccess", {"-rw-r--r-- 1 u g 14 Mar 04 2003 .htaccess"});
        TDotFileState dots;
        dots.Treatment = c.treatment;
        testing::CollectingOutput output;
        FtpStorageDevice device(
            &output,
            FtpDeviceSettings{.port = server.Port(),
                              .general_timeout = 5,
                              .dot_file_state = &dots,
                              .flags = c.verbose ? FtpStorageDevice::kFlagVerbose : uint8_t{0}});
        ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << c.name;
        output.Clear();
        device.ListDirectory("ftp:\\\\127.0.0.1\\base", c.mask, false);
        EXPECT_EQ(c.expected, output.Messages()) << c.name;
    }
}

TEST_F(FtpStorageDeviceTest, ARefusedNlstTakesTheDotFilesFromAFullListingOncePerDevice)
{
    server_.SetListing({"-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    server_.SetListingFor(
        "-a",
        {"drwxr-xr-x 2 u g 4096 Jan 02 2004 .", "drwxr-xr-x 2 u g 4096 Jan 02 2004 ..",
         "-rw-r--r-- 1 u g 14 Jan 02 2004 .htaccess", "-rw-r--r-- 1 u g 5 Jan 02 2004 a.txt"});
    server_.SetReply("NLST -a .*", "550 Can't check for file existence");
    for (const bool full_listing_refused : {false, true}) {
        SCOPED_TRACE(full_listing_refused ? "LIST -a refused" : "LIST -a answered");
        if (full_listing_refused) {
            server_.SetReply("LIST -a", "550 Can't check for file existence");
        }
        const size_t before = server_.Commands().size();
        dots_ = TDotFileState{kDotFilesUploaded, 0};
        auto device = Opened();
        for (int listing = 0; listing < 2; ++listing) {
            const auto list = device->ListDirectory("ftp:127.0.0.1", "", false);
            ASSERT_EQ(full_listing_refused ? 1 : 2, list->Count());
            if (!full_listing_refused) {
                EXPECT_EQ(14u, list->Find(".htaccess", true)->SizeLow);
            }
        }
        const std::vector<std::string> all = server_.Commands();
        const std::vector<std::string> commands(all.begin() + static_cast<ptrdiff_t>(before),
                                                all.end());
        EXPECT_EQ(1, CountCommands(commands, "NLST -a .*"));
        EXPECT_EQ(full_listing_refused ? 1 : 2, CountCommands(commands, "LIST -a"));
        EXPECT_EQ(full_listing_refused ? kDotFilesUploaded : kDotFilesHidden, dots_.Treatment);
        EXPECT_EQ(full_listing_refused ? 0 : 2, dots_.DotFilesFound);
    }
    EXPECT_TRUE(boxes_.Shown().empty()) << "a refusal is no reason to stop the run";
}

// The online and dial-up checks before a connection, over a scripted connection of the computer.
class FtpStorageDeviceOnlineTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        platform::InternetSetConnectedState(platform::kInternetStateConnected, 0);
    }

    std::unique_ptr<FtpStorageDevice> Make(uint16_t port = 21, uint8_t flags = 0)
    {
        return std::make_unique<FtpStorageDevice>(
            &output_,
            FtpDeviceSettings{
                .port = port, .general_timeout = 5, .connection_state = &info_, .flags = flags});
    }
    static bool SwitchedOffline()
    {
        TFtpPersistentInformation info;
        return (info.ConnectedStateFlags() & platform::kInternetConnectionOffline) != 0;
    }

    TFtpPersistentInformation info_;
    testing::CollectingOutput output_;
};

constexpr char kModemQuestion[] =
    "You are connected to the internet via \"MyISP\" but the properties of this web site "
    "indicate that it should only be published if there are no active dial-up "
    "connections.\r\n\r\nTo avoid this warning please hang up the modem.\r\n\r\nContinue anyway?";
constexpr char kGoOnlineQuestion[] =
    "You are working offline. In order to publish your site you must switch to working online, "
    "this change will also affect other applications (such as Internet Explorer) that also use "
    "the Windows Internet sub system. Do you want to go online now?";

TEST_F(FtpStorageDeviceOnlineTest, WithoutAnEntryOnlyAModemConnectionIsQuestionedAndOnlyWhenAsked)
{
    enum Connection
    {
        kLan,
        kModem,
        kNone
    };
    const struct
    {
        const char* name;
        Connection connection;
        bool ask_on_modem;
        std::vector<int32_t> answers;
        uint32_t attempt_result;
        bool result;
        bool asked;
        int attempts;
    } kCases[] = {
        {"lan, asked", kLan, true, {}, 0, true, false, 1},
        {"modem, asked, yes", kModem, true, {platform::kIdYes}, 0, true, true, 1},
        {"modem, asked, no", kModem, true, {platform::kIdNo}, 0, false, true, 0},
        {"modem, not asked", kModem, false, {}, 0, true, false, 1},
        {"none, asked", kNone, true, {}, 0, true, false, 1},
        {"none, attempt fails", kNone, false, {}, 668, false, false, 1},
    };
    for (const auto& c : kCases) {
        testing::ScriptedConnectivity connectivity;
        if (c.connection == kModem) {
            connectivity.ConnectModem("MyISP");
        } else if (c.connection == kNone) {
            connectivity.Disconnect();
        }
        connectivity.SetAttemptResult(c.attempt_result);
        testing::ScriptedMessageBoxes boxes(c.answers);
        auto device = Make(21, c.ask_on_modem ? FtpStorageDevice::kFlagAskOnModem : uint8_t{0});
        EXPECT_EQ(c.result, device->CheckInternetConnection("")) << c.name;
        EXPECT_EQ(c.attempts, connectivity.Attempts()) << c.name;
        EXPECT_TRUE(connectivity.Dials().empty()) << c.name;
        EXPECT_EQ(c.attempt_result, device->GetLastError()) << c.name;
        const std::vector<testing::ShownMessageBox> shown = boxes.Shown();
        ASSERT_EQ(c.asked ? 1u : 0u, shown.size()) << c.name;
        if (c.asked) {
            EXPECT_EQ(kModemQuestion, shown[0].text);
            EXPECT_EQ("Confirm?", shown[0].caption);
            EXPECT_EQ(52u, shown[0].type);
        }
        EXPECT_TRUE(output_.lines.empty()) << output_.All();
    }
}

TEST_F(FtpStorageDeviceOnlineTest, AConnectionSwitchedOfflineGoesOnlineOnlyOnYes)
{
    testing::ScriptedConnectivity connectivity;
    for (const int32_t answer : {platform::kIdYes, platform::kIdNo, platform::kIdCancel}) {
        testing::CollectingOutput output;
        FtpStorageDevice device(
            &output,
            FtpDeviceSettings{.port = 21, .general_timeout = 5, .connection_state = &info_});
        device.SetWorkOffline(true);
        ASSERT_TRUE(SwitchedOffline());
        testing::ScriptedMessageBoxes boxes({answer});
        const bool yes = answer == platform::kIdYes;
        const int attempts_before = connectivity.Attempts();
        EXPECT_EQ(yes, device.CheckInternetConnection("")) << answer;
        EXPECT_EQ(!yes, SwitchedOffline()) << answer;
        // Only once online does it go on to bring up the connection.
        EXPECT_EQ(yes ? 1 : 0, connectivity.Attempts() - attempts_before) << answer;
        std::vector<std::pair<int, std::string>> expected = {{21, "Windows Internet Offline"}};
        if (yes) {
            expected.emplace_back(21, "Windows Internet switched online");
        }
        EXPECT_EQ(expected, output.Messages()) << answer;
        const std::vector<testing::ShownMessageBox> shown = boxes.Shown();
        ASSERT_EQ(1u, shown.size()) << answer;
        EXPECT_EQ(kGoOnlineQuestion, shown[0].text);
        EXPECT_EQ("Currently offline - Go online now?", shown[0].caption);
        EXPECT_EQ(35u, shown[0].type);
    }
}

TEST_F(FtpStorageDeviceOnlineTest, ANamedEntryIsDialledAndAnotherConnectionQuestioned)
{
    using Dial = testing::ScriptedConnectivity::DialResult;
    enum Start
    {
        kLan,
        kEntry,
        kNone
    };
    const struct
    {
        const char* name;
        Start start;
        bool offline;
        std::vector<Dial> dials;
        std::vector<int32_t> answers;
        bool result;
        size_t dialled;
        std::vector<uint32_t> box_types;
        uintptr_t connection;
        uint32_t last_error;
    } kCases[] = {
        {"dials the entry", kNone, false, {{0, 77}}, {}, true, 1, {}, 77, 0},
        {"no such entry", kNone, false, {}, {}, false, 1, {}, 0, 623},
        {"the entry is up", kEntry, false, {{0, 0}}, {}, true, 1, {}, 0, 0},
        {"on the lan, yes", kLan, false, {{0, 0}}, {platform::kIdYes}, true, 1, {52}, 0, 0},
        {"on the lan, no", kLan, false, {{0, 0}}, {platform::kIdNo}, false, 1, {52}, 0, 0},
        {"none, dialled again", kNone, false, {{0, 0}, {0, 5}}, {}, true, 2, {}, 5, 0},
        {"none, nothing dialled", kNone, false, {{0, 0}, {0, 0}}, {}, false, 2, {}, 0, 0},
        {"offline, yes", kEntry, true, {{0, 0}, {0, 0}}, {platform::kIdYes}, true, 2, {35}, 0, 0},
        {"offline, no", kEntry, true, {{0, 0}}, {platform::kIdNo}, false, 1, {35}, 0, 0},
    };
    for (const auto& c : kCases) {
        testing::ScriptedConnectivity connectivity;
        if (c.start == kEntry) {
            connectivity.ConnectModem("MyISP");
        } else if (c.start == kNone) {
            connectivity.Disconnect();
        }
        connectivity.ScriptDials(c.dials);
        testing::ScriptedMessageBoxes boxes(c.answers);
        TFtpPersistentInformation info;
        FtpStorageDevice device(
            &output_,
            FtpDeviceSettings{.port = 21, .general_timeout = 5, .connection_state = &info});
        if (c.offline) {
            device.SetWorkOffline(true);
        }
        EXPECT_EQ(c.result, device.CheckInternetConnection("MyISP")) << c.name;
        const std::vector<testing::ScriptedConnectivity::Dialled> dials = connectivity.Dials();
        ASSERT_EQ(c.dialled, dials.size()) << c.name;
        for (const auto& dial : dials) {
            EXPECT_EQ("MyISP", dial.entry_name) << c.name;
            EXPECT_EQ(0x2001u, dial.flags) << c.name;
        }
        EXPECT_EQ(0, connectivity.Attempts()) << c.name;
        EXPECT_EQ(c.connection, info.DialConnection) << c.name;
        EXPECT_EQ("MyISP", info.DialName) << c.name;
        EXPECT_EQ(c.last_error, device.GetLastError()) << c.name;
        std::vector<uint32_t> types;
        for (const auto& box : boxes.Shown()) {
            types.push_back(box.type);
            if (box.type == 52) {
                EXPECT_EQ(
                    "You are connected to the internet via \"LAN\" but the properties of this "
                    "web site indicate that it should only be published on \"MyISP\". Continue "
                    "anyway?",
                    box.text);
                EXPECT_EQ("Confirm?", box.caption);
            }
        }
        EXPECT_EQ(c.box_types, types) << c.name;
        EXPECT_EQ(c.offline && !c.result, SwitchedOffline()) << c.name;
        platform::InternetSetConnectedState(platform::kInternetStateConnected, 0);
    }
}

TEST_F(FtpStorageDeviceOnlineTest, TheDialledConnectionIsKeptForHangingUpWhileItStaysUp)
{
    testing::ScriptedFtpServer server;
    testing::ScriptedConnectivity connectivity;
    connectivity.Disconnect();
    // The second publish finds the entry still up and dials nothing.
    connectivity.ScriptDials({{0, 77}, {0, 0}});
    for (int publish = 0; publish < 2; ++publish) {
        auto device = Make(server.Port());
        ASSERT_TRUE(device->Open("ftp:127.0.0.1", "u", "p", "MyISP")) << output_.All();
        // A reconnection within the run dials nothing.
        ASSERT_TRUE(device->Connect(true, ""));
        EXPECT_EQ(static_cast<size_t>(publish + 1), connectivity.Dials().size());
        EXPECT_EQ(77u, info_.DialConnection) << publish;
    }
    info_.HangUp();
    EXPECT_EQ(std::vector<uintptr_t>{77}, connectivity.HangUps());
    EXPECT_EQ(0u, info_.DialConnection);
    EXPECT_EQ("", info_.DialName);
}

// Switched offline, the process's own connection lets the check pass; the refused connection
// (12163) is what asks to go online.
TEST_F(FtpStorageDeviceOnlineTest, AConnectRefusedAsOfflineAsksToGoOnlineAndTriesAgain)
{
    for (const bool yes : {true, false}) {
        testing::ScriptedFtpServer server;
        testing::CollectingOutput output;
        FtpStorageDevice device(
            &output, FtpDeviceSettings{
                         .port = server.Port(), .general_timeout = 5, .connection_state = &info_});
        device.SetWorkOffline(true);
        testing::ScriptedMessageBoxes boxes({yes ? platform::kIdYes : platform::kIdNo});
        EXPECT_EQ(yes, device.Open("ftp:127.0.0.1", "u", "p", "")) << yes;
        std::vector<std::pair<int, std::string>> expected = {{21, "Windows Internet Offline"}};
        if (yes) {
            expected.emplace_back(21, "Windows Internet switched online");
        } else {
            EXPECT_EQ(platform::kErrorInternetDisconnected, device.GetLastError());
            EXPECT_TRUE(server.Commands().empty());
        }
        EXPECT_EQ(expected, output.Messages()) << yes;
        ASSERT_EQ(1u, boxes.Shown().size()) << yes;
        EXPECT_EQ(kGoOnlineQuestion, boxes.Shown()[0].text);
        EXPECT_EQ(!yes, SwitchedOffline()) << yes;
        platform::InternetSetConnectedState(platform::kInternetStateConnected, 0);
    }
}

TEST(FtpServerFtpStorageDeviceTest, HiddenDotFilesComeThroughNlstOnVsftpd)
{
    std::string why;
    auto server = testing::StartFtpTestServer("vsftpd", &why);
    if (server == nullptr) {
        GTEST_SKIP() << why;
    }
    testing::TestSandbox local;
    local.WriteFile(".htaccess", "deny from all\n");
    testing::CollectingOutput output;
    TDotFileState dots;
    FtpStorageDevice device(&output, FtpDeviceSettings{.port = server->Port(),
                                                       .general_timeout = 5,
                                                       .connection_timeout = 5,
                                                       .dot_file_state = &dots});
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    ASSERT_TRUE(device.Open(site, server->User(), server->Password(), "")) << output.All();
    EXPECT_TRUE(device.IsUnix());
    ASSERT_TRUE(device.PutFile(local.SystemPath(".htaccess"), site, ".htaccess", true));
    EXPECT_EQ(1, dots.Treatment);
    const auto list = device.ListDirectory(site, "", false);
    std::vector<std::string> names;
    for (int32_t i = 1; i <= list->Count(); ++i) {
        names.push_back(list->Items(i)->Name);
    }
    // "." and ".." count as dot files found but are never entries.
    EXPECT_EQ(std::vector<std::string>{".htaccess"}, names) << output.All();
    EXPECT_EQ(14u, list->Items(1)->SizeLow);
    EXPECT_EQ(3, dots.Treatment);
    EXPECT_LE(3, dots.DotFilesFound);
}

TEST(FtpServerFtpStorageDeviceTest, FilesAndFoldersRoundTripOnPyftpdlib)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    testing::TestSandbox local;
    testing::ScopedEnv runtime_folder("XDG_RUNTIME_DIR", local.Path());
    local.WriteFile("up.txt", "line one\nline two\n");
    testing::CollectingOutput output;
    TDotFileState dots;
    FtpStorageDevice device(&output, FtpDeviceSettings{.port = server.Port(),
                                                       .general_timeout = 5,
                                                       .connection_timeout = 5,
                                                       .dot_file_state = &dots});
    const std::string site = "ftp:\\\\127.0.0.1\\site";
    ASSERT_TRUE(device.Open("ftp://127.0.0.1/site", server.User(), server.Password(), ""))
        << output.All();
    ASSERT_TRUE(device.CreateDirectory(site + "\\sub"));
    ASSERT_TRUE(device.PutFile(local.SystemPath("up.txt"), site + "\\sub", "a.txt", true));
    ASSERT_TRUE(device.PutFile(local.SystemPath("up.txt"), site + "\\sub", ".htaccess", true));
    EXPECT_EQ(1, dots.Treatment);
    ASSERT_TRUE(device.RenameFile(site + "\\sub", "a.txt", "b.txt"));
    auto list = device.ListDirectory(site + "\\sub", "", false);
    ASSERT_NE(nullptr, list->Find("b.txt", true)) << output.All();
    EXPECT_EQ(18u, list->Find("b.txt", true)->SizeLow);
    EXPECT_EQ(nullptr, list->Find("a.txt", true));
    const std::string copy = device.GetFile(site + "\\sub", "b.txt");
    ASSERT_NE("", copy);
    std::ifstream in(platform::ToPosixPath(copy), std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_EQ("line one\nline two\n", content) << copy;
    EXPECT_TRUE(device.ReleaseFile(copy));
    EXPECT_TRUE(device.SetPermissions(site + "\\sub", "b.txt", "600"));
    EXPECT_TRUE(device.DeleteFile(site + "\\sub", "b.txt", true));
    EXPECT_TRUE(device.DeleteFile(site + "\\sub", ".htaccess", true));
    EXPECT_TRUE(device.RemoveDirectory(site + "\\sub"));
    EXPECT_FALSE(device.ChangeWorkingFolder(site + "\\sub"));
}

// Each misbehaviour that a real server will not show on demand ends within its bound (general
// and connection time-outs of 1 s) with a failed listing, and nothing the server sends is kept
// without limit. A stall costs a watchdog close and reconnections, each ended by the watchdog.
TEST(FtpStorageDeviceHostileTest, EachListingFailsWithinItsBound)
{
    struct Case
    {
        const char* label;
        const char* verb;
        ScriptedFtpServer::Fault fault;
        std::string reply;
        uint32_t error;
        double seconds;
        // The general time-out; above the watchdog's one-second tick, a stream of bytes keeps
        // it from firing, so only the reply and listing limits end a drip.
        int32_t timeout = 1;
    };
    std::string preliminaries;
    for (int i = 0; i < 40; ++i) {
        preliminaries += "150 Still working.\r\n";
    }
    preliminaries += "250 Okay.";
    const Case cases[] = {
        {"a multi-line reply without end", "CWD", ScriptedFtpServer::Fault::kEndlessReply, "",
         platform::kErrorInternetInvalidServerResponse, 3},
        {"preliminary replies without end", "CWD", ScriptedFtpServer::Fault::kNone, preliminaries,
         platform::kErrorInternetInvalidServerResponse, 1},
        {"a listing without end", "LIST", ScriptedFtpServer::Fault::kEndlessData, "",
         platform::kErrorInternetInvalidServerResponse, 10},
        {"a refused listing", "LIST", ScriptedFtpServer::Fault::kNone, "550 No access.",
         platform::kErrorInternetExtendedError, 2},
        {"a stalled listing", "LIST", ScriptedFtpServer::Fault::kStallData, "",
         platform::kErrorInternetTimeout, 10},
        // Each byte or line comes within the time-out, but the whole never does.
        {"a reply dripped a byte at a time", "CWD", ScriptedFtpServer::Fault::kDripReply, "",
         platform::kErrorInternetTimeout, 15, 2},
        {"a listing dripped a line at a time", "LIST", ScriptedFtpServer::Fault::kDripData, "",
         platform::kErrorInternetTimeout, 15, 2},
    };
    testing::ScriptedMessageBoxes boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScriptedFtpServer server;
        server.SetListing(std::vector<std::string>(2000, "-rw-r--r-- 1 u g 5 Jan 12 2005 a.txt"));
        if (c.fault != ScriptedFtpServer::Fault::kNone) {
            server.SetFault(c.verb, c.fault);
        }
        if (!c.reply.empty()) {
            server.SetReply(c.verb, c.reply);
        }
        testing::CollectingOutput output;
        FtpStorageDevice device(&output, FtpDeviceSettings{.port = server.Port(),
                                                           .general_timeout = c.timeout,
                                                           .connection_timeout = 1});
        ASSERT_TRUE(device.Open("ftp:\\\\127.0.0.1", "u", "p", "")) << output.All();
        const auto start = steady_clock::now();
        EXPECT_EQ(0, device.ListDirectory("sub", "", false)->Count());
        EXPECT_TRUE(device.TakeListingFailure());
        EXPECT_FALSE(device.TakeListingFailure());
        EXPECT_EQ(c.error, device.GetLastError()) << output.All();
        EXPECT_LT(SecondsSince(start), c.seconds);
        server.Release();
    }

    ScriptedFtpServer dripping;
    dripping.DripGreeting();
    testing::CollectingOutput output;
    FtpStorageDevice device(
        &output,
        FtpDeviceSettings{.port = dripping.Port(), .general_timeout = 3, .connection_timeout = 3});
    const auto start = steady_clock::now();
    EXPECT_FALSE(device.Open("ftp:\\\\127.0.0.1", "u", "p", ""));
    EXPECT_LT(SecondsSince(start), 20) << "a greeting dripped a byte at a time";
}

}  // namespace
}  // namespace vantrel
