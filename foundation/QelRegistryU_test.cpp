#include "foundation/QelRegistryU.h"

#include <functional>

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/Registry.h"
#include "tests/support/SettingsSandbox.h"

namespace vantrel {
namespace {

constexpr platform::RegistryRoot kRoot = platform::RegistryRoot::CurrentUser;
constexpr char kBase[] = "\\SOFTWARE\\Velko\\Test";

class QelRegistryUTest : public ::testing::Test
{
protected:
    QelRegistryUTest()
        : registry_(kRoot, kBase)
        , ini_(home_.Sandbox().SystemPath("settings.qvr"))
    {
        saved_formats_ = platform::GetFormatSettings();
        platform::SetFormatSettings(platform::FormatSettings{});
    }
    ~QelRegistryUTest() override { platform::SetFormatSettings(saved_formats_); }

    // Stores a raw value of any kind, as another program might have.
    void PutRaw(const std::string& section,
                const std::string& name,
                uint32_t type,
                const std::string& data)
    {
        auto key = platform::CreateRegistryKey(kRoot, std::string(kBase) + "\\" + section);
        ASSERT_NE(nullptr, key);
        ASSERT_TRUE(key->SetValue(name, type, data));
    }

    std::string IniText() const { return home_.Sandbox().ReadFile("settings.qvr"); }

