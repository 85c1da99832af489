#include "storage/FtpStorage.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

#include "foundation/QelStringFunctions.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/FtpListing.h"
#include "platform/Ui.h"
#include "platform/Version.h"
#include "storage/FtpAddress.h"
#include "storage/SimplePortIO.h"
#include "storage/WinInetAddOns.h"
#include "sync/QelSyncBaseOutput.h"

namespace vantrel {
namespace {

constexpr uintptr_t kContextPassiveConnect = 1;
constexpr uintptr_t kContextUpload = 2;
constexpr uintptr_t kContextListing = 3;
constexpr uintptr_t kContextDownload = 4;
constexpr uintptr_t kContextCommand = 0;

constexpr uint32_t kCodeUnknown = 0xFFFFFFFF;

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "Directory DKA0:[WEB]": the header of a VMS listing, which the internet layer could not read
// and so named an entry by the whole line.
bool IsVmsHeader(const QelDirectoryEntry& entry)
{
    const std::string& name = entry.Name;
    if (!StartsWith(name, "Directory ", false) || entry.Attributes != 0 || entry.SizeLow != 0 ||
        entry.SizeHigh != 0) {
        return false;
    }
    const std::string device = Trimmed(name.substr(10));
    const size_t bracket = device.find(":[");
    return bracket != std::string::npos && bracket > 0 && device.back() == ']' &&
           device.find(' ') == std::string::npos;
}

constexpr double kSecondsPerDay = 24.0 * 60 * 60;
// How long after the server wrote the last of an upload its reply may reach us, bounding how
// much later our clock reads the end of the upload than the server dated it.
constexpr double kReplyJourneySeconds = 0.5;

// "YYYYMMDDHHMMSS[.sss]" from `at` to the end of the text (spaces and line ends aside): a file's
// modification time in UTC, to the second or finer, as MDTM replies and MLSD facts give it.
bool ParseModificationTime(const std::string& text, size_t at, TDateTime* utc)
{
    // The next `digits` digits as a number; -1 when one of them is not a digit.
    const auto number = [&](size_t digits) {
        int value = 0;
        for (const size_t end = at + digits; at < end; ++at) {
            if (at >= text.size() || text[at] < '0' || text[at] > '9') {
                return -1;
            }
            value = value * 10 + (text[at] - '0');
        }
        return value;
    };
    const int year = number(4), month = number(2), day = number(2);
    const int hour = number(2), minute = number(2), second = number(2);
    int milliseconds = 0;
    if (at < text.size() && text[at] == '.') {
        const size_t first = ++at;
        for (int scale = 100; at < text.size() && text[at] >= '0' && text[at] <= '9';
             ++at, scale /= 10) {
            milliseconds += (text[at] - '0') * scale;
        }
        if (at == first) {
            return false;
        }
    }
    return text.find_first_not_of(" \r\n", at) == std::string::npos &&
           platform::TryEncodeDateTime(year, month, day, hour, minute, second, milliseconds, utc);
}

// "213 YYYYMMDDHHMMSS[.sss]": the reply to MDTM.
bool ParseModificationTimeReply(const std::string& reply, TDateTime* utc)
{
    return StartsWith(reply, "213 ", false) && ParseModificationTime(reply, 4, utc);
}

// The "modify" facts of the files of a machine listing (MLSD), by name: each line is facts
// ("type=file;size=5;modify=20260101120000;"), one space and the name. Only lines that end are
// read, so a listing cut short never gives a file the time of a line cut off in its name.
std::map<std::string, std::string> ModifyFactsOfFiles(const std::string& content)
{
    std::map<std::string, std::string> facts_of;
    size_t start = 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t space = line.find(' ');
        if (space == std::string::npos || space + 1 == line.size()) {
            continue;
        }
        std::string type, modify;
        const std::string facts = line.substr(0, space);
        size_t at = 0;
        for (size_t semicolon; (semicolon = facts.find(';', at)) != std::string::npos;
             at = semicolon + 1) {
            const std::string fact = facts.substr(at, semicolon - at);
            const size_t equals = fact.find('=');
            if (equals == std::string::npos) {
                continue;
            }
            const std::string fact_name = AsciiLowerCase(fact.substr(0, equals));
            if (fact_name == "type") {
                type = AsciiLowerCase(fact.substr(equals + 1));
            } else if (fact_name == "modify") {
                modify = fact.substr(equals + 1);
            }
        }
        if (type == "file" && !modify.empty()) {
            facts_of[line.substr(space + 1)] = modify;
        }
    }
    return facts_of;
}

// The reply to FEAT offers MLSD with modification times: a line " MLST" whose facts name
// "modify".
bool FeaturesOfferModifyFacts(const std::string& reply)
{
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string::npos) {
            end = reply.size();
        }
        std::string line = reply.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        line = AsciiLowerCase(Trimmed(line));
        if (StartsWith(line, "mlst", false) && line.find("modify") != std::string::npos) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// The listed time to the second: the modification time moved into the listing's zone (the
// server's own, or GMT). The listing cuts its time to the minute, so it lies within a minute
// below the modification time moved by the zone's shift, a whole number of quarter hours. False
// when the two do not describe one moment.
bool ListedTimeToTheSecond(TDateTime listed, TDateTime modified_utc, TDateTime* result)
{
    constexpr double kQuarterHour = 15 * 60 / kSecondsPerDay;
    const double shift = std::nearbyint((listed - modified_utc) / kQuarterHour) * kQuarterHour;
    const double exact = modified_utc + shift;
    const double past_listed = (exact - listed) * kSecondsPerDay;
    if (past_listed < -1 || past_listed > 61) {
        return false;
    }
    *result = exact;
    return true;
}

bool Contains(const std::vector<uint32_t>& codes, uint32_t code)
{
    for (const uint32_t c : codes) {
        if (c == code) {
            return true;
        }
    }
    return false;
}

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
    Session =
        platform::InternetOpen(platform::kApplicationTitle,
                               platform::kInternetOpenTypePreconfigWithNoAutoproxy, "", "", 0);
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

FtpUnitState::FtpUnitState(std::chrono::milliseconds watchdog_tick, Watching watching)
    : watchdog_tick_(watchdog_tick)
    , watching_(watching)
{}

void FtpUnitState::DeviceCreated(std::shared_ptr<IFtpAliveInterface> alive, int32_t general_timeout)
{
    std::lock_guard<std::mutex> lock(lock_);
    alive_ = std::move(alive);
    general_timeout_ = general_timeout;
    if (watchdog_ == nullptr) {
        watchdog_ = std::make_shared<THandleTimeout>(watchdog_tick_,
                                                     watching_ == Watching::kReportingHandle);
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

void FtpUnitState::ReportStatus(uintptr_t context,
                                uint32_t status,
                                platform::InternetHandle handle) const
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
            if (watching_ == Watching::kReportingHandle) {
                watchdog->WatchHandle(handle, GeneralTimeout());
            } else {
                watchdog->Kick();
            }
            break;
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

FtpStorageDevice::FtpStorageDevice(QelSyncBaseOutput* output,
                                   const FtpDeviceSettings& settings,
                                   FtpUnitState* unit,
                                   platform::InternetStatusCallback status_callback)
    : unit_(unit)
    , output_(output)
{
    state_ = settings.connection_state;
    if (state_ == nullptr) {
        own_state_ = std::make_unique<TFtpPersistentInformation>();
        state_ = own_state_.get();
    }
    port_ = settings.port == 0 ? platform::kInternetDefaultFtpPort : settings.port;
    alive_ = settings.alive;
    general_timeout_ = settings.general_timeout;
    connection_timeout_ = settings.connection_timeout;
    unit_->DeviceCreated(settings.alive, settings.general_timeout);
    state_->SetStatusCallback(status_callback);
    dot_file_state_ = settings.dot_file_state;
    time_drift_ = settings.time_drift;
    drift_settled_ = time_drift_ == nullptr;
    flags_ = settings.flags;
    stop_ = settings.stop;
    passive_ = settings.passive ? 1 : 0;
    if (stop_ != nullptr) {
        // A stop closes the connection, which ends whatever wait is under way on it (a reply, a
        // listing, a transfer) at once; a connection being made gives up on its own.
        stop_watcher_ = std::make_unique<StopWatcher>(stop_, [this] {
            stoppable_sockets_.ShutDownAll();
            if (const uint64_t handle = watched_connection_.exchange(0)) {
                platform::InternetCloseHandle(platform::InternetHandle{handle});
            }
        });
    }
}

FtpStorageDevice::~FtpStorageDevice()
{
    stop_watcher_.reset();
    if (unit_->DeviceDestroyed()) {
        state_->SetStatusCallback(nullptr);
        if (connection_) {
            platform::InternetSetStatusCallback(connection_, nullptr);
        }
    }
    if (connection_) {
        platform::InternetCloseHandle(connection_);
    }
    own_state_.reset();
}

uint8_t FtpStorageDevice::GetDeviceType()
{
    return kDeviceFtp;
}

bool FtpStorageDevice::SupportsTransferModes()
{
    return true;
}

uint32_t FtpStorageDevice::GetLastError()
{
    return static_cast<uint32_t>(last_error_);
}

void FtpStorageDevice::StoreLastError(int32_t code)
{
    last_error_ = code;
}

std::string FtpStorageDevice::GetLastErrorText()
{
    const uint32_t code = GetLastError();
    switch (code) {
        case platform::kErrorInternetTimeout:
            return "Timed out";
        case platform::kErrorInternetExtendedError:
            return "Internet extended error: " + GetLastResponse();
        case platform::kErrorInternetNameNotResolved:
            return "Internet name not resolved (ERROR_INTERNET_NAME_NOT_RESOLVED)";
        case platform::kErrorInternetOperationCancelled:
            return "Operation cancelled";
        case platform::kErrorInternetCannotConnect:
            return "Cannot connect to internet";
        case platform::kErrorInternetConnectionAborted:
            return "Internet connection aborted (possibly forced timeout)";
        case platform::kErrorInternetConnectionReset:
            return "Connection reset - possibly line dropped (ERROR_INTERNET_CONNECTION_RESET)";
        case platform::kErrorFtpDropped:
            return "The FTP operation was not completed because the session was aborted "
                   "(ERROR_FTP_DROPPED)";
        case platform::kErrorInternetDisconnected:
            return "Internet disconnected (possibly working offline)";
        default:
            // The platform keeps the texts of the internet library's codes beside the system's.
            return platform::ErrorMessageText(code) + " (#" + std::to_string(code) + ")";
    }
}

std::string FtpStorageDevice::GetLastResponse()
{
    state_->Buffer = platform::InternetGetLastResponseInfo();
    if (state_->Buffer.size() >= static_cast<size_t>(state_->BufferSize)) {
        state_->Buffer.resize(state_->BufferSize - 1);
    }
    return state_->Buffer;
}

void FtpStorageDevice::Write(uint8_t type, const std::string& text)
{
    if (StopRequested() && (type == kMsgWarning || type == kMsgError)) {
        return;
    }
    if (output_ != nullptr) {
        output_->Write(static_cast<QelSyncMessageType>(type), text);
    }
}

std::shared_ptr<THandleTimeout> FtpStorageDevice::Watchdog() const
{
    return unit_->Watchdog();
}

void FtpStorageDevice::Watch()
{
    if (const auto watchdog = Watchdog()) {
        watchdog->Watch(connection_);
    }
}

void FtpStorageDevice::Disarm()
{
    if (const auto watchdog = Watchdog()) {
        watchdog->Disarm();
    }
}

bool FtpStorageDevice::WatchdogFired() const
{
    const auto watchdog = Watchdog();
    return watchdog != nullptr && watchdog->Fired();
}

bool FtpStorageDevice::Open(const std::string& address,
                            const std::string& user_name,
                            const std::string& password,
                            const std::string& connection_name)
{
    user_name_ = user_name;
    password_ = password;
    const FtpAddress read = ReadFtpAddress(address);
    if (!read.valid) {
        // Never a guess: a host taken wrongly reaches another server, a folder taken wrongly
        // publishes (and deletes) in another folder.
        host_.clear();
        base_folder_.clear();
        last_error_ = static_cast<int32_t>(platform::kErrorInvalidParameter);
        platform::SetLastError(platform::kErrorInvalidParameter);
        Write(kMsgError, read.problem);
        return false;
    }
    host_ = read.host;
    base_folder_ = read.folder;
    // A port written in the address is the port; the setting serves an address without one.
    if (read.port != 0) {
        port_ = read.port;
    }
    retry_state_ = kRetryRenegotiating;
    return Connect(passive_ != 0, connection_name);
}

bool FtpStorageDevice::SettingsAreSafe()
{
    // A CR or LF would end the command that carries the setting and start another one of the
    // text's choosing on the server (a NUL cuts it short); nothing is sent at all.
    const std::string unsafe("\r\n\0", 3);
    const char* field = host_.find_first_of(unsafe) != std::string::npos          ? "host name"
                        : user_name_.find_first_of(unsafe) != std::string::npos   ? "user name"
                        : password_.find_first_of(unsafe) != std::string::npos    ? "password"
                        : base_folder_.find_first_of(unsafe) != std::string::npos ? "folder"
                                                                                  : nullptr;
    if (field == nullptr) {
        return true;
    }
    last_error_ = static_cast<int32_t>(platform::kErrorInvalidParameter);
    platform::SetLastError(platform::kErrorInvalidParameter);
    const std::string server = field == std::string("host name") ? "" : " " + host_;
    Write(kMsgError, "Failed to connect to server" + server +
                         ".\r\nError code: " + std::to_string(last_error_) +
                         "\r\nDescription: The " + field + " holds a line break or NUL character.");
    return false;
}

bool FtpStorageDevice::Connect(bool passive, const std::string& connection_name)
{
    if (connection_) {
        watched_connection_ = 0;
        platform::InternetCloseHandle(connection_);
        connection_ = platform::InternetHandle{};
    }
    if (!SettingsAreSafe()) {
        return false;
    }
    if (!CheckInternetConnection(connection_name)) {
        return false;
    }
    passive_ = passive ? 1 : 0;
    Disarm();
    // The watchdog ends a wait in which nothing moves; this ends a reply or a listing that
    // keeps moving, a byte or a line at a time, for longer than the general time-out.
    platform::InternetSetReplyTimeout(state_->Session,
                                      static_cast<uint32_t>(std::max(general_timeout_, 0)) * 1000);
    platform::SetLastError(0);
    connection_ = InternetConnectWithTimeout(
        state_->Session, host_, port_, user_name_, password_, platform::kInternetServiceFtp,
        passive ? platform::kInternetFlagPassive : 0, passive ? kContextPassiveConnect : 0,
        static_cast<uint32_t>(std::max(connection_timeout_, 0)), stop_);
    watched_connection_ = connection_.value;
    if (stop_ != nullptr && *stop_) {
        // Stopped while the connection was made: it is of no more use, and no other mode or
        // session is tried.
        if (connection_) {
            watched_connection_ = 0;
            platform::InternetCloseHandle(connection_);
            connection_ = platform::InternetHandle{};
        }
        last_error_ = static_cast<int32_t>(platform::kErrorInternetOperationCancelled);
        return false;
    }
    last_error_ = connection_ ? 0 : static_cast<int32_t>(platform::GetLastError());
    const uint32_t code = GetLastError();
    if (!connection_ && code == 0 && !session_reopened_) {
        // A session that gives neither a connection nor a reason may be stale: once, a fresh one.
        state_->CloseSession();
        session_reopened_ = true;
        state_->OpenSession();
        const bool result = Connect(passive, "");
        session_reopened_ = false;
        return result;
    }
    if (!connection_ && code == platform::kErrorInternetTimeout) {
        if ((flags_ & kFlagQuietTimeout) == 0) {
            Write(kMsgError, "Failed to connect to server " + host_ + ". Connection timedout.");
        }
        return false;
    }
    if (!connection_ && code == platform::kErrorInternetDisconnected) {
        return PromptGoOnline() && Connect(passive, "");
    }
    if (!connection_ && (code == platform::kErrorInternetNameNotResolved ||
                         code == platform::kErrorInternetConnectionAborted)) {
        Write(kMsgError, "Could not resolve server name " + host_ + ".\r\nError code: " +
                             std::to_string(code) + "\r\nDescription: " + GetLastErrorText() +
                             "\r\nLast response: " + GetLastResponse());
        return false;
    }
    std::string response = GetLastResponse();
    if (!connection_ && !response.empty()) {
        Write(kMsgWarning, response);
    }
    // A log-in the server refused is not tried again: the other mode would only send the same
    // password once more, and many hosts lock an account after a few.
    const bool login_refused =
        code == platform::kErrorInternetExtendedError && ReplyHasCode("530", response);
    if (!connection_ && passive && !login_refused) {
        Write(kMsgInformation, "Trying active rather than passive.");
        return Connect(false, "");
    }
    if (!connection_) {
        response = GetLastResponse();
        if (code == 0 && response.empty()) {
            response = ProbeServer();
        }
        Write(kMsgError,
              "Failed to connect to server " + host_ + ".\r\nError code: " + std::to_string(code) +
                  "\r\nDescription: " + GetLastErrorText() + "\r\nLast response: " + response);
        return false;
    }
    const std::string folder = ReadCurrentFolder();
    login_root_ = folder == "\\" ? "" : folder;
    if (dot_file_state_ == nullptr) {
        return true;
    }
    if (dot_file_state_->Treatment != kDotFilesListed || (flags_ & kFlagAskSyst) != 0) {
        std::string reply;
        SendCommand("SYST", "", &reply, {}, false);
        unix_ = reply.find("UNIX") != std::string::npos;
    }
    if (dot_file_state_->Treatment != kDotFilesListed && !unix_) {
        dot_file_state_->Treatment = kDotFilesListed;
    }
    return true;
}

std::string FtpStorageDevice::ProbeServer()
{
    // An address that could not be read left no server to probe.
    if (host_.empty()) {
        last_error_ = static_cast<int32_t>(platform::kErrorInvalidParameter);
        return "The server was not probed: the FTP address names no server that can be read.";
    }
    // The probe writes the user name and password into its dialogue as they stand.
    const std::string unsafe("\r\n\0", 3);
    if (host_.find_first_of(unsafe) != std::string::npos ||
        user_name_.find_first_of(unsafe) != std::string::npos ||
        password_.find_first_of(unsafe) != std::string::npos) {
        last_error_ = static_cast<int32_t>(platform::kErrorInvalidParameter);
        return "The server was not probed: a setting holds a line break or NUL character.";
    }
    state_->CloseSession();
    std::string result;
    TSimplePortIO port;
    port.SetReplyLimit(std::max(general_timeout_, 1) * 1000);
    std::string piece;
    const bool ok = [&] {
        if (!port.Open(host_, port_)) {
            return false;
        }
        port.ReadReply(500, 100, &piece);
        result += piece;
        if (!port.SendText("user " + user_name_ + "\r\n")) {
            return false;
        }
        port.ReadReply(500, 100, &piece);
        result += piece;
        if (!port.SendText("pass " + password_ + "\r\n")) {
            return false;
        }
        port.ReadReply(500, 500, &piece);
        result += piece;
        return port.SendText("quit\r\n");
    }();
    port.Close();
    if (!ok) {
        result = port.ErrorMessage();
        if (result.find("10061") != std::string::npos) {
            result = "No FTP server listening";
        }
    }
    state_->OpenSession();
    return result;
}

bool FtpStorageDevice::CheckInternetConnection(const std::string& connection_name)
{
    constexpr uint32_t kDialFlags =
        platform::kInternetDialForcePrompt + platform::kInternetAutodialForceOnline;
    constexpr uint32_t kYesNoExclamation = platform::kMbIconExclamation | platform::kMbYesNo;
    uint32_t code = 0;
    if (!connection_name.empty()) {
        state_->DialName = connection_name;
        // A dial that finds the entry already up dials nothing; the number of the connection
        // dialled earlier must stay, or hanging up after publishing would leave the modem on.
        // The dialling prompt has no owner window.
        const auto dial = [&](uintptr_t* dialled) {
            const uint32_t result =
                platform::InternetDial(0, connection_name, kDialFlags, dialled, 0);
            if (*dialled != 0) {
                state_->DialConnection = *dialled;
            }
            return result;
        };
        uintptr_t dialled = 0;
        code = dial(&dialled);
        if (code == 0 && dialled == 0) {
            if (!state_->IsConnected()) {
                SetWorkOffline(false);
                code = dial(&dialled);
            } else if ((state_->ConnectedStateFlags() & platform::kInternetConnectionOffline) !=
                       0) {
                return PromptGoOnline() && CheckInternetConnection(connection_name);
            }
        }
    } else {
        if (state_->IsConnected()) {
            if ((flags_ & kFlagAskOnModem) != 0 &&
                (state_->ConnectedStateFlags() & platform::kInternetConnectionModem) != 0) {
                const std::string question =
                    "You are connected to the internet via \"" + state_->ConnectionName() +
                    "\" but the properties of this web site indicate that it should only be "
                    "published if there are no active dial-up connections.\r\n\r\nTo avoid this "
                    "warning please hang up the modem.\r\n\r\nContinue anyway?";
                if (platform::MessageBox(question, "Confirm?", kYesNoExclamation) !=
                    platform::kIdYes) {
                    return false;
                }
            }
            if ((state_->ConnectedStateFlags() & platform::kInternetConnectionOffline) != 0) {
                return PromptGoOnline() && CheckInternetConnection("");
            }
        }
        code = platform::InternetAttemptConnect(0);
    }
    if (code != 0) {
        last_error_ = static_cast<int32_t>(code);
        return false;
    }
    if (!connection_name.empty()) {
        if (!state_->IsConnected()) {
            return false;
        }
        const std::string in_use = state_->ConnectionName();
        if (in_use != connection_name) {
            const std::string question =
                "You are connected to the internet via \"" + in_use +
                "\" but the properties of this web site indicate that it should only be "
                "published on \"" +
                connection_name + "\". Continue anyway?";
            if (platform::MessageBox(question, "Confirm?", kYesNoExclamation) != platform::kIdYes) {
                return false;
            }
        }
    }
    return true;
}

bool FtpStorageDevice::PromptGoOnline()
{
    constexpr uint32_t kYesNoCancelQuestion = platform::kMbIconQuestion | platform::kMbYesNoCancel;
    Write(kMsgVerbose, "Windows Internet Offline");
    const int32_t answer = platform::MessageBox(
        "You are working offline. In order to publish your site you must switch to working "
        "online, this change will also affect other applications (such as Internet Explorer) "
        "that also use the Windows Internet sub system. Do you want to go online now?",
        "Currently offline - Go online now?", kYesNoCancelQuestion);
    if (answer != platform::kIdYes) {
        return false;
    }
    SetWorkOffline(false);
    Write(kMsgVerbose, "Windows Internet switched online");
    return true;
}

void FtpStorageDevice::SetWorkOffline(bool offline)
{
    if (offline) {
        platform::InternetSetConnectedState(platform::kInternetStateDisconnectedByUser,
                                            platform::kIsoForceDisconnected);
    } else {
        platform::InternetSetConnectedState(platform::kInternetStateConnected, 0);
    }
}

std::string FtpStorageDevice::ReadCurrentFolder()
{
    std::string folder;
    if (platform::FtpGetCurrentDirectory(connection_, &folder)) {
        current_folder_ = folder.empty() ? "\\" : SlashesToBackslashes(folder);
    }
    return current_folder_;
}

std::string FtpStorageDevice::RemotePathOf(const std::string& path)
{
    if (!StartsWith(path, "ftp:", true)) {
        return path;
    }
    // Read as Open read the address, whatever form the path's root was typed in. A path that
    // cannot be read stays whole, so that the server refuses it rather than the login folder
    // standing in for it.
    const FtpAddress read = ReadFtpAddress(path);
    return read.valid ? read.folder : path;
}

std::string FtpStorageDevice::SlashesToBackslashes(const std::string& path)
{
    return ReplaceAll(path, "/", "\\");
}

bool FtpStorageDevice::ChangeWorkingFolder(const std::string& folder, bool report_refusal)
{
    const std::string remote = RemotePathOf(folder);
    std::string path;
    if (!remote.empty()) {
        path = login_root_ + "\\" + remote;
    } else {
        path = login_root_.empty() ? "\\" : login_root_;
    }
    if (path == current_folder_) {
        return true;
    }
    if (platform::FtpSetCurrentDirectory(connection_, ReplaceAll(path, "\\", "/"))) {
        current_folder_ = path;
        return true;
    }
    const uint32_t code = platform::GetLastError();
    last_error_ = static_cast<int32_t>(code);
    const std::string report = "Cannot change directory to " + folder + " (error " +
                               std::to_string(code) + ")." + GetLastErrorText() +
                               " root: " + login_root_ + " cwd: " + current_folder_;
    if (code == platform::kErrorFtpDropped && retry_state_ == kRetryNone) {
        Write(kMsgWarning, report);
        Write(kMsgWarning, "Renegotiating connection");
        retry_state_ = kRetryRenegotiating;
        if (Connect(passive_ != 0, "")) {
            return ChangeWorkingFolder(folder);
        }
        Write(kMsgError, "Failed to renegotiate connection");
        KeepCause(code);
        return false;
    }
    if (report_refusal || code != platform::kErrorInternetExtendedError) {
        Write(kMsgError, report);
    }
    return false;
}

bool FtpStorageDevice::ChangeDirectory(const std::string& path)
{
    return ChangeWorkingFolder(path, false);
}

bool FtpStorageDevice::StoresTextWithLineFeeds()
{
    return unix_;
}

bool FtpStorageDevice::TakeListingFailure()
{
    const bool failed = listing_failed_;
    listing_failed_ = false;
    return failed;
}

bool FtpStorageDevice::MayReconnect(int reconnects)
{
    // A server that drops every attempt would otherwise be reconnected to for ever, and the run
    // could never end.
    if (stop_ != nullptr && *stop_) {
        last_error_ = static_cast<int32_t>(platform::kErrorInternetOperationCancelled);
        return false;
    }
    if (reconnects < kMaxReconnects) {
        return true;
    }
    last_error_ = static_cast<int32_t>(platform::kErrorInternetTimeout);
    Write(kMsgError, "Failed to reconnect");
    return false;
}

bool FtpStorageDevice::Reconnect(bool passive, const char* failure, uint32_t cause)
{
    if (Connect(passive, "")) {
        return true;
    }
    Write(kMsgError, failure);
    KeepCause(cause);
    return false;
}

void FtpStorageDevice::KeepCause(uint32_t cause)
{
    // A connection refused on the connect thread leaves no code of its own; the operation's
    // failure must still read as one, not as "completed successfully".
    if (last_error_ == 0) {
        last_error_ = static_cast<int32_t>(cause);
    }
}

std::string FtpStorageDevice::FourLines(const std::string& first, const std::string& code_label)
{
    return first + "\r\n" + code_label + std::to_string(GetLastError()) +
           "\r\nDescription: " + GetLastErrorText() + "\r\nLast response: " + GetLastResponse();
}

bool FtpStorageDevice::SplitFolderAndName(const std::string& path,
                                          std::string* folder,
                                          std::string* name)
{
    const size_t separator = path.rfind('\\');
    if (separator == std::string::npos) {
        folder->clear();
        *name = path;
    } else {
        *folder = path.substr(0, separator);
        *name = path.substr(separator + 1);
    }
    return !name->empty();
}

bool FtpStorageDevice::ReplyHasCode(const std::string& code, const std::string& reply)
{
    return StartsWith(reply, code, false) || reply.find("\r\n" + code) != std::string::npos;
}

bool FtpStorageDevice::IsCompletionReply(const std::string& reply)
{
    return reply.size() >= 3 && reply[0] == '2' &&
           std::isdigit(static_cast<unsigned char>(reply[1])) &&
           std::isdigit(static_cast<unsigned char>(reply[2]));
}

bool FtpStorageDevice::PutFile(const std::string& local_path,
                               const std::string& folder,
                               const std::string& name,
                               bool binary)
{
    ForgetMachineListedTime(name);
    std::string local_folder, local_name;
    if (!SplitFolderAndName(local_path, &local_folder, &local_name) ||
        !ChangeWorkingFolder(folder)) {
        return false;
    }
    const std::string failed = "Failed to copy file " + local_path + " to " + folder;
    bool transfer_binary = binary;
    int reconnects = 0;
    while (true) {
        platform::SetLastError(0);
        Watch();
        const bool copied = platform::FtpPutFile(
            connection_, local_path, name,
            transfer_binary ? platform::kFtpTransferTypeBinary : platform::kFtpTransferTypeAscii,
            kContextUpload);
        Disarm();
        if (copied) {
            if (!drift_settled_) {
                MeasureTimeOffset(folder, name, NowDateTime(), (flags_ & kFlagVerbose) != 0);
            }
            CountUploadedDotFile(dot_file_state_, name);
            return true;
        }
        uint32_t code = platform::GetLastError();
        if (code == platform::kErrorInternetExtendedError && !compensating_) {
            const std::string response = GetLastResponse();
            if (ReplyHasCode("550", response) || ReplyHasCode("553", response)) {
                last_error_ = static_cast<int32_t>(code);
                Write(kMsgWarning,
                      FourLines("Mishap copying file " + local_path + " to " + folder, "Code: "));
                Write(kMsgWarning, "Compensating...");
                compensating_ = true;
                if (SetReadOnly(folder, name, false, true)) {
                    const bool result = PutFile(local_path, folder, name, true);
                    compensating_ = false;
                    return result;
                }
                Write(kMsgWarning, "Failed...");
                code = GetLastError();
                compensating_ = false;
                // The listing and SITE CHMOD of the attempt had replies of their own; the
                // failure is the upload's, and its refusal is the reply to report.
                platform::InternetSetLastResponseInfo(response);
            }
        }
        const bool renegotiate = (code == platform::kErrorInternetConnectionAborted ||
                                  code == platform::kErrorFtpDropped) &&
                                 retry_state_ == kRetryNone;
        const bool timed_out = !renegotiate &&
                               (code == platform::kErrorInternetOperationCancelled ||
                                code == platform::kErrorInternetConnectionAborted) &&
                               WatchdogFired();
        // Also after a renegotiation or a time-out retry: the mode switch is only tried from a
        // connection that worked, and those codes have no rung of their own there.
        const bool give_up =
            !renegotiate && !timed_out &&
            ((code != platform::kErrorInternetTimeout && code != platform::kErrorFtpDropped &&
              code != platform::kErrorInternetExtendedError && code != kCodeUnknown) ||
             retry_state_ != kRetryNone);
        if (give_up) {
            last_error_ = static_cast<int32_t>(code);
            Write(kMsgError, FourLines(failed, "Error code: "));
            return false;
        }
        if (!MayReconnect(reconnects++)) {
            return false;
        }
        if (renegotiate) {
            last_error_ = static_cast<int32_t>(code);
            Write(kMsgWarning, FourLines(failed, "Error code: "));
            Write(kMsgWarning, "Renegotiating connection");
            retry_state_ = kRetryRenegotiating;
            const bool reconnected =
                Reconnect(passive_ != 0, "Failed to renegotiate connection", code);
            Disarm();
            if (!reconnected) {
                return false;
            }
        } else if (timed_out) {
            Write(kMsgWarning, "Timedout - Retrying");
            retry_state_ = kRetryAfterTimeout;
            if (!Reconnect(passive_ != 0, "Failed to reconnect", code)) {
                return false;
            }
        } else {
            last_error_ = static_cast<int32_t>(code);
            Write(kMsgWarning, FourLines(failed + ".", "Error code: "));
            retry_state_ = kRetryModeSwitched;
            passive_ = passive_ != 0 ? 0 : 1;
            Write(kMsgWarning, "Renegotiating connection type");
            if (!Reconnect(passive_ != 0, "Failed to renegotiate connection", code)) {
                return false;
            }
        }
        // A retry goes to a fresh connection, whose current folder is the login folder.
        if (!ChangeWorkingFolder(folder)) {
            return false;
        }
        transfer_binary = true;
    }
}

TDateTime LatestListedTime(TDateTime listed, TDateTime compare_time)
{
    const double seconds = std::fmod(listed * kSecondsPerDay, 60.0);
    const bool whole_minute = seconds < 0.001 || seconds > 59.999;
    return whole_minute ? compare_time + 60 / kSecondsPerDay : compare_time;
}

void FtpStorageDevice::MeasureTimeOffset(const std::string& folder,
                                         const std::string& name,
                                         TDateTime uploaded_at,
                                         bool report)
{
    // Some servers refuse MDTM; the listing alone then gives the time, to the minute.
    TDateTime modified = 0;
    bool milliseconds = false;
    const bool modified_known = AskModificationTime(folder, name, &modified, &milliseconds);
    const std::unique_ptr<QelDirectoryList> list = ListDirectory(folder, name, false);
    if (list->Count() != 1) {
        return;
    }
    const TDateTime listed = list->Items(1)->Date2;
    TDateTime server_time = 0;
    if (!modified_known || !ListedTimeToTheSecond(listed, modified, &server_time)) {
        server_time = LatestListedTime(listed, listed);
    }
    const double drift = server_time - uploaded_at;
    if (report) {
        // As the change from the offset stored before, which the listing was read with.
        const double diff = drift - (time_drift_ != nullptr ? *time_drift_ : 0.0);
        const auto seconds = static_cast<int64_t>(std::nearbyint(std::fabs(diff) * kSecondsPerDay));
        char text[64];
        std::snprintf(text, sizeof(text), "%d:%.2d:%.2d", static_cast<int>(seconds / 3600),
                      static_cast<int>((seconds / 60) % 60), static_cast<int>(seconds % 60));
        Write(kMsgVerbose,
              std::string("Calculated server time offset ") + (diff < 0 ? "-" : "") + text);
    }
    // An offset of a day or more is a wrong reading, not a clock: measure again next time.
    if (time_drift_ != nullptr && IsMeasurableTimeDrift(drift)) {
        *time_drift_ = drift;
        drift_settled_ = true;
    }
}

TDateTime FtpStorageDevice::ListedTimeError()
{
    // The offset comes from an upload's time on the server, in whole seconds at best (a listed
    // minute when the server gives no more, read as its end), against our clock once the
    // upload's reply had come.
    return time_drift_ != nullptr ? (1.0 + kReplyJourneySeconds) / kSecondsPerDay : 0.0;
}

bool FtpStorageDevice::GetExactFileDate(const std::string& folder,
                                        const QelDirectoryEntry& listed,
                                        TDateTime* date)
{
    TDateTime modified = 0;
    TDateTime exact = 0;
    bool milliseconds = false;
    // A listed time that does not fit the listed minute (the file was written again since the
    // folder was listed) is asked about on its own.
    const bool machine_listed = MachineListedTime(folder, listed.Name, &modified, &milliseconds) &&
                                ListedTimeToTheSecond(listed.Date2, modified, &exact);
    if (!machine_listed && (!AskModificationTime(folder, listed.Name, &modified, &milliseconds) ||
                            !ListedTimeToTheSecond(listed.Date2, modified, &exact))) {
        return false;
    }
    // The reply gives the start of the second (or millisecond) the copy was written in, by the
    // server's clock. The offset was read the same way from an upload, against our clock once
    // its reply had come: the server's clock may stand ahead of it by up to that precision and
    // the reply's journey back.
    const double offset_error = (milliseconds ? 0.001 : 1.0) + kReplyJourneySeconds;
    *date = exact - (time_drift_ != nullptr ? *time_drift_ : 0.0) - offset_error / kSecondsPerDay;
    return true;
}

bool FtpStorageDevice::MachineListedTime(const std::string& folder,
                                         const std::string& name,
                                         TDateTime* utc,
                                         bool* milliseconds)
{
    if (machine_listings_ == 0) {
        machine_listings_ = OffersMachineListings() ? 1 : 2;
    }
    if (machine_listings_ != 1 || StopRequested()) {
        return false;
    }
    if (!machine_listing_read_ || machine_listed_folder_ != folder) {
        machine_listed_times_.clear();
        machine_listed_folder_ = folder;
        machine_listing_read_ = true;
        std::string content;
        if (!ReadMachineListing(folder, &content) && content.empty()) {
            return false;
        }
        for (const auto& [file, modify] : ModifyFactsOfFiles(content)) {
            ListedTime time;
            if (ParseModificationTime(modify, 0, &time.utc)) {
                time.milliseconds = modify.size() > 14 && modify[14] == '.';
                machine_listed_times_[file] = time;
            }
        }
    }
    const auto it = machine_listed_times_.find(name);
    if (it == machine_listed_times_.end()) {
        return false;
    }
    *utc = it->second.utc;
    *milliseconds = it->second.milliseconds;
    return true;
}

void FtpStorageDevice::ForgetMachineListedTime(const std::string& name)
{
    machine_listed_times_.erase(name);
}

bool FtpStorageDevice::OffersMachineListings()
{
    std::string reply;
    if (SendQuietCommand("FEAT", "", &reply)) {
        return FeaturesOfferModifyFacts(reply);
    }
    if (!StopRequested() &&
        !(reply.size() >= 3 && std::isdigit(static_cast<unsigned char>(reply[0])))) {
        // The late reply would be read as the answer to the next command.
        Connect(passive_ != 0, "");
    }
    return false;
}

bool FtpStorageDevice::ReadMachineListing(const std::string& folder, std::string* content)
{
    if (!ChangeWorkingFolder(folder, false)) {
        return false;
    }
    platform::InternetHandle data;
    platform::InternetSetLastResponseInfo("");
    Watch();
    const bool sent = platform::FtpCommand(connection_, true, platform::kFtpTransferTypeAscii,
                                           "MLSD", kContextListing, &data);
    Disarm();
    if (!sent || !data) {
        const uint32_t code = platform::GetLastError();
        if (StopRequested()) {
            return false;
        }
        if (code != platform::kErrorInternetExtendedError) {
            // No reply, or the connection went: the files are asked about one by one, on a
            // fresh connection.
            machine_listings_ = 2;
            Connect(passive_ != 0, "");
        } else if (StartsWith(GetLastResponse(), "5", false)) {
            // Refused here, refused everywhere.
            machine_listings_ = 2;
        }
        return false;
    }
    const auto watchdog = Watchdog();
    Watch();
    if (watchdog != nullptr) {
        watchdog->SetDataHandle(data);
    }
    std::string& buffer = state_->Buffer;
    buffer.resize(state_->BufferSize);
    uint32_t read = 0;
    bool complete = false;
    uint32_t failure = 0;
    while (content->size() < platform::kFtpListingBytesAtMost) {
        if (!platform::InternetReadFile(data, buffer.data(), state_->BufferSize, &read)) {
            failure = platform::GetLastError();
            break;
        }
        if (read == 0) {
            complete = true;
            break;
        }
        content->append(buffer.data(), read);
    }
    buffer.clear();
    Disarm();
    if (watchdog != nullptr) {
        watchdog->SetDataHandle(platform::InternetHandle{});
    }
    platform::InternetCloseHandle(data);
    if (!complete && failure != platform::kErrorInternetExtendedError && !StopRequested()) {
        // Cut off by a broken connection or a silent server rather than a refusal: the rest of
        // the files are asked about one by one, on a fresh connection.
        machine_listings_ = 2;
        Connect(passive_ != 0, "");
    }
    return complete;
}

bool FtpStorageDevice::AskModificationTime(const std::string& folder,
                                           const std::string& name,
                                           TDateTime* utc,
                                           bool* milliseconds)
{
    if (mdtm_refused_ || StopRequested()) {
        return false;
    }
    std::string reply;
    if (SendQuietCommand("MDTM " + name, folder, &reply) &&
        ParseModificationTimeReply(reply, utc)) {
        *milliseconds = reply.size() > 18 && reply[18] == '.';
        return true;
    }
    if (StopRequested()) {
        return false;
    }
    const bool answered = reply.size() >= 3 && std::isdigit(static_cast<unsigned char>(reply[0]));
    // A file that is gone (550) says nothing of the other files.
    if (answered && (ReplyHasCode("550", reply) || ReplyHasCode("450", reply))) {
        return false;
    }
    // A command the server does not know, a reply of another form, or none within the general
    // time-out (which each further question would cost again) says the same for every file:
    // the listed minute decides for the rest of the run.
    mdtm_refused_ = true;
    Write(kMsgInformation,
          std::string(answered ? "The server refused MDTM"
                               : "The server did not answer MDTM within the time-out") +
              ": files whose source time falls within their listed minute are published "
              "without asking again.");
    if (!answered) {
        // The late reply would be read as the answer to the next command.
        Connect(passive_ != 0, "");
    }
    return false;
}

bool FtpStorageDevice::SendQuietCommand(const std::string& command,
                                        const std::string& folder,
                                        std::string* reply)
{
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    platform::InternetHandle data;
    // A command that gets no reply must not leave the previous command's as its own.
    platform::InternetSetLastResponseInfo("");
    Watch();
    const bool sent = platform::FtpCommand(connection_, false, platform::kFtpTransferTypeAscii,
                                           command, kContextCommand, &data);
    Disarm();
    *reply = GetLastResponse();
    return sent;
}

bool FtpStorageDevice::DeleteFile(const std::string& folder,
                                  const std::string& name,
                                  bool report_errors)
{
    ForgetMachineListedTime(name);
    const std::string path = JoinWithSeparator(folder, "\\", name);
    std::string path_folder, path_name;
    if (!SplitFolderAndName(path, &path_folder, &path_name) || !ChangeWorkingFolder(path_folder)) {
        return false;
    }
    if (platform::FtpDeleteFile(connection_, path_name)) {
        return true;
    }
    if (report_errors) {
        const uint32_t code = platform::GetLastError();
        last_error_ = static_cast<int32_t>(code);
        Write(kMsgError, "Failed to delete file " + path + " (error " + std::to_string(code) +
                             "). " + GetLastErrorText());
    }
    return false;
}

bool FtpStorageDevice::FolderOperation(const std::string& path,
                                       bool (*operation)(platform::InternetHandle,
                                                         const std::string&),
                                       const std::string& failure)
{
    std::string folder, name;
    if (!SplitFolderAndName(path, &folder, &name) || !ChangeWorkingFolder(folder)) {
        return false;
    }
    if (operation(connection_, name)) {
        return true;
    }
    const uint32_t code = platform::GetLastError();
    last_error_ = static_cast<int32_t>(code);
    Write(kMsgError,
          failure + path + " (error " + std::to_string(code) + "). " + GetLastErrorText());
    return false;
}

bool FtpStorageDevice::RemoveDirectory(const std::string& path)
{
    return FolderOperation(path, platform::FtpRemoveDirectory, "Failed to delete directory ");
}

bool FtpStorageDevice::CreateDirectory(const std::string& path)
{
    std::string folder, name;
    if (!SplitFolderAndName(path, &folder, &name) || !ChangeWorkingFolder(folder)) {
        return false;
    }
    bool made = platform::FtpCreateDirectory(connection_, name);
    const uint32_t code = platform::GetLastError();
    if (!made && code == platform::kErrorInternetExtendedError) {
        // A server that hides dot folders from its listings refuses to make one it holds
        // already; a folder it lets us enter is there to publish into.
        const std::string response = GetLastResponse();
        made = ChangeWorkingFolder(path, false);
        if (!made) {
            platform::InternetSetLastResponseInfo(response);
        }
    }
    if (made) {
        // The next listings look for the dot folder the server may hide.
        CountUploadedDotFile(dot_file_state_, name);
        return true;
    }
    last_error_ = static_cast<int32_t>(code);
    Write(kMsgError, "Error creating directory " + path + " (error " + std::to_string(code) +
                         "). " + GetLastErrorText());
    return false;
}

bool FtpStorageDevice::RenameFile(const std::string& folder,
                                  const std::string& old_name,
                                  const std::string& new_name)
{
    ForgetMachineListedTime(old_name);
    ForgetMachineListedTime(new_name);
    if (!ChangeWorkingFolder(folder)) {
        return false;
    }
    if (platform::FtpRenameFile(connection_, old_name, new_name)) {
        return true;
    }
    last_error_ = static_cast<int32_t>(platform::GetLastError());
    return false;
}

bool FtpStorageDevice::KeepsFileDates()
{
    return false;
}

bool FtpStorageDevice::SupportsPermissions()
{
    return chmod_known_ ? chmod_supported_ : true;
}

bool FtpStorageDevice::SetFileDate(const std::string& /*folder*/,
                                   const std::string& /*name*/,
                                   TDateTime /*date*/)
{
    return true;
}

bool FtpStorageDevice::SetPermissions(const std::string& folder,
                                      const std::string& name,
                                      const std::string& permission)
{
    std::string reply;
    SendCommand("SITE CHMOD " + permission + " " + name, folder, &reply,
                {platform::kErrorFtpDropped, platform::kErrorInternetExtendedError}, false);
    const uint32_t code = GetLastError();
    // Any completion counts ("250", or proftpd's "200 SITE CHMOD command successful").
    if (IsCompletionReply(reply)) {
        chmod_supported_ = true;
        chmod_known_ = true;
    } else if (code == platform::kErrorFtpDropped ||
               code == platform::kErrorInternetExtendedError) {
        if (!chmod_known_) {
            chmod_supported_ = false;
            chmod_known_ = true;
        }
        if (code == platform::kErrorInternetExtendedError && !reply.empty()) {
            Write(kMsgWarning, reply);
            Write(kMsgWarning, "CHMOD not supported by FTP server");
        }
    } else if (WatchdogFired()) {
        Write(kMsgWarning, "CHMOD may not be supported by FTP server");
    } else if (!reply.empty()) {
        Write(kMsgWarning, reply);
    }
    return true;
}

bool FtpStorageDevice::SetReadOnly(const std::string& folder,
                                   const std::string& name,
                                   bool read_only,
                                   bool force)
{
    const std::unique_ptr<QelDirectoryList> list = ListDirectory(folder, name, true);
    if (list->Count() != 1) {
        return false;
    }
    const QelDirectoryEntry& entry = *list->Items(1);
    if (entry.IsReadOnly() == read_only && !force) {
        return true;
    }
    return ApplyReadOnly(folder, name, ReadOnlyPermission(entry, read_only));
}

bool FtpStorageDevice::ApplyReadOnly(const std::string& folder,
                                     const std::string& name,
                                     const std::string& permission)
{
    return SetPermissions(folder, name, permission);
}

const char* FtpStorageDevice::ReadOnlyPermission(const QelDirectoryEntry& entry, bool read_only)
{
    return entry.IsDirectory() ? (read_only ? "555" : "777") : (read_only ? "444" : "666");
}

void FtpStorageDevice::SendCommand(const std::string& command,
                                   const std::string& folder,
                                   std::string* reply,
                                   const std::vector<uint32_t>& accepted_codes,
                                   bool expect_data)
{
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    reply->clear();
    platform::InternetHandle data;
    Watch();
    const bool sent = platform::FtpCommand(
        connection_, expect_data, platform::kFtpTransferTypeAscii, command, kContextCommand, &data);
    Disarm();
    if (sent) {
        // The outcome is read from the last error, so a success leaves none.
        last_error_ = 0;
    }
    if (sent && data) {
        const auto watchdog = Watchdog();
        Watch();
        if (watchdog != nullptr) {
            watchdog->SetDataHandle(data);
        }
        std::string& buffer = state_->Buffer;
        buffer.resize(state_->BufferSize);
        uint32_t read = 0;
        while (platform::InternetReadFile(data, buffer.data(), state_->BufferSize, &read) &&
               read > 0) {
            reply->append(buffer.data(), read);
        }
        buffer.clear();
        Disarm();
        if (watchdog != nullptr) {
            watchdog->SetDataHandle(platform::InternetHandle{});
        }
        platform::InternetCloseHandle(data);
    } else if (sent) {
        *reply = GetLastResponse();
    } else {
        const uint32_t code = platform::GetLastError();
        last_error_ = static_cast<int32_t>(code);
        *reply = GetLastResponse();
        if (!Contains(accepted_codes, code) && !StopRequested()) {
            const std::string text =
                code == platform::kErrorInternetExtendedError
                    ? platform::ErrorMessageText(code) + " (" + std::to_string(code) + ")" + *reply
                    : GetLastErrorText();
            platform::MessageBox(text, "", platform::kMbOk);
        }
    }
}

std::string FtpStorageDevice::GetFile(const std::string& folder, const std::string& name)
{
    std::string local_path;
    platform::GetTempPath(&local_path);
    local_path += name;
    if (!folder.empty()) {
        ChangeWorkingFolder(folder);
    }
    if (platform::FtpGetFile(connection_, name, local_path, false, 0,
                             platform::kFtpTransferTypeBinary, kContextDownload)) {
        return local_path;
    }
    last_error_ = static_cast<int32_t>(platform::GetLastError());
    platform::DeleteFile(local_path);
    return "";
}

bool FtpStorageDevice::ReleaseFile(const std::string& local_path)
{
    return platform::DeleteFile(local_path);
}

TDateTime FtpStorageDevice::ListedFileTimeToDateTime(const platform::FindData& data)
{
    const TDateTime listed = FileTimeToDateTime(data.last_write_time);
    // Only a year the listing left out can be wrong by one.
    if (!data.date_without_year) {
        return listed;
    }
    const double age = NowDateTime() - listed;
    if (age <= 364 || age >= 366) {
        return listed;
    }
    platform::SystemTime fields;
    double moved = 0;
    if (!platform::FileTimeToSystemTime(data.last_write_time, &fields) ||
        !platform::TryEncodeDateTime(fields.year + 1, fields.month, fields.day, fields.hour,
                                     fields.minute, fields.second, fields.milliseconds, &moved)) {
        return listed;
    }
    return moved;
}

TDateTime FtpStorageDevice::ParseVmsDateTime(const std::string& text)
{
    static const std::string kMonths = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
    std::string rest = text;
    std::string day, month, year, hour, minute;
    SplitHead(&rest, "-", &day);
    SplitHead(&rest, "-", &month);
    SplitHead(&rest, " ", &year);
    SplitHead(&rest, ":", &hour);
    SplitHead(&rest, ":", &minute);
    std::string upper = month;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    const size_t found = upper.empty() ? std::string::npos : kMonths.find(upper);
    const int position = found == std::string::npos ? 0 : static_cast<int>(found) + 1;
    const auto number = [](const std::string& field) { return std::atoi(field.c_str()); };
    double result = 0;
    platform::TryEncodeDateTime(number(year), position / 3 + 1, number(day), number(hour),
                                number(minute), number(rest), 0, &result);
    return result;
}

std::string FtpStorageDevice::FormatListingLine(const platform::FileTime& file_time)
{
    platform::SystemTime fields;
    platform::FileTimeToSystemTime(file_time, &fields);
    char text[64];
    std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", fields.year, fields.month,
                  fields.day, fields.hour, fields.minute, fields.second);
    return text;
}

void FtpStorageDevice::ParseVmsListing(QelDirectoryEntry* entry, bool first)
{
    if (vms_mode_ == 0) {
        return;
    }
    if (first) {
        // Only the header line of a VMS listing decides: a UNIX folder whose first file is
        // "Directory.html" must not have every entry dropped.
        if (IsVmsHeader(*entry)) {
            entry->Name.clear();
            vms_mode_ = 1;
        } else {
            vms_mode_ = 0;
        }
        return;
    }
    if (StartsWith(entry->Name, "Total of", false)) {
        entry->Name.clear();
        return;
    }
    const size_t semicolon = entry->Name.rfind(';');
    if (semicolon == std::string::npos) {
        return;
    }
    std::string rest = Trimmed(entry->Name.substr(semicolon + 1));
    std::string name = entry->Name.substr(0, semicolon);
    for (int i = 0; i < 2; ++i) {
        rest = Trimmed(After(rest, " "));
    }
    const std::string date = Before(rest, " ");
    const std::string time = NthField(rest, 2, " ");
    entry->Date2 = ParseVmsDateTime(date + " " + time);
    entry->Date = entry->Date2 - (time_drift_ != nullptr ? *time_drift_ : 0.0);
    entry->SizeHigh = kSizeMissing;
    entry->SizeLow = kSizeMissing;
    const bool folder = EndsWith(name, ".DIR", false);
    if (folder) {
        name = name.substr(0, name.rfind('.'));
    }
    entry->Name = name;
    entry->SetDirectory(folder);
    entry->SetReadOnly(false);
    entry->SetHidden(false);
}

bool FtpStorageDevice::KeepListedEntry(QelDirectoryList* list,
                                       std::unique_ptr<QelDirectoryEntry> entry,
                                       bool first,
                                       const std::string& mask)
{
    ParseVmsListing(entry.get(), first);
    if (entry->Name.empty()) {
        return false;
    }
    AddCountedEntry(list, std::move(entry), mask);
    return true;
}

void FtpStorageDevice::AddCountedEntry(QelDirectoryList* list,
                                       std::unique_ptr<QelDirectoryEntry> entry,
                                       const std::string& mask)
{
    CountListedDotFile(dot_file_state_, entry->Name, mask.empty());
    list->Add(std::move(entry));
}

std::unique_ptr<QelDirectoryEntry> FtpStorageDevice::ListedEntryOf(const platform::FindData& data,
                                                                   const std::string& /*line*/)
{
    auto entry = QelDirectoryEntry::Create();
    entry->Name = data.file_name;
    entry->Date2 = ListedFileTimeToDateTime(data);
    entry->Date = entry->Date2 - (time_drift_ != nullptr ? *time_drift_ : 0.0);
    entry->SizeHigh = data.size_high;
    entry->SizeLow = data.size_low;
    // The link bit tells the worker never to enter or write through a link on the server.
    entry->Attributes =
        data.attributes & (platform::kFileAttributeDirectory | platform::kFileAttributeReadOnly |
                           platform::kFileAttributeHidden | platform::kFileAttributeReparsePoint);
    return entry;
}

void FtpStorageDevice::AddListedEntry(QelDirectoryList* list,
                                      const platform::FindData& data,
                                      bool first,
                                      const std::string& folder,
                                      const std::string& mask)
{
    if (!KeepListedEntry(list, ListedEntryOf(data, ""), first, mask)) {
        return;
    }
    if ((flags_ & kFlagVerbose) != 0) {
        // The name as the VMS fix-up left it, of the entry just added.
        const std::string& name = list->Items(list->Count())->Name;
        if (first) {
            Write(kMsgVerbose,
                  "Directory listing for " + folder + (mask.empty() ? "" : "\\" + mask));
        }
        Write(kMsgVerbose, FormatListingLine(data.last_write_time) + " " + name);
    }
}

void FtpStorageDevice::AddDotFiles(QelDirectoryList* list,
                                   const std::string& folder,
                                   bool cache_allowed)
{
    if (!LooksForHiddenDotFiles(dot_file_state_, unix_) || list_all_refused_) {
        return;
    }
    std::vector<std::string> names;
    if (!nlst_pattern_refused_) {
        names = ListDotFiles(folder);
    }
    if (nlst_pattern_refused_) {
        AddDotFilesOfFullListing(list, folder);
        return;
    }
    for (const std::string& name : names) {
        CountFetchedDotFile(dot_file_state_);
        // "NLST -a" names the folder and its parent too; the worker must never see them as
        // entries.
        if (name == "." || name == "..") {
            continue;
        }
        const std::unique_ptr<QelDirectoryList> sub = ListDirectory(folder, name, cache_allowed);
        if (sub->Count() == 1 && sub->Items(1)->Name == name) {
            list->Add(QelDirectoryEntry::CreateCopy(*sub->Items(1)));
        } else if (ChangeDirectory(JoinWithSeparator(folder, "\\", name))) {
            // A folder's name lists what the folder holds. Left out, the folder would look
            // missing, and making it would fail on every run.
            auto entry = QelDirectoryEntry::Create();
            entry->Name = name;
            entry->SetDirectory(true);
            list->Add(std::move(entry));
        }
    }
}

void FtpStorageDevice::AddDotFilesOfFullListing(QelDirectoryList* list, const std::string& folder)
{
    std::string reply;
    SendCommand("LIST -a", folder, &reply, {platform::kErrorInternetExtendedError}, true);
    if (last_error_ != 0) {
        // Without either command the dot files stay unseen, as on any server that hides them.
        list_all_refused_ =
            last_error_ == static_cast<int32_t>(platform::kErrorInternetExtendedError);
        return;
    }
    platform::SystemTime now{};
    platform::GetLocalTime(&now);
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string::npos) {
            end = reply.size();
        }
        const std::string line = reply.substr(start, end - start);
        start = end + 1;
        platform::FindData data;
        if (!platform::ParseListingLine(line, now, &data) || !IsDotFileName(data.file_name)) {
            continue;
        }
        CountFetchedDotFile(dot_file_state_);
        list->Add(ListedEntryOf(data, line));
    }
}

