#include "platform/Inet.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/Sockets.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TestSandbox.h"

namespace vantrel::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::ScriptedFtpServer;

constexpr auto kWait = milliseconds(5000);

struct StatusEvent
{
    uintptr_t context;
    uint32_t status;
};

std::mutex events_lock;
std::vector<StatusEvent> events;

void RecordStatus(InternetHandle, uintptr_t context, uint32_t status, const void*, uint32_t)
{
    std::lock_guard<std::mutex> lock(events_lock);
    events.push_back({context, status});
}

std::vector<uint32_t> TakeStatuses()
{
    std::lock_guard<std::mutex> lock(events_lock);
    std::vector<uint32_t> statuses;
    for (const StatusEvent& e : events) {
        statuses.push_back(e.status);
    }
    events.clear();
    return statuses;
}

double SecondsSince(steady_clock::time_point start)
{
    return std::chrono::duration<double>(steady_clock::now() - start).count();
}

// Against the in-process scripted server: the faults and the forms real servers do not give.
class InetScriptedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        session_ = InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
        ASSERT_TRUE(session_);
        // Nothing may hang a test for long.
        ASSERT_TRUE(InternetSetTimeouts(session_, {5000, 5000}));
        TakeStatuses();
    }

    void TearDown() override
    {
        server_.Release();
        InternetCloseHandle(session_);
        InternetSetConnectedState(kInternetStateConnected, 0);
        EXPECT_EQ(0u, OpenInternetHandleCount());
    }

    InternetHandle Connect(bool passive = true)
    {
        const InternetHandle connection =
            InternetConnect(session_, "127.0.0.1", server_.Port(), "user", "secret",
                            kInternetServiceFtp, passive ? kInternetFlagPassive : 0, 0);
        EXPECT_TRUE(connection) << GetLastError();
        return connection;
    }

    std::vector<FindData> List(InternetHandle connection, const std::string& search = "")
    {
        std::vector<FindData> records;
        FindData data;
        const InternetHandle find = FtpFindFirstFile(connection, search, &data, 0, 3);
        if (!find) {
            return records;
        }
        do {
            records.push_back(data);
        } while (InternetFindNextFile(find, &data));
        EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
        EXPECT_TRUE(InternetCloseHandle(find));
        return records;
    }

    ScriptedFtpServer server_;
    InternetHandle session_;
    testing::TestSandbox sandbox_;
};

TEST_F(InetScriptedTest, ConnectFailuresGiveTheirCodes)
{
    const uint16_t closed = testing::UnusedLoopbackPort();
    struct Case
    {
        const char* what;
        std::string host;
        uint16_t port;
        uint32_t expected;
    };
    const Case kCases[] = {
        {"nothing listens", "127.0.0.1", closed, kErrorInternetCannotConnect},
        {"unknown host", "no-such-host.invalid", 21, kErrorInternetNameNotResolved},
        {"line break in the host", "127.0.0.1\r\nUSER x", 21, kErrorInvalidParameter},
    };
    for (const Case& c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(InternetConnect(session_, c.host, c.port, "u", "p", kInternetServiceFtp,
                                     kInternetFlagPassive, 0))
            << c.what;
        EXPECT_EQ(c.expected, GetLastError()) << c.what;
    }
}

TEST_F(InetScriptedTest, ASilentServerTimesOutAtTheConnectLimit)
{
    server_.HoldGreeting();
    ASSERT_TRUE(InternetSetTimeouts(session_, {1000, 5000}));
    const auto start = steady_clock::now();
    EXPECT_FALSE(InternetConnect(session_, "127.0.0.1", server_.Port(), "u", "p",
                                 kInternetServiceFtp, kInternetFlagPassive, 0));
    EXPECT_EQ(kErrorInternetTimeout, GetLastError());
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 3.0);
}

TEST_F(InetScriptedTest, ClosingTheSessionCancelsAConnectThatWaits)
{
    server_.HoldGreeting();
    auto attempt = std::async(std::launch::async, [&] {
        const InternetHandle h = InternetConnect(session_, "127.0.0.1", server_.Port(), "u", "p",
                                                 kInternetServiceFtp, kInternetFlagPassive, 0);
        return std::make_pair(h, GetLastError());
    });
    ASSERT_TRUE(server_.WaitForSessions(1, kWait));
    const auto start = steady_clock::now();
    ASSERT_TRUE(InternetCloseHandle(session_));
    ASSERT_EQ(std::future_status::ready, attempt.wait_for(kWait));
    const auto [handle, error] = attempt.get();
    EXPECT_FALSE(handle);
    EXPECT_EQ(kErrorInternetOperationCancelled, error);
    EXPECT_LT(SecondsSince(start), 0.5);
}

