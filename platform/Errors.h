#pragma once

#include <cstdint>
#include <string>

// The error numbering the system tests (the Windows codes), a last error kept per thread, and the
// message text of each code we produce.
namespace vantrel::platform {

inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNotSameDevice = 17;
inline constexpr uint32_t kErrorNoMoreFiles = 18;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorBadNetpath = 53;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorPipeBusy = 231;
inline constexpr uint32_t kErrorDirectory = 267;
inline constexpr uint32_t kErrorBufferTooSmall = 603;
// Dialling an entry that the phone book does not hold (there is no phone book here).
inline constexpr uint32_t kErrorCannotFindPhonebookEntry = 623;
inline constexpr uint32_t kErrorInvalidSize = 632;
// A folder held open was replaced under its path since (platform/Files.h, HeldFolder).
inline constexpr uint32_t kErrorFileInvalid = 1006;
inline constexpr uint32_t kErrorBadDatabase = 1009;
inline constexpr uint32_t kErrorCantOpen = 1011;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// The internet library's codes (platform/Inet.h).
inline constexpr uint32_t kErrorInternetTimeout = 12002;
// The server refused a command; its reply is the last response.
inline constexpr uint32_t kErrorInternetExtendedError = 12003;
inline constexpr uint32_t kErrorInternetInternalError = 12004;
inline constexpr uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr uint32_t kErrorInternetOperationCancelled = 12017;
inline constexpr uint32_t kErrorInternetIncorrectHandleType = 12018;
inline constexpr uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr uint32_t kErrorInternetConnectionAborted = 12030;
inline constexpr uint32_t kErrorInternetConnectionReset = 12031;
inline constexpr uint32_t kErrorFtpTransferInProgress = 12110;
inline constexpr uint32_t kErrorFtpDropped = 12111;
inline constexpr uint32_t kErrorInternetInvalidServerResponse = 12152;
inline constexpr uint32_t kErrorInternetDisconnected = 12163;

// The calling thread's last error, as the platform calls leave it.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// The message text of a code, without a trailing line break; a code we never produce gets a
// generic text that names the number.
std::string ErrorMessageText(uint32_t code);

// Maps a POSIX errno to our numbering. `missing_is_path` chooses between "file not found" and
// "path not found" for ENOENT, which POSIX does not tell apart.
uint32_t ErrorFromErrno(int errno_value, bool missing_is_path = false);

// Sets the last error from errno and returns false, for the common failure path.
bool FailWithErrno(int errno_value, bool missing_is_path = false);

}  // namespace vantrel::platform
