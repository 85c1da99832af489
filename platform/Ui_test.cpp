#include "platform/Ui.h"

#include <thread>

#include <gtest/gtest.h>

#include "tests/support/PlatformFakes.h"

namespace vantrel::platform {
namespace {

TEST(UiTest, WithoutAnyoneToAskTheDefaultButtonAnswers)
{
    struct Case
    {
        uint32_t type;
        int32_t expected;
    };
    const Case kCases[] = {
        {kMbOk, kIdOk},
        {kMbOkCancel | kMbDefaultButton2, kIdCancel},
        {kMbIconExclamation, kIdOk},                 // 48
        {kMbYesNoCancel | kMbIconQuestion, kIdYes},  // 35
        {kMbYesNoCancel | kMbDefaultButton2, kIdNo},
        {kMbYesNoCancel | kMbDefaultButton3, kIdCancel},
        {kMbYesNo | kMbIconExclamation | kMbDefaultButton2, kIdNo},
        {kMbYesNo | kMbDefaultButton3, kIdYes},  // no third button: the first
        {kMbRetryCancel, kIdRetry},
        {kMbAbortRetryIgnore | kMbDefaultButton3, kIdIgnore},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, DefaultMessageBoxButton(c.type)) << c.type;
    }

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(kIdNo, MessageBox("Delete it?", "Confirm", kMbYesNo | kMbDefaultButton2));
    EXPECT_EQ("Confirm: Delete it?\n", ::testing::internal::GetCapturedStderr());
}

TEST(UiTest, AnInstalledHandlerAnswersBoxesOfAnyThreadUntilItGoes)
{
    {
        testing::ScriptedMessageBoxes boxes({kIdNo});
        int32_t answer = 0;
        std::thread worker([&] { answer = MessageBox("Continue?", "Confirm?", 52); });
        worker.join();
        EXPECT_EQ(kIdNo, answer);
        // Past the script, the default button.
        EXPECT_EQ(kIdYes, MessageBox("Again?", "Confirm?", 52));
        const auto shown = boxes.Shown();
        ASSERT_EQ(2u, shown.size());
        EXPECT_EQ("Continue?", shown[0].text);
        EXPECT_EQ("Confirm?", shown[0].caption);
        EXPECT_EQ(52u, shown[0].type);
    }
    ::testing::internal::CaptureStderr();
    MessageBox("after", "Gone", kMbOk);
    EXPECT_EQ("Gone: after\n", ::testing::internal::GetCapturedStderr());
}

}  // namespace
}  // namespace vantrel::platform
