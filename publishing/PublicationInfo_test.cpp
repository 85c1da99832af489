#include "publishing/PublicationInfo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/Ui.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/PublicationSamples.h"
#include "tests/support/SettingsSandbox.h"

namespace vantrel {
namespace {

constexpr platform::RegistryRoot kRoot = platform::RegistryRoot::CurrentUser;
constexpr char kBase[] = "\\SOFTWARE\\Velko\\Vantrel";

class PublicationInfoTest : public ::testing::Test
{
protected:
    // A fresh sub-key holding "Name" and the given integers.
    void WriteSite(const std::string& name,
                   std::initializer_list<std::pair<const char*, int32_t>> integers = {})
    {
        QelPublication naming;
        naming.SetName(name);
        store_.DeleteKey(naming.KeyName());
        ASSERT_TRUE(store_.WriteString(naming.KeyName(), "Name", name));
        for (const auto& [value_name, value] : integers) {
            ASSERT_TRUE(store_.WriteInteger(naming.KeyName(), value_name, value));
        }
    }

    std::unique_ptr<QelPublication> Load(const std::string& key_name)
    {
        auto p = std::make_unique<QelPublication>();
        EXPECT_TRUE(p->LoadFrom(key_name, store_, false)) << key_name;
        return p;
    }

    testing::ScopedConfigHome home_;
    testing::ScriptedMessageBoxes boxes_;
    TQelRegistry store_{kRoot, kBase};
};

// A value of the setting away from its default and within its bounds.
void SetAwayFromDefault(const PublicationSetting& setting, QelPublication& p)
{
    switch (setting.kind) {
        case SettingKind::kText:
            setting.text.set(p, "x");
            return;
        case SettingKind::kList:
            setting.list.set(p, {"*.x", "a b"});
            return;
        case SettingKind::kDate:
            setting.date.set(p, 0.25);
            return;
        default: {
            const NumberBounds& b = setting.bounds;
            setting.number.set(p, b.default_value != b.max ? b.max : b.min);
        }
    }
}

// The setting's value as text, to compare and to show.
std::string ValueText(const PublicationSetting& setting, const QelPublication& p)
{
    switch (setting.kind) {
        case SettingKind::kText:
            return setting.text.get(p);
        case SettingKind::kList:
            return CommaText(setting.list.get(p));
        case SettingKind::kDate: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", setting.date.get(p));
            return text;
        }
        default:
            return std::to_string(setting.number.get(p));
    }
}

TEST(FillSyncFlagsTest, TheRunOptionsFollowTheDefinitionAndTurboByStatus)
{
    QelPublication site;
    site.DeleteOldFiles = 2;
    site.DeleteOldFilesNow = true;
    site.UploadViaIntermediary = true;
    site.AsciiFiles = {"*.html"};
    site.FilePermissions = {"*.cgi=755"};
    site.IgnoreFolders = {"*\\stats"};
    site.LastPublished = 45000;
    QelSyncFlags flags;
    flags.IncludeFiles = {"left from before"};
    flags.DateFloor = 1;
    FillSyncFlags(site, false, &flags);
    EXPECT_TRUE(flags.ListObsoleteOnly);
    EXPECT_FALSE(flags.DeleteObsolete);
    EXPECT_TRUE(flags.DeleteImmediately);
    EXPECT_FALSE(flags.DatesOnly);
    EXPECT_TRUE(flags.ClearReadOnly && flags.CreateDestinationRoot && flags.FreeSourceDevice &&
                flags.FreeDestinationDevice);
    EXPECT_EQ("qvr", flags.TempNameTag);
    EXPECT_EQ(site.AsciiFiles, flags.TextFiles);
    EXPECT_EQ(site.FilePermissions, flags.FilePermissions);
    EXPECT_EQ(site.IgnoreFolders, flags.IgnoreFolders);
    EXPECT_TRUE(flags.IncludeFiles.empty());
    EXPECT_EQ(0, flags.DateFloor);
    EXPECT_EQ(0, flags.TurboFolderDate + flags.TurboEntryDate);
    // Without Turbo too: a file dated before it needs no exact time from the server.
    EXPECT_EQ(45000, flags.LastPublishStart);
    for (const auto status : {StatusNeverPublished, StatusFailed, StatusPublished,
                              StatusNeedsPublishing, StatusInterrupted}) {
        site.Status = status;
        FillSyncFlags(site, true, &flags);
        const bool by_folder = status == StatusPublished || status == StatusNeedsPublishing;
        EXPECT_EQ(by_folder ? 45000 : 0, flags.TurboFolderDate) << int{status};
        EXPECT_EQ(by_folder ? 0 : 45000, flags.TurboEntryDate) << int{status};
    }
    // A last publish later than now hides nothing: the run lists in full.
    for (const TDateTime future : {NowDateTime() + 1, 2958465.0}) {
        site.LastPublished = future;
        for (const auto status : {StatusFailed, StatusPublished}) {
            site.Status = status;
            FillSyncFlags(site, true, &flags);
            EXPECT_EQ(0, flags.TurboFolderDate + flags.TurboEntryDate) << future;
            EXPECT_EQ(0, flags.LastPublishStart) << future;
        }
    }
    site.LastPublished = NowDateTime() - 1.0 / 24;
    FillSyncFlags(site, true, &flags);
    EXPECT_EQ(site.LastPublished, flags.TurboFolderDate);
}

TEST_F(PublicationInfoTest, KeyNamesEscapeUnderscoresAndSlashesOneToOne)
{
    const std::pair<const char*, const char*> kCases[] = {
        {"a_b/c\\d", "a__b_fc_bd"},   {"a_fb", "a__fb"}, {"a/b", "a_fb"},
        {"plain site", "plain site"}, {"", ""},          {"__", "____"},
    };
    for (const auto& [name, key] : kCases) {
        QelPublication p;
        p.SetName(name);
        EXPECT_EQ(key, p.KeyName()) << name;
        EXPECT_EQ(name, p.GetName());
    }
}

TEST_F(PublicationInfoTest, AStoredPublishingStatusLoadsAsInterrupted)
{
    const std::pair<int32_t, TPublicationStatus> kCases[] = {
        {0, StatusNeverPublished},  {1, StatusFailed},         {2, StatusPublished},
        {3, StatusNeedsPublishing}, {4, StatusInterrupted},    {5, StatusInterrupted},
        {0x104, StatusInterrupted}, {9, StatusNeverPublished},
    };
    for (const auto& [stored, expected] : kCases) {
        WriteSite("site", {{"Status", stored}});
        EXPECT_EQ(expected, Load("site")->Status) << stored;
    }
}

TEST_F(PublicationInfoTest, AServerTimeOffsetNoMeasurementKeepsLoadsAsZero)
{
    const std::pair<TDateTime, TDateTime> kCases[] = {
        {-1000, 0}, {1, 0}, {-1, 0}, {std::nan(""), 0}, {0.5, 0.5}, {-30.0 / 86400, -30.0 / 86400},
    };
    for (const auto& [stored, expected] : kCases) {
        WriteSite("site");
        ASSERT_TRUE(store_.WriteDateTime("site", "ServerTimeDrift", stored));
        EXPECT_EQ(expected, Load("site")->ServerTimeDrift) << stored;
    }
}

TEST_F(PublicationInfoTest, NumbersOutOfTheirRangesAreClampedOnLoading)
{
    struct Case
    {
        const char* value_name;
        std::optional<int32_t> stored;
        int32_t expected;
        int32_t (*field)(const QelPublication&);
    };
    auto connect = [](const QelPublication& p) { return p.ConnectionTimeout; };
    auto general = [](const QelPublication& p) { return p.GeneralTimeout; };
    auto dots = [](const QelPublication& p) { return int32_t{p.DotFileState.Treatment}; };
    auto delete_old = [](const QelPublication& p) { return int32_t{p.DeleteOldFiles}; };
    auto type = [](const QelPublication& p) { return int32_t{p.ConnectionType}; };
    auto behaviour = [](const QelPublication& p) { return int32_t{p.ConnectionBehaviour}; };
    auto files = [](const QelPublication& p) { return p.SrcFileCount; };
    const Case kCases[] = {
        {"ConnectionTimeout", std::nullopt, 30, connect},
        {"ConnectionTimeout", 0, 30, connect},
        {"ConnectionTimeout", 61, 60, connect},
        {"ConnectionTimeout", 9, 10, connect},
        {"ConnectionTimeout", 45, 45, connect},
        {"GeneralTimeout", std::nullopt, 20, general},
        {"GeneralTimeout", 75, 60, general},
        {"GeneralTimeout", 5, 10, general},
        {"DotFileTreatment", 7, 3, dots},
        {"DotFileTreatment", -1, 0, dots},
        {"DotFileTreatment", 2, 2, dots},
        // Choices no dialog makes are the default, whatever their low byte is not.
        {"DeleteOldFiles", 3, 0, delete_old},
        {"DeleteOldFiles", 0x102, 2, delete_old},
        {"ConnectionType", 2, 0, type},
        {"ConnectionBehaviour", 9, 0, behaviour},
        {"ConnectionBehaviour", 2, 2, behaviour},
        {"SrcFileCount", -5, 0, files},
    };
    for (const auto& c : kCases) {
        WriteSite("site");
        if (c.stored.has_value()) {
            ASSERT_TRUE(store_.WriteInteger("site", c.value_name, *c.stored));
        }
        EXPECT_EQ(c.expected, c.field(*Load("site")))
            << c.value_name << " " << c.stored.value_or(-999);
    }
}

TEST_F(PublicationInfoTest, ValuesAtTheirDefaultAreDeletedNotWrittenBack)
{
    WriteSite("site");
    auto full = testing::EveryValueAwayFromDefault("site");
    ASSERT_TRUE(full->SaveTo(store_, false));
    auto p = Load("site");
    EXPECT_TRUE(QelPublication::SameSettings(*full, *p));

    WriteSite("site");
    auto defaults = Load("site");
    defaults->LastErrorText.clear();
    ASSERT_TRUE(full->SaveTo(store_, false));
    ASSERT_TRUE(defaults->SaveTo(store_, false));
    for (const char* name :
         {"LastErrorText", "Disabled", "FtpPort", "DefaultFilePermission", "ConnectionType",
          "ConnectionBehaviour", "IgnoreFiles", "ExcludeFiles", "IgnoreFolders", "ExcludeFolders",
          "ConnectionTimeout", "GeneralTimeout", "DotFileTreatment", "LogExplainCopy",
          "LogListFiles", "DeleteOldFilesNow", "FilePermissions", "AsciiFiles"}) {
        EXPECT_FALSE(store_.ValueExists("site", name)) << name;
    }
    for (const char* name : {"Name", "Source", "Password", "Status", "ServerTimeDrift",
                             "UploadViaIntermediary", "Connection", "UploadModifiedNow"}) {
        EXPECT_TRUE(store_.ValueExists("site", name)) << name;
    }
    EXPECT_EQ(30, Load("site")->ConnectionTimeout);
}

// Each stored value, away from its default, goes through the store, Assign, SameSettings and
// the settings file as its entry of the table says: a value that one of them leaves out fails
// by its name.
TEST_F(PublicationInfoTest, EveryValueOfTheTableTravelsAsItsEntrySays)
{
    WriteSite("site");
    const auto defaults = Load("site");
    QelIniReg defaults_file(home_.Sandbox().SystemPath("defaults.qvr"));
    ASSERT_TRUE(defaults->SaveTo(defaults_file, true));

    QelPublication away;
    away.Assign(*defaults);
    for (const PublicationSetting& setting : kPublicationSettings) {
        SetAwayFromDefault(setting, away);
    }
    WriteSite(away.GetName());
    ASSERT_TRUE(away.SaveTo(store_, false));
    const auto stored = Load(away.KeyName());
    QelIniReg file(home_.Sandbox().SystemPath("away.qvr"));
    ASSERT_TRUE(away.SaveTo(file, true));
    QelPublication imported;
    ASSERT_TRUE(imported.LoadFrom(kSettingsFileSection, file, true));

    for (const PublicationSetting& setting : kPublicationSettings) {
        SCOPED_TRACE(setting.name);
        const std::string value = ValueText(setting, away);
        ASSERT_NE(ValueText(setting, *defaults), value);
        EXPECT_EQ(value, ValueText(setting, *stored));
        EXPECT_EQ((setting.flags & kExported) != 0, ValueText(setting, imported) == value);
        EXPECT_EQ(!(setting.flags & kRemovedAtDefault),
                  defaults_file.ValueExists(kSettingsFileSection, setting.name));

        QelPublication changed;
        changed.Assign(*defaults);
        SetAwayFromDefault(setting, changed);
        EXPECT_EQ((setting.flags & kCompared) == 0,
                  QelPublication::SameSettings(*defaults, changed));
        QelPublication copy;
        copy.Assign(*defaults);
        copy.Assign(changed);
        EXPECT_EQ((setting.flags & kCopied) != 0, ValueText(setting, copy) == value);
    }
}

// With the build's count of members against entries, this makes every stored member one
// entry's: two entries reaching the same member would leave another member without one.
TEST_F(PublicationInfoTest, EachEntryReachesAValueOfItsOwn)
{
    WriteSite("site");
    const auto defaults = Load("site");
    for (const PublicationSetting& setting : kPublicationSettings) {
        QelPublication changed;
        changed.Assign(*defaults);
        SetAwayFromDefault(setting, changed);
        for (const PublicationSetting& other : kPublicationSettings) {
            if (&other != &setting) {
                EXPECT_EQ(ValueText(other, *defaults), ValueText(other, changed))
                    << setting.name << " changes " << other.name;
            }
        }
    }
}

TEST_F(PublicationInfoTest, OnlyAMissingIgnoreListBringsBackThumbsDb)
{
    WriteSite("site");
    auto p = Load("site");
    EXPECT_EQ((std::vector<std::string>{"thumbs.db"}), p->IgnoreFiles);
    ASSERT_TRUE(store_.WriteString("site", "IgnoreFiles", "x"));
    ASSERT_TRUE(p->SaveTo(store_, false));
    EXPECT_FALSE(store_.ValueExists("site", "IgnoreFiles"));

    ASSERT_TRUE(store_.WriteString("site", "IgnoreFiles", ""));
    p = Load("site");
    EXPECT_TRUE(p->IgnoreFiles.empty());
    ASSERT_TRUE(p->SaveTo(store_, false));
    EXPECT_TRUE(store_.ValueExists("site", "IgnoreFiles"));
    EXPECT_TRUE(Load("site")->IgnoreFiles.empty());
}

TEST_F(PublicationInfoTest, TextFilePatternsAreSortedOnSavingAndTheDefaultIsNotStored)
{
    WriteSite("site");
    auto p = Load("site");
    const std::vector<std::string> defaults = CommaTextItems(kDefaultAsciiFiles);
    EXPECT_EQ(defaults, p->AsciiFiles);
    // The sorting is the stored form's: the definition keeps the order it was given.
    const std::vector<std::string> reversed(defaults.rbegin(), defaults.rend());
    p->AsciiFiles = reversed;
    ASSERT_TRUE(p->SaveTo(store_, false));
    EXPECT_EQ(reversed, p->AsciiFiles);
    EXPECT_FALSE(store_.ValueExists("site", "AsciiFiles"));
    EXPECT_EQ(defaults, Load("site")->AsciiFiles);

    p->AsciiFiles = {"*.txt", "*.HTM", "*.htm", "*.asp"};
    ASSERT_TRUE(p->SaveTo(store_, false));
    EXPECT_EQ("*.asp,*.HTM,*.htm,*.txt", store_.ReadString("site", "AsciiFiles"));
    EXPECT_EQ((std::vector<std::string>{"*.txt", "*.HTM", "*.htm", "*.asp"}), p->AsciiFiles);
}

TEST_F(PublicationInfoTest, TheStandardFtpPortIsNotStoredButLoadsAsStored)
{
    WriteSite("site", {{"FtpPort", 21}});
    auto p = Load("site");
    EXPECT_EQ(21, p->FtpPort);
    for (uint16_t port : {uint16_t{0}, uint16_t{21}}) {
        ASSERT_TRUE(store_.WriteInteger("site", "FtpPort", 99));
        p->FtpPort = port;
        ASSERT_TRUE(p->SaveTo(store_, false));
        EXPECT_FALSE(store_.ValueExists("site", "FtpPort")) << port;
    }
    // No port at all, not its low 16 bits: the default.
    WriteSite("site", {{"FtpPort", 0x10015}});
    EXPECT_EQ(0, Load("site")->FtpPort);
}

TEST_F(PublicationInfoTest, UploadModifiedNowIsOnWhenMissingAndOtherwiseAsStored)
{
    WriteSite("site");
    EXPECT_TRUE(Load("site")->UploadModifiedNow);
    ASSERT_TRUE(store_.WriteBool("site", "UploadModifiedNow", false));
    EXPECT_FALSE(Load("site")->UploadModifiedNow);
}

TEST_F(PublicationInfoTest, OnlyTheValueOneSwitchesOnTheIntegerFlags)
{
    WriteSite("site", {{"Disabled", 2}, {"LogExplainCopy", -1}, {"UploadViaIntermediary", 1}});
    auto p = Load("site");
    EXPECT_FALSE(p->Disabled);
    EXPECT_FALSE(p->LogExplainCopy);
    EXPECT_TRUE(p->UploadViaIntermediary);
}

TEST_F(PublicationInfoTest, SavingIntoARemovedKeyWritesNothing)
{
    WriteSite("site");
    auto p = Load("site");
    ASSERT_TRUE(store_.DeleteKey("site"));
    EXPECT_TRUE(p->SaveTo(store_, false));
    EXPECT_FALSE(store_.SectionExists("site"));

    // A definition without a name would write among the program's own settings.
    QelPublication nameless;
    ASSERT_TRUE(store_.WriteRootInteger("TurboOn", 1));
    EXPECT_FALSE(nameless.SaveTo(store_, false));
    EXPECT_FALSE(store_.ValueExists("", "Source"));
}

TEST_F(PublicationInfoTest, ASubKeyWhoseNameEscapesElsewhereIsNoDefinition)
{
    ASSERT_TRUE(store_.WriteString("a_b", "Name", "a_b"));
    ASSERT_TRUE(store_.WriteString("a__b", "Name", "a_b"));
    QelPublication p;
    EXPECT_FALSE(p.LoadFrom("a_b", store_, false));
    EXPECT_FALSE(p.LoadFrom("missing", store_, false));
    EXPECT_TRUE(p.LoadFrom("a__b", store_, false));
    EXPECT_TRUE(p.LoadFrom("a_b", store_, true));
}

TEST_F(PublicationInfoTest, ExportOfADefaultDefinitionHoldsOnlyWhatIsAlwaysWritten)
{
    WriteSite("site");
    auto p = Load("site");
    const std::string file = home_.Sandbox().SystemPath("site.qvr");
    QelIniReg ini(file);
    ASSERT_TRUE(p->SaveTo(ini, true));
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ReadProfileSection(file, "Vantrel", &names));
    const std::vector<std::string> expected = {"Name",
                                               "Source",
                                               "Server",
                                               "Username",
                                               "Password",
                                               "Status",
                                               "LastPublished",
                                               "LastSuccessfullyPublished",
                                               "WebFileCount",
                                               "WebPageCount",
                                               "WebDirsCount",
                                               "SrcFileCount",
                                               "SrcPageCount",
                                               "SrcDirsCount",
                                               "SrcMostRecent",
                                               "DeleteOldFiles",
                                               "UploadViaIntermediary",
                                               "ServerTimeDrift",
                                               "Connection",
                                               "UploadModifiedNow",
                                               "FtpUseIndy"};
    EXPECT_EQ(expected, names);
}