std::string FtpStorageDevice::RemoteFolderOf(const std::string& folder) const
{
    return RemotePathOf(folder);
}

std::vector<std::string> FtpStorageDevice::ListDotFiles(const std::string& folder)
{
    std::string reply;
    // A server that refuses the command (pyftpdlib does) would otherwise open a message box for
    // every folder listed while dot files are still being detected, stopping the run each time.
    SendCommand("NLST -a .*", folder, &reply, {platform::kErrorInternetExtendedError}, true);
    // A refusal leaves the server's reply in place of the names; it names no dot file.
    if (last_error_ != 0) {
        nlst_pattern_refused_ =
            last_error_ == static_cast<int32_t>(platform::kErrorInternetExtendedError);
        return {};
    }
    const bool skip_quota =
        RemoteFolderOf(folder) == base_folder_ && unix_ && (flags_ & kFlagAskSyst) != 0;
    std::vector<std::string> names;
    size_t start = 0;
    while (start < reply.size()) {
        const size_t end = reply.find("\r\n", start);
        const std::string name =
            reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty()) {
            break;
        }
        // A name the system cannot use safely is never listed by name (nor as a path).
        const bool unsafe = name.find_first_of(std::string("/\\\r\n\0", 5)) != std::string::npos;
        if (!unsafe && !(skip_quota && AsciiLowerCase(name) == ".quota")) {
            names.push_back(name);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    return names;
}

std::unique_ptr<QelDirectoryList> FtpStorageDevice::ListDirectory(const std::string& folder,
                                                                  const std::string& mask,
                                                                  bool cache_allowed)
{
    auto list = QelDirectoryList::Create();
    if (!ChangeWorkingFolder(folder)) {
        listing_failed_ = true;
        return list;
    }
    bool reload = !cache_allowed;
    int reconnects = 0;
    while (true) {
        platform::FindData data;
        Watch();
        const platform::InternetHandle find = platform::FtpFindFirstFile(
            connection_, mask, &data, reload ? platform::kInternetFlagReload : 0, kContextListing);
        Disarm();
        uint32_t code = 0;
        if (!find) {
            code = platform::GetLastError();
            const bool timed_out =
                code == platform::kErrorInternetTimeout || code == platform::kErrorFtpDropped;
            if ((timed_out && retry_state_ == kRetryNone) ||
                (code == platform::kErrorInternetConnectionAborted && WatchdogFired())) {
                // The retry below.
            } else if ((timed_out || code == platform::kErrorInternetExtendedError) &&
                       retry_state_ != kRetryModeSwitched) {
                if (!MayReconnect(reconnects++)) {
                    listing_failed_ = true;
                    return list;
                }
                retry_state_ = kRetryModeSwitched;
                passive_ = passive_ != 0 ? 0 : 1;
                Write(kMsgWarning, "Renegotiating connection type");
                if (!Reconnect(passive_ != 0, "Failed to renegotiate connection", code)) {
                    listing_failed_ = true;
                    return QelDirectoryList::Create();
                }
                list = QelDirectoryList::Create();
                if (!ChangeWorkingFolder(folder)) {
                    listing_failed_ = true;
                    return list;
                }
                reload = true;
                continue;
            } else if (code == platform::kErrorNoMoreFiles) {
                if (mask.empty()) {
                    AddDotFiles(list.get(), folder, cache_allowed);
                }
                return list;
            } else {
                last_error_ = static_cast<int32_t>(code);
                Write(kMsgError, "Error listing files in " + folder + " (error " +
                                     std::to_string(code) + "). " + GetLastErrorText());
                listing_failed_ = true;
                return list;
            }
        } else {
            Watch();
            retry_state_ = kRetryNone;
            bool first = true;
            do {
                AddListedEntry(list.get(), data, first, folder, mask);
                first = false;
            } while (platform::InternetFindNextFile(find, &data));
            Disarm();
            if (!WatchdogFired()) {
                platform::InternetCloseHandle(find);
                if (list->Count() == 1) {
                    const QelDirectoryEntry& only = *list->Items(1);
                    if (only.Name == "total 1" && only.SizeHigh == 0 && only.SizeLow == 0 &&
                        only.Attributes == 0) {
                        list->Delete(1);
                    }
                }
                if (mask.empty()) {
                    AddDotFiles(list.get(), folder, cache_allowed);
                }
                return list;
            }
            code = platform::kErrorInternetConnectionAborted;
        }
        if (!MayReconnect(reconnects++)) {
            listing_failed_ = true;
            return list;
        }
        if (code == platform::kErrorInternetConnectionAborted) {
            last_error_ = static_cast<int32_t>(platform::kErrorInternetTimeout);
            Write(kMsgWarning, "Timedout - retrying");
            retry_state_ = kRetryAfterTimeout;
        } else {
            last_error_ = static_cast<int32_t>(code);
            Write(kMsgWarning, "Renegotiating connection");
            retry_state_ = kRetryRenegotiating;
        }
        if (!Reconnect(passive_ != 0, "Failed to renegotiate connection", code)) {
            last_error_ = static_cast<int32_t>(platform::kErrorInternetTimeout);
            listing_failed_ = true;
            return list;
        }
        // The retry keeps the mask: a single-name listing must not come back as the whole folder.
        list = QelDirectoryList::Create();
        if (!ChangeWorkingFolder(folder)) {
            listing_failed_ = true;
            return list;
        }
        reload = true;
    }
}

}  // namespace vantrel
