#include "publishing/QVRProperties.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/QelRegistryU.h"
#include "tests/support/SettingsSandbox.h"

namespace vantrel {
namespace {

constexpr const char* kValueNames[] = {"OpenLog", "DisplayCompletedMessage",
                                       "CompletedMessageTimesout", "CompletedMessageTimeout",
                                       "CompletedMessageGrabsAttention"};

class TQVRPropertiesTest : public ::testing::Test
{
protected:
    std::vector<std::string> StoredValueNames()
    {
        std::vector<std::string> names;
        for (const char* name : kValueNames) {
            if (store_.ValueExists("", name)) {
                names.push_back(name);
            }
        }
        return names;
    }

    testing::ScopedConfigHome home_;
    TQelRegistry store_{platform::RegistryRoot::CurrentUser, "\\SOFTWARE\\Velko\\Vantrel"};
};

TEST_F(TQVRPropertiesTest, LoadingGivesDefaultsForWhatIsMissingAndLiftsShortTimeOuts)
{
    struct Case
    {
        const char* label;
        std::optional<int32_t> stored_timeout;
        bool flags_stored_inverted;
        int32_t expected_timeout;
    };
    const Case kCases[] = {
        {"empty key", std::nullopt, false, 60},
        {"zero", 0, false, 60},
        {"negative", -5, false, 60},
        {"nine", 9, false, 60},
        {"shortest", 10, true, 10},
        {"above the dialog's range", 1000, true, 1000},
    };
    for (const Case& c : kCases) {
        for (const char* name : kValueNames) {
            store_.DeleteValue("", name);
        }
        if (c.stored_timeout) {
            ASSERT_TRUE(store_.WriteRootInteger("CompletedMessageTimeout", *c.stored_timeout));
        }
        if (c.flags_stored_inverted) {
            ASSERT_TRUE(store_.WriteRootBool("OpenLog", true));
            ASSERT_TRUE(store_.WriteRootBool("DisplayCompletedMessage", false));
            ASSERT_TRUE(store_.WriteRootBool("CompletedMessageTimesout", true));
            ASSERT_TRUE(store_.WriteRootBool("CompletedMessageGrabsAttention", false));
        }
        const bool inv = c.flags_stored_inverted;
        // Everything starts opposite to what must load, so nothing passes by being left alone.
        TQVRProperties p;
        p.OpenLog = !inv;
        p.DisplayCompletedMessage = inv;
        p.CompletedMessageTimesout = !inv;
        p.CompletedMessageTimeout = 1;
        p.CompletedMessageGrabsAttention = inv;
        p.LoadFromRegistry(store_);
        EXPECT_EQ(inv, p.OpenLog) << c.label;
        EXPECT_EQ(!inv, p.DisplayCompletedMessage) << c.label;
        EXPECT_EQ(inv, p.CompletedMessageTimesout) << c.label;
        EXPECT_EQ(c.expected_timeout, p.CompletedMessageTimeout) << c.label;
        EXPECT_EQ(!inv, p.CompletedMessageGrabsAttention) << c.label;
    }
}

TEST_F(TQVRPropertiesTest, ATimeOutStoredAsTextReadsAsTheDefault)
{
    ASSERT_TRUE(store_.WriteRootString("CompletedMessageTimeout", "120"));
    TQVRProperties p;
    p.LoadFromRegistry(store_);
    EXPECT_EQ(60, p.CompletedMessageTimeout);
}

TEST_F(TQVRPropertiesTest, SavingTheDefaultsLeavesOnlyTheTwoValuesAlwaysWritten)
{
    TQVRProperties changed;
    changed.OpenLog = true;
    changed.DisplayCompletedMessage = false;
    changed.CompletedMessageTimesout = true;
    changed.CompletedMessageTimeout = 25;
    changed.CompletedMessageGrabsAttention = false;
    ASSERT_TRUE(changed.SaveToRegistry(store_));
    EXPECT_EQ(std::vector<std::string>(std::begin(kValueNames), std::end(kValueNames)),
              StoredValueNames());
    TQVRProperties reread;
    reread.LoadFromRegistry(store_);
    EXPECT_TRUE(reread.OpenLog);
    EXPECT_FALSE(reread.DisplayCompletedMessage);
    EXPECT_TRUE(reread.CompletedMessageTimesout);
    EXPECT_EQ(25, reread.CompletedMessageTimeout);
    EXPECT_FALSE(reread.CompletedMessageGrabsAttention);

    reread.SetDefaults();
    ASSERT_TRUE(reread.SaveToRegistry(store_));
    EXPECT_EQ((std::vector<std::string>{"OpenLog", "CompletedMessageTimeout"}), StoredValueNames());
    EXPECT_FALSE(store_.ReadRootBool("OpenLog", true));
    EXPECT_EQ(60, store_.ReadRootInteger("CompletedMessageTimeout"));
}

TEST_F(TQVRPropertiesTest, AFailedWriteIsReportedAndTheOtherValuesAreStillWritten)
{
    ASSERT_TRUE(store_.WriteRootInteger("CompletedMessageTimeout", 60));
    home_.FailWritesOf("OpenLog");
    TQVRProperties p;
    p.OpenLog = true;
    p.CompletedMessageTimeout = 30;
    EXPECT_FALSE(p.SaveToRegistry(store_));
    EXPECT_FALSE(store_.ValueExists("", "OpenLog"));
    EXPECT_EQ(30, store_.ReadRootInteger("CompletedMessageTimeout"));
}

}  // namespace
}  // namespace vantrel
