#include "storage/SimplePortIO.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace vantrel {
namespace {

// The server end of a raw dialogue, in plain sockets so that the test can tell when what it
// sent has reached the client (the peer acknowledged every byte).
class LineServer
{
public:
    LineServer()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LineServer()
    {
        for (int fd : {peer_, listener_}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    uint16_t Port() const { return port_; }

    bool Accept()
    {
        pollfd p = {listener_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) {
            return false;
        }
        peer_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return peer_ >= 0;
    }

    // Sends and waits (at most 5 s) until the client's side holds all of it.
    bool SendDelivered(const std::string& text)
    {
        if (send(peer_, text.data(), text.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(text.size())) {
            return false;
        }
        for (int i = 0; i < 5000; ++i) {
            int unacknowledged = 0;
            if (ioctl(peer_, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // Sends the text again and again until the client stops taking it or `stop` is set.
    void SendEndlessly(const std::string& text, const std::atomic<bool>& stop)
    {
        while (!stop) {
            pollfd p = {peer_, POLLOUT, 0};
            if (poll(&p, 1, 100) == 1 &&
                send(peer_, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                errno != EAGAIN) {
                return;
            }
        }
    }

    std::string Receive()
    {
        char buffer[256];
        pollfd p = {peer_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) {
            return "";
        }
        const ssize_t got = recv(peer_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
    }

private:
    int listener_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
};

class TSimplePortIOTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(port_.Open("127.0.0.1", server_.Port())) << port_.ErrorMessage();
        ASSERT_TRUE(server_.Accept());
        // Sleeps are noted, not slept: the polls are counted, not timed.
        port_.SetSleeper([this](int32_t ms) {
            sleeps_.push_back(ms);
            if (on_sleep_) {
                on_sleep_(static_cast<int>(sleeps_.size()));
            }
        });
    }

    std::string Read(int32_t total, int32_t poll)
    {
        std::string reply = "stale";
        port_.ReadReply(total, poll, &reply);
        return reply;
    }

    LineServer server_;
    TSimplePortIO port_;
    std::vector<int32_t> sleeps_;
    std::function<void(int)> on_sleep_;
};

TEST_F(TSimplePortIOTest, WithoutDataItPollsFiftyTimesTenMillisecondsApart)
{
    EXPECT_EQ("", Read(500, 100));
    // Fifty polls, with a wait of 10 ms between each two.
    EXPECT_EQ(std::vector<int32_t>(49, 10), sleeps_);
}

TEST_F(TSimplePortIOTest, AGreetingEndsTheCallFivePollIntervalsLater)
{
    // It arrives during the third wait, 30 ms in.
    on_sleep_ = [this](int call) {
        if (call == 3) {
            ASSERT_TRUE(server_.SendDelivered("220 ready\r\n"));
        }
    };
    EXPECT_EQ("220 ready\r\n", Read(500, 100));
    EXPECT_EQ((std::vector<int32_t>{10, 10, 10, 100, 100, 100, 100, 100}), sleeps_);
}

TEST_F(TSimplePortIOTest, WithALongPollOneEmptyPollAfterTheDataEndsTheCall)
{
    EXPECT_EQ("", Read(500, 500));
    EXPECT_EQ(std::vector<int32_t>(9, 50), sleeps_);
    sleeps_.clear();
    ASSERT_TRUE(server_.SendDelivered("331 password\r\n"));
    EXPECT_EQ("331 password\r\n", Read(500, 500));
    EXPECT_EQ(std::vector<int32_t>{500}, sleeps_);
}

TEST_F(TSimplePortIOTest, APollIntervalBelowFiftyWaitsFiveMilliseconds)
{
    EXPECT_EQ("", Read(20, 30));
    EXPECT_EQ(std::vector<int32_t>(3, 5), sleeps_);
}

TEST_F(TSimplePortIOTest, NoTotalWaitReadsNothingAndLeavesTheTextForTheNextCall)
{
    ASSERT_TRUE(server_.SendDelivered("early"));
    EXPECT_EQ("", Read(0, 100));
    EXPECT_EQ("", Read(-5, 100));
    EXPECT_TRUE(sleeps_.empty());
    EXPECT_EQ("early", Read(100, 100));
}

TEST_F(TSimplePortIOTest, AServerThatKeepsSendingKeepsTheCallGoing)
{
    on_sleep_ = [this](int call) {
        if (call <= 12) {
            ASSERT_TRUE(server_.SendDelivered(std::to_string(call) + ";"));
        }
    };
    // Each piece comes within the 30 ms of silence the call allows.
    EXPECT_EQ("1;2;3;4;5;6;7;8;9;10;11;12;", Read(30, 20));
    EXPECT_EQ(14u, sleeps_.size());
}

TEST_F(TSimplePortIOTest, AReplyThatNeverEndsIsCutAtItsBound)
{
    std::atomic<bool> stop{false};
    std::thread sender([&] { server_.SendEndlessly(std::string(4096, 'x'), stop); });
    port_.SetSleeper(
        [](int32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    std::string reply;
    EXPECT_FALSE(port_.ReadReply(500, 100, &reply));
    stop = true;
    sender.join();
    EXPECT_EQ(TSimplePortIO::kReplyBytesAtMost, reply.size());
    EXPECT_NE(std::string::npos, port_.ErrorMessage().find("65536")) << port_.ErrorMessage();
}

TEST_F(TSimplePortIOTest, SentTextReachesTheServer)
{
    ASSERT_TRUE(port_.SendText("user tester\r\n"));
    EXPECT_EQ("user tester\r\n", server_.Receive());
    EXPECT_TRUE(port_.Connected());
    EXPECT_EQ(2, port_.State());
    EXPECT_EQ("Socket Write " + std::to_string(server_.Port()), port_.Trace());
    port_.Close();
    EXPECT_FALSE(port_.SendText("quit\r\n"));
}

TEST(TSimplePortIOTimingTest, WithoutDataTheCallLastsTheTotalWait)
{
    LineServer server;
    TSimplePortIO port;
    ASSERT_TRUE(port.Open("127.0.0.1", server.Port()));
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    port.ReadReply(500, 100, &reply);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ("", reply);
    EXPECT_GE(seconds, 0.48);
    EXPECT_LT(seconds, 1.0);
}

TEST(TSimplePortIOFailureTest, FailuresGiveTheWindowsSocketsCodeInTheirMessage)
{
    int closed_port = 0;
    {
        LineServer gone;
        closed_port = gone.Port();
    }
    struct Case
    {
        const char* host;
        int port;
        int32_t code;
    };
    const Case kCases[] = {
        {"127.0.0.1", closed_port, 10061},
        {"no-such-host.invalid", 21, 11001},
    };
    for (const Case& c : kCases) {
        TSimplePortIO port;
        EXPECT_FALSE(port.Open(c.host, static_cast<uint16_t>(c.port))) << c.host;
        EXPECT_EQ(c.code, port.LastSocketError()) << c.host;
        EXPECT_NE(std::string::npos, port.ErrorMessage().find(std::to_string(c.code)))
            << port.ErrorMessage();
        EXPECT_EQ(3, port.State()) << c.host;
        EXPECT_FALSE(port.Connected()) << c.host;
    }
}

}  // namespace
}  // namespace vantrel
