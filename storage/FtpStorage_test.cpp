#include "storage/FtpStorage.h"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ScriptedFtpServer;

constexpr auto kWait = milliseconds(5000);

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

}  // namespace
}  // namespace vantrel