TEST_F(InetScriptedTest, ServerFaultsDuringACommandGiveTheirCodes)
{
    struct Case
    {
        const char* what;
        ScriptedFtpServer::Fault fault;
        const char* reply;
        uint32_t expected;
        uint32_t then;  // a later call on the same connection
    };
    const Case kCases[] = {
        {"refused", ScriptedFtpServer::Fault::kNone, "550 No such folder.",
         kErrorInternetExtendedError, 0},
        {"service closing", ScriptedFtpServer::Fault::kReply421, "", kErrorFtpDropped,
         kErrorFtpDropped},
        {"control connection ended", ScriptedFtpServer::Fault::kCloseControl, "", kErrorFtpDropped,
         kErrorFtpDropped},
        {"control connection reset", ScriptedFtpServer::Fault::kResetControl, "",
         kErrorInternetConnectionReset, kErrorFtpDropped},
    };
    for (const Case& c : kCases) {
        server_.SetFault("CWD", c.fault);
        server_.SetReply("CWD", c.reply);
        const InternetHandle connection = Connect();
        EXPECT_FALSE(FtpSetCurrentDirectory(connection, "/missing")) << c.what;
        EXPECT_EQ(c.expected, GetLastError()) << c.what;
        if (c.expected == kErrorInternetExtendedError) {
            EXPECT_EQ(c.reply, InternetGetLastResponseInfo());
        }
        std::string folder;
        EXPECT_EQ(c.then == 0, FtpGetCurrentDirectory(connection, &folder)) << c.what;
        EXPECT_EQ(c.then, GetLastError()) << c.what;
        EXPECT_TRUE(InternetCloseHandle(connection));
    }
}

TEST_F(InetScriptedTest, AReplyThatExceedsTheReceiveLimitTimesOut)
{
    ASSERT_TRUE(InternetSetTimeouts(session_, {5000, 1000}));
    server_.SetFault("CWD", ScriptedFtpServer::Fault::kHang);
    const InternetHandle connection = Connect();
    const auto start = steady_clock::now();
    EXPECT_FALSE(FtpSetCurrentDirectory(connection, "/slow"));
    EXPECT_EQ(kErrorInternetTimeout, GetLastError());
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 3.0);
    // The late reply is not taken for the next command's.
    server_.Release();
    std::string folder;
    EXPECT_TRUE(FtpGetCurrentDirectory(connection, &folder)) << GetLastError();
    EXPECT_EQ("/", folder);
}

TEST_F(InetScriptedTest, ClosingAHandleFromAnotherThreadEndsABlockedCallAtOnce)
{
    struct Case
    {
        const char* verb;
        ScriptedFtpServer::Fault fault;
    };
    const Case kCases[] = {
        {"CWD", ScriptedFtpServer::Fault::kHang},
        {"RETR", ScriptedFtpServer::Fault::kStallData},
    };
    server_.SetFileContent(std::string(100000, 'x'));
    for (const Case& c : kCases) {
        server_.SetFault(c.verb, c.fault);
        const InternetHandle connection = Connect();
        auto call = std::async(std::launch::async, [&] {
            const bool ok = std::string(c.verb) == "CWD"
                                ? FtpSetCurrentDirectory(connection, "/x")
                                : FtpGetFile(connection, "f", sandbox_.SystemPath("f"), false, 0,
                                             kFtpTransferTypeBinary, 4);
            return std::make_pair(ok, GetLastError());
        });
        ASSERT_TRUE(server_.WaitForCommand(c.verb, kWait)) << c.verb;
        const auto start = steady_clock::now();
        ASSERT_TRUE(InternetCloseHandle(connection));
        ASSERT_EQ(std::future_status::ready, call.wait_for(kWait)) << c.verb;
        const auto [ok, error] = call.get();
        EXPECT_FALSE(ok) << c.verb;
        EXPECT_EQ(kErrorInternetConnectionAborted, error) << c.verb;
        EXPECT_LT(SecondsSince(start), 0.5) << c.verb;
        // Calls on the closed handle are refused.
        EXPECT_FALSE(FtpSetCurrentDirectory(connection, "/"));
        EXPECT_EQ(kErrorInvalidHandle, GetLastError());
    }
    // The failed download left no file behind, not even its temporary one.
    EXPECT_TRUE(std::filesystem::is_empty(sandbox_.Path()));
}

