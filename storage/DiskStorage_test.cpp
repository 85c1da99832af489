#include "storage/DiskStorage.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/DateTime.h"
#include "platform/Errors.h"
#include "platform/NetShare.h"
#include "sync/QelSyncBaseOutput.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

class DiskStorageDeviceTest : public ::testing::Test
{
protected:
    // No share of the machine running the tests may answer.
    DiskStorageDeviceTest() { platform::SetShareMountSources("", ""); }
    ~DiskStorageDeviceTest() override
    {
        platform::SetShareMountSources(std::nullopt, std::nullopt);
    }

    std::string P(const std::string& relative = "") { return sandbox_.SystemPath(relative); }

    mode_t Mode(const std::string& relative)
    {
        struct stat st = {};
        return lstat(sandbox_.Path(relative).c_str(), &st) == 0 ? st.st_mode : 0;
    }

    void Chmod(const std::string& relative, mode_t mode)
    {
        ASSERT_EQ(0, chmod(sandbox_.Path(relative).c_str(), mode)) << relative;
    }

    TDateTime Date(int year, int second)
    {
        TDateTime date = 0;
        EXPECT_TRUE(platform::TryEncodeDateTime(year, 6, 15, 10, 20, second, 0, &date));
        return date;
    }

    testing::TestSandbox sandbox_;
    testing::CollectingOutput output_;
    DiskStorageDevice device_{&output_};
};

TEST_F(DiskStorageDeviceTest, DiskPathsAreDriveLettersUncPathsAndAbsoluteLocalPaths)
{
    const std::pair<const char*, bool> kCases[] = {
        {"C:\\www", true},
        {"C:", true},
        {"\\\\server\\share", true},
        {"\\home\\me\\site", true},
        {"/home/me/site", true},
        {"ftp:\\\\host\\www", false},
        {"www", false},
        {"[::1]/www", false},
        {"C", false},
        {"\\", false},
        {"", false},
    };
    for (const auto& [path, expected] : kCases) {
        EXPECT_EQ(expected, DiskStorageDevice::IsDiskPath(path)) << path;
    }
}

TEST_F(DiskStorageDeviceTest, OpenOnAMissingLocalFolderIsReady)
{
    EXPECT_EQ(1, device_.GetDeviceType());
    EXPECT_FALSE(device_.SupportsTransferModes());
    EXPECT_TRUE(device_.Open(P("missing"), "", "", ""));
    EXPECT_TRUE(output_.Messages().empty());
    EXPECT_FALSE(device_.ChangeDirectory(P("missing")));
}

TEST_F(DiskStorageDeviceTest, OpenOnAnUnreachableShareWritesThreeLinesAndFails)
{
    EXPECT_FALSE(device_.Open("\\\\server\\share\\site\\www", "me", "secret", ""));
    const std::vector<std::pair<int, std::string>> expected = {
        {27, "Failed to connect to \\\\server\\share"},
        {27, "Error code: 53"},
        {27, "Description: " + platform::ErrorMessageText(platform::kErrorBadNetpath)},
    };
    EXPECT_EQ(expected, output_.Messages());
}

TEST_F(DiskStorageDeviceTest, OpenOnAMountedShareIsReadyAndFilesLandInTheMount)
{
    sandbox_.WriteFile("src/index.htm", "hello");
    sandbox_.MakeFolder("mnt/share/site");
    platform::SetShareMountSources(
        "//Server/Share " + sandbox_.Path("mnt/share") + " cifs rw 0 0\n", "");
    ASSERT_TRUE(device_.Open("\\\\server\\share\\site", "me", "secret", ""));
    EXPECT_TRUE(output_.Messages().empty());
    device_.KeepWithin("\\\\server\\share\\site");
    ASSERT_TRUE(device_.CreateDirectory("\\\\server\\share\\site\\www"));
    ASSERT_TRUE(
        device_.PutFile(P("src/index.htm"), "\\\\server\\share\\site\\www", "index.htm", true));
    EXPECT_EQ("hello", sandbox_.ReadFile("mnt/share/site/www/index.htm"));
    EXPECT_EQ(3, device_.ListDirectory("\\\\server\\share\\site\\www", "", false)->Count());
    // A root on a share is kept through the share's mount: a link below it is not followed.
    std::filesystem::create_directory_symlink(sandbox_.Path("src"),
                                              sandbox_.Path("mnt/share/site/linked"));
    EXPECT_EQ(0, device_.ListDirectory("\\\\server\\share\\site\\linked", "", false)->Count());
}

