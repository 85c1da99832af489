#include "storage/FtpStorage.h"

#include <utility>

#include "storage/WinInetAddOns.h"

namespace vantrel {
namespace {

constexpr char kApplicationTitle[] = "Vantrel";

constexpr uintptr_t kContextUpload = 2;
constexpr uintptr_t kContextDownload = 4;

}  // namespace

TFtpPersistentInformation::TFtpPersistentInformation()
{
    Buffer.reserve(BufferSize);
    OpenSession();
}

TFtpPersistentInformation::~TFtpPersistentInformation()
{
    CloseSession();
}

void TFtpPersistentInformation::OpenSession()
{
    if (Session) {
        return;
    }
    Session = platform::InternetOpen(
        kApplicationTitle, platform::kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
    if (Session && status_callback_ != nullptr) {
        platform::InternetSetStatusCallback(Session, status_callback_);
    }
}

void TFtpPersistentInformation::CloseSession()
{
    if (Session) {
        platform::InternetCloseHandle(Session);
        Session = platform::InternetHandle{};
    }
}

void TFtpPersistentInformation::HangUp()
{
    if (DialConnection != 0) {
        platform::InternetHangUp(DialConnection, 0);
        DialConnection = 0;
        DialName.clear();
    }
}

std::string TFtpPersistentInformation::ConnectionName()
{
    uint32_t flags = 0;
    if (!platform::InternetGetConnectedStateEx(&flags, &Buffer)) {
        return "";
    }
    if (Buffer.size() >= static_cast<size_t>(BufferSize)) {
        Buffer.resize(BufferSize - 1);
    }
    return Buffer;
}

uint32_t TFtpPersistentInformation::ConnectedStateFlags()
{
    uint32_t flags = 0;
    platform::InternetGetConnectedStateEx(&flags, &Buffer);
    return flags;
}

bool TFtpPersistentInformation::IsConnected()
{
    uint32_t flags = 0;
    return platform::InternetGetConnectedStateEx(&flags, &Buffer);
}

void TFtpPersistentInformation::SetStatusCallback(platform::InternetStatusCallback callback)
{
    status_callback_ = callback;
    if (Session) {
        platform::InternetSetStatusCallback(Session, callback);
    }
}

FtpUnitState::FtpUnitState(std::chrono::milliseconds watchdog_tick)
    : watchdog_tick_(watchdog_tick)
{}

void FtpUnitState::DeviceCreated(std::shared_ptr<IFtpAliveInterface> alive, int32_t general_timeout)
{
    std::lock_guard<std::mutex> lock(lock_);
    alive_ = std::move(alive);
    general_timeout_ = general_timeout;
    if (watchdog_ == nullptr) {
        watchdog_ = std::make_shared<THandleTimeout>(watchdog_tick_);
    }
    watchdog_->SetGeneralTimeout(general_timeout);
    ++devices_;
}

bool FtpUnitState::DeviceDestroyed()
{
    std::shared_ptr<THandleTimeout> ended;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (devices_ == 0 || --devices_ > 0) {
            return false;
        }
        ended = std::move(watchdog_);
    }
    // Ended outside the lock: a firing watchdog reports to the status callback, which reads the
    // unit state.
    ended.reset();
    return true;
}

std::shared_ptr<THandleTimeout> FtpUnitState::Watchdog() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return watchdog_;
}

std::shared_ptr<IFtpAliveInterface> FtpUnitState::AliveCallback() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return alive_;
}

int32_t FtpUnitState::GeneralTimeout() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return general_timeout_;
}

int32_t FtpUnitState::DeviceCount() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return devices_;
}

void FtpUnitState::ReportStatus(uintptr_t context, uint32_t status) const
{
    const ConnectCallbackGate gate;
    if (!gate.IsOpen()) {
        return;
    }
    const std::shared_ptr<IFtpAliveInterface> alive = AliveCallback();
    if ((context == kContextUpload || context == kContextDownload) && alive != nullptr) {
        alive->Alive();
    }
    const std::shared_ptr<THandleTimeout> watchdog = Watchdog();
    if (watchdog == nullptr) {
        return;
    }
    switch (status) {
        case platform::kInternetStatusSendingRequest:
        case platform::kInternetStatusRequestSent:
        case platform::kInternetStatusIntermediateResponse:
        case platform::kInternetStatusStateChange:
            watchdog->Kick();
            break;
        case platform::kInternetStatusReceivingResponse:
            watchdog->Kick();
            if (alive != nullptr) {
                alive->Alive();
            }
            break;
        case platform::kInternetStatusResponseReceived:
            watchdog->Reset();
            if (alive != nullptr) {
                alive->Alive();
            }
            break;
        case platform::kInternetStatusClosingConnection:
        case platform::kInternetStatusConnectionClosed:
        case platform::kInternetStatusHandleClosing:
        case platform::kInternetStatusRequestComplete:
            watchdog->Reset();
            break;
        default:
            break;
    }
}

FtpUnitState& FtpStorageUnit()
{
    static FtpUnitState unit;
    return unit;
}

void ConnectionStatusCallback(platform::InternetHandle /*handle*/,
                              uintptr_t context,
                              uint32_t status,
                              const void* /*information*/,
                              uint32_t /*information_length*/)
{
    FtpStorageUnit().ReportStatus(context, status);
}

}  // namespace vantrel