TEST_F(InetScriptedTest, ADataConnectionResetDuringAnUploadAbortsIt)
{
    sandbox_.WriteFile("big.bin", std::string(16 * 1024 * 1024, 'b'));
    server_.SetFault("STOR", ScriptedFtpServer::Fault::kResetData);
    const InternetHandle connection = Connect();
    EXPECT_FALSE(FtpPutFile(connection, sandbox_.SystemPath("big.bin"), "big.bin",
                            kFtpTransferTypeBinary, 2));
    EXPECT_EQ(kErrorInternetConnectionAborted, GetLastError());
    // The server's own word on the broken transfer is read before the next command.
    std::string folder;
    EXPECT_TRUE(FtpGetCurrentDirectory(connection, &folder)) << GetLastError();
    EXPECT_EQ("/", folder);
}

TEST_F(InetScriptedTest, TextUploadsSendCrLfLineEnds)
{
    // Pieces of 64 KiB: a CR at the end of one and its LF at the start of the next stay one
    // line end.
    std::string text = std::string(64 * 1024 - 1, 'a') + "\r\nb\nc\n\nd";
    sandbox_.WriteFile("page.html", text);
    const InternetHandle connection = Connect();
    ASSERT_TRUE(FtpPutFile(connection, sandbox_.SystemPath("page.html"), "page.html",
                           kFtpTransferTypeAscii, 2));
    EXPECT_EQ(std::string(64 * 1024 - 1, 'a') + "\r\nb\r\nc\r\n\r\nd", server_.Uploaded());
    ASSERT_TRUE(FtpPutFile(connection, sandbox_.SystemPath("page.html"), "page.html",
                           kFtpTransferTypeBinary, 2));
    EXPECT_EQ(text, server_.Uploaded());
    const std::vector<std::string> commands = server_.Commands();
    EXPECT_EQ(1, std::count(commands.begin(), commands.end(), "TYPE A"));
    EXPECT_EQ(1, std::count(commands.begin(), commands.end(), "TYPE I"));
}

TEST_F(InetScriptedTest, TextDownloadsGetLocalLineEnds)
{
    server_.SetFileContent(std::string(64 * 1024 - 1, 'a') + "\r\nb\r\rc\r");
    const InternetHandle connection = Connect();
    ASSERT_TRUE(
        FtpGetFile(connection, "f", sandbox_.SystemPath("f"), false, 0, kFtpTransferTypeAscii, 4));
    EXPECT_EQ(std::string(64 * 1024 - 1, 'a') + "\nb\r\rc\r", sandbox_.ReadFile("f"));
}

TEST_F(InetScriptedTest, OfflineRefusesConnectionsAndCalls)
{
    const InternetHandle connection = Connect();
    ASSERT_TRUE(InternetSetConnectedState(kInternetStateDisconnectedByUser, kIsoForceDisconnected));
    uint32_t flags = 0;
    std::string name = "before";
    EXPECT_FALSE(InternetGetConnectedStateEx(&flags, &name));
    EXPECT_NE(0u, flags & kInternetConnectionOffline);
    EXPECT_EQ("", name);
    EXPECT_FALSE(InternetConnect(session_, "127.0.0.1", server_.Port(), "u", "p",
                                 kInternetServiceFtp, 0, 0));
    EXPECT_EQ(kErrorInternetDisconnected, GetLastError());
    EXPECT_FALSE(FtpSetCurrentDirectory(connection, "/"));
    EXPECT_EQ(kErrorInternetDisconnected, GetLastError());

    ASSERT_TRUE(InternetSetConnectedState(kInternetStateConnected, 0));
    EXPECT_TRUE(InternetGetConnectedStateEx(&flags, &name));
    EXPECT_EQ(kInternetConnectionLan, flags);
    EXPECT_EQ("LAN", name);
    EXPECT_TRUE(FtpSetCurrentDirectory(connection, "/"));
}

TEST_F(InetScriptedTest, SwitchingOfflineTellsEverySession)
{
    ASSERT_TRUE(InternetSetStatusCallback(session_, RecordStatus));
    ASSERT_TRUE(InternetSetConnectedState(kInternetStateDisconnectedByUser, kIsoForceDisconnected));
    ASSERT_TRUE(InternetSetConnectedState(kInternetStateDisconnectedByUser, kIsoForceDisconnected));
    ASSERT_TRUE(InternetSetConnectedState(kInternetStateConnected, 0));
    EXPECT_EQ((std::vector<uint32_t>{kInternetStatusStateChange, kInternetStatusStateChange}),
              TakeStatuses());
}