TEST_F(PublicationInfoTest, PasswordsScrambleReversiblyAndPlainStoredValuesStayReadable)
{
    const std::string kPasswords[] = {"secret",
                                      "with blank",
                                      "~qv1~",
                                      "~qv1~00112233",
                                      std::string("\x00\xff\x80", 3),
                                      std::string(300, 'z')};
    for (const std::string& plain : kPasswords) {
        const std::string stored = QelPublication::ScramblePassword(plain, true);
        EXPECT_NE(plain, stored);
        EXPECT_EQ(std::string::npos, stored.find_first_of(" \"=,\r\n")) << stored;
        EXPECT_EQ(plain, QelPublication::ScramblePassword(stored, false));
        // Stored in plain by an older version.
        EXPECT_EQ(plain, QelPublication::ScramblePassword(plain, false));
    }
    EXPECT_EQ("", QelPublication::ScramblePassword("", true));
    // Plain values that look scrambled but do not check out are taken as they stand.
    const std::string scrambled = QelPublication::ScramblePassword("secret", true);
    std::string tampered = scrambled;
    tampered[6] = tampered[6] == 'A' ? 'B' : 'A';
    for (const std::string& plain :
         {tampered, scrambled.substr(0, scrambled.size() - 1), std::string("~qv1~ZZ00000000")}) {
        EXPECT_EQ(plain, QelPublication::ScramblePassword(plain, false));
    }
}

