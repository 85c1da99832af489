#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/Files.h"

// The internet library: our own FTP client over TCP sockets, with the calls, results and error
// codes of the system's FTP device. Handles are numbers that stay unique for the life of the
// process; a handle closed, or never made, is refused with 6 (invalid handle). Closing a handle
// closes the handles made on it (a session's connections, a connection's listings and data).
//
// Every call runs on the thread that makes it and may block, never beyond the limits of the
// session (InternetSetTimeouts). InternetCloseHandle may come from any other thread: a call
// blocked on that handle then returns false at once, with 12030 on a connection that was
// talking to the server, 12017 while a connection was still being made. Calls that fail set
// the calling thread's last error (platform/Errors.h): 12002 a limit passed, 12003 the server
// refused (its reply is the last response), 12007 the host name does not resolve, 12029
// nothing listens, 12030 the connection broke, 12031 it was reset, 12111 the server ended the
// session (421 or end of the control connection; every later call on that connection fails
// so too), 12110 a data handle of the connection is still being read, 12163 the library is
// offline, 87 a name, path, command or login text holding CR, LF or NUL (refused before
// anything is sent), 18 a listing without (more) entries.
namespace vantrel::platform {

// An internet handle; the default value is no handle.
struct InternetHandle
{
    uint64_t value = 0;