TEST_F(InetScriptedTest, TextHoldingALineBreakOrNulIsRefusedBeforeAnythingIsSent)
{
    const InternetHandle connection = Connect();
    const size_t sent_before = server_.Commands().size();
    const std::string kBad[] = {"a\r\nDELE b", "a\nb", std::string("a\0b", 3), "\r"};
    sandbox_.WriteFile("local.txt", "x");
    for (const std::string& bad : kBad) {
        InternetHandle data;
        FindData record;
        EXPECT_FALSE(FtpSetCurrentDirectory(connection, bad));
        EXPECT_EQ(kErrorInvalidParameter, GetLastError());
        EXPECT_FALSE(FtpDeleteFile(connection, bad));
        EXPECT_FALSE(FtpRenameFile(connection, "ok", bad));
        EXPECT_FALSE(FtpCreateDirectory(connection, bad));
        EXPECT_FALSE(FtpRemoveDirectory(connection, bad));
        EXPECT_FALSE(FtpPutFile(connection, sandbox_.SystemPath("local.txt"), bad,
                                kFtpTransferTypeBinary, 2));
        EXPECT_FALSE(FtpGetFile(connection, bad, sandbox_.SystemPath("got"), false, 0,
                                kFtpTransferTypeBinary, 4));
        EXPECT_FALSE(FtpFindFirstFile(connection, bad, &record, 0, 3));
        EXPECT_FALSE(FtpCommand(connection, false, kFtpTransferTypeAscii, "NOOP " + bad, 0, &data));
        EXPECT_EQ(kErrorInvalidParameter, GetLastError());
        EXPECT_FALSE(InternetConnect(session_, "127.0.0.1", server_.Port(), bad, "p",
                                     kInternetServiceFtp, 0, 0));
        EXPECT_FALSE(InternetConnect(session_, "127.0.0.1", server_.Port(), "u", bad,
                                     kInternetServiceFtp, 0, 0));
        EXPECT_EQ(kErrorInvalidParameter, GetLastError());
    }
    EXPECT_EQ(sent_before, server_.Commands().size());
}

TEST_F(InetScriptedTest, TheLastResponseHoldsEveryLineOfAMultiLineReply)
{
    server_.SetReply("SYST", "215-UNIX emulated\r\n215-second line\r\n215 UNIX Type: L8");
    const InternetHandle connection = Connect();
    ASSERT_TRUE(FtpCommand(connection, false, kFtpTransferTypeAscii, "SYST", 0, nullptr));
    EXPECT_EQ("215-UNIX emulated\r\n215-second line\r\n215 UNIX Type: L8",
              InternetGetLastResponseInfo());
}

TEST_F(InetScriptedTest, TheLastResponseBelongsToTheCallingThread)
{
    const InternetHandle connection = Connect();
    ASSERT_TRUE(FtpSetCurrentDirectory(connection, "/"));
    EXPECT_EQ("250 Okay.", InternetGetLastResponseInfo());
    std::string seen = "unset";
    std::thread other([&] { seen = InternetGetLastResponseInfo(); });
    other.join();
    EXPECT_EQ("", seen);
}

TEST_F(InetScriptedTest, ListingsOfOddFormsGiveTheirEntries)
{
    server_.SetListing({
        "total 24",
        "drwxr-xr-x   2 web  web      4096 Jan 12 10:11 images",
        "lrwxrwxrwx   1 web  web         9 Jan 12 10:11 current -> releases/",
        "crw-rw-rw-   1 root root    1,   3 Jan 12  2020 null",
        "-rw-r--r--   1 web  web       120 Dec 31  2004 old page.html",
        "-rw-r--r--   1 web  web         7 Jan  1 00:01 ../escape",
        "01-12-05  10:11AM       <DIR>          iis folder",
        "Directory DKA0:[WEB]",
        "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)",
        "Total of 1 file.",
    });
    const InternetHandle connection = Connect();
    std::vector<std::string> names;
    for (const FindData& record : List(connection)) {
        names.push_back(record.file_name);
    }
    EXPECT_EQ(
        (std::vector<std::string>{
            "images", "current", "null", "old page.html", "iis folder", "Directory DKA0:[WEB]",
            "INDEX.HTML;3 5 12-JAN-2005 10:11:12 [WEB] (RWED,RWED,RE,)", "Total of 1 file."}),
        names);
    // The server lists the folder for any name; the entry asked for is picked out.
    const std::vector<FindData> one = List(connection, "old page.html");
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ(120u, one[0].size_low);
    EXPECT_EQ(2u, List(connection, "i*").size());  // "images" and "iis folder"
    const std::vector<std::string>& commands = server_.Commands();
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), "LIST old page.html"));
}

