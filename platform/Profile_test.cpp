#include "platform/Profile.h"

#include <filesystem>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Errors.h"
#include "tests/support/TestSandbox.h"

namespace vantrel::platform {
namespace {

class ProfileTest : public ::testing::Test
{
protected:
    std::string File(const std::string& name = "site.qvr") const
    {
        return sandbox_.SystemPath(name);
    }
    void Plant(const std::string& content) const { sandbox_.WriteFile("site.qvr", content); }
    std::string Content() const { return sandbox_.ReadFile("site.qvr"); }

    // The value, or "<missing>".
    std::string Read(const std::string& section, const std::string& name) const
    {
        std::string value;
        return ReadProfileString(File(), section, name, &value) ? value : "<missing>";
    }

    testing::TestSandbox sandbox_;
};

TEST_F(ProfileTest, ReadsLfOrCrlfIgnoringCaseBlanksAndComments)
{
    Plant(
        "top=outside\n[Vantrel]\r\n; Name=commented\r\n  Name = My Site  \r\nEmpty=\n"
        "[ Other ]\nName=other\n");
    struct Case
    {
        const char* section;
        const char* name;
        const char* expected;
    };
    const Case kCases[] = {
        {"Vantrel", "Name", "My Site"},   {"vantrel", "NAME", "My Site"},
        {"Vantrel", "Empty", ""},         {"OTHER", "name", "other"},
        {"Vantrel", "top", "<missing>"},  {"Vantrel", "; Name", "<missing>"},
        {"Missing", "Name", "<missing>"},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, Read(c.section, c.name)) << c.section << "/" << c.name;
    }
    std::vector<std::string> names;
    ASSERT_TRUE(ReadProfileSection(File(), "VANTREL", &names));
    EXPECT_EQ((std::vector<std::string>{"Name", "Empty"}), names);
}

TEST_F(ProfileTest, TheFirstSectionAndTheFirstNameWin)
{
    Plant("[Vantrel]\r\nName=first\r\nName=second\r\n[Vantrel]\r\nName=third\r\nOnly=later\r\n");
    EXPECT_EQ("first", Read("Vantrel", "Name"));
    EXPECT_EQ("<missing>", Read("Vantrel", "Only"));

    ASSERT_TRUE(WriteProfileString(File(), "Vantrel", "name", "changed"));
    EXPECT_EQ(
        "[Vantrel]\r\nname=changed\r\nName=second\r\n[Vantrel]\r\nName=third\r\nOnly=later\r\n",
        Content());
}

TEST_F(ProfileTest, LongAndQuotedValuesComeBackWhole)
{
    const std::string long_list(5000, 'p');
    const std::string kValues[] = {"\"my file.htm\"", "\"a b\",\"c d\"", "'single'", long_list,
                                   "x=y=z"};
    for (const std::string& value : kValues) {
        ASSERT_TRUE(WriteProfileString(File(), "Vantrel", "Value", value)) << value;
        EXPECT_EQ(value, Read("Vantrel", "Value")) << value;
    }
}

TEST_F(ProfileTest, WritesAddSectionsAtTheEndAndNamesAfterTheLastValueWithCrlf)
{
    Plant("[A]\nOne=1\n\n; about B\n[B]\nX=1\n");
    ASSERT_TRUE(WriteProfileString(File(), "a", "Two", "2"));
    ASSERT_TRUE(WriteProfileString(File(), "C", "Three", "3"));
    ASSERT_TRUE(WriteProfileString(File(), "B", "x", "replaced"));
    EXPECT_EQ("[A]\r\nOne=1\r\nTwo=2\r\n\r\n; about B\r\n[B]\r\nx=replaced\r\n[C]\r\nThree=3\r\n",
              Content());
}

TEST_F(ProfileTest, AWriteMakesTheFileAndReplacesItWholeWithOwnerOnlyMode)
{
    ASSERT_TRUE(WriteProfileString(File(), "Vantrel", "Password", "secret"));
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("site.qvr").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    ASSERT_EQ(0, chmod(sandbox_.Path("site.qvr").c_str(), 0644));
    const ino_t before = st.st_ino;
    ASSERT_TRUE(WriteProfileString(File(), "Vantrel", "Password", "other"));
    ASSERT_EQ(0, stat(sandbox_.Path("site.qvr").c_str(), &st));
    EXPECT_NE(before, st.st_ino) << "the file was rewritten in place";
    EXPECT_EQ(0600u, st.st_mode & 0777);

    // No temporary file stays behind.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(sandbox_.Path())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ((std::vector<std::string>{"site.qvr"}), left);
}

TEST_F(ProfileTest, DeleteRemovesOnlyThatLineAndAMissingValueIsNoFailure)
{
    Plant("[Vantrel]\r\nKeep=1\r\nDrop=2\r\n[Other]\r\nDrop=3\r\n");
    EXPECT_TRUE(DeleteProfileString(File(), "VANTREL", "drop"));
    EXPECT_TRUE(DeleteProfileString(File(), "Vantrel", "Never"));
    EXPECT_TRUE(DeleteProfileString(File("absent.qvr"), "Vantrel", "Drop"));
    EXPECT_EQ("[Vantrel]\r\nKeep=1\r\n[Other]\r\nDrop=3\r\n", Content());
    EXPECT_FALSE(std::filesystem::exists(sandbox_.Path("absent.qvr")));
}

TEST_F(ProfileTest, BinaryGarbageAroundASectionDoesNoHarm)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage += static_cast<char>((i * 7919) & 0xFF);
    }
    Plant(garbage + "\n[Vantrel]\nName=found\n" + garbage);
    EXPECT_EQ("found", Read("Vantrel", "Name"));
    ASSERT_TRUE(WriteProfileString(File(), "Vantrel", "Name", "kept"));
    EXPECT_EQ("kept", Read("Vantrel", "Name"));
}