TEST_F(PublicationInfoTest, SameSettingsSeesEveryUserSettingAndNothingElse)
{
    using Change = std::function<void(QelPublication&)>;
    const std::pair<const char*, Change> kSettings[] = {
        {"Name", [](QelPublication& p) { p.SetName("Other"); }},
        {"Source", [](QelPublication& p) { p.Source += "x"; }},
        {"Server", [](QelPublication& p) { p.Server += "x"; }},
        {"Username", [](QelPublication& p) { p.Username = "ME"; }},
        {"Password", [](QelPublication& p) { p.Password += "x"; }},
        {"Connection", [](QelPublication& p) { p.Connection = "home isp"; }},
        {"ConnectionType", [](QelPublication& p) { p.ConnectionType = 0; }},
        {"DeleteOldFiles", [](QelPublication& p) { p.DeleteOldFiles = 1; }},
        {"Treatment", [](QelPublication& p) { p.DotFileState.Treatment = 1; }},
        {"ConnectionTimeout", [](QelPublication& p) { p.ConnectionTimeout = 46; }},
        {"GeneralTimeout", [](QelPublication& p) { p.GeneralTimeout = 51; }},
        {"LogExplainCopy", [](QelPublication& p) { p.LogExplainCopy = false; }},
        {"LogListFiles", [](QelPublication& p) { p.LogListFiles = false; }},
        {"UploadViaIntermediary", [](QelPublication& p) { p.UploadViaIntermediary = false; }},
        {"ConnectionBehaviour", [](QelPublication& p) { p.ConnectionBehaviour = 1; }},
        {"DeleteOldFilesNow", [](QelPublication& p) { p.DeleteOldFilesNow = false; }},
        {"Disabled", [](QelPublication& p) { p.Disabled = false; }},
        {"FtpPort", [](QelPublication& p) { p.FtpPort = 2122; }},
        {"FtpUseIndy", [](QelPublication& p) { p.FtpUseIndy = false; }},
        {"DefaultFilePermission", [](QelPublication& p) { p.DefaultFilePermission = "600"; }},
        {"IgnoreFiles", [](QelPublication& p) { p.IgnoreFiles.pop_back(); }},
        {"ExcludeFiles",
         [](QelPublication& p) { std::swap(p.ExcludeFiles[0], p.ExcludeFiles[1]); }},
        {"IgnoreFolders", [](QelPublication& p) { p.IgnoreFolders.push_back("x"); }},
        {"ExcludeFolders", [](QelPublication& p) { p.ExcludeFolders.clear(); }},
        {"AsciiFiles", [](QelPublication& p) { p.AsciiFiles[0] = "*.TXT"; }},
        {"FilePermissions", [](QelPublication& p) { p.FilePermissions[0] = "*.pl=775"; }},
        {"UploadModifiedNow", [](QelPublication& p) { p.UploadModifiedNow = true; }},
    };
    const auto original = testing::EveryValueAwayFromDefault("Site");
    for (const auto& [what, change] : kSettings) {
        QelPublication copy;
        copy.Assign(*original);
        ASSERT_TRUE(QelPublication::SameSettings(*original, copy)) << what;
        change(copy);
        EXPECT_FALSE(QelPublication::SameSettings(*original, copy)) << what;
    }

    QelPublication copy;
    copy.Assign(*original);
    copy.Status = StatusFailed;
    copy.LastPublished = copy.LastSuccessfullyPublished = copy.SrcMostRecent = 1;
    copy.WebFileCount = copy.WebDirsCount = copy.WebPageCount = 0;
    copy.SrcFileCount = copy.SrcPageCount = copy.SrcDirsCount = 0;
    copy.LastErrorText = "other";
    copy.ServerTimeDrift = -1;
    EXPECT_TRUE(QelPublication::SameSettings(*original, copy));
}