TEST_F(InetScriptedTest, AnEmptyListingHasNoEntries)
{
    const InternetHandle connection = Connect();
    FindData record;
    EXPECT_FALSE(FtpFindFirstFile(connection, "", &record, 0, 3));
    EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
    EXPECT_FALSE(FtpFindFirstFile(connection, "missing.txt", &record, 0, 3));
    EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
}

TEST_F(InetScriptedTest, ActiveModeReceivesTheDataConnection)
{
    server_.SetListing({"-rw-r--r-- 1 u g 3 Jan 12  2024 a.txt"});
    server_.SetFileContent("abc");
    const InternetHandle connection = Connect(false);
    ASSERT_EQ(1u, List(connection).size());
    ASSERT_TRUE(FtpGetFile(connection, "a.txt", sandbox_.SystemPath("a.txt"), false, 0,
                           kFtpTransferTypeBinary, 4))
        << GetLastError();
    EXPECT_EQ("abc", sandbox_.ReadFile("a.txt"));
    const std::vector<std::string> commands = server_.Commands();
    EXPECT_EQ(0, std::count(commands.begin(), commands.end(), "PASV"));
    EXPECT_EQ(2, std::count_if(commands.begin(), commands.end(),
                               [](const std::string& c) { return c.starts_with("PORT "); }));
}

TEST_F(InetScriptedTest, HandlesOfTheWrongKindOrClosedAreRefused)
{
    const InternetHandle connection = Connect();
    EXPECT_FALSE(FtpSetCurrentDirectory(session_, "/"));
    EXPECT_EQ(kErrorInternetIncorrectHandleType, GetLastError());
    EXPECT_TRUE(InternetCloseHandle(connection));
    EXPECT_FALSE(InternetCloseHandle(connection));
    EXPECT_EQ(kErrorInvalidHandle, GetLastError());
    EXPECT_FALSE(InternetCloseHandle(InternetHandle{}));
    EXPECT_TRUE(server_.WaitForSessionsEnded(1, kWait));
    EXPECT_EQ("QUIT", server_.Commands().back());
}

TEST_F(InetScriptedTest, ClosingASessionClosesItsConnectionsAndTheirListings)
{
    server_.SetListing(
        {"-rw-r--r-- 1 u g 3 Jan 12  2024 a.txt", "-rw-r--r-- 1 u g 3 Jan 12  2024 b"});
    const InternetHandle connection = Connect();
    FindData record;
    const InternetHandle find = FtpFindFirstFile(connection, "", &record, 0, 3);
    ASSERT_TRUE(find);
    ASSERT_TRUE(InternetCloseHandle(session_));
    EXPECT_FALSE(IsInternetHandleOpen(connection));
    EXPECT_FALSE(InternetFindNextFile(find, &record));
    EXPECT_EQ(kErrorInvalidHandle, GetLastError());
    session_ = InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
}

TEST(InetTest, DialUpDoesNotExistHere)
{
    uintptr_t connection = 99;
    EXPECT_EQ(kErrorCannotFindPhonebookEntry,
              InternetDial(0, "Work", kInternetDialForcePrompt | kInternetAutodialForceOnline,
                           &connection, 0));
    EXPECT_EQ(0u, connection);
    EXPECT_EQ(kErrorSuccess, InternetAttemptConnect(0));
    EXPECT_EQ(kErrorSuccess, InternetHangUp(0, 0));
    EXPECT_FALSE(InternetOpen("Vantrel", kInternetOpenTypeProxy, "proxy:8080", "", 0));
    EXPECT_EQ(kErrorInvalidParameter, GetLastError());
}