TEST_F(DiskStorageDeviceTest, PutFileReplacesAnOrdinaryFileButNotAReadOnlyOne)
{
    sandbox_.WriteFile("src/a.htm", "new a");
    sandbox_.WriteFile("src/b.htm", "new b");
    sandbox_.WriteFile("site/a.htm", "old a");
    sandbox_.WriteFile("site/b.htm", "old b");
    Chmod("site/b.htm", 0444);
    EXPECT_TRUE(device_.PutFile(device_.GetFile(P("src"), "a.htm"), P("site"), "a.htm", true));
    EXPECT_EQ("new a", sandbox_.ReadFile("site/a.htm"));

    EXPECT_FALSE(device_.PutFile(device_.GetFile(P("src"), "b.htm"), P("site"), "b.htm", false));
    EXPECT_EQ(platform::kErrorAccessDenied, device_.GetLastError());
    EXPECT_EQ("Access was denied.", device_.GetLastErrorText());
    EXPECT_EQ("old b", sandbox_.ReadFile("site/b.htm"));

    // The worker's way: clear the bit first, then copy.
    EXPECT_TRUE(device_.SetReadOnly(P("site"), "b.htm", false, false));
    EXPECT_TRUE(device_.PutFile(P("src/b.htm"), P("site"), "b.htm", true));
    EXPECT_EQ("new b", sandbox_.ReadFile("site/b.htm"));
    EXPECT_TRUE(output_.Messages().empty());
}

TEST_F(DiskStorageDeviceTest, PutFileOntoALinkReplacesTheLinkAndLeavesItsTargetUntouched)
{
    sandbox_.WriteFile("src/a.htm", "new");
    sandbox_.WriteFile("private/passwords", "keep me");
    Chmod("private/passwords", 0444);
    sandbox_.MakeFolder("site");
    std::filesystem::create_symlink(sandbox_.Path("private/passwords"),
                                    sandbox_.Path("site/a.htm"));
    // The listing shows the link as read-only, so the worker clears the bit first.
    EXPECT_TRUE(device_.SetReadOnly(P("site"), "a.htm", false, false));
    ASSERT_TRUE(device_.PutFile(P("src/a.htm"), P("site"), "a.htm", true));
    EXPECT_TRUE(S_ISREG(Mode("site/a.htm")));
    EXPECT_EQ("new", sandbox_.ReadFile("site/a.htm"));
    EXPECT_EQ("keep me", sandbox_.ReadFile("private/passwords"));
    EXPECT_EQ(0444u, Mode("private/passwords") & 0777);
}

TEST_F(DiskStorageDeviceTest, SetReadOnlyWritesOnlyAChangedBitUnlessForced)
{
    sandbox_.WriteFile("site/a.htm", "");
    // Read-only for the owner while the group may still write: a rewrite of the attributes takes
    // the group's permission away too, so it shows.
    Chmod("site/a.htm", 0464);
    EXPECT_TRUE(device_.SetReadOnly(P("site"), "a.htm", true, false));
    EXPECT_EQ(0464u, Mode("site/a.htm") & 0777);
    EXPECT_TRUE(device_.SetReadOnly(P("site"), "a.htm", true, true));
    EXPECT_EQ(0444u, Mode("site/a.htm") & 0777);
    EXPECT_TRUE(device_.SetReadOnly(P("site"), "missing.htm", true, true));
}

TEST_F(DiskStorageDeviceTest, SetFileDateKeepsOnlyEvenSeconds)
{
    testing::ScopedTimeZone zone("XYZ-3");
    sandbox_.WriteFile("site/a.htm", "x", 1000);
    ASSERT_TRUE(device_.SetFileDate(P("site"), "a.htm", Date(2021, 13)));
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("site/a.htm").c_str(), &st));
    // 10:20:12 local is 07:20:12 UTC.
    std::tm utc{};
    utc.tm_year = 2021 - 1900;
    utc.tm_mon = 5;
    utc.tm_mday = 15;
    utc.tm_hour = 7;
    utc.tm_min = 20;
    utc.tm_sec = 12;
    EXPECT_EQ(timegm(&utc), st.st_mtime);
    EXPECT_EQ(0, st.st_mtim.tv_nsec);

    EXPECT_FALSE(device_.SetFileDate(P("site"), "a.htm", Date(1979, 0)));
    EXPECT_FALSE(device_.SetFileDate(P("site"), "a.htm", Date(2108, 0)));
    EXPECT_FALSE(device_.SetFileDate(P("site"), "missing.htm", Date(2021, 0)));
    ASSERT_EQ(0, stat(sandbox_.Path("site/a.htm").c_str(), &st));
    EXPECT_EQ(timegm(&utc), st.st_mtime);
}

TEST_F(DiskStorageDeviceTest, DeleteFileJoinsWithOneSeparatorAndWritesNoMessage)
{
    sandbox_.WriteFile("site/a.htm", "");
    sandbox_.WriteFile("site/sub/b.htm", "");
    sandbox_.WriteFile("here.htm", "");
    EXPECT_TRUE(device_.DeleteFile(P("site") + "\\", "a.htm", true));
    // The worker's queued paths begin with a backslash.
    EXPECT_TRUE(device_.DeleteFile(P("site"), "\\sub\\b.htm", true));
    const std::string saved = std::filesystem::current_path().string();
    ASSERT_EQ(0, chdir(sandbox_.Path().c_str()));
    const bool deleted_here = device_.DeleteFile("", "here.htm", true);
    ASSERT_EQ(0, chdir(saved.c_str()));
    EXPECT_TRUE(deleted_here);
    EXPECT_EQ(0u, Mode("site/a.htm") | Mode("site/sub/b.htm") | Mode("here.htm"));

    EXPECT_FALSE(device_.DeleteFile(P("site"), "a.htm", true));
    EXPECT_EQ(platform::kErrorFileNotFound, device_.GetLastError());
    EXPECT_TRUE(output_.Messages().empty());
}