TEST_F(PublicationInfoTest, AssignCopiesEverythingButTheRunTimeMarks)
{
    const auto original = testing::EveryValueAwayFromDefault("Site");
    original->Marked = true;
    original->Checking = true;
    original->DotFileState.DotFilesFound = 7;
    QelPublication copy;
    copy.Assign(*original);
    copy.Assign(copy);
    EXPECT_TRUE(QelPublication::SameSettings(*original, copy));
    EXPECT_EQ(original->KeyName(), copy.KeyName());
    EXPECT_EQ(original->Status, copy.Status);
    EXPECT_EQ(original->LastPublished, copy.LastPublished);
    EXPECT_EQ(original->LastSuccessfullyPublished, copy.LastSuccessfullyPublished);
    EXPECT_EQ(original->SrcMostRecent, copy.SrcMostRecent);
    EXPECT_EQ(original->ServerTimeDrift, copy.ServerTimeDrift);
    EXPECT_EQ(original->LastErrorText, copy.LastErrorText);
    EXPECT_EQ(16, copy.SrcDirsCount);
    EXPECT_EQ(7, copy.DotFileState.DotFilesFound);
    EXPECT_FALSE(copy.Marked);
    EXPECT_FALSE(copy.Checking);
}

TEST_F(PublicationInfoTest, CommaTextQuotesWhatWouldSplitAndReadsItBack)
{
    const std::pair<std::vector<std::string>, const char*> kCases[] = {
        {{}, ""},
        {{"a", "b"}, "a,b"},
        {{"my file.htm"}, "\"my file.htm\""},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
        {{"a,b", "c"}, "\"a,b\",c"},
        {{""}, "\"\""},
        {{"", "a"}, ",a"},
        {{"a", ""}, "a,"},
        {{"tab\there"}, "\"tab\there\""},
    };
    for (const auto& [items, text] : kCases) {
        EXPECT_EQ(text, CommaText(items)) << text;
        EXPECT_EQ(items, CommaTextItems(text)) << text;
    }
    // Unquoted blanks separate items, as the form has always been read.
    EXPECT_EQ((std::vector<std::string>{"my", "file.htm", "x"}), CommaTextItems(" my file.htm ,x"));
    EXPECT_EQ((std::vector<std::string>{"open end"}), CommaTextItems("\"open end"));
}