// Against real servers of two families (CTest label ftp).
class FtpServerInetTest : public ::testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        std::string why;
        if (GetParam() == "vsftpd" && !testing::VsftpdServer::Available(&why)) {
            GTEST_SKIP() << why;
        }
        server_ = testing::StartFtpTestServer(GetParam(), &why);
        ASSERT_NE(nullptr, server_) << why;
        session_ = InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
        ASSERT_TRUE(InternetSetTimeouts(session_, {5000, 5000}));
        TakeStatuses();
    }

    void TearDown() override
    {
        if (session_) {
            InternetCloseHandle(session_);
        }
        EXPECT_EQ(0u, OpenInternetHandleCount());
    }

    InternetHandle Connect(bool passive)
    {
        const InternetHandle connection = InternetConnect(
            session_, server_->Host(), server_->Port(), server_->User(), server_->Password(),
            kInternetServiceFtp, passive ? kInternetFlagPassive : 0, passive ? 1 : 0);
        EXPECT_TRUE(connection) << GetLastError() << " " << InternetGetLastResponseInfo();
        if (connection) {
            EXPECT_TRUE(FtpSetCurrentDirectory(connection, server_->SitePath()));
        }
        return connection;
    }

    std::vector<FindData> List(InternetHandle connection, const std::string& search = "")
    {
        std::vector<FindData> records;
        FindData data;
        const InternetHandle find = FtpFindFirstFile(connection, search, &data, 0, 3);
        if (find) {
            do {
                records.push_back(data);
            } while (InternetFindNextFile(find, &data));
            InternetCloseHandle(find);
        }
        return records;
    }

    std::string ReadServerFile(const std::string& name) const
    {
        std::ifstream in(server_->SiteLocalPath(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::unique_ptr<testing::FtpTestServer> server_;
    InternetHandle session_;
    testing::TestSandbox local_;
};

INSTANTIATE_TEST_SUITE_P(Families,
                         FtpServerInetTest,
                         ::testing::Values("pyftpdlib", "vsftpd"),
                         [](const auto& info) { return info.param; });

TEST_P(FtpServerInetTest, FilesAndFoldersRoundTripInBothModes)
{
    std::string bytes;
    for (int i = 0; i < 300000; ++i) {
        bytes += static_cast<char>(i * 7 % 256);
    }
    local_.WriteFile("data.bin", bytes);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        const InternetHandle connection = Connect(passive);
        ASSERT_TRUE(connection);
        ASSERT_TRUE(FtpCreateDirectory(connection, "folder")) << InternetGetLastResponseInfo();
        ASSERT_TRUE(FtpSetCurrentDirectory(connection, "folder"));
        std::string current;
        ASSERT_TRUE(FtpGetCurrentDirectory(connection, &current));
        EXPECT_EQ(server_->SitePath() + "/folder", current);
        ASSERT_TRUE(FtpPutFile(connection, local_.SystemPath("data.bin"), "up load.bin",
                               kFtpTransferTypeBinary, 2))
            << InternetGetLastResponseInfo();
        EXPECT_EQ(bytes, ReadServerFile("folder/up load.bin"));
        ASSERT_TRUE(FtpRenameFile(connection, "up load.bin", "renamed.bin"));
        const std::vector<FindData> listed = List(connection);
        ASSERT_EQ(1u, listed.size());
        EXPECT_EQ("renamed.bin", listed[0].file_name);
        EXPECT_EQ(bytes.size(), listed[0].size_low);
        EXPECT_EQ(0u, listed[0].attributes);
        ASSERT_TRUE(FtpGetFile(connection, "renamed.bin", local_.SystemPath("back.bin"), false, 0,
                               kFtpTransferTypeBinary, 4));
        EXPECT_EQ(bytes, local_.ReadFile("back.bin"));
        EXPECT_FALSE(FtpGetFile(connection, "renamed.bin", local_.SystemPath("back.bin"), true, 0,
                                kFtpTransferTypeBinary, 4));
        EXPECT_EQ(kErrorFileExists, GetLastError());
        ASSERT_TRUE(FtpDeleteFile(connection, "renamed.bin"));
        ASSERT_TRUE(FtpSetCurrentDirectory(connection, ".."));
        ASSERT_TRUE(FtpRemoveDirectory(connection, "folder"));
        EXPECT_TRUE(List(connection).empty());
        EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
        ASSERT_TRUE(InternetCloseHandle(connection));
    }
}

TEST_P(FtpServerInetTest, TextTransfersComeBackWithLocalLineEnds)
{
    local_.WriteFile("page.html", "line one\nline two\r\nlast\n");
    const InternetHandle connection = Connect(true);
    ASSERT_TRUE(FtpPutFile(connection, local_.SystemPath("page.html"), "page.html",
                           kFtpTransferTypeAscii, 2));
    ASSERT_TRUE(FtpGetFile(connection, "page.html", local_.SystemPath("back.html"), false, 0,
                           kFtpTransferTypeAscii, 4));
    EXPECT_EQ("line one\nline two\nlast\n", local_.ReadFile("back.html"));
}

TEST_P(FtpServerInetTest, ListingsReadTheServersOwnLines)
{
    local_.WriteFile("x", "12345");
    const InternetHandle connection = Connect(true);
    ASSERT_TRUE(FtpCreateDirectory(connection, "sub folder"));
    ASSERT_TRUE(FtpCreateDirectory(connection, "empty"));
    for (const char* name : {"a.txt", ".htaccess", "name with  blanks"}) {
        ASSERT_TRUE(
            FtpPutFile(connection, local_.SystemPath("x"), name, kFtpTransferTypeBinary, 2));
    }
    SystemTime now;
    GetLocalTime(&now);
    std::map<std::string, FindData> by_name;
    for (const FindData& record : List(connection)) {
        by_name[record.file_name] = record;
    }
    // vsftpd hides dot files unless told otherwise.
    const bool dot_files_listed = by_name.count(".htaccess") != 0;
    EXPECT_EQ(GetParam() == "pyftpdlib", dot_files_listed);
    for (const char* name : {"a.txt", "name with  blanks"}) {
        ASSERT_EQ(1u, by_name.count(name)) << name;
        EXPECT_EQ(5u, by_name[name].size_low) << name;
        EXPECT_EQ(0u, by_name[name].attributes) << name;
        EXPECT_TRUE(by_name[name].date_without_year) << name;
        SystemTime listed;
        ASSERT_TRUE(FileTimeToSystemTime(by_name[name].last_write_time, &listed));
        EXPECT_EQ(now.year, listed.year) << name;
    }
    EXPECT_EQ(kFileAttributeDirectory, by_name["sub folder"].attributes);
    // A single name: a file, a folder (whose own entry comes, not its content), nothing.
    ASSERT_EQ(1u, List(connection, "a.txt").size());
    const std::vector<FindData> folder = List(connection, "empty");
    ASSERT_EQ(1u, folder.size());
    EXPECT_EQ(kFileAttributeDirectory, folder[0].attributes);
    EXPECT_TRUE(List(connection, "missing.txt").empty());
    EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
    EXPECT_EQ(1u, List(connection, "n?me*").size());
}

TEST_P(FtpServerInetTest, ARawCommandsDataHandleReadsToTheEnd)
{
    local_.WriteFile("x", "1");
    const InternetHandle connection = Connect(true);
    for (const char* name : {"one.txt", "two.txt"}) {
        ASSERT_TRUE(
            FtpPutFile(connection, local_.SystemPath("x"), name, kFtpTransferTypeBinary, 2));
    }
    InternetHandle data;
    ASSERT_TRUE(FtpCommand(connection, true, kFtpTransferTypeAscii, "NLST", 0, &data))
        << InternetGetLastResponseInfo();
    ASSERT_TRUE(data);
    // The connection is busy until the data is read.
    EXPECT_FALSE(FtpSetCurrentDirectory(connection, server_->SitePath()));
    EXPECT_EQ(kErrorFtpTransferInProgress, GetLastError());
    std::string text;
    char buffer[3];
    uint32_t got = 0;
    while (InternetReadFile(data, buffer, sizeof buffer, &got) && got > 0) {
        text.append(buffer, got);
    }
    EXPECT_EQ(kErrorSuccess, GetLastError());
    EXPECT_TRUE(text == "one.txt\r\ntwo.txt\r\n" || text == "two.txt\r\none.txt\r\n") << text;
    EXPECT_TRUE(InternetGetLastResponseInfo().starts_with("226")) << InternetGetLastResponseInfo();
    ASSERT_TRUE(InternetCloseHandle(data));
    EXPECT_TRUE(FtpSetCurrentDirectory(connection, server_->SitePath()));
}

TEST_P(FtpServerInetTest, AnUnreadDataHandleClosedEarlyLeavesTheConnectionUsable)
{
    local_.WriteFile("x", std::string(2 * 1024 * 1024, 'x'));
    const InternetHandle connection = Connect(true);
    ASSERT_TRUE(FtpPutFile(connection, local_.SystemPath("x"), "big", kFtpTransferTypeBinary, 2));
    InternetHandle data;
    ASSERT_TRUE(FtpCommand(connection, true, kFtpTransferTypeBinary, "RETR big", 0, &data));
    char buffer[100];
    uint32_t got = 0;
    ASSERT_TRUE(InternetReadFile(data, buffer, sizeof buffer, &got));
    ASSERT_TRUE(InternetCloseHandle(data));
    std::string current;
    EXPECT_TRUE(FtpGetCurrentDirectory(connection, &current)) << GetLastError();
    EXPECT_EQ(server_->SitePath(), current);
}

TEST_P(FtpServerInetTest, ARefusedCommandGivesTheServersReply)
{
    const InternetHandle connection = Connect(true);
    EXPECT_FALSE(FtpSetCurrentDirectory(connection, "no such folder"));
    EXPECT_EQ(kErrorInternetExtendedError, GetLastError());
    EXPECT_TRUE(InternetGetLastResponseInfo().starts_with("550")) << InternetGetLastResponseInfo();
    EXPECT_FALSE(FtpDeleteFile(connection, "missing.txt"));
    EXPECT_EQ(kErrorInternetExtendedError, GetLastError());
}

TEST(FtpServerPyftpdlibTest, ARefusedLogInGivesTheServersReplyAndNeverThePassword)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const InternetHandle session =
        InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
    const std::string wrong = "Wr0ng-Pa55word";
    EXPECT_FALSE(InternetConnect(session, server.Host(), server.Port(), server.User(), wrong,
                                 kInternetServiceFtp, kInternetFlagPassive, 1));
    EXPECT_EQ(kErrorInternetExtendedError, GetLastError());
    const std::string response = InternetGetLastResponseInfo();
    EXPECT_TRUE(response.starts_with("530")) << response;
    EXPECT_EQ(std::string::npos, response.find(wrong));
    EXPECT_EQ(std::string::npos, ErrorMessageText(GetLastError()).find(wrong));
    InternetCloseHandle(session);
}