TEST_F(ProfileTest, AStrayLineIsFoundByItsNumberAndTheReadersStillPassItOver)
{
    const struct
    {
        std::string content;
        size_t number;
        const char* line;
    } kCases[] = {
        {"; note\r\n\r\n [Vantrel] \r\n\t Name = a \r\nEmpty=\r\n[]\r\n", 0, ""},
        {"[Vantrel]\nName=a\ngarbage\nSource=b\n", 3, "garbage"},
        {"[Vantrel] tail\nName=a\n", 1, "[Vantrel] tail"},
        {"[Vantrel\nName=a\n", 1, "[Vantrel"},
        {"[Vantrel]\r\n = x\r\n", 2, " = x"},
        {"[Vantrel]\nName=a\nPass", 3, "Pass"},
        {"[Vantrel]\nName=a\x01\n\x01\x02\n", 3, "\x01\x02"},
    };
    for (const auto& c : kCases) {
        Plant(c.content);
        size_t number = 99;
        std::string line = "stale";
        ASSERT_TRUE(FindStrayProfileLine(File(), &number, &line)) << c.content;
        EXPECT_EQ(c.number, number) << c.content;
        EXPECT_EQ(c.line, line) << c.content;
    }
    Plant("[Vantrel]\nName=a\ngarbage\nSource=b\n");
    EXPECT_EQ("b", Read("Vantrel", "Source"));
    size_t number = 0;
    std::string line;
    EXPECT_FALSE(FindStrayProfileLine(File("absent.qvr"), &number, &line));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
}

TEST_F(ProfileTest, WhatWouldBreakTheFileIsRefusedAndChangesNothing)
{
    Plant("[Vantrel]\r\nName=site\r\n");
    struct Case
    {
        std::string section;
        std::string name;
        std::string value;
    };
    const Case kCases[] = {
        {"Vantrel", "LastErrorText", "line\r\nNext=injected"},
        {"Vantrel", "Name", "a\nb"},
        {"Vantrel", "A=B", "x"},
        {"Vantrel", "", "x"},
        {"Vantrel", "[Other]", "x"},
        {"Van]trel", "Name", "x"},
        {"Vantrel", "Name", std::string("nul\0inside", 10)},
    };
    for (const auto& c : kCases) {
        EXPECT_FALSE(WriteProfileString(File(), c.section, c.name, c.value)) << c.name;
        EXPECT_EQ(kErrorInvalidParameter, GetLastError()) << c.name;
    }
    EXPECT_EQ("[Vantrel]\r\nName=site\r\n", Content());
}

TEST_F(ProfileTest, AFileThatCannotBeReadGivesNothingAndIsNotReplaced)
{
    sandbox_.MakeFolder("folder.qvr");
    sandbox_.WriteFile("locked.qvr", "[Vantrel]\r\nName=locked\r\n");
    chmod(sandbox_.Path("locked.qvr").c_str(), 0);
    std::vector<std::string> unreadable = {"folder.qvr", "missing.qvr"};
    if (geteuid() != 0) {  // the super-user reads whatever the mode says
        unreadable.push_back("locked.qvr");
    }
    for (const std::string& name : unreadable) {
        std::string value = "untouched";
        EXPECT_FALSE(ReadProfileString(File(name), "Vantrel", "Name", &value)) << name;
        EXPECT_EQ("untouched", value) << name;
        std::vector<std::string> names = {"stale"};
        EXPECT_FALSE(ReadProfileSection(File(name), "Vantrel", &names)) << name;
        EXPECT_TRUE(names.empty()) << name;
    }
    EXPECT_FALSE(WriteProfileString(File("folder.qvr"), "Vantrel", "Name", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(sandbox_.Path("folder.qvr")));
    EXPECT_FALSE(WriteProfileString(File("no/such/folder.qvr"), "Vantrel", "Name", "x"));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

}  // namespace
}  // namespace vantrel::platform