class QelPublicationListTest : public PublicationInfoTest
{
protected:
    std::vector<std::string> SiteKeys() { return store_.GetRootKeyNames(); }
    std::vector<testing::ShownMessageBox> BoxesSince(size_t count) const
    {
        const auto shown = boxes_.Shown();
        return {shown.begin() + static_cast<std::ptrdiff_t>(count), shown.end()};
    }

    // The connections the samples name are entries of the phone book.
    testing::FakePhoneBook phone_book_{{"Home ISP", "Home"}};
};

TEST_F(QelPublicationListTest, TheOlderKeyMovesOverOnlyWhenTheCurrentOneIsMissing)
{
    TQelRegistry vendor(kRoot, "\\SOFTWARE\\Velko");
    ASSERT_TRUE(vendor.WriteString("Ostrel\\site", "Name", "site"));
    ASSERT_TRUE(vendor.WriteInteger("Ostrel", "TurboOn", 1));
    {
        QelPublicationList list;
        ASSERT_EQ(1, list.Count());
        EXPECT_EQ("site", list.Items(1)->GetName());
        EXPECT_EQ(1, list.Store()->ReadRootInteger("TurboOn"));
        EXPECT_FALSE(vendor.SectionExists("Ostrel"));
    }
    ASSERT_TRUE(vendor.WriteString("Ostrel\\older", "Name", "older"));
    QelPublicationList list;
    ASSERT_EQ(1, list.Count());
    EXPECT_EQ("site", list.Items(1)->GetName());
    EXPECT_EQ("older", vendor.ReadString("Ostrel\\older", "Name"));
}

TEST_F(QelPublicationListTest, LoadsEveryDefinitionInRegistryOrderSkippingForeignKeys)
{
    WriteSite("site");
    WriteSite("Site");
    WriteSite("a/b");
    ASSERT_TRUE(store_.WriteString("NoName", "Source", "x"));
    QelPublicationList list;
    ASSERT_EQ(3, list.Count());
    EXPECT_EQ("a/b", list.Items(1)->GetName());
    EXPECT_EQ("Site", list.Items(2)->GetName());
    EXPECT_EQ("site", list.Items(3)->GetName());
    EXPECT_EQ(nullptr, list.Items(0));
    EXPECT_EQ(nullptr, list.Items(4));
    EXPECT_EQ(3, list.IndexOfName("site"));
    EXPECT_EQ(0, list.IndexOfName("SITE"));
    EXPECT_EQ(list.Items(2), list.FindByName("Site"));
    EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(QelPublicationListTest, SitesDifferingOnlyInCaseKeepTheirOwnKeys)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("Site", "\\one", "ftp:one", "", "", "", 0, false, false));
    ASSERT_TRUE(list.AddNew("site", "\\two", "ftp:two", "", "", "", 0, false, false));
    QelPublicationList reloaded;
    ASSERT_EQ(2, reloaded.Count());
    EXPECT_EQ("\\one", reloaded.FindByName("Site")->Source);
    EXPECT_EQ("\\two", reloaded.FindByName("site")->Source);
}

TEST_F(QelPublicationListTest, RenamingWritesTheWholeNewKeyAndDeletesTheOld)
{
    QelPublicationList list;
    std::unique_ptr<QelPublication> full = testing::EveryValueAwayFromDefault("a");
    ASSERT_TRUE(list.Add(full));
    EXPECT_EQ(nullptr, full);

    QelPublication edited;
    edited.Assign(*list.FindByName("a"));
    edited.SetName("b/c");
    edited.Server = "ftp:new";
    ASSERT_TRUE(list.Update("a", edited));
    EXPECT_EQ((std::vector<std::string>{"b_fc"}), SiteKeys());
    EXPECT_EQ("b/c", list.Items(1)->GetName());

    QelPublicationList reloaded;
    ASSERT_EQ(1, reloaded.Count());
    EXPECT_TRUE(QelPublication::SameSettings(edited, *reloaded.Items(1)));
}

