#include "platform/Pipe.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "tests/support/Concurrency.h"

namespace vantrel::platform {
namespace {

using testing::BackgroundCall;
using namespace std::chrono_literals;

class AnonymousPipeTest : public ::testing::Test
{
protected:
    bool Put(const std::string& bytes, PipeWriteMode mode = PipeWriteMode::kNoWait)
    {
        return pipe_.Write(bytes.data(), bytes.size(), mode);
    }

    // Reads size bytes; what arrived, even when fewer.
    std::string Take(size_t size)
    {
        std::string bytes(size, '\0');
        size_t read = 0;
        pipe_.Read(bytes.data(), size, &read);
        bytes.resize(read);
        return bytes;
    }

    size_t Waiting()
    {
        size_t copied = 0;
        size_t available = 0;
        EXPECT_TRUE(pipe_.Peek(nullptr, 0, &copied, &available));
        return available;
    }

    AnonymousPipe pipe_{16};
};

TEST_F(AnonymousPipeTest, EachModeMeetsAFullPipeInItsOwnWay)
{
    ASSERT_TRUE(Put(std::string(16, 'x')));
    EXPECT_FALSE(Put("y", PipeWriteMode::kOnlyIfRoom));
    EXPECT_EQ(kErrorPipeBusy, GetLastError());
    EXPECT_EQ(16u, Waiting());
    EXPECT_TRUE(Put("z", PipeWriteMode::kNoWait));
    EXPECT_EQ(17u, Waiting());
    Take(17);
    // An empty pipe takes a write larger than its whole capacity.
    EXPECT_TRUE(Put(std::string(40, 'w'), PipeWriteMode::kOnlyIfRoom));
    EXPECT_EQ(40u, Waiting());
}

TEST_F(AnonymousPipeTest, AWaitingWriterGoesOnWhenTheReaderMakesRoom)
{
    ASSERT_TRUE(Put(std::string(12, 'a')));
    BackgroundCall writer([&] { EXPECT_TRUE(Put("bbbbbbbb", PipeWriteMode::kWait)); },
                          [&] { pipe_.CloseReadEnd(); });
    EXPECT_FALSE(writer.Returned(30ms)) << "the writer did not wait for room";
    EXPECT_EQ(12u, Waiting());
    EXPECT_EQ(std::string(4, 'a'), Take(4));
    ASSERT_TRUE(writer.Returned());
    EXPECT_EQ(std::string(8, 'a') + std::string(8, 'b'), Take(16));
}

TEST_F(AnonymousPipeTest, AReaderWaitsForTheBytesItAskedFor)
{
    std::string got;
    BackgroundCall reader([&] { got = Take(6); }, [&] { pipe_.CloseWriteEnd(); });
    ASSERT_TRUE(Put("abc"));
    EXPECT_FALSE(reader.Returned(30ms)) << "the read returned before all its bytes came";
    ASSERT_TRUE(Put("defg"));
    ASSERT_TRUE(reader.Returned());
    EXPECT_EQ("abcdef", got);
}

TEST_F(AnonymousPipeTest, ClosingTheWriteEndEndsTheDataAfterWhatIsLeft)
{
    size_t read = 99;
    std::string got(10, '\0');
    bool ok = true;
    uint32_t error = 0;
    BackgroundCall reader(
        [&] {
            ok = pipe_.Read(got.data(), got.size(), &read);
            error = GetLastError();
        },
        [&] { pipe_.CloseReadEnd(); });
    ASSERT_TRUE(Put("abc"));
    pipe_.CloseWriteEnd();
    ASSERT_TRUE(reader.Returned());
    EXPECT_FALSE(ok);
    EXPECT_EQ(3u, read);
    EXPECT_EQ(kErrorBrokenPipe, error);
    EXPECT_EQ("abc", got.substr(0, read));
    EXPECT_EQ("", Take(1));
    EXPECT_FALSE(Put("more"));
    EXPECT_EQ(kErrorBrokenPipe, GetLastError());
}

TEST_F(AnonymousPipeTest, ClosingTheReadEndFailsAWaitingWriter)
{
    ASSERT_TRUE(Put(std::string(16, 'a')));
    bool ok = true;
    BackgroundCall writer([&] { ok = Put("b", PipeWriteMode::kWait); });
    BackgroundCall waiter([&] { EXPECT_FALSE(pipe_.WaitForRoom(1)); });
    pipe_.CloseReadEnd();
    ASSERT_TRUE(writer.Returned());
    ASSERT_TRUE(waiter.Returned());
    EXPECT_FALSE(ok);
    size_t copied = 0;
    size_t available = 0;
    EXPECT_FALSE(pipe_.Peek(nullptr, 0, &copied, &available));
}

}  // namespace
}  // namespace vantrel::platform
