#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Inet.h"

// Connecting with a time-out of our own (InternetConnectWithTimeout): the attempt runs on a
// thread of its own (InternetConnectThread), which the caller abandons when the time is up.
namespace vantrel {

// The arguments of one InternetConnect call.
struct InternetConnectArguments
{
    platform::InternetHandle session;
    std::string server;
    uint16_t port = 0;
    std::string user_name;
    std::string password;
    uint32_t service = platform::kInternetServiceFtp;
    uint32_t flags = 0;
    uintptr_t context = 0;
};

// One connection attempt on a thread of its own. The caller either takes the handle (after the
// attempt ended) or abandons the attempt, which then closes its late handle itself and ends on
// its own; its lock makes sure a handle goes one way or the other, never both. Once abandoned,
// the attempt makes no status callbacks that reach the system (see ConnectCallbackGate).
class InternetConnectThread
{
public:
    static std::shared_ptr<InternetConnectThread> Start(InternetConnectArguments arguments);
    ~InternetConnectThread();
    InternetConnectThread(const InternetConnectThread&) = delete;
    InternetConnectThread& operator=(const InternetConnectThread&) = delete;

    // True when the attempt ended within the time.
    bool WaitFor(std::chrono::milliseconds limit);
    // True (and the attempt is left to end on its own) when it has not ended yet; false when it
    // has, and the handle is the caller's to take.
    bool Abandon();
    // The handle, or none when abandoned. Waits for the thread to end first. Without a handle,
    // the attempt's last error and last response become the calling thread's, so that a refusal
    // is reported with its reason.
    platform::InternetHandle GetHandle();

    // For an orderly end of the program and for the tests: waits until every attempt has ended
    // and is freed, the abandoned ones included; false when some still run after the limit.
    static bool WaitUntilNoneRuns(std::chrono::milliseconds limit);

private:
    friend class ConnectCallbackGate;

    explicit InternetConnectThread(InternetConnectArguments arguments);
    void Run();

    const InternetConnectArguments arguments_;
    std::thread thread_;  // joined by GetHandle, or let go by Abandon
    std::mutex lock_;
    std::condition_variable ended_changed_;
    // Guarded by lock_.
    bool ended_ = false;
    bool abandoned_ = false;
    platform::InternetHandle handle_;
    uint32_t error_ = 0;
    std::string response_;
};

// Held by an internet status callback for its whole run. It is shut on the thread of an
// abandoned attempt, and the callback then does nothing: no one waits for that attempt any
// more, and its alive messages and watchdog kicks would land in a later connection's state.
// Abandon waits for a callback that holds the gate open. On any other thread it is open.
class ConnectCallbackGate
{
public:
    ConnectCallbackGate();
    ConnectCallbackGate(const ConnectCallbackGate&) = delete;
    ConnectCallbackGate& operator=(const ConnectCallbackGate&) = delete;

    bool IsOpen() const { return open_; }

private:
    std::unique_lock<std::mutex> lock_;
    bool open_ = true;
};

// InternetConnect with a time-out in seconds. 0 without a stop request calls InternetConnect
// directly, on the calling thread and within the session's own connect limit (platform/Inet.h:
// 60 s unless set). Else the attempt runs on its own thread; when it does not end within the
// time-out the call returns none with last error 12002, and when the stop request is set first,
// within a tenth of a second, none with 12017; either way the attempt closes its handle when it
// comes. An attempt that fails gives the calling thread its last error and last response.
platform::InternetHandle InternetConnectWithTimeout(platform::InternetHandle session,
                                                    const std::string& server,
                                                    uint16_t port,
                                                    const std::string& user_name,
                                                    const std::string& password,
                                                    uint32_t service,
                                                    uint32_t flags,
                                                    uintptr_t context,
                                                    uint32_t timeout_seconds,
                                                    const std::atomic<bool>* stop = nullptr);

}  // namespace vantrel