TEST_F(QelPublicationListTest, ARenameThatCannotBeWrittenKeepsTheOldDefinition)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("old", "\\src", "ftp:old", "me", "pw", "", 0, true, false));
    home_.FailWritesOf("Server");
    QelPublication edited;
    edited.Assign(*list.Items(1));
    edited.SetName("new");
    EXPECT_FALSE(list.Update("old", edited));
    EXPECT_EQ("old", list.Items(1)->GetName());
    EXPECT_EQ((std::vector<std::string>{"old"}), SiteKeys());
    EXPECT_EQ("ftp:old", store_.ReadString("old", "Server"));
}

TEST_F(QelPublicationListTest, ARenameOntoAnotherSitesNameIsRefused)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("one", "\\one", "ftp:one", "", "", "", 0, false, false));
    ASSERT_TRUE(list.AddNew("two", "\\two", "ftp:two", "", "", "", 0, false, false));
    QelPublication edited;
    edited.Assign(*list.FindByName("one"));
    edited.SetName("two");
    EXPECT_FALSE(list.Update("one", edited));
    EXPECT_EQ("\\two", store_.ReadString("two", "Source"));
    EXPECT_EQ("\\one", store_.ReadString("one", "Source"));
    EXPECT_EQ(2, list.Count());
}

TEST_F(QelPublicationListTest, UpdateUnderTheSameNameSavesInPlaceAndUnknownNamesDoNothing)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("site", "\\src", "ftp:x", "", "", "", 0, false, false));
    QelPublication edited;
    edited.Assign(*list.Items(1));
    edited.Source = "\\elsewhere";
    EXPECT_FALSE(list.Update("unknown", edited));
    EXPECT_EQ("\\src", store_.ReadString("site", "Source"));
    ASSERT_TRUE(list.Update("site", edited));
    EXPECT_EQ("\\elsewhere", store_.ReadString("site", "Source"));
    EXPECT_EQ("\\elsewhere", list.Items(1)->Source);
}

TEST_F(QelPublicationListTest, EmptyOrBlankNamesAreNeverAddedOrRenamedTo)
{
    QelPublicationList list;
    ASSERT_TRUE(list.Store()->WriteRootInteger("TurboOn", 1));
    ASSERT_TRUE(list.AddNew("site", "\\src", "ftp:x", "", "", "", 0, false, false));
    for (const std::string name : {"", " ", "  \t"}) {
        EXPECT_FALSE(list.AddNew(name, "\\src", "ftp:x", "", "", "", 0, false, false)) << name;
        QelPublication edited;
        edited.Assign(*list.Items(1));
        edited.SetName(name);
        EXPECT_FALSE(list.Update("site", edited)) << name;
    }
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ("site", list.Items(1)->GetName());
    EXPECT_EQ((std::vector<std::string>{"site"}), SiteKeys());
    EXPECT_EQ(1, list.Store()->ReadRootInteger("TurboOn"));
    EXPECT_FALSE(list.Store()->ValueExists("", "Source"));
}

TEST_F(QelPublicationListTest, AddOfATakenNameLeavesTheDefinitionWithTheCaller)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("site", "\\first", "ftp:x", "", "", "", 0, false, false));
    auto second = testing::EveryValueAwayFromDefault("site");
    EXPECT_FALSE(list.Add(second));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ("\\first", store_.ReadString("site", "Source"));
}

TEST_F(QelPublicationListTest, AddNewGivesTheWizardsDefaultsWhichSurviveARestart)
{
    struct Case
    {
        bool delete_old;
        bool list_only;
        uint8_t expected;
    };
    const Case kCases[] = {{false, false, 0}, {true, false, 1}, {false, true, 2}, {true, true, 2}};
    QelPublicationList list;
    for (const auto& c : kCases) {
        const std::string name =
            "site" + std::to_string(c.delete_old) + std::to_string(c.list_only);
        ASSERT_TRUE(
            list.AddNew(name, "\\src", "ftp:x", "me", "pw", "Home", 1, c.delete_old, c.list_only));
    }
    QelPublicationList reloaded;
    ASSERT_EQ(4, reloaded.Count());
    for (const auto& c : kCases) {
        const std::string name =
            "site" + std::to_string(c.delete_old) + std::to_string(c.list_only);
        const QelPublication* p = reloaded.FindByName(name);
        ASSERT_NE(nullptr, p) << name;
        EXPECT_EQ(c.expected, p->DeleteOldFiles) << name;
        EXPECT_TRUE(p->IgnoreFiles.empty()) << name;
        EXPECT_FALSE(p->UploadModifiedNow) << name;
        EXPECT_EQ(CommaTextItems(kDefaultAsciiFiles), p->AsciiFiles) << name;
        EXPECT_EQ(30, p->ConnectionTimeout);
        EXPECT_EQ(20, p->GeneralTimeout);
        EXPECT_EQ("pw", p->Password);
        EXPECT_EQ("Home", p->Connection);
        EXPECT_EQ(1, p->ConnectionType);
        EXPECT_EQ(StatusNeverPublished, p->Status);
    }
    EXPECT_NE("pw", store_.ReadString("site00", "Password"));
}

TEST_F(QelPublicationListTest, DeleteRemovesTheDefinitionAndItsWholeKey)
{
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("a", "\\a", "ftp:a", "", "", "", 0, false, false));
    ASSERT_TRUE(list.AddNew("b", "\\b", "ftp:b", "", "", "", 0, false, false));
    ASSERT_TRUE(store_.WriteString("a\\Extra", "v", "x"));
    EXPECT_FALSE(list.Delete("A"));
    EXPECT_TRUE(list.Delete("a"));
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ((std::vector<std::string>{"b"}), SiteKeys());
}