    testing::ScopedConfigHome home_;
    TQelRegistry registry_;
    QelIniReg ini_;
    platform::FormatSettings saved_formats_;
};

TEST_F(QelRegistryUTest, MissingIntegersAreZeroInTheRegistryButTheDefaultInAFile)
{
    EXPECT_EQ(0, registry_.ReadInteger("Site", "ConnectionTimeout", 60));
    EXPECT_EQ(60, ini_.ReadInteger("Site", "ConnectionTimeout", 60));
    ASSERT_TRUE(registry_.WriteInteger("Site", "Other", 5));
    EXPECT_EQ(0, registry_.ReadInteger("Site", "ConnectionTimeout", 60));
}

TEST_F(QelRegistryUTest, AValueOfAnotherKindReadsAsTheDefaultOrEmpty)
{
    PutRaw("Site", "Text", platform::kRegSz, "42");
    PutRaw("Site", "Number", platform::kRegDword, std::string("\x2a\0\0\0", 4));
    PutRaw("Site", "Short", platform::kRegDword, std::string("\x01", 1));
    PutRaw("Site", "Expand", platform::kRegExpandSz, "%HOME%\\site");
    PutRaw("Site", "Date", platform::kRegBinary, "1234");

    EXPECT_EQ(60, registry_.ReadInteger("Site", "Text", 60));
    EXPECT_EQ(60, registry_.ReadInteger("Site", "Short", 60));
    EXPECT_EQ(42, registry_.ReadInteger("Site", "Number", 60));
    EXPECT_TRUE(registry_.ReadBool("Site", "Text", true));
    EXPECT_FALSE(registry_.ReadBool("Site", "Text", false));
    EXPECT_EQ("", registry_.ReadString("Site", "Number"));
    EXPECT_EQ("%HOME%\\site", registry_.ReadString("Site", "Expand"));
    EXPECT_EQ(0.0, registry_.ReadDateTime("Site", "Date"));
    EXPECT_EQ(0.0, registry_.ReadDateTime("Site", "Text"));
}

TEST_F(QelRegistryUTest, MissingBooleansReadAsTheDefaultInBothStores)
{
    for (TQelRegistry* store :
         {static_cast<TQelRegistry*>(&registry_), static_cast<TQelRegistry*>(&ini_)}) {
        EXPECT_TRUE(store->ReadBool("Site", "UploadModifiedNow", true));
        EXPECT_FALSE(store->ReadBool("Site", "UploadModifiedNow", false));
        ASSERT_TRUE(store->WriteBool("Site", "UploadModifiedNow", false));
        EXPECT_FALSE(store->ReadBool("Site", "UploadModifiedNow", true));
    }
}

TEST_F(QelRegistryUTest, FileBooleansGoIntoTheFileAndNeverIntoTheRegistry)
{
    const uint64_t opened = platform::RegistryKeyOpenCount();
    TQelRegistry& as_store = ini_;
    ASSERT_TRUE(as_store.WriteBool("Vantrel", "FtpUseIndy", true));
    EXPECT_EQ("[Vantrel]\r\nFtpUseIndy=1\r\n", IniText());
    EXPECT_TRUE(as_store.ReadBool("Vantrel", "FtpUseIndy", false));
    ASSERT_TRUE(as_store.WriteRootBool("TurboOn", false));
    EXPECT_FALSE(as_store.ReadRootBool("TurboOn", true));
    EXPECT_EQ(opened, platform::RegistryKeyOpenCount());
    EXPECT_EQ(nullptr, platform::OpenRegistryKey(kRoot, "Vantrel"));
}

TEST_F(QelRegistryUTest, SectionExistsNeverCreatesAndAWriteDoes)
{
    EXPECT_FALSE(registry_.SectionExists("New"));
    EXPECT_FALSE(registry_.SectionExists("New"));
    EXPECT_EQ(nullptr, platform::OpenRegistryKey(kRoot, std::string(kBase) + "\\New"));
    ASSERT_TRUE(registry_.WriteString("New", "Name", "x"));
    EXPECT_TRUE(registry_.SectionExists("New"));
    EXPECT_TRUE(registry_.ValueExists("New", "Name"));
    EXPECT_FALSE(registry_.ValueExists("New", "name"));

    EXPECT_FALSE(ini_.SectionExists("Vantrel"));
    ASSERT_TRUE(ini_.WriteString("Vantrel", "Name", "x"));
    EXPECT_TRUE(ini_.SectionExists("vantrel"));
    EXPECT_TRUE(ini_.ValueExists("Vantrel", "NAME"));
}

TEST_F(QelRegistryUTest, OperationsInARowOnOneSectionOpenItsKeyOnce)
{
    ASSERT_TRUE(registry_.WriteString("Site", "Name", "a"));
    ASSERT_TRUE(registry_.WriteString("Other", "Name", "b"));
    const uint64_t before = platform::RegistryKeyOpenCount();
    EXPECT_EQ("a", registry_.ReadString("Site", "Name"));
    EXPECT_EQ(0, registry_.ReadInteger("Site", "Missing", 7));
    ASSERT_TRUE(registry_.WriteInteger("Site", "Count", 3));
    EXPECT_EQ(before + 1, platform::RegistryKeyOpenCount());
    // A key that cannot be opened leaves the open one in place.
    EXPECT_EQ("", registry_.ReadString("Absent", "Name"));
    EXPECT_EQ(3, registry_.ReadInteger("Site", "Count", 0));
    EXPECT_EQ(before + 1, platform::RegistryKeyOpenCount());
}

// A load reads each section whole at its first read; what this store writes, deletes or moves
// meanwhile is never answered from what was read before.
TEST_F(QelRegistryUTest, AReadPassAnswersFromTheSectionReadWholeAndSeesTheStoresOwnChanges)
{
    ASSERT_TRUE(registry_.WriteString("Site", "Name", "a"));
    ASSERT_TRUE(registry_.WriteInteger("Site", "Count", 3));
    ASSERT_TRUE(registry_.WriteString("Other", "Name", "b"));
    registry_.BeginReadPass();
    EXPECT_TRUE(registry_.SectionExists("Site"));
    EXPECT_EQ("a", registry_.ReadString("Site", "Name"));
    EXPECT_EQ(3, registry_.ReadInteger("Site", "Count", 7));
    EXPECT_EQ(7, registry_.ReadInteger("Site", "Name", 7));
    EXPECT_FALSE(registry_.ValueExists("Site", "name"));
    EXPECT_FALSE(registry_.SectionExists("Absent"));
    EXPECT_EQ(0, registry_.ReadInteger("Absent", "Count", 7));

    struct Change
    {
        const char* what;
        std::function<void()> change;
        const char* read_before;
        // What the sections hold after it: Site's name and count, whether Site and Other exist.
        std::string name;
        int32_t count;
        bool site;
        bool other;
    };
    const Change kChanges[] = {
        {"write", [&] { ASSERT_TRUE(registry_.WriteString("Site", "Name", "changed")); }, "Site",
         "changed", 3, true, true},
        {"delete value", [&] { registry_.DeleteValue("Site", "Count"); }, "Site", "changed", 0,
         true, true},
        {"delete key", [&] { registry_.DeleteKey("Other"); }, "Other", "changed", 0, true, false},
        {"move key", [&] { registry_.MoveKey("Site", "Moved"); }, "Site", "", 0, false, false},
    };
    for (const auto& c : kChanges) {
        EXPECT_TRUE(registry_.SectionExists(c.read_before)) << c.what;
        c.change();
        EXPECT_EQ(c.name, registry_.ReadString("Site", "Name")) << c.what;
        EXPECT_EQ(c.count, registry_.ReadInteger("Site", "Count", 7)) << c.what;
        EXPECT_EQ(c.site, registry_.SectionExists("Site")) << c.what;
        EXPECT_EQ(c.other, registry_.SectionExists("Other")) << c.what;
    }
    EXPECT_EQ(0u, registry_.EndReadPass());
}

TEST_F(QelRegistryUTest, MoveKeyCopiesTheWholeTreeOnlyIntoAFreeSection)
{
    ASSERT_TRUE(registry_.WriteString("Old", "Name", "old"));
    ASSERT_TRUE(registry_.WriteInteger("Old\\Site", "Count", 9));
    ASSERT_TRUE(registry_.WriteString("Taken", "Name", "taken"));

    EXPECT_FALSE(registry_.MoveKey("Old", "Taken"));
    EXPECT_EQ("old", registry_.ReadString("Old", "Name"));
    EXPECT_EQ("taken", registry_.ReadString("Taken", "Name"));
    EXPECT_FALSE(registry_.MoveKey("Missing", "Fresh"));
    EXPECT_FALSE(registry_.SectionExists("Fresh"));

    EXPECT_TRUE(registry_.MoveKey("Old", "New"));
    EXPECT_FALSE(registry_.SectionExists("Old"));
    EXPECT_EQ("old", registry_.ReadString("New", "Name"));
    EXPECT_EQ(9, registry_.ReadInteger("New\\Site", "Count", 0));
}

TEST_F(QelRegistryUTest, TheBaseKeyCanNeitherBeDeletedNorMoved)
{
    ASSERT_TRUE(registry_.WriteRootInteger("Top", 100));
    ASSERT_TRUE(registry_.WriteString("Site", "Name", "site"));
    EXPECT_FALSE(registry_.DeleteKey(""));
    EXPECT_FALSE(registry_.MoveKey("", "Elsewhere"));
    EXPECT_FALSE(registry_.MoveKey("Site", ""));
    EXPECT_EQ(100, registry_.ReadRootInteger("Top"));
    EXPECT_EQ("site", registry_.ReadString("Site", "Name"));
    EXPECT_EQ((std::vector<std::string>{"Site"}), registry_.GetRootKeyNames());
}

TEST_F(QelRegistryUTest, AWriteAfterDeleteKeyCreatesTheKeyAgain)
{
    ASSERT_TRUE(registry_.WriteString("Site", "Name", "a"));
    ASSERT_TRUE(registry_.WriteString("Site\\Deep", "Name", "b"));
    EXPECT_TRUE(registry_.DeleteKey("Site"));
    EXPECT_FALSE(registry_.SectionExists("Site"));
    EXPECT_EQ("", registry_.ReadString("Site", "Name"));
    ASSERT_TRUE(registry_.WriteString("Site", "Source", "again"));
    EXPECT_EQ("again", registry_.ReadString("Site", "Source"));
    EXPECT_EQ("", registry_.ReadString("Site", "Name"));
    EXPECT_TRUE(registry_.GetKeyNames("Site").empty());
}

TEST_F(QelRegistryUTest, GetKeyNamesListsFoldedThenExactAndNothingForAMissingKey)
{
    for (const char* name : {"b", "Site", "a", "site"}) {
        ASSERT_TRUE(registry_.WriteString(name, "Name", name));
    }
    EXPECT_EQ((std::vector<std::string>{"a", "b", "Site", "site"}), registry_.GetRootKeyNames());
    EXPECT_TRUE(registry_.GetKeyNames("Missing").empty());
}

TEST_F(QelRegistryUTest, FileDateTimesComeBackToTheSecondAndMidnightHasNoTime)
{
    double noon = 0;
    double midnight = 0;
    ASSERT_TRUE(platform::TryEncodeDateTime(2024, 2, 29, 13, 45, 30, 0, &noon));
    ASSERT_TRUE(platform::TryEncodeDateTime(2024, 3, 1, 0, 0, 0, 0, &midnight));
    ASSERT_TRUE(ini_.WriteDateTime("Vantrel", "LastPublished", noon + 0.4 / 86400));
    ASSERT_TRUE(ini_.WriteDateTime("Vantrel", "SrcMostRecent", midnight));
    EXPECT_EQ("[Vantrel]\r\nLastPublished=29/02/2024 13:45:30\r\nSrcMostRecent=01/03/2024\r\n",
              IniText());
    EXPECT_NEAR(noon, ini_.ReadDateTime("Vantrel", "LastPublished"), 1e-9);
    EXPECT_EQ(midnight, ini_.ReadDateTime("Vantrel", "SrcMostRecent"));

    double exact = 45000.123456;
    ASSERT_TRUE(registry_.WriteDateTime("Site", "LastPublished", exact));
    EXPECT_EQ(exact, registry_.ReadDateTime("Site", "LastPublished"));
}

TEST_F(QelRegistryUTest, FileIntegersAreDecimalOrHexAndAnythingElseIsTheDefault)
{
    struct Case
    {
        const char* text;
        int32_t expected;
    };
    const Case kCases[] = {
        {"42", 42},
        {"-17", -17},
        {" 8 ", 8},
        {"0x1F", 31},
        {"0XfF", 255},
        {"0xFFFFFFFF", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", -5},
        {"12abc", -5},
        {"", -5},
        {"0x", -5},
        {"0x123456789", -5},
        {"yes", -5},
    };
    for (const auto& c : kCases) {
        ASSERT_TRUE(ini_.WriteString("Vantrel", "Value", c.text)) << c.text;
        EXPECT_EQ(c.expected, ini_.ReadInteger("Vantrel", "Value", -5)) << c.text;
    }
    ASSERT_TRUE(ini_.WriteString("Vantrel", "Flag", "true"));
    EXPECT_FALSE(ini_.ReadBool("Vantrel", "Flag", false));
}

TEST_F(QelRegistryUTest, AFileStoreNeverReachesTheRegistryThroughItsKeyOperations)
{
    ASSERT_TRUE(platform::CreateRegistryKey(kRoot, "SOFTWARE\\Velko\\Vantrel") != nullptr);
    EXPECT_FALSE(ini_.DeleteKey("SOFTWARE"));
    EXPECT_FALSE(ini_.MoveKey("SOFTWARE", "Moved"));
    EXPECT_TRUE(ini_.GetRootKeyNames().empty());
    EXPECT_NE(nullptr, platform::OpenRegistryKey(kRoot, "SOFTWARE\\Velko\\Vantrel"));
}

TEST_F(QelRegistryUTest, RefusedWritesReturnFalseWithTheStoresText)
{
    QelIniReg nowhere(home_.Sandbox().SystemPath("missing/folder/site.qvr"));
    EXPECT_FALSE(nowhere.WriteInteger("Vantrel", "Status", 2));
    EXPECT_EQ("Unable to write to " + home_.Sandbox().SystemPath("missing/folder/site.qvr"),
              nowhere.LastErrorText());

    ASSERT_TRUE(registry_.WriteString("Site", "Name", "kept"));
    home_.FailWritesOf("Server");
    EXPECT_FALSE(registry_.WriteString("Site", "Server", "ftp:x"));
    EXPECT_EQ("Failed to set data for 'Server'", registry_.LastErrorText());
    EXPECT_EQ("kept", registry_.ReadString("Site", "Name"));
}

TEST_F(QelRegistryUTest, ADamagedDatabaseReadsAsMissingAndTakesNoWrites)
{
    platform::CloseRegistryDatabase();
    home_.Sandbox().WriteFile("config/Velko/registry.sqlite", std::string(4096, '\x07'));
    EXPECT_FALSE(registry_.SectionExists("Site"));
    EXPECT_EQ(0, registry_.ReadInteger("Site", "Status", 60));
    EXPECT_TRUE(registry_.ReadBool("Site", "UploadModifiedNow", true));
    EXPECT_FALSE(registry_.WriteString("Site", "Name", "x"));
    EXPECT_EQ("Failed to set data for 'Name'", registry_.LastErrorText());
    EXPECT_EQ(std::string(4096, '\x07'), home_.Sandbox().ReadFile("config/Velko/registry.sqlite"));
}

TEST_F(QelRegistryUTest, LineBreaksInAFileTextBecomeBlanksSoNoLineIsInjected)
{
    ASSERT_TRUE(ini_.WriteString("Vantrel", "LastErrorText", "Failed\r\nCode: 5\nLast=x"));
    EXPECT_EQ("Failed Code: 5 Last=x", ini_.ReadString("Vantrel", "LastErrorText"));
    EXPECT_FALSE(ini_.ValueExists("Vantrel", "Last"));
}

}  // namespace
}  // namespace vantrel
