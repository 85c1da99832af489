#include "platform/Errors.h"

#include <cerrno>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

namespace vantrel::platform {
namespace {

TEST(ErrorsTest, LastErrorBelongsToTheCallingThread)
{
    SetLastError(kErrorAccessDenied);
    uint32_t seen_in_thread = 12345;
    std::thread other([&] {
        seen_in_thread = GetLastError();
        SetLastError(kErrorFileNotFound);
    });
    other.join();
    EXPECT_EQ(kErrorSuccess, seen_in_thread);
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
}

TEST(ErrorsTest, ErrnoMapsToTheCodesTheSystemTests)
{
    struct Case
    {
        int errno_value;
        bool missing_is_path;
        uint32_t expected;
    };
    const Case kCases[] = {
        {ENOENT, false, kErrorFileNotFound},  {ENOENT, true, kErrorPathNotFound},
        {ENOTDIR, false, kErrorPathNotFound}, {EACCES, false, kErrorAccessDenied},
        {EPERM, false, kErrorAccessDenied},   {EEXIST, false, kErrorAlreadyExists},
        {ENOSPC, false, kErrorDiskFull},      {ENOTEMPTY, false, kErrorDirNotEmpty},
        {EXDEV, false, kErrorNotSameDevice},  {EIO, false, kErrorIoDevice},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, ErrorFromErrno(c.errno_value, c.missing_is_path)) << c.errno_value;
    }
}

TEST(ErrorsTest, EveryProducedCodeHasItsOwnTextAndOthersNameTheNumber)
{
    const uint32_t kProduced[] = {kErrorFileNotFound,   kErrorPathNotFound,
                                  kErrorAccessDenied,   kErrorNoMoreFiles,
                                  kErrorBadNetpath,     kErrorAlreadyExists,
                                  kErrorBufferTooSmall, kErrorCannotFindPhonebookEntry,
                                  kErrorInvalidSize,    kErrorBadDatabase,
                                  kErrorCantOpen,       kErrorRegistryIoFailed,
                                  kErrorKeyDeleted};
    for (uint32_t code : kProduced) {
        const std::string text = ErrorMessageText(code);
        EXPECT_EQ(std::string::npos, text.find("Unknown")) << code;
        EXPECT_EQ('.', text.back()) << code;
    }
    EXPECT_EQ("Unknown error 99999.", ErrorMessageText(99999));
}

// The FTP device shows these texts as they stand, and the other internet codes with their
// number after them.
TEST(ErrorsTest, InternetCodesHaveTheTextsTheDevicesShow)
{
    const std::pair<uint32_t, const char*> kTexts[] = {
        {kErrorInternetTimeout, "Timed out"},
        {kErrorInternetNameNotResolved,
         "Internet name not resolved (ERROR_INTERNET_NAME_NOT_RESOLVED)"},
        {kErrorInternetOperationCancelled, "Operation cancelled"},
        {kErrorInternetCannotConnect, "Cannot connect to internet"},
        {kErrorInternetConnectionAborted, "Internet connection aborted (possibly forced timeout)"},
        {kErrorInternetConnectionReset,
         "Connection reset - possibly line dropped (ERROR_INTERNET_CONNECTION_RESET)"},
        {kErrorFtpDropped,
         "The FTP operation was not completed because the session was aborted "
         "(ERROR_FTP_DROPPED)"},
        {kErrorInternetDisconnected, "Internet disconnected (possibly working offline)"},
    };
    for (const auto& [code, text] : kTexts) {
        EXPECT_EQ(text, ErrorMessageText(code)) << code;
    }
    for (uint32_t code : {kErrorInternetExtendedError, kErrorInternetInternalError,
                          kErrorInternetIncorrectHandleType, kErrorFtpTransferInProgress,
                          kErrorInternetInvalidServerResponse, kErrorInvalidHandle,
                          kErrorCannotFindPhonebookEntry}) {
        EXPECT_EQ(std::string::npos, ErrorMessageText(code).find("Unknown")) << code;
    }
}

TEST(ErrorsTest, FailWithErrnoReturnsFalseAndSetsTheCode)
{
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(FailWithErrno(ENOENT, true));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

}  // namespace
}  // namespace vantrel::platform