TEST_F(QelPublicationListTest, PublishAllMarksPassOverDisabledSitesInListOrder)
{
    QelPublicationList list;
    for (const char* name : {"a", "b", "c"}) {
        ASSERT_TRUE(list.AddNew(name, "\\s", "ftp:x", "", "", "", 0, false, false));
        list.FindByName(name)->Status = StatusPublished;
    }
    EXPECT_FALSE(list.MarkAll(true));
    EXPECT_EQ(0, list.CountMarked());
    EXPECT_EQ(nullptr, list.NextMarked());

    list.FindByName("b")->Disabled = true;
    EXPECT_TRUE(list.MarkAll(false));
    EXPECT_TRUE(list.FindByName("b")->Marked);
    EXPECT_EQ(2, list.CountMarked());
    EXPECT_EQ(list.FindByName("a"), list.NextMarked());
    EXPECT_EQ(list.FindByName("c"), list.NextMarked());
    EXPECT_EQ(nullptr, list.NextMarked());
    EXPECT_TRUE(list.FindByName("b")->Marked);
    list.ClearMarks();
    EXPECT_FALSE(list.FindByName("b")->Marked);

    list.FindByName("c")->Status = StatusFailed;
    EXPECT_TRUE(list.MarkAll(true));
    EXPECT_EQ(list.FindByName("c"), list.NextMarked());
    EXPECT_EQ(nullptr, list.NextMarked());
}

TEST_F(QelPublicationListTest, ADialUpEntryTheSystemDoesNotListIsToldOnceAndResetToAnyConnection)
{
    struct Case
    {
        const char* what;
        std::vector<std::string> entries;
        std::vector<std::string> reset;
    };
    const Case kCases[] = {
        {"no entries, as on Linux", {}, {"gone", "kept"}},
        {"entries listed", {"Home ISP", "Work"}, {"gone"}},
    };
    for (const auto& c : kCases) {
        for (const std::string& key : SiteKeys()) {
            store_.DeleteKey(key);
        }
        {
            testing::FakePhoneBook all({"Old ISP", "home isp"});
            QelPublicationList list;
            ASSERT_TRUE(list.AddNew("gone", "\\s", "ftp:x", "", "", "Old ISP", 0, false, false));
            ASSERT_TRUE(list.AddNew("kept", "\\s", "ftp:x", "", "", "home isp", 0, false, false));
            ASSERT_TRUE(list.AddNew("any", "\\s", "ftp:x", "", "", "", 0, false, false));
        }
        testing::FakePhoneBook book(c.entries);
        const size_t before = boxes_.Shown().size();
        QelPublicationList list;
        const auto shown = BoxesSince(before);
        ASSERT_EQ(c.reset.size(), shown.size()) << c.what;
        EXPECT_EQ(
            "The web site \"gone\" is configured to use the dial-up connection \"Old ISP\"\r\n"
            "This connection no longer exists and it has been reset to use \"Any/LAN\".",
            shown[0].text);
        EXPECT_EQ("Invalid Dial Up Connection", shown[0].caption);
        EXPECT_EQ(platform::kMbOk | platform::kMbIconExclamation, shown[0].type);
        for (const char* name : {"gone", "kept"}) {
            const bool reset = std::find(c.reset.begin(), c.reset.end(), name) != c.reset.end();
            EXPECT_EQ(reset, list.FindByName(name)->Connection.empty()) << c.what << name;
            EXPECT_EQ(reset, store_.ReadString(name, "Connection").empty()) << c.what << name;
        }
        QelPublicationList again;
        EXPECT_EQ(before + c.reset.size(), boxes_.Shown().size()) << c.what;
    }
}

// What the list stored (an earlier version's dialog stored lists of any length) loads as it was
// stored, without a word, and stays stored; the bounds are kept where values enter.
TEST_F(QelPublicationListTest, TextsAndListsBeyondTheBoundsThatTheListStoredSurviveARestart)
{
    std::vector<std::string> many_patterns;
    for (size_t i = 0; i <= kPatternItemsAtMost; ++i) {
        many_patterns.push_back("*\\docs\\x" + std::to_string(i) + ".htm");
    }
    const std::string long_source(kSettingTextBytesAtMost + 1, 's');
    {
        QelPublicationList list;
        ASSERT_TRUE(list.AddNew("site", "\\src", "\\dst", "", "", "", 0, false, false));
        QelPublication edited;
        edited.Assign(*list.FindByName("site"));
        edited.ExcludeFiles = many_patterns;
        edited.Source = long_source;
        edited.LastErrorText = std::string(100000, 'l');
        ASSERT_TRUE(list.Update("site", edited));
        EXPECT_EQ((std::vector<std::string>{"Source", "ExcludeFiles"}), ValuesBeyondBounds(edited));
    }
    for (int start = 1; start <= 2; ++start) {
        QelPublicationList list;
        const QelPublication& site = *list.FindByName("site");
        EXPECT_EQ(many_patterns, site.ExcludeFiles) << start;
        EXPECT_EQ(long_source, site.Source) << start;
        // An account of a failure, not a setting: cut to the text bound.
        EXPECT_EQ(kSettingTextBytesAtMost, site.LastErrorText.size());
    }
    EXPECT_TRUE(boxes_.Shown().empty());
    EXPECT_EQ(CommaText(many_patterns), store_.ReadString("site", "ExcludeFiles"));
}