TEST(FtpServerPyftpdlibTest, IPv6UsesExtendedPassiveAndActiveCommands)
{
    testing::PyftpdlibServer server("::1");
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    testing::TestSandbox local;
    local.WriteFile("x", "six");
    const InternetHandle session =
        InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
    for (const bool passive : {true, false}) {
        const InternetHandle connection =
            InternetConnect(session, "::1", server.Port(), server.User(), server.Password(),
                            kInternetServiceFtp, passive ? kInternetFlagPassive : 0, 0);
        ASSERT_TRUE(connection) << GetLastError();
        ASSERT_TRUE(
            FtpPutFile(connection, local.SystemPath("x"), "site/v6.txt", kFtpTransferTypeBinary, 2))
            << InternetGetLastResponseInfo();
        InternetCloseHandle(connection);
    }
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(1, std::count(commands.begin(), commands.end(), "EPSV "));
    EXPECT_EQ(1, std::count_if(commands.begin(), commands.end(),
                               [](const std::string& c) { return c.starts_with("EPRT |2|::1|"); }));
    EXPECT_EQ(0, std::count_if(commands.begin(), commands.end(), [](const std::string& c) {
                  return c.starts_with("PASV") || c.starts_with("PORT");
              }));
    std::ifstream stored(server.SiteLocalPath("v6.txt"));
    std::string content;
    std::getline(stored, content);
    EXPECT_EQ("six", content);
    InternetCloseHandle(session);
}

