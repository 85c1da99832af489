#include "publishing/SimplePipeU.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Concurrency.h"

namespace vantrel {
namespace {

using testing::BackgroundCall;

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<char>(v));
    }
    return bytes;
}

void Feed(TSimplePipe& pipe, const std::string& bytes)
{
    ASSERT_TRUE(pipe.Pipe().Write(bytes.data(), bytes.size(), platform::PipeWriteMode::kNoWait));
}

// Everything waiting in the pipe, taken out.
std::string Drain(TSimplePipe& pipe)
{
    std::string bytes(pipe.BytesAvailable(), '\0');
    size_t read = 0;
    pipe.Pipe().Read(bytes.data(), bytes.size(), &read);
    return bytes;
}

// One read by name ("int", "str", "skip"), with what it gave as text.
std::string Do(TSimplePipe& pipe, const std::string& op)
{
    if (op == "int") {
        return std::to_string(pipe.ReadInt());
    }
    if (op == "str") {
        return "'" + pipe.ReadString() + "'";
    }
    pipe.SkipToMessage();
    return "";
}

const std::string kInt5 = Bytes({0x03, 5, 0, 0, 0});
const std::string kInt9 = Bytes({0x03, 9, 0, 0, 0});
const std::string kTextAb = Bytes({0x04, 2, 0, 0, 0, 'a', 'b'});

TEST(SimplePipeTest, ItemsGoOnTheWireTaggedAndLittleEndian)
{
    struct Case
    {
        const char* what;
        std::function<void(TSimplePipe&)> write;
        std::string expected;
    };
    const Case kCases[] = {
        {"a first message owes no separator",
         [](TSimplePipe& p) {
             p.BeginMessage();
             p.WriteInt(1);
         },
         Bytes({0x03, 1, 0, 0, 0})},
        {"a separator only after an item, and only once",
         [](TSimplePipe& p) {
             p.WriteInt(7);
             p.BeginMessage();
             p.BeginMessage();
         },
         Bytes({0x03, 7, 0, 0, 0, 0x01})},
        {"negative integer", [](TSimplePipe& p) { p.WriteInt(-2); },
         Bytes({0x03, 0xfe, 0xff, 0xff, 0xff})},
        {"empty text", [](TSimplePipe& p) { p.WriteString(""); }, Bytes({0x05})},
        {"text", [](TSimplePipe& p) { p.WriteString("ab"); }, kTextAb},
        {"text of 300 bytes", [](TSimplePipe& p) { p.WriteString(std::string(300, 'x')); },
         Bytes({0x04, 0x2c, 0x01, 0, 0}) + std::string(300, 'x')},
    };
    for (const auto& c : kCases) {
        TSimplePipe pipe;
        c.write(pipe);
        EXPECT_EQ(c.expected, Drain(pipe)) << c.what;
    }
}

