#include "platform/Errors.h"

#include <cerrno>

namespace vantrel::platform {
namespace {

thread_local uint32_t last_error = kErrorSuccess;

struct ErrorText
{
    uint32_t code;
    const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kErrorSuccess, "The operation completed successfully."},
    {kErrorInvalidFunction, "The function is not valid here."},
    {kErrorFileNotFound, "The file could not be found."},
    {kErrorPathNotFound, "The path could not be found."},
    {kErrorTooManyOpenFiles, "Too many files are open."},
    {kErrorAccessDenied, "Access was denied."},
    {kErrorInvalidHandle, "The handle is not valid."},
    {kErrorNotEnoughMemory, "There is not enough memory for this operation."},
    {kErrorNotSameDevice, "The file cannot be moved to another disk."},
    {kErrorNoMoreFiles, "There are no more files."},
    {kErrorWriteProtect, "The medium is write-protected."},
    {kErrorSharingViolation, "The file is in use."},
    {kErrorNotSupported, "The request is not supported."},
    {kErrorBadNetpath, "The network path could not be found: the share is not mounted."},
    {kErrorFileExists, "The file already exists."},
    {kErrorInvalidParameter, "A parameter is not valid."},
    {kErrorBrokenPipe, "The pipe has been ended."},
    {kErrorDiskFull, "There is not enough space on the disk."},
    {kErrorDirNotEmpty, "The folder is not empty."},
    {kErrorAlreadyExists, "A file or folder of that name already exists."},
    {kErrorFilenameExcedRange, "The file name or path is too long."},
    {kErrorPipeBusy, "The pipe has no room for the data now."},
    {kErrorDirectory, "The folder name is not valid."},
    {kErrorBufferTooSmall, "The buffer is too small for the list."},
    {kErrorCannotFindPhonebookEntry, "The dial-up entry could not be found."},
    {kErrorInvalidSize, "The record size is not valid."},
    {kErrorFileInvalid, "The folder has been replaced since it was opened."},
    {kErrorBadDatabase, "The settings database is damaged."},
    {kErrorCantOpen, "The settings database could not be opened."},
    {kErrorRegistryIoFailed, "The settings database could not be read or written."},
    {kErrorKeyDeleted, "The settings key has been deleted."},
    {kErrorIoDevice, "An input/output error occurred on the device."},
    {kErrorCantResolveFilename, "The name could not be resolved (too many symbolic links)."},
    {kErrorInternetTimeout, "Timed out"},
    {kErrorInternetExtendedError, "Internet extended error"},
    {kErrorInternetInternalError, "An internal error occurred in the internet library."},
    {kErrorInternetNameNotResolved,
     "Internet name not resolved (ERROR_INTERNET_NAME_NOT_RESOLVED)"},
    {kErrorInternetOperationCancelled, "Operation cancelled"},
    {kErrorInternetIncorrectHandleType, "The handle is of the wrong kind for this operation."},
    {kErrorInternetCannotConnect, "Cannot connect to internet"},
    {kErrorInternetConnectionAborted, "Internet connection aborted (possibly forced timeout)"},
    {kErrorInternetConnectionReset,
     "Connection reset - possibly line dropped (ERROR_INTERNET_CONNECTION_RESET)"},
    {kErrorFtpTransferInProgress, "A transfer is still in progress on this FTP connection."},
    {kErrorFtpDropped,
     "The FTP operation was not completed because the session was aborted (ERROR_FTP_DROPPED)"},
    {kErrorInternetInvalidServerResponse, "The server's reply could not be understood."},
    {kErrorInternetDisconnected, "Internet disconnected (possibly working offline)"},
};

}  // namespace

uint32_t GetLastError()
{
    return last_error;
}

void SetLastError(uint32_t code)
{
    last_error = code;
}

std::string ErrorMessageText(uint32_t code)
{
    for (const auto& entry : kErrorTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return "Unknown error " + std::to_string(code) + ".";
}

uint32_t ErrorFromErrno(int errno_value, bool missing_is_path)
{
    switch (errno_value) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return missing_is_path ? kErrorPathNotFound : kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EXDEV:
            return kErrorNotSameDevice;
        case EROFS:
            return kErrorWriteProtect;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENOTSUP:
            return kErrorNotSupported;
        case EEXIST:
            return kErrorAlreadyExists;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case ENAMETOOLONG:
            return kErrorFilenameExcedRange;
        case EISDIR:
            return kErrorAccessDenied;
        case ELOOP:
            return kErrorCantResolveFilename;
        default:
            return kErrorIoDevice;
    }
}

bool FailWithErrno(int errno_value, bool missing_is_path)
{
    SetLastError(ErrorFromErrno(errno_value, missing_is_path));
    return false;
}

}  // namespace vantrel::platform