TEST_F(DiskStorageDeviceTest, RemoveDirectoryFailureWritesOneLineWithPathCodeAndText)
{
    sandbox_.WriteFile("site/full/a.htm", "");
    EXPECT_FALSE(device_.RemoveDirectory(P("site/full")));
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{
                  {27, "RemoveDirectory (" + P("site/full") +
                           ") failed with error 145: The folder is not empty."}}),
              output_.Messages());
}

TEST_F(DiskStorageDeviceTest, RenameFileFailsWhenTheNewNameExists)
{
    sandbox_.WriteFile("site/a.htm", "a");
    sandbox_.WriteFile("site/b.htm", "b");
    EXPECT_FALSE(device_.RenameFile(P("site"), "a.htm", "b.htm"));
    EXPECT_EQ(platform::kErrorAlreadyExists, device_.GetLastError());
    EXPECT_EQ("b", sandbox_.ReadFile("site/b.htm"));
    EXPECT_TRUE(device_.RenameFile(P("site"), "a.htm", "c.htm"));
    EXPECT_EQ("a", sandbox_.ReadFile("site/c.htm"));
}

TEST_F(DiskStorageDeviceTest, ListDirectoryReturnsANewListEachCall)
{
    sandbox_.WriteFile("site/a.htm", "");
    auto first = device_.ListDirectory(P("site"), "", false);
    auto second = device_.ListDirectory(P("site"), "", true);
    ASSERT_NE(first.get(), second.get());
    first.reset();
    ASSERT_EQ(3, second->Count());
    EXPECT_EQ("a.htm", second->Items(3)->Name);
}

TEST_F(DiskStorageDeviceTest, AFolderSwappedForALinkAfterItsListingLeadsNowhereOutsideTheRoot)
{
    // The root may itself be a link: that one the user chose, and it is followed.
    sandbox_.WriteFile("real/old/page.htm", "site");
    std::filesystem::create_directory_symlink(sandbox_.Path("real"), sandbox_.Path("root"));
    sandbox_.WriteFile("outside/page.htm", "keep");
    sandbox_.MakeFolder("outside/sub");
    sandbox_.WriteFile("src/page.htm", "new");
    device_.KeepWithin(P("root"));
    ASSERT_EQ(3, device_.ListDirectory(P("root/old"), "", false)->Count());

    std::filesystem::remove_all(sandbox_.Path("real/old"));
    std::filesystem::create_directory_symlink(sandbox_.Path("outside"), sandbox_.Path("real/old"));
    const std::string old = P("root/old");
    const std::pair<const char*, std::function<bool()>> kRefused[] = {
        {"DeleteFile", [&] { return device_.DeleteFile(P("root"), "\\old\\page.htm", true); }},
        {"PutFile", [&] { return device_.PutFile(P("src/page.htm"), old, "page.htm", true); }},
        {"CreateDirectory", [&] { return device_.CreateDirectory(old + "\\new"); }},
        {"RemoveDirectory", [&] { return device_.RemoveDirectory(old + "\\sub"); }},
        {"RenameFile", [&] { return device_.RenameFile(old, "page.htm", "moved.htm"); }},
        {"SetFileDate", [&] { return device_.SetFileDate(old, "page.htm", Date(2021, 0)); }},
        {"ChangeDirectory", [&] { return device_.ChangeDirectory(old + "\\sub"); }},
    };
    for (const auto& [operation, call] : kRefused) {
        EXPECT_FALSE(call()) << operation;
        EXPECT_EQ(platform::kErrorPathNotFound, device_.GetLastError()) << operation;
    }
    EXPECT_TRUE(device_.SetReadOnly(old, "page.htm", true, true));
    EXPECT_EQ(0, device_.ListDirectory(old, "", false)->Count());

    // The worker then removes the folder it listed: the link goes, what it points to stays.
    EXPECT_TRUE(device_.RemoveDirectory(old));
    EXPECT_EQ(0u, Mode("real/old"));
    EXPECT_EQ("keep", sandbox_.ReadFile("outside/page.htm"));
    EXPECT_NE(0u, Mode("outside/page.htm") & S_IWUSR);
    // Outside the root the device acts as without one.
    EXPECT_EQ(4, device_.ListDirectory(P("outside"), "", false)->Count());
    // A link goes as a link even when it leads nowhere.
    std::filesystem::create_directory_symlink(sandbox_.Path("nowhere"), sandbox_.Path("real/gone"));
    EXPECT_TRUE(device_.RemoveDirectory(P("root/gone")));
    EXPECT_EQ(0u, Mode("real/gone"));
}

}  // namespace
}  // namespace vantrel