TEST(SimplePipeTest, TypedReadsTakeTheirTagAndLeaveAnyOtherPendingUntilTheNextMessage)
{
    struct Step
    {
        const char* op;
        std::string result;
        int state_after;
    };
    struct Case
    {
        const char* what;
        std::string bytes;
        std::vector<Step> steps;
    };
    const Case kCases[] = {
        {"integer then text", kInt5 + kTextAb, {{"int", "5", 0}, {"str", "'ab'", 0}}},
        {"empty text", Bytes({0x05}) + kInt5, {{"str", "''", 0}, {"int", "5", 0}}},
        {"a text read meets an integer and leaves it pending",
         kInt5,
         {{"str", "''", 3}, {"str", "''", 3}, {"int", "5", 0}}},
        {"an integer read meets a text and leaves it pending",
         kTextAb,
         {{"int", "0", 4}, {"str", "'ab'", 0}}},
        {"a separator ends the message for typed reads",
         kInt5 + Bytes({0x01}) + kInt9,
         {{"int", "5", 0}, {"int", "0", 1}, {"str", "''", 1}, {"skip", "", 2}, {"int", "9", 0}}},
        {"skipping takes a pending text and the rest of the message",
         kTextAb + kInt5 + Bytes({0x05, 0x01}) + kInt9,
         {{"int", "0", 4}, {"skip", "", 2}, {"int", "9", 0}}},
        {"skipping takes a pending integer",
         kInt5 + Bytes({0x01}) + kInt9,
         {{"str", "''", 3}, {"skip", "", 2}, {"int", "9", 0}}},
        {"skipping at the start of a message stays there",
         kInt9,
         {{"skip", "", 2}, {"int", "9", 0}}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TSimplePipe pipe;
        Feed(pipe, c.bytes);
        // A new pipe reads as if after a separator: its first message has none.
        EXPECT_EQ(TSimplePipe::kReadAfterSeparator, pipe.ReadState());
        pipe.SkipToMessage();
        EXPECT_EQ(TSimplePipe::kReadAtMessage, pipe.ReadState());
        for (const auto& step : c.steps) {
            EXPECT_EQ(step.result, Do(pipe, step.op)) << step.op;
            EXPECT_EQ(step.state_after, pipe.ReadState()) << step.op;
        }
    }
}

TEST(SimplePipeTest, ATextArrivingInPiecesIsReadWhole)
{
    TSimplePipe pipe;
    const std::string text(20000, 't');
    std::string got;
    BackgroundCall reader(
        [&] {
            pipe.SkipToMessage();
            got = pipe.ReadString();
        },
        [&] { pipe.Close(); });
    std::string bytes;
    TSimplePipe::AppendString(&bytes, text);
    Feed(pipe, bytes.substr(0, 3));
    Feed(pipe, bytes.substr(3, 9000));
    Feed(pipe, bytes.substr(9003));
    ASSERT_TRUE(reader.Returned());
    EXPECT_EQ(text.size(), got.size());
    EXPECT_TRUE(text == got);
}

TEST(SimplePipeTest, AWholeFurtherMessageIsWaitingOnlyOnceItsKindHasArrived)
{
    struct Case
    {
        const char* what;
        std::string bytes;
        bool waiting;
    };
    // The reader has taken the kind 2 of a message with ten integers and nothing more.
    const std::string rest = [] {
        std::string ints;
        for (int i = 0; i < 10; ++i) {
            ints += kInt5;
        }
        return ints;
    }();
    const Case kCases[] = {
        {"only the unread rest", rest, false},
        {"the rest and a separator", rest + Bytes({0x01}), false},
        {"the rest and part of the next kind", rest + Bytes({0x01, 0x03, 4, 0}), false},
        {"the rest and the next kind", rest + Bytes({0x01, 0x03, 4, 0, 0, 0}), true},
        {"a text of the rest only in part", kTextAb.substr(0, 5), false},
        {"the next message's first item is no integer", rest + Bytes({0x01, 0x05}), true},
    };
    for (const auto& c : kCases) {
        TSimplePipe pipe;
        Feed(pipe, Bytes({0x03, 2, 0, 0, 0}) + c.bytes);
        pipe.SkipToMessage();
        ASSERT_EQ(2, pipe.ReadInt());
        EXPECT_EQ(c.waiting, pipe.MessageWaiting()) << c.what;
        EXPECT_EQ(c.bytes.size(), pipe.BytesAvailable()) << c.what;
    }
}

TEST(SimplePipeTest, AtTheEndOfTheDataEveryReadReturnsAtOnceEmpty)
{
    TSimplePipe pipe;
    Feed(pipe, kInt5 + Bytes({0x04, 10, 0, 0, 0, 'a', 'b'}));
    pipe.CloseWriteEnd();
    pipe.SkipToMessage();
    EXPECT_EQ(5, pipe.ReadInt());
    EXPECT_FALSE(pipe.EndOfPipe());
    // A text cut short is no text.
    EXPECT_EQ("", pipe.ReadString());
    EXPECT_TRUE(pipe.EndOfPipe());
    EXPECT_EQ(0, pipe.ReadInt());
    pipe.SkipToMessage();
    EXPECT_EQ("", pipe.ReadString());
    EXPECT_FALSE(pipe.MessageWaiting());
}

// Arbitrary bytes, mostly tags and lengths that mean something, then the end of the data: the
// reader walks through them and comes to the end, whatever they say.
TEST(SimplePipeTest, ArbitraryBytesThenTheEndOfTheDataNeverHangOrCrashTheReader)
{
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int n) { return static_cast<int>(random() % n); };
        std::string bytes;
        const int length = pick(600);
        while (static_cast<int>(bytes.size()) < length) {
            switch (pick(6)) {
                case 0:
                    bytes += Bytes({0x01, 0x03, 0x05, 0x04, 0x00, 0x02, 0x07}).at(pick(7));
                    break;
                case 1:  // a length near the limits
                    bytes += Bytes({0x04, 0xff, 0xff, 0xff, pick(2) ? 0x7f : 0xff});
                    break;
                case 2:  // a small length, maybe longer than what follows
                    bytes += Bytes({0x04, pick(40), 0, 0, 0});
                    break;
                default:
                    bytes.push_back(static_cast<char>(random()));
            }
        }
        TSimplePipe pipe;
        Feed(pipe, bytes);
        pipe.CloseWriteEnd();
        // Every round takes at least one byte until the end: a bound that only a loop breaks.
        int rounds = 0;
        while (!pipe.EndOfPipe() && rounds <= length + 2) {
            pipe.MessageWaiting();
            pipe.SkipToMessage();
            for (int reads = pick(4); reads > 0; --reads) {
                Do(pipe, pick(2) ? "int" : "str");
            }
            pipe.ReadInt();
            ++rounds;
        }
        ASSERT_TRUE(pipe.EndOfPipe()) << "seed " << seed;
    }
}

}  // namespace
}  // namespace vantrel