TEST_F(QelPublicationListTest, ANameHoldingANulIsCutToldAndKeptUnderTheKeyOfItsNewName)
{
    WriteSite("c");
    const struct
    {
        std::string stored;
        const char* key;  // null: the key made from the stored name whole
        const char* name;
    } kCases[] = {
        {std::string("site\0tail", 9), "site", "site"},
        {std::string("a\0b", 3), nullptr, "a"},
        {std::string("c\0d", 3), nullptr, "c (2)"},
        {std::string("\0x", 2), nullptr, "Web site"},
    };
    for (const auto& c : kCases) {
        const std::string key = c.key != nullptr ? c.key : c.stored;
        ASSERT_TRUE(store_.WriteString(key, "Name", c.stored));
        ASSERT_TRUE(store_.WriteString(key, "Source", "\\src"));
    }
    {
        QelPublicationList list;
        ASSERT_EQ(5, list.Count());
        ASSERT_EQ(4u, boxes_.Shown().size());
        for (const auto& box : boxes_.Shown()) {
            EXPECT_EQ("Invalid Web Site Settings", box.caption) << box.text;
        }
        EXPECT_NE(std::string::npos, boxes_.Shown()[0].text.find("\"\\0x\" holds a NUL character"))
            << boxes_.Shown()[0].text;
        for (const auto& c : kCases) {
            const QelPublication* site = list.FindByName(c.name);
            ASSERT_NE(nullptr, site) << c.name;
            EXPECT_EQ("\\src", site->Source) << c.name;
            EXPECT_EQ(c.name, store_.ReadString(site->KeyName(), "Name")) << c.name;
            // The old key stays only where it is the new name's.
            EXPECT_EQ(c.key != nullptr, store_.SectionExists(c.key != nullptr ? c.key : c.stored))
                << c.name;
        }
    }
    QelPublicationList again;
    EXPECT_EQ(5, again.Count());
    EXPECT_EQ(4u, boxes_.Shown().size());
}

// A web site whose stored name is not its key's, is another's or is beyond the text bound stays
// listed under a name it may bear, is told, and is stored so under that name's key.
TEST_F(QelPublicationListTest, AStoredNameNoWebSiteMayBearIsToldAndTheSiteStaysListed)
{
    WriteSite("a");
    const std::string long_n(100 * 1024, 'n');
    const std::string long_m(100 * 1024, 'm');
    const std::string cut_m(kSettingTextBytesAtMost, 'm');
    const struct
    {
        const char* key;  // null: the key made from the stored name
        std::string stored;
        std::string name;
        const char* told;
    } kCases[] = {
        {"b", "a", "a (2)", "Another web site is called \"a\""},
        {"edited", "edited by hand", "edited by hand", "stored under the key \"edited\""},
        {nullptr, long_n, std::string(kSettingTextBytesAtMost, 'n'), "has 102400 bytes"},
        // Cut to the bound, it is the name of the web site before it.
        {"long", long_m, cut_m, "stored under the key \"long\""},
        {"m", long_m, cut_m.substr(4) + " (2)", "Another web site is called \"mmm"},
        {"blank", "  ", "Web site", "is blank"},
    };
    for (const auto& c : kCases) {
        QelPublication naming;
        naming.SetName(c.stored);
        const std::string key = c.key != nullptr ? c.key : naming.KeyName();
        ASSERT_TRUE(store_.WriteString(key, "Name", c.stored));
        ASSERT_TRUE(store_.WriteString(key, "Source", "\\" + std::string(c.key ? c.key : "n")));
    }
    for (int start = 1; start <= 2; ++start) {
        QelPublicationList list;
        ASSERT_EQ(7, list.Count()) << start;
        EXPECT_EQ("a", store_.ReadString("a", "Name"));
        // Mended at the first start, the second finds nothing to tell.
        const auto shown = boxes_.Shown();
        ASSERT_EQ(6u, shown.size()) << start;
        for (const auto& c : kCases) {
            const QelPublication* site = list.FindByName(c.name);
            ASSERT_NE(nullptr, site) << c.name.substr(0, 20);
            EXPECT_EQ("\\" + std::string(c.key ? c.key : "n"), site->Source);
            EXPECT_EQ(c.name, store_.ReadString(site->KeyName(), "Name"));
            const auto told = std::count_if(shown.begin(), shown.end(), [&](const auto& box) {
                return box.caption == "Invalid Web Site Settings" &&
                       box.text.find(c.told) != std::string::npos &&
                       box.text.find("now called \"" + c.name.substr(0, 20)) != std::string::npos;
            });
            EXPECT_EQ(1, told) << c.told;
        }
    }
    EXPECT_EQ(7u, SiteKeys().size());
}

TEST_F(QelPublicationListTest, SettingsThatCannotBeReadGiveNoListButAProblemThatNamesTheFile)
{
    ASSERT_TRUE(QelPublicationList().AddNew("site", "\\s", "ftp:x", "", "", "", 0, false, false));
    const auto wait = platform::SetRegistryLockWait(std::chrono::milliseconds(1000));
    const std::string good = home_.Sandbox().ReadFile("config/Velko/registry.sqlite");
    const std::string garbage(8192, '\x13');
    struct Case
    {
        const char* what;
        std::string content;
        std::optional<std::chrono::milliseconds> lock;
        const char* told;  // null: the list loads
    };
    const Case kCases[] = {
        {"locked for a moment", good, std::chrono::milliseconds(150), nullptr},
        {"locked beyond the wait", good, std::chrono::hours(1), " is locked by another program"},
        {"not a database", garbage, std::nullopt, " is not a settings database"},
    };
    for (const auto& c : kCases) {
        platform::CloseRegistryDatabase();
        home_.Sandbox().WriteFile("config/Velko/registry.sqlite", c.content);
        std::optional<testing::HeldDatabaseLock> lock;
        if (c.lock.has_value()) {
            lock.emplace(home_.DatabasePath(), *c.lock);
        }
        QelPublicationList list;
        if (c.told == nullptr) {
            EXPECT_EQ("", list.LoadProblem()) << c.what;
            EXPECT_EQ(1, list.Count()) << c.what;
            continue;
        }
        EXPECT_EQ(0u, list.LoadProblem().find("The settings file " + home_.DatabasePath() + c.told))
            << c.what << ": " << list.LoadProblem();
        EXPECT_EQ(0, list.Count()) << c.what;
        EXPECT_FALSE(list.AddNew("new", "\\s", "ftp:x", "", "", "", 0, false, false)) << c.what;
        lock.reset();
        platform::CloseRegistryDatabase();
        EXPECT_EQ(c.content, home_.Sandbox().ReadFile("config/Velko/registry.sqlite")) << c.what;
        // Once the cause is gone, the list reads the file afresh.
        home_.Sandbox().WriteFile("config/Velko/registry.sqlite", good);
        list.Reload();
        EXPECT_EQ("", list.LoadProblem()) << c.what;
        EXPECT_EQ(1, list.Count()) << c.what;
    }
    platform::SetRegistryLockWait(wait);
    EXPECT_TRUE(boxes_.Shown().empty());
}

}  // namespace
}  // namespace vantrel
