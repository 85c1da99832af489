#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Inet.h"
#include "storage/HandleTimeout.h"

// What the FTP devices over the internet library share: the connection state
// (TFtpPersistentInformation), the alive callback interface (IFtpAliveInterface), the state of
// the device unit (FtpUnitState: its watchdog, alive callback and general time-out) and the
// internet status callback (ConnectionStatusCallback) that turns the library's progress reports
// into watchdog kicks and alive signals.
namespace vantrel {

// Told while a connection shows activity. The main window's implementation puts an alive message
// into the message queue. Called on the thread of the FTP call (the publisher thread, or the main
// thread while a device opens).
class IFtpAliveInterface
{
public:
    virtual ~IFtpAliveInterface() = default;
    virtual void Alive() = 0;
};

// The connection state: the internet session every FTP connection is opened on, a buffer for the
// library's answers, and the dial-up connection the program dialled. The main window makes one
// for all publishing; a device given none makes its own. Used by one thread at a time (the main
// thread at start and between runs, the publisher thread during a run); no lock.
class TFtpPersistentInformation
{
public:
    // Opens the session.
    TFtpPersistentInformation();
    // Closes the session; does not hang up.
    ~TFtpPersistentInformation();
    TFtpPersistentInformation(const TFtpPersistentInformation&) = delete;
    TFtpPersistentInformation& operator=(const TFtpPersistentInformation&) = delete;

    // When there is no session, opens one; a failure leaves Session empty. The status callback
    // last set is registered on the new session, so that a reopened session still feeds the
    // watchdog.
    void OpenSession();
    void CloseSession();
    // Ends the dial-up connection the program dialled, if any.
    void HangUp();
    // The name of the connection in use, empty when there is none.
    std::string ConnectionName();
    // The connected-state flags (platform/Inet.h: 0x1 modem, 0x20 offline).
    uint32_t ConnectedStateFlags();
    bool IsConnected();
    // Registers the status callback on the session, now and on every session opened later.
    void SetStatusCallback(platform::InternetStatusCallback callback);

    platform::InternetHandle Session;
    std::string Buffer;
    const int32_t BufferSize = 32000;
    uintptr_t DialConnection = 0;
    std::string DialName;

private:
    platform::InternetStatusCallback status_callback_ = nullptr;
};

// The state shared by every FTP device of one unit: one watchdog for all of them, made by the
// first device and ended with the last, and the alive callback and general time-out of the
// device made last. Devices are made and freed on the main thread (freed on the publisher thread
// at the end of a run); the status callback reads the state on the thread of each FTP call.
class FtpUnitState
{
public:
    // `watchdog_tick` is one second but for tests that tick the watchdog themselves.
    explicit FtpUnitState(std::chrono::milliseconds watchdog_tick = std::chrono::seconds(1));

    // A device is made: the first makes the watchdog; the callback and the time-out become the
    // unit's.
    void DeviceCreated(std::shared_ptr<IFtpAliveInterface> alive, int32_t general_timeout);
    // A device is freed; the last one ends the watchdog and the unit forgets it (true then).
    bool DeviceDestroyed();

    std::shared_ptr<THandleTimeout> Watchdog() const;
    std::shared_ptr<IFtpAliveInterface> AliveCallback() const;
    int32_t GeneralTimeout() const;
    int32_t DeviceCount() const;

    // What an internet status report does to the unit: uploads and downloads (contexts 2 and 4)
    // signal alive on every report; the reports of a request (30, 31, 120, 200) and of its
    // response arriving (40) restart the watchdog's countdown, a complete response (41), a
    // completed request (100) or a closing (50, 51, 70) stop it; 40 and 41 also signal alive.
    // Does nothing on an abandoned connect thread.
    void ReportStatus(uintptr_t context, uint32_t status) const;

private:
    const std::chrono::milliseconds watchdog_tick_;
    mutable std::mutex lock_;
    // Guarded by lock_.
    std::shared_ptr<THandleTimeout> watchdog_;
    std::shared_ptr<IFtpAliveInterface> alive_;
    int32_t general_timeout_ = 0;
    int32_t devices_ = 0;
};

// The unit state of the FTP device over the internet library.
FtpUnitState& FtpStorageUnit();

// The internet status callback of the FTP devices over the internet library (contexts 0 active
// connect, 1 passive connect, 2 upload, 3 listing, 4 download): FtpStorageUnit().ReportStatus.
// Called on the thread of the FTP call.
void ConnectionStatusCallback(platform::InternetHandle handle,
                              uintptr_t context,
                              uint32_t status,
                              const void* information,
                              uint32_t information_length);

}  // namespace vantrel
