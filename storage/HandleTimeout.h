#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/Inet.h"

// The connection watchdog (THandleTimeout): a thread of lower priority that ticks once a second
// and closes a watched connection handle that has shown no progress for the general time-out,
// so that a stalled transfer ends instead of hanging the run.
namespace vantrel {

// One per FTP device unit, shared by the unit's devices (storage/FtpStorage.h). The devices call
// Watch and Disarm around each call to the server and read Fired afterwards on the publisher
// thread (the thread that opens a device, while it opens); the status callback calls Kick and Reset
// on the thread of the call; the watchdog's own thread counts down and fires. The countdown, the
// fired flag and the firing are guarded by the lock; the handles and the armed flag are single
// words written without it.
//
// The client-library device's unit does not watch a handle of its own: its status callback hands
// the watchdog the handle that reports a request (WatchHandle), and a finished request forgets
// it again (`reset_forgets_handle`).
class THandleTimeout
{
public:
    // Starts the thread; `tick` is one second but for tests that drive Tick themselves.
    explicit THandleTimeout(std::chrono::milliseconds tick = std::chrono::seconds(1),
                            bool reset_forgets_handle = false);
    // Tells the thread to end and waits for it.
    ~THandleTimeout();
    THandleTimeout(const THandleTimeout&) = delete;
    THandleTimeout& operator=(const THandleTimeout&) = delete;

    // Reset, then watch this handle, armed. The countdown starts with the first Kick.
    void Watch(platform::InternetHandle handle);
    // Reset, then armed, with no handle until the status callback names one.
    void Watch();
    // Under the lock: the countdown := count, fired cleared, this handle watched; armed as it is.
    void WatchHandle(platform::InternetHandle handle, int32_t count);
    // Firing closes nothing from now on; the countdown may go on.
    void Disarm();
    // When a handle is watched: the countdown restarts at the general time-out.
    void Kick();
    // Countdown stopped, fired cleared, no data handle (and no handle, when made so).
    void Reset();
    // A raw command's data handle, closed together with the watched one; set it after Watch,
    // which clears it.
    void SetDataHandle(platform::InternetHandle handle);
    // True once the watchdog closed a handle, until the next Watch, Kick or Reset.
    bool Fired() const;
    // The general time-out in seconds that Kick starts the countdown with.
    void SetGeneralTimeout(int32_t seconds);
    int32_t Countdown() const;
    bool Armed() const;
    platform::InternetHandle WatchedHandle() const;

    // One tick: the countdown goes down by one, and when it reaches 0 the watchdog fires.
    void Tick();

private:
    class Core;

    // The thread shares the core, so a watchdog whose last user lets go of it on the watchdog's
    // own thread (a status callback while firing) lets the thread end on its own.
    std::shared_ptr<Core> core_;
    std::thread thread_;
};

}  // namespace vantrel
