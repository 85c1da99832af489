#include "publishing/qvr_functions.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/DateTime.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/PublicationSamples.h"
#include "tests/support/SettingsSandbox.h"

namespace vantrel {
namespace {

class QvrFunctionsTest : public ::testing::Test
{
protected:
    QvrFunctionsTest() { platform::SetFormatSettings(platform::FormatSettings{}); }
    ~QvrFunctionsTest() override { platform::SetFormatSettings(saved_formats_); }

    std::string File(const std::string& name = "site.qvr") const
    {
        return home_.Sandbox().SystemPath(name);
    }
    void Export(QelPublication& p, const std::string& name = "site.qvr")
    {
        QelIniReg ini(File(name));
        ASSERT_TRUE(p.SaveTo(ini, true)) << ini.LastErrorText();
    }

    platform::FormatSettings saved_formats_ = platform::GetFormatSettings();
    testing::ScopedConfigHome home_;
    testing::ScriptedMessageBoxes boxes_;
    // The connection the samples name is an entry of the phone book.
    testing::FakePhoneBook phone_book_{{"Home ISP"}};
};

std::string ManyPatterns()
{
    std::string patterns;
    for (size_t i = 0; i <= kPatternItemsAtMost; ++i) {
        patterns += "*." + std::to_string(i) + ",";
    }
    return patterns;
}

TEST(MakeSafeFileNameTest, JoinsTheWordsOfTheNameWithUnderscores)
{
    struct Case
    {
        const char* name;
        const char* file;
    };
    const Case kCases[] = {
        {"My web site", "My_web_site"},
        {"  a -- b!!c  ", "a_b_c"},
        {" -!- ", ""},
        {"Caf\xC3\xA9 2", "Caf_2"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.file, MakeSafeFileName(c.name)) << c.name;
    }
}

// A port written in the imported address becomes the web site's port, as Save makes it.
TEST_F(QvrFunctionsTest, APortInTheAddressBecomesThePortSetting)
{
    home_.Sandbox().WriteFile("site.qvr",
                              "[Vantrel]\r\nName=site\r\nServer=ftp:host:2121/www\r\n"
                              "FtpPort=2200\r\n");
    QelPublicationList list;
    std::string problem;
    ASSERT_TRUE(ImportSettingsFile(list, File(), &problem)) << problem;
    EXPECT_EQ(2121, list.FindByName("site")->FtpPort);
    EXPECT_EQ(2121, QelPublicationList().FindByName("site")->FtpPort);
}

// Every number the table checks imports at either end of its range and loads as it was given;
// just beyond its range it is refused, by its name: the import and the loading share the bounds.
TEST_F(QvrFunctionsTest, NumbersImportAtTheEndsOfTheirRangesAndAreRefusedBeyond)
{
    std::vector<const PublicationSetting*> numbers;
    for (const PublicationSetting& setting : kPublicationSettings) {
        if ((setting.flags & kChecked) && setting.number.get != nullptr) {
            numbers.push_back(&setting);
        }
    }
    ASSERT_FALSE(numbers.empty());
    QelPublicationList list;
    for (const bool at_min : {true, false}) {
        const std::string name = at_min ? "lowest" : "highest";
        auto end = [&](const PublicationSetting* s) {
            return at_min ? s->bounds.min : s->bounds.max;
        };
        std::string file = "[Vantrel]\r\nName=" + name + "\r\n";
        for (const PublicationSetting* setting : numbers) {
            file += std::string(setting->name) + "=" + std::to_string(end(setting)) + "\r\n";
        }
        home_.Sandbox().WriteFile("ends.qvr", file);
        std::string problem;
        ASSERT_TRUE(ImportSettingsFile(list, File("ends.qvr"), &problem))
            << name << ": " << problem;
        for (const PublicationSetting* setting : numbers) {
            EXPECT_EQ(end(setting), setting->number.get(*list.FindByName(name)))
                << setting->name << " " << name;
        }
    }
    for (const PublicationSetting* setting : numbers) {
        for (const int64_t beyond :
             {int64_t{setting->bounds.min} - 1, int64_t{setting->bounds.max} + 1}) {
            if (beyond > INT32_MAX) {
                continue;
            }
            const std::string value = std::to_string(beyond);
            home_.Sandbox().WriteFile(
                "beyond.qvr",
                "[Vantrel]\r\nName=beyond\r\n" + std::string(setting->name) + "=" + value + "\r\n");
            std::string problem;
            EXPECT_FALSE(ImportSettingsFile(list, File("beyond.qvr"), &problem))
                << setting->name << " " << value;
            const std::string told = setting->kind == SettingKind::kPort
                                         ? "the FTP port " + value
                                         : setting->name + std::string(" the value ") + value;
            EXPECT_NE(std::string::npos, problem.find(told)) << setting->name << ": " << problem;
        }
    }
    EXPECT_EQ(2, list.Count());
}

TEST_F(QvrFunctionsTest, AnExportedDefinitionImportsAsTheSameSettingsFromPlainCrlfText)
{
    auto exported = testing::EveryValueAwayFromDefault("Example site");
    Export(*exported);

    const std::string text = home_.Sandbox().ReadFile("site.qvr");
    EXPECT_EQ(0u, text.rfind("[Vantrel]\r\nName=Example site\r\nSource=\\home\\me\\site\r\n", 0))
        << text.substr(0, 80);
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', lf + 1)) {
        ASSERT_EQ('\r', text[lf - 1]) << "bare line feed at " << lf;
    }
    EXPECT_EQ(std::string::npos, text.find('\0'));
    EXPECT_NE(std::string::npos, text.find("IgnoreFiles=*\\thumbs.db,\"my file.htm\"\r\n"));
    struct stat st = {};
    ASSERT_EQ(0, stat(home_.Sandbox().Path("site.qvr").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    QelPublicationList list;
    std::string problem = "stale";
    ASSERT_TRUE(ImportSettingsFile(list, File(), &problem));
    EXPECT_EQ("", problem);
    ASSERT_EQ(1, list.Count());
    const QelPublication& imported = *list.Items(1);
    EXPECT_TRUE(QelPublication::SameSettings(*exported, imported));
    EXPECT_EQ(exported->Status, imported.Status);
    EXPECT_EQ(exported->LastErrorText, imported.LastErrorText);
    EXPECT_EQ(exported->WebPageCount, imported.WebPageCount);
    EXPECT_NEAR(exported->LastPublished, imported.LastPublished, 1.0 / 86400);
    EXPECT_NEAR(exported->ServerTimeDrift, imported.ServerTimeDrift, 1.0 / 86400);

    QelPublicationList reloaded;
    ASSERT_EQ(1, reloaded.Count());
    EXPECT_TRUE(QelPublication::SameSettings(*exported, *reloaded.Items(1)));
}

TEST_F(QvrFunctionsTest, APasswordWrittenInPlainByAnOlderVersionImportsAsIs)
{
    home_.Sandbox().WriteFile("site.qvr", "[Vantrel]\nName=old\nPassword=plain secret\n");
    QelPublicationList list;
    ASSERT_TRUE(ImportSettingsFile(list, File()));
    ASSERT_EQ(1, list.Count());
    EXPECT_EQ("plain secret", list.Items(1)->Password);
    // Values absent from the file take their defaults.
    EXPECT_EQ(30, list.Items(1)->ConnectionTimeout);
    EXPECT_EQ((std::vector<std::string>{"thumbs.db"}), list.Items(1)->IgnoreFiles);
}

TEST_F(QvrFunctionsTest, ADialUpEntryTheSystemDoesNotListIsResetAsTheFileComesIn)
{
    home_.Sandbox().WriteFile("site.qvr",
                              "[Vantrel]\r\nName=site\r\nConnection=Old ISP\r\n"
                              "ConnectionTimeout=0\r\nFtpPort=\r\n");
    QelPublicationList list;
    ASSERT_TRUE(ImportSettingsFile(list, File()));
    ASSERT_EQ(1u, boxes_.Shown().size());
    EXPECT_EQ("Invalid Dial Up Connection", boxes_.Shown()[0].caption);
    EXPECT_EQ("", list.FindByName("site")->Connection);
    EXPECT_EQ(30, list.FindByName("site")->ConnectionTimeout);
    EXPECT_EQ("", list.Store()->ReadString("site", "Connection"));
}

TEST_F(QvrFunctionsTest, ImportingTheSameFileTwiceAddsTheWebSiteOnceAndSaysSo)
{
    auto exported = testing::EveryValueAwayFromDefault("site");
    Export(*exported);
    QelPublicationList list;
    ASSERT_TRUE(list.AddNew("other", "\\o", "ftp:o", "", "", "", 0, false, false));
    ASSERT_TRUE(ImportSettingsFile(list, File()));
    list.FindByName("site")->Source = "\\edited";
    ASSERT_TRUE(list.Update("site", *list.FindByName("site")));
    std::string problem;
    EXPECT_FALSE(ImportSettingsFile(list, File(), &problem));
    EXPECT_EQ(0u, problem.find("There is already a web site called \"site\"")) << problem;
    EXPECT_EQ(2, list.Count());
    EXPECT_EQ("\\edited", list.FindByName("site")->Source);
}

// An export cut short and run into other bytes is refused, naming what is damaged: the values
// before the cut may read well, but those after it would come in as their defaults.
TEST_F(QvrFunctionsTest, ADamagedSettingsFileIsRefusedNamingTheLineAndAddsNothing)
{
    auto exported = testing::EveryValueAwayFromDefault("site");
    Export(*exported);
    const std::string whole = home_.Sandbox().ReadFile("site.qvr");
    const size_t password = whole.find("\r\nPassword=~qv1~");
    ASSERT_NE(std::string::npos, password);
    const size_t cut = password + 20;
    // The number of the line after the password's.
    const size_t next_line =
        static_cast<size_t>(std::count(whole.begin(), whole.begin() + cut, '\n')) + 2;
    struct Case
    {
        const char* what;
        std::string content;
        std::string told;
    };
    const Case kCases[] = {
        {"cut in the password, bytes with a line break after",
         whole.substr(0, cut) + "\x93\xA7=\x10\n\xFF\xFE\x01\x7F no pair",
         "is damaged: its line " + std::to_string(next_line) +
             ", \"\\xFF\\xFE\\x01\\x7F no pair\", is neither"},
        {"cut in the password, bytes without a line break after",
         whole.substr(0, cut) + "\x93\xA7\x10zz", "give a password that is cut short or damaged"},
        {"a line that is no pair among whole ones",
         "[Vantrel]\r\nName=site\r\n[Vantrel] more\r\nSource=\\src\r\n",
         "its line 3, \"[Vantrel] more\", is neither"},
        {"a pair without a name", "[Vantrel]\r\nName=site\r\n=x\r\n", "its line 3, \"=x\""},
    };
    QelPublicationList list;
    for (const auto& c : kCases) {
        home_.Sandbox().WriteFile("site.qvr", c.content);
        std::string problem;
        EXPECT_FALSE(ImportSettingsFile(list, File(), &problem)) << c.what;
        EXPECT_NE(std::string::npos, problem.find(c.told)) << c.what << ": " << problem;
        EXPECT_NE(std::string::npos, problem.find(home_.Sandbox().Path("site.qvr"))) << problem;
    }
    EXPECT_EQ(0, list.Count());
    EXPECT_TRUE(list.Store()->GetRootKeyNames().empty());
    // Blank lines, comments and blanks around a pair are whole lines.
    home_.Sandbox().WriteFile("site.qvr", "; exported\r\n\r\n [Vantrel] \r\n\tName = site \r\n");
    EXPECT_TRUE(ImportSettingsFile(list, File()));
    EXPECT_EQ(1, list.Count());
}

TEST_F(QvrFunctionsTest, FilesWithoutAUsableDefinitionAddNothingAndSayWhy)
{
    std::string garbage;
    for (int i = 0; i < 2048; ++i) {
        garbage += static_cast<char>((i * 131) & 0xFF);
    }
    home_.Sandbox().MakeFolder("folder.qvr");
    struct Case
    {
        const char* file;
        std::string content;
        const char* told;
    };
    const Case kCases[] = {
        {"other.qvr", "[Other]\r\nName=site\r\n", "No web site settings could be read"},
        {"garbage.qvr", garbage, "No web site settings could be read"},
        {"missing.qvr", "", "No web site settings could be read"},
        {"folder.qvr", "", "No web site settings could be read"},
        {"noname.qvr", "[Vantrel]\r\nSource=\\src\r\n", "have no web site name"},
        {"empty.qvr", "[Vantrel]\r\nName=\r\nSource=\\src\r\n", "have no web site name"},
        {"blank.qvr", "[Vantrel]\r\nName=  \t \r\n", "have no web site name"},
        // Values the dialogs would never let through.
        {"port.qvr", "[Vantrel]\r\nName=site\r\nFtpPort=999999\r\n", "which is not a port"},
        {"portword.qvr", "[Vantrel]\r\nName=site\r\nFtpPort=ftp\r\n", "which is not a port"},
        {"timeout.qvr", "[Vantrel]\r\nName=site\r\nConnectionTimeout=600\r\n",
         "ConnectionTimeout the value 600, outside its range of 10 to 60"},
        {"short.qvr", "[Vantrel]\r\nName=site\r\nGeneralTimeout=5\r\n",
         "GeneralTimeout the value 5, outside its range of 10 to 60"},
        {"word.qvr", "[Vantrel]\r\nName=site\r\nGeneralTimeout=soon\r\n",
         "GeneralTimeout the value \"soon\", which is not a number"},
        {"delete.qvr", "[Vantrel]\r\nName=site\r\nDeleteOldFiles=258\r\n",
         "DeleteOldFiles the value 258, outside its range of 0 to 2"},
        {"dots.qvr", "[Vantrel]\r\nName=site\r\nDotFileTreatment=-1\r\n",
         "DotFileTreatment the value -1, outside its range of 0 to 3"},
        {"count.qvr", "[Vantrel]\r\nName=site\r\nSrcFileCount=-3\r\n",
         "SrcFileCount the value -3, outside its range"},
        {"drift.qvr", "[Vantrel]\r\nName=site\r\nServerTimeDrift=04/04/1897\r\n",
         "ServerTimeDrift the value 04/04/1897, outside its range"},
        {"later.qvr", "[Vantrel]\r\nName=site\r\nServerTimeDrift=31/12/1899 00:00:01\r\n",
         "ServerTimeDrift the value 31/12/1899 00:00:01, outside its range"},
        {"nulname.qvr", std::string("[Vantrel]\r\nName=a\0b\r\n", 21),
         "give Name the value \"a\\0b\", which holds a NUL character"},
        {"nulsource.qvr", std::string("[Vantrel]\r\nName=site\r\nSource=\\x\0\r\n", 34),
         "give Source the value \"\\x\\0\""},
        {"long.qvr",
         "[Vantrel]\r\nName=" + std::string(5000, 'n') + "\r\nSource=" + std::string(5000, 's') +
             "\r\n",
         "hold values far larger than any web site needs (Name, Source;"},
        {"patterns.qvr", "[Vantrel]\r\nName=site\r\nAsciiFiles=" + ManyPatterns() + "\r\n",
         "far larger than any web site needs (AsciiFiles;"},
        {"huge.qvr", "[Vantrel]\r\nName=site\r\nIgnoreFiles=" + std::string(1 << 20, 'x'),
         "far more than the settings of a web site"},
        {"address.qvr", "[Vantrel]\r\nName=site\r\nServer=ftp://me@host:2121/www\r\n",
         "\"ftp://me@host:2121/www\" cannot be read"},
    };
    QelPublicationList list;
    ASSERT_TRUE(list.Store()->WriteRootInteger("TurboOn", 1));
    for (const auto& c : kCases) {
        if (!c.content.empty()) {
            home_.Sandbox().WriteFile(c.file, c.content);
        }
        std::string problem;
        EXPECT_FALSE(ImportSettingsFile(list, File(c.file), &problem)) << c.file;
        EXPECT_NE(std::string::npos, problem.find(c.told)) << c.file << ": " << problem;
        EXPECT_NE(std::string::npos, problem.find(home_.Sandbox().Path(c.file)))
            << c.file << ": " << problem;
    }
    EXPECT_EQ(0, list.Count());
    EXPECT_TRUE(list.Store()->GetRootKeyNames().empty());
    EXPECT_EQ(1, list.Store()->ReadRootInteger("TurboOn"));
    EXPECT_FALSE(list.Store()->ValueExists("", "Source"));

    std::string problem = "stale";
    EXPECT_FALSE(ImportSettingsFile(list, "", &problem));
    EXPECT_EQ("", problem);
}

}  // namespace
}  // namespace vantrel