    explicit operator bool() const { return value != 0; }
    bool operator==(const InternetHandle&) const = default;
};

inline constexpr uint32_t kInternetOpenTypePreconfig = 0;
inline constexpr uint32_t kInternetOpenTypeDirect = 1;
inline constexpr uint32_t kInternetOpenTypeProxy = 3;
inline constexpr uint32_t kInternetOpenTypePreconfigWithNoAutoproxy = 4;

inline constexpr uint16_t kInternetDefaultFtpPort = 21;
inline constexpr uint32_t kInternetServiceFtp = 1;
inline constexpr uint32_t kInternetFlagPassive = 0x08000000;
// Accepted and meaningless here: nothing is cached.
inline constexpr uint32_t kInternetFlagReload = 0x80000000;
inline constexpr uint32_t kFtpTransferTypeAscii = 1;
inline constexpr uint32_t kFtpTransferTypeBinary = 2;

// A server that sends more bytes or lines than these in one reply, more preliminary replies
// before the final one, or more bytes in one listing, is not speaking FTP: the call fails with
// 12152 (kErrorInternetInvalidServerResponse).
inline constexpr size_t kFtpReplyBytesAtMost = 64 * 1024;
inline constexpr size_t kFtpReplyLinesAtMost = 1000;
inline constexpr int kFtpPreliminaryRepliesAtMost = 16;
inline constexpr size_t kFtpListingBytesAtMost = 32 * 1024 * 1024;

// Status callback codes. Each command to the server reports 30 and 31 around sending it, 40
// while its reply is awaited and 41 when the reply is complete; a preliminary (1xx) reply
// reports 120. Data moving on a data connection reports 31 for every piece sent and 40 for
// every piece received (so a transfer that moves shows progress, and one that stalls shows
// none). Every call that talked to the server ends with 100. Closing a connection reports 50
// and 51, and every handle closed reports 70 last: a call that the closing cut short reports
// nothing more. 200 tells each session that the connected
// state changed. For 31 and 41 the information is the byte count (uint32_t).
inline constexpr uint32_t kInternetStatusSendingRequest = 30;
inline constexpr uint32_t kInternetStatusRequestSent = 31;
inline constexpr uint32_t kInternetStatusReceivingResponse = 40;
inline constexpr uint32_t kInternetStatusResponseReceived = 41;
inline constexpr uint32_t kInternetStatusClosingConnection = 50;
inline constexpr uint32_t kInternetStatusConnectionClosed = 51;
inline constexpr uint32_t kInternetStatusHandleClosing = 70;
inline constexpr uint32_t kInternetStatusRequestComplete = 100;
inline constexpr uint32_t kInternetStatusIntermediateResponse = 120;
inline constexpr uint32_t kInternetStatusStateChange = 200;

// Connected-state flags.
inline constexpr uint32_t kInternetConnectionModem = 0x1;
inline constexpr uint32_t kInternetConnectionLan = 0x2;
inline constexpr uint32_t kInternetConnectionOffline = 0x20;
// Connected states set through InternetSetConnectedState.
inline constexpr uint32_t kInternetStateConnected = 0x1;
inline constexpr uint32_t kInternetStateDisconnectedByUser = 0x10;
inline constexpr uint32_t kIsoForceDisconnected = 0x1;
// Dialling flags.
inline constexpr uint32_t kInternetAutodialForceOnline = 0x1;
inline constexpr uint32_t kInternetDialForcePrompt = 0x2000;

// Called on the thread of the call that reports, with the context of that call (or of the
// handle, for calls that take none). The library holds no lock of its own while it calls, so
// the callback may call the library, close handles included.
using InternetStatusCallback = void (*)(InternetHandle handle,
                                        uintptr_t context,
                                        uint32_t status,
                                        const void* information,
                                        uint32_t information_length);

// The limits of one session, which its connections take when they are made: `connect_ms`
// bounds the whole of InternetConnect (name lookup aside) and each data connection's making,
// `receive_ms` every wait for the server. A connection time-out of 0 in the callers means none
// of their own; these still hold.
struct InternetTimeouts
{
    uint32_t connect_ms = 60'000;
    uint32_t receive_ms = 60'000;
};

// A session. Access types 0, 1 and 4 connect directly (there is no proxy support); 3 fails
// with 87. Also makes SIGPIPE harmless to the process.
InternetHandle InternetOpen(const std::string& agent,
                            uint32_t access_type,
                            const std::string& proxy,
                            const std::string& proxy_bypass,
                            uint32_t flags);
bool InternetCloseHandle(InternetHandle handle);
// Sets the callback of a handle (null for none); handles made on it later take it over.
bool InternetSetStatusCallback(InternetHandle handle,
                               InternetStatusCallback callback,
                               InternetStatusCallback* previous = nullptr);
bool InternetSetTimeouts(InternetHandle session, const InternetTimeouts& timeouts);
// The limit, for connections made on the session from now on, of one whole reply (the greeting
// included, and a final reply with the preliminary ones before it) and of each 64 KB of a
// listing, however the server spaces what it sends: a reply or listing that takes longer fails
// with 12002 and ends the connection. 0: the session's receive limit. Transfers of files are
// bounded by silence alone, so a large file on a slow line still goes.
bool InternetSetReplyTimeout(InternetHandle session, uint32_t reply_ms);

// A logged-in FTP connection: port 0 means 21, an empty user name "anonymous"; flags
// kInternetFlagPassive for passive data connections (PASV, EPSV over IPv6), else active ones
// (PORT, EPRT). Null on failure; a refused login gives 12003 with the server's reply as the
// last response.
InternetHandle InternetConnect(InternetHandle session,
                               const std::string& server,
                               uint16_t port,
                               const std::string& user_name,
                               const std::string& password,
                               uint32_t service,
                               uint32_t flags,
                               uintptr_t context);

// Server paths use "/" as the server does.
bool FtpSetCurrentDirectory(InternetHandle connection, const std::string& directory);
bool FtpGetCurrentDirectory(InternetHandle connection, std::string* directory);
// Local paths are the system's (platform/Files.h). Text transfers (kFtpTransferTypeAscii) send
// every line end as CR LF, and turn CR LF into LF when they receive.
bool FtpPutFile(InternetHandle connection,
                const std::string& local_file,
                const std::string& remote_file,
                uint32_t flags,
                uintptr_t context);
// The local file is written under a temporary name and put in place when complete, so a failed
// download leaves what was there. fail_if_exists refuses (80) to replace a file.
bool FtpGetFile(InternetHandle connection,
                const std::string& remote_file,
                const std::string& local_file,
                bool fail_if_exists,
                uint32_t attributes,
                uint32_t flags,
                uintptr_t context);
bool FtpDeleteFile(InternetHandle connection, const std::string& file_name);
bool FtpRenameFile(InternetHandle connection,
                   const std::string& existing_name,
                   const std::string& new_name);
bool FtpCreateDirectory(InternetHandle connection, const std::string& directory);
bool FtpRemoveDirectory(InternetHandle connection, const std::string& directory);

// Lists the current folder with LIST (platform/FtpListing.h reads the lines), narrowed to the
// entries whose names match `search` ("*" and "?", letter case counts) when one is given. A
// find handle and the first record, or null: 18 when nothing is listed or matches.
InternetHandle FtpFindFirstFile(InternetHandle connection,
                                const std::string& search,
                                FindData* data,
                                uint32_t flags,
                                uintptr_t context);
// False with 18 after the last record.
bool InternetFindNextFile(InternetHandle find, FindData* data);

// Sends a command. With expect_response the command opens a data connection (in the transfer
// type of `flags`) and *data is a handle that InternetReadFile reads until it gives 0 bytes;
// close it when done. Without, the reply is the last response.
bool FtpCommand(InternetHandle connection,
                bool expect_response,
                uint32_t flags,
                const std::string& command,
                uintptr_t context,
                InternetHandle* data);
// Reads what comes next from a data handle; 0 bytes read (and true) at the end, once the
// server confirmed the transfer.
bool InternetReadFile(InternetHandle data, void* buffer, uint32_t size, uint32_t* bytes_read);

// Every line of the last reply this thread received, joined by CR LF; empty when none.
std::string InternetGetLastResponseInfo();
// Makes `response` this thread's last reply: for a call made on another thread for this one.
void InternetSetLastResponseInfo(const std::string& response);

// Where the connected state, connecting and dialling come from: by default the process's own
// (the LAN, nothing to dial); tests install one that plays a modem, a dial-up entry or a
// computer with no connection. Called on the thread of the library call.
class InternetConnectivity
{
public:
    virtual ~InternetConnectivity() = default;
    // As InternetGetConnectedStateEx; `switched_offline` is the process's state set through
    // InternetSetConnectedState.
    virtual bool GetConnectedState(bool switched_offline,
                                   uint32_t* flags,
                                   std::string* connection_name) = 0;
    virtual uint32_t AttemptConnect() = 0;
    // As InternetDial: the remote-access result, and *connection the number of what was
    // dialled (0 when nothing was).
    virtual uint32_t Dial(const std::string& entry_name, uint32_t flags, uintptr_t* connection) = 0;
    virtual uint32_t HangUp(uintptr_t connection) = 0;
};

// Installs the connectivity that every later call uses (borrowed; null puts back the
// process's own) and returns the one it replaces.
InternetConnectivity* SetInternetConnectivity(InternetConnectivity* connectivity);

// Connected through the LAN ("LAN") unless switched offline; offline gives false, flags with
// kInternetConnectionOffline and an empty name.
bool InternetGetConnectedStateEx(uint32_t* flags, std::string* connection_name);
// The connected state of the whole process: kInternetStateDisconnectedByUser (with
// kIsoForceDisconnected) switches offline, kInternetStateConnected online.
bool InternetSetConnectedState(uint32_t state, uint32_t flags);
// 0: there is nothing to dial here, and the LAN needs no bringing up (unless an installed
// connectivity says otherwise, as for the two calls below).
uint32_t InternetAttemptConnect(uint32_t reserved);
// Dial-up entries do not exist on this platform: 623, and *connection is set to 0.
uint32_t InternetDial(uintptr_t parent_window,
                      const std::string& entry_name,
                      uint32_t flags,
                      uintptr_t* connection,
                      uint32_t reserved);
uint32_t InternetHangUp(uintptr_t connection, uint32_t reserved);

// For the benchmarks: how many commands of each verb this process sent to FTP servers.
std::map<std::string, uint64_t> SentFtpCommandCounts();

// For checks and tests: how many handles are open, and whether one is.
size_t OpenInternetHandleCount();
bool IsInternetHandleOpen(InternetHandle handle);

}  // namespace vantrel::platform
