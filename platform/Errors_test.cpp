#include "platform/Errors.h"

#include <cerrno>
#include <thread>

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

TEST(ErrorsTest, FailWithErrnoReturnsFalseAndSetsTheCode)
{
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(FailWithErrno(ENOENT, true));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

}  // namespace
}  // namespace vantrel::platform