TEST(FtpServerPyftpdlibTest, AnUploadReportsEachProtocolMoment)
{
    testing::PyftpdlibServer server;
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    testing::TestSandbox local;
    local.WriteFile("x", std::string(200 * 1024, 'u'));  // four pieces of 64 KiB
    const InternetHandle session =
        InternetOpen("Vantrel", kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
    ASSERT_TRUE(InternetSetStatusCallback(session, RecordStatus));
    const InternetHandle connection =
        InternetConnect(session, server.Host(), server.Port(), server.User(), server.Password(),
                        kInternetServiceFtp, kInternetFlagPassive, 1);
    ASSERT_TRUE(connection);
    TakeStatuses();
    ASSERT_TRUE(FtpPutFile(connection, local.SystemPath("x"), "site/x", kFtpTransferTypeBinary, 2));
    {
        std::lock_guard<std::mutex> lock(events_lock);
        for (const StatusEvent& e : events) {
            EXPECT_EQ(2u, e.context) << e.status;
        }
    }
    const std::vector<uint32_t> expected = {
        30,  31, 40, 41,   // TYPE I
        30,  31, 40, 41,   // PASV
        30,  31, 40, 120,  // STOR, 150
        31,  31, 31, 31,   // the data
        40,  41,           // 226
        100,
    };
    EXPECT_EQ(expected, TakeStatuses());
    ASSERT_TRUE(InternetCloseHandle(connection));
    EXPECT_EQ((std::vector<uint32_t>{50, 51, 70}), TakeStatuses());
    InternetCloseHandle(session);
}

}  // namespace
}  // namespace vantrel::platform
