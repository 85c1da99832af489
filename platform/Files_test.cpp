#include "platform/Files.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "platform/Errors.h"
#include "platform/NetShare.h"
#include "tests/support/TestSandbox.h"

namespace vantrel::platform {
namespace {

class FilesTest : public ::testing::Test
{
protected:
    // Every record of a listing, or none when it fails (the last error tells why).
    std::vector<FindData> List(const std::string& relative_pattern)
    {
        std::vector<FindData> records;
        FindData data;
        auto search = FindFirstFile(sandbox_.SystemPath(relative_pattern), &data);
        if (search == nullptr) {
            return records;
        }
        do {
            records.push_back(data);
        } while (FindNextFile(*search, &data));
        EXPECT_EQ(kErrorNoMoreFiles, GetLastError());
        FindClose(search);
        EXPECT_EQ(nullptr, search);
        return records;
    }

    std::vector<std::string> Names(const std::string& relative_pattern)
    {
        std::vector<std::string> names;
        for (const auto& record : List(relative_pattern)) {
            names.push_back(record.file_name);
        }
        return names;
    }

    testing::TestSandbox sandbox_;
};

TEST_F(FilesTest, ListingComesDotEntriesFirstThenFoldedThenExactOrder)
{
    for (const char* name : {"b.txt", "B.txt", "a.txt", "_x", "A.txt", "c"}) {
        sandbox_.WriteFile(std::string("site/") + name, name);
    }
    // "_" sorts before the folded letters, as its code does.
    const std::vector<std::string> expected = {".",     "..",    "_x",    "A.txt",
                                               "a.txt", "B.txt", "b.txt", "c"};
    EXPECT_EQ(expected, Names("site/*"));
}

TEST_F(FilesTest, NamesHoldingABackslashAreSkipped)
{
    sandbox_.WriteFile("site/plain", "");
    sandbox_.WriteFile("site/back\\slash", "");
    EXPECT_EQ((std::vector<std::string>{".", "..", "plain"}), Names("site/*"));
}

TEST_F(FilesTest, MaskNarrowsTheListingWithExactLetterCase)
{
    for (const char* name : {"index.htm", "page.htm", "Page.HTM", "page.html", "x"}) {
        sandbox_.WriteFile(std::string("site/") + name, "");
    }
    EXPECT_EQ((std::vector<std::string>{"index.htm", "page.htm"}), Names("site/*.htm"));
    EXPECT_EQ((std::vector<std::string>{"page.htm", "page.html"}), Names("site/p*.ht?*"));
    EXPECT_EQ((std::vector<std::string>{"Page.HTM"}), Names("site/Page.HTM"));
    EXPECT_EQ(7u, Names("site/*.*").size());  // five files and the dot entries
}

TEST_F(FilesTest, FailuresTellAMissingFolderFromAnEmptyMatch)
{
    sandbox_.WriteFile("site/a.txt", "");
    FindData data;
    EXPECT_EQ(nullptr, FindFirstFile(sandbox_.SystemPath("missing/*"), &data));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
    EXPECT_EQ(nullptr, FindFirstFile(sandbox_.SystemPath("site/*.htm"), &data));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_EQ(nullptr, FindFirstFile(sandbox_.SystemPath("site/b.txt"), &data));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_EQ(nullptr, FindFirstFile(sandbox_.SystemPath("site/a.txt/*"), &data));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

TEST_F(FilesTest, RecordsCarryAttributesTimesAndSizeHalves)
{
    sandbox_.WriteFile("site/page.htm", "12345", 1'000'000'000);
    sandbox_.WriteFile("site/.hidden", "");
    sandbox_.WriteFile("site/locked", "");
    sandbox_.MakeFolder("site/sub");
    ASSERT_EQ(0, chmod(sandbox_.Path("site/locked").c_str(), 0444));
    // A sparse file beyond 4 GiB exercises the high half.
    ASSERT_EQ(0, truncate(sandbox_.Path("site/.hidden").c_str(), (int64_t{5} << 30) + 7));

    const auto records = List("site/*");
    ASSERT_EQ(6u, records.size());
    const FindData& hidden = records[2];
    const FindData& locked = records[3];
    const FindData& page = records[4];
    const FindData& sub = records[5];
    EXPECT_EQ(".hidden", hidden.file_name);
    EXPECT_EQ(kFileAttributeHidden, hidden.attributes);
    EXPECT_EQ(1u, hidden.size_high);
    EXPECT_EQ((1u << 30) + 7, hidden.size_low);
    EXPECT_EQ(kFileAttributeReadOnly, locked.attributes);
    EXPECT_EQ(0u, page.attributes);
    EXPECT_EQ(5u, page.size_low);
    EXPECT_EQ(0u, page.size_high);
    EXPECT_EQ(116444736000000000ULL + 1'000'000'000ULL * 10'000'000, page.last_write_time.Value());
    EXPECT_NE(0u, page.creation_time.Value());
    EXPECT_EQ(kFileAttributeDirectory, sub.attributes);
    EXPECT_EQ(kFileAttributeDirectory, records[0].attributes);
    EXPECT_EQ(kFileAttributeDirectory, records[1].attributes);
}

TEST_F(FilesTest, LinksListAsWhatTheyPointToAndDanglingOnesAsThemselves)
{
    sandbox_.WriteFile("target/file", "abc");
    sandbox_.MakeFolder("site");
    std::filesystem::create_directory_symlink(sandbox_.Path("target"), sandbox_.Path("site/dir"));
    std::filesystem::create_symlink(sandbox_.Path("target/file"), sandbox_.Path("site/file"));
    std::filesystem::create_symlink(sandbox_.Path("nowhere"), sandbox_.Path("site/gone"));
    const auto records = List("site/*");
    ASSERT_EQ(5u, records.size());
    EXPECT_EQ(kFileAttributeDirectory | kFileAttributeReparsePoint, records[2].attributes);
    EXPECT_EQ(kFileAttributeReparsePoint, records[3].attributes);
    EXPECT_EQ(3u, records[3].size_low);
    EXPECT_EQ("gone", records[4].file_name);
    EXPECT_EQ(kFileAttributeReparsePoint, records[4].attributes);

    // A linked folder is the very folder it points to.
    const auto target = List("target/*");
    ASSERT_EQ(3u, target.size());
    EXPECT_EQ(target[0].file_id, records[2].file_id);
    EXPECT_EQ(target[0].volume_id, records[2].volume_id);
    EXPECT_NE(records[0].file_id, records[2].file_id);
}

TEST_F(FilesTest, PipesAndDevicesListAsSuchAndAreNeverRead)
{
    sandbox_.WriteFile("site/page.htm", "page");
    ASSERT_EQ(0, mkfifo(sandbox_.Path("site/fifo").c_str(), 0644));
    std::filesystem::create_symlink("/dev/zero", sandbox_.Path("site/zero"));
    std::filesystem::create_symlink(sandbox_.Path("site/fifo"), sandbox_.Path("site/to-fifo"));
    std::filesystem::create_symlink(sandbox_.Path("nowhere"), sandbox_.Path("site/gone"));
    std::map<std::string, uint32_t> special;
    for (const FindData& record : List("site/*")) {
        special[record.file_name] = record.attributes & kFileAttributeDevice;
    }
    EXPECT_EQ((std::map<std::string, uint32_t>{{".", 0},
                                               {"..", 0},
                                               {"fifo", kFileAttributeDevice},
                                               {"gone", 0},
                                               {"page.htm", 0},
                                               {"to-fifo", kFileAttributeDevice},
                                               {"zero", kFileAttributeDevice}}),
              special);

    // A pipe without a writer would hold a read for ever, /dev/zero never end it.
    for (const char* name : {"site/fifo", "site/to-fifo", "site/zero"}) {
        EXPECT_EQ(-1, OpenFileToRead(sandbox_.SystemPath(name))) << name;
        EXPECT_EQ(kErrorAccessDenied, GetLastError()) << name;
        EXPECT_FALSE(CopyFile(sandbox_.SystemPath(name), sandbox_.SystemPath("copy"))) << name;
    }
    std::string read;
    EXPECT_TRUE(ReadWholeFile(sandbox_.SystemPath("site/page.htm"),
                              [&](std::string_view piece) { read += piece; }));
    EXPECT_EQ("page", read);
}

TEST_F(FilesTest, ExistenceChecksTellFilesFromFolders)
{
    sandbox_.WriteFile("site/a.txt", "");
    EXPECT_TRUE(FileExists(sandbox_.SystemPath("site/a.txt")));
    EXPECT_FALSE(FileExists(sandbox_.SystemPath("site")));
    EXPECT_TRUE(DirectoryExists(sandbox_.SystemPath("site")));
    EXPECT_FALSE(DirectoryExists(sandbox_.SystemPath("site/a.txt")));
    EXPECT_FALSE(DirectoryExists(sandbox_.SystemPath("nothing")));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

TEST(FoldersUpToRootTest, TheWalkEndsAtTheFolderThatIsItsOwnParentOrWhereAParentIsUnknown)
{
    // Each call of `up` gives the next of the parents, then nothing.
    const auto walk = [](std::vector<std::optional<FolderIdentity>> parents) {
        size_t next = 0;
        return FoldersUpToRoot({1, 5}, [&]() -> std::optional<FolderIdentity> {
            return next < parents.size() ? parents[next++] : std::nullopt;
        });
    };
    EXPECT_EQ((std::vector<FolderIdentity>{{1, 5}, {1, 4}, {1, 3}}),
              walk({FolderIdentity{1, 4}, FolderIdentity{1, 3}, FolderIdentity{1, 3},
                    FolderIdentity{1, 2}}));
    EXPECT_EQ((std::vector<FolderIdentity>{{1, 5}, {1, 4}}),
              walk({FolderIdentity{1, 4}, std::nullopt, FolderIdentity{1, 3}}));
}

class FileOperationsTest : public FilesTest
{
protected:
    std::string P(const std::string& relative) { return sandbox_.SystemPath(relative); }

    // The entry's own mode (a link is not followed); 0 when it is missing.
    mode_t Mode(const std::string& relative)
    {
        struct stat st = {};
        return lstat(sandbox_.Path(relative).c_str(), &st) == 0 ? st.st_mode : 0;
    }

    void Chmod(const std::string& relative, mode_t mode)
    {
        ASSERT_EQ(0, chmod(sandbox_.Path(relative).c_str(), mode)) << relative;
    }

    void Link(const std::string& target, const std::string& relative)
    {
        std::filesystem::create_symlink(sandbox_.Path(target), sandbox_.Path(relative));
    }
};

TEST_F(FileOperationsTest, CopyReplacesAFileAndKeepsTimeAndReadOnlyBit)
{
    sandbox_.WriteFile("src/page.htm", "new content", 1'000'000'000);
    sandbox_.WriteFile("site/page.htm", "old");
    Chmod("src/page.htm", 0444);
    ASSERT_TRUE(CopyFile(P("src/page.htm"), P("site/page.htm")));
    EXPECT_EQ("new content", sandbox_.ReadFile("site/page.htm"));
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("site/page.htm").c_str(), &st));
    EXPECT_EQ(1'000'000'000, st.st_mtime);
    EXPECT_EQ(0u, st.st_mode & S_IWUSR);
    EXPECT_EQ((std::vector<std::string>{".", "..", "page.htm"}), Names("site/*"));
}

TEST_F(FileOperationsTest, CopyFailuresGiveTheirCodesAndChangeNothing)
{
    sandbox_.WriteFile("src/page.htm", "new");
    sandbox_.WriteFile("site/locked", "old");
    sandbox_.MakeFolder("site/folder");
    Chmod("site/locked", 0444);
    struct Case
    {
        const char* from;
        const char* to;
        uint32_t expected;
    };
    const Case kCases[] = {
        // Root could write the file; the system relies on the refusal.
        {"src/page.htm", "site/locked", kErrorAccessDenied},
        {"src/page.htm", "site/folder", kErrorAccessDenied},
        {"src", "site/a", kErrorAccessDenied},
        {"src/missing", "site/a", kErrorFileNotFound},
        {"nofolder/missing", "site/a", kErrorPathNotFound},
        {"src/page.htm", "nofolder/a", kErrorPathNotFound},
    };
    for (const auto& c : kCases) {
        EXPECT_FALSE(CopyFile(P(c.from), P(c.to))) << c.from << " -> " << c.to;
        EXPECT_EQ(c.expected, GetLastError()) << c.from << " -> " << c.to;
    }
    EXPECT_EQ("old", sandbox_.ReadFile("site/locked"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "folder", "locked"}), Names("site/*"));
}

TEST_F(FileOperationsTest, ABrokenCopyLeavesTheOldFileAndNoTemporaryFile)
{
    sandbox_.WriteFile("src/big", std::string(256 * 1024, 'x'));
    sandbox_.WriteFile("site/big", "old");
    // A file size limit makes the copy's writes fail part way, as a full disk would.
    struct sigaction ignore = {}, saved = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &saved));
    rlimit limit = {}, saved_limit = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved_limit));
    limit = saved_limit;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
    const bool copied = CopyFile(P("src/big"), P("site/big"));
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    sigaction(SIGXFSZ, &saved, nullptr);

    EXPECT_FALSE(copied);
    EXPECT_EQ("old", sandbox_.ReadFile("site/big"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "big"}), Names("site/*"));
}

TEST_F(FileOperationsTest, MoveFailsWhenTheNewNameExists)
{
    sandbox_.WriteFile("site/a", "a");
    sandbox_.WriteFile("site/b", "b");
    EXPECT_FALSE(MoveFile(P("site/a"), P("site/b")));
    EXPECT_EQ(kErrorAlreadyExists, GetLastError());
    EXPECT_EQ("b", sandbox_.ReadFile("site/b"));
    ASSERT_TRUE(MoveFile(P("site/a"), P("site/c")));
    EXPECT_EQ((std::vector<std::string>{".", "..", "b", "c"}), Names("site/*"));
    EXPECT_FALSE(MoveFile(P("site/c"), P("nofolder/d")));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

TEST_F(FileOperationsTest, DeleteRefusesReadOnlyFilesAndFoldersAndRemovesLinksThemselves)
{
    sandbox_.WriteFile("site/locked", "x");
    sandbox_.WriteFile("elsewhere/target", "keep me");
    sandbox_.MakeFolder("site/folder");
    Chmod("site/locked", 0444);
    Chmod("elsewhere/target", 0444);
    Link("elsewhere/target", "site/link");
    EXPECT_FALSE(DeleteFile(P("site/locked")));
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
    EXPECT_FALSE(DeleteFile(P("site/folder")));
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
    EXPECT_TRUE(DeleteFile(P("site/link")));
    EXPECT_EQ("keep me", sandbox_.ReadFile("elsewhere/target"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "folder", "locked"}), Names("site/*"));
    EXPECT_FALSE(DeleteFile(P("site/link")));
    EXPECT_EQ(kErrorFileNotFound, GetLastError());
    EXPECT_FALSE(DeleteFile(P("nofolder/link")));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());
}

TEST_F(FileOperationsTest, FoldersAreCreatedAndRemovedWithTheSystemsCodes)
{
    sandbox_.WriteFile("site/full/file", "x");
    sandbox_.MakeFolder("elsewhere/empty");
    std::filesystem::create_directory_symlink(sandbox_.Path("elsewhere/empty"),
                                              sandbox_.Path("site/linked"));
    EXPECT_TRUE(CreateDirectory(P("site/new")));
    EXPECT_FALSE(CreateDirectory(P("site/new")));
    EXPECT_EQ(kErrorAlreadyExists, GetLastError());
    EXPECT_FALSE(CreateDirectory(P("site/missing/new")));
    EXPECT_EQ(kErrorPathNotFound, GetLastError());

    EXPECT_FALSE(RemoveDirectory(P("site/full")));
    EXPECT_EQ(kErrorDirNotEmpty, GetLastError());
    EXPECT_FALSE(RemoveDirectory(P("site/full/file")));
    EXPECT_EQ(kErrorDirectory, GetLastError());
    EXPECT_TRUE(RemoveDirectory(P("site/new") + "\\"));
    // With the trailing separator the link would be followed to the folder it names.
    EXPECT_TRUE(RemoveDirectory(P("site/linked") + "\\"));
    EXPECT_TRUE(S_ISDIR(Mode("elsewhere/empty")));
    EXPECT_EQ((std::vector<std::string>{".", "..", "full"}), Names("site/*"));
}

TEST_F(FileOperationsTest, AHeldFolderIsReachedThroughItsHandleUntilItsPathNamesAnotherFolder)
{
    sandbox_.WriteFile("site/sub/page.htm", "site");
    sandbox_.WriteFile("src/new.htm", "new");
    sandbox_.MakeFolder("other");
    HeldFolder site;
    ASSERT_TRUE(site.Hold(P("site")));
    // Calls at and below the folder, each as the device makes them.
    const std::pair<const char*, std::function<bool()>> kCalls[] = {
        {"FindFirstFile",
         [&] {
             FindData data;
             return FindFirstFile(P("site") + "\\*", &data, site) != nullptr;
         }},
        {"DirectoryExists", [&] { return DirectoryExists(P("site"), site); }},
        {"CopyFile", [&] { return CopyFile(P("src/new.htm"), P("site/sub/new.htm"), site); }},
        {"DeleteFile", [&] { return DeleteFile(P("site/sub/page.htm"), site); }},
        {"CreateDirectory", [&] { return CreateDirectory(P("site/sub/made"), site); }},
    };
    for (const auto& [call, run] : kCalls) {
        EXPECT_TRUE(run()) << call;
    }
    EXPECT_EQ((std::vector<std::string>{".", "..", "made", "new.htm"}), Names("site/sub/*"));

    // Another folder in its place, then the folder back: whoever swapped it may again.
    std::filesystem::rename(sandbox_.Path("site"), sandbox_.Path("held"));
    std::filesystem::rename(sandbox_.Path("other"), sandbox_.Path("site"));
    EXPECT_TRUE(DirectoryExists(P("site")));
    EXPECT_FALSE(DirectoryExists(P("site"), site));
    EXPECT_TRUE(site.Replaced());
    std::filesystem::rename(sandbox_.Path("site"), sandbox_.Path("other"));
    std::filesystem::rename(sandbox_.Path("held"), sandbox_.Path("site"));
    for (const auto& [call, run] : kCalls) {
        EXPECT_FALSE(run()) << call;
        EXPECT_EQ(kErrorFileInvalid, GetLastError()) << call;
    }
    EXPECT_EQ((std::vector<std::string>{".", "..", "made", "new.htm"}), Names("site/sub/*"));
    // Outside the held folder every call acts as it always does.
    EXPECT_TRUE(CopyFile(P("src/new.htm"), P("other/new.htm"), site));
}

TEST_F(FileOperationsTest, GatheringFindsEveryFolderOnceAndFollowsOnlyTheLinksItIsGiven)
{
    sandbox_.WriteFile("tree/a/b/page.html", "x");
    sandbox_.MakeFolder("tree/c");
    sandbox_.WriteFile("beside/d/page.html", "x");
    Link("beside", "tree/out");
    Link("tree/a", "tree/again");
    std::filesystem::create_symlink("page.html", sandbox_.Path("tree/a/b/file-link"));
    std::vector<std::string> asked;
    const auto gather = [&](bool follow, bool* crossed) {
        FolderTree folders;
        EXPECT_TRUE(GatherFolders(
            P("tree"), {},
            [&](const std::string& path, const FolderIdentity&) {
                asked.push_back(path);
                return follow;
            },
            &folders, crossed));
        std::vector<std::string> paths;
        for (const auto& [id, path] : folders) {
            // The identity a listing gives the folder.
            const FindData self = List("tree" + ToPosixPath(path) + "/.").at(0);
            EXPECT_EQ(id, std::make_pair(self.volume_id, self.file_id)) << path;
            paths.push_back(path);
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    bool crossed = true;
    EXPECT_EQ((std::vector<std::string>{"", "\\a", "\\a\\b", "\\c"}), gather(false, &crossed));
    EXPECT_FALSE(crossed);
    // Asked for the links to folders alone; the second way to \a adds nothing.
    EXPECT_EQ((std::vector<std::string>{"\\again", "\\out"}),
              (std::sort(asked.begin(), asked.end()), asked));
    EXPECT_EQ((std::vector<std::string>{"", "\\a", "\\a\\b", "\\c", "\\out", "\\out\\d"}),
              gather(true, &crossed));
    EXPECT_TRUE(crossed);
}

TEST_F(FileOperationsTest, CopiesIntoAnEnteredFolderNeverLeaveTheHeldTree)
{
    sandbox_.WriteFile("src/new.htm", "new");
    sandbox_.MakeFolder("site/a");
    sandbox_.MakeFolder("site/b");
    sandbox_.MakeFolder("other/a");
    sandbox_.MakeFolder("other/b");
    HeldFolder site;
    ASSERT_TRUE(site.Hold(P("site")));
    const auto copy = [&](const char* to) { return CopyFile(P("src/new.htm"), P(to), site); };
    const std::vector<std::string> kEmpty = {".", ".."};

    // A folder renamed or removed through the held folder is entered anew.
    ASSERT_TRUE(copy("site/a/1.htm"));
    ASSERT_TRUE(MoveFile(P("site/a"), P("site/c"), site));
    sandbox_.MakeFolder("site/a");
    ASSERT_TRUE(copy("site/a/2.htm"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "2.htm"}), Names("site/a/*"));
    ASSERT_TRUE(DeleteFile(P("site/a/2.htm"), site));
    ASSERT_TRUE(RemoveDirectory(P("site/a"), site));
    sandbox_.MakeFolder("site/a");
    EXPECT_TRUE(copy("site/a/3.htm"));
    ASSERT_TRUE(DeleteFile(P("site/a/3.htm"), site));

    // The root swapped for a link to a tree of the same shape while copies go into a folder.
    ASSERT_TRUE(copy("site/a/1.htm"));
    std::filesystem::rename(sandbox_.Path("site"), sandbox_.Path("held"));
    std::filesystem::create_directory_symlink(sandbox_.Path("other"), sandbox_.Path("site"));
    copy("site/a/2.htm");
    EXPECT_FALSE(copy("site/b/1.htm"));
    EXPECT_EQ(kErrorFileInvalid, GetLastError());
    EXPECT_FALSE(copy("site/a/3.htm"));
    EXPECT_EQ(kEmpty, Names("other/a/*"));
    EXPECT_EQ(kEmpty, Names("other/b/*"));
    EXPECT_EQ(kEmpty, Names("held/b/*"));
}

TEST_F(FileOperationsTest, AttributesReadAsTheListingGivesThem)
{
    sandbox_.WriteFile("site/plain", "");
    sandbox_.WriteFile("site/locked", "");
    sandbox_.WriteFile("site/.hidden", "");
    sandbox_.MakeFolder("site/folder");
    Chmod("site/locked", 0444);
    Link("site/locked", "site/link");
    struct Case
    {
        const char* relative;
        uint32_t expected;
    };
    const Case kCases[] = {
        {"site/plain", 0},
        {"site/locked", kFileAttributeReadOnly},
        {"site/.hidden", kFileAttributeHidden},
        {"site/folder", kFileAttributeDirectory},
        {"site/link", kFileAttributeReadOnly | kFileAttributeReparsePoint},
        {"site/missing", kInvalidFileAttributes},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.expected, GetFileAttributes(P(c.relative))) << c.relative;
    }
}

TEST_F(FileOperationsTest, TheReadOnlyBitChangesFilesButNeverWhatALinkPointsTo)
{
    sandbox_.WriteFile("site/page", "");
    sandbox_.MakeFolder("site/folder");
    Chmod("site/page", 0664);
    Link("site/page", "site/link");
    ASSERT_TRUE(SetFileAttributes(P("site/page"), kFileAttributeReadOnly));
    EXPECT_EQ(0444u, Mode("site/page") & 0777);
    EXPECT_FALSE(SetFileAttributes(P("site/link"), 0));
    EXPECT_EQ(kErrorNotSupported, GetLastError());
    EXPECT_EQ(0444u, Mode("site/page") & 0777);
    ASSERT_TRUE(SetFileAttributes(P("site/page"), 0));
    EXPECT_EQ(0644u, Mode("site/page") & 0777);

    const mode_t folder_mode = Mode("site/folder");
    EXPECT_TRUE(SetFileAttributes(P("site/folder"), kFileAttributeReadOnly));
    EXPECT_EQ(folder_mode, Mode("site/folder"));
}

TEST_F(FileOperationsTest, LastWriteTimeIsSetOnWritableFilesOnly)
{
    sandbox_.WriteFile("site/page", "x");
    sandbox_.WriteFile("site/locked", "x", 1000);
    Chmod("site/locked", 0444);
    Link("site/page", "site/link");
    // 2001-09-09 01:46:40.5 UTC.
    const FileTime when =
        FileTime::FromValue(116444736000000000ULL + 10'000'000'005ULL * 1'000'000);
    ASSERT_TRUE(SetFileLastWriteTime(P("site/page"), when));
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("site/page").c_str(), &st));
    EXPECT_EQ(1'000'000'000, st.st_mtim.tv_sec);
    EXPECT_EQ(500'000'000, st.st_mtim.tv_nsec);

    EXPECT_FALSE(SetFileLastWriteTime(P("site/locked"), when));
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
    EXPECT_FALSE(SetFileLastWriteTime(P("site/link"), when));
    EXPECT_EQ(kErrorCantResolveFilename, GetLastError());
    ASSERT_EQ(0, stat(sandbox_.Path("site/locked").c_str(), &st));
    EXPECT_EQ(1000, st.st_mtime);
}

TEST_F(FileOperationsTest, PathsWithoutALocalMeaningAreRefused)
{
    const std::pair<std::string, uint32_t> kCases[] = {
        {"C:\\www", kErrorPathNotFound},
        {"c:", kErrorPathNotFound},
        {"\\\\server\\share\\page", kErrorBadNetpath},
        {sandbox_.SystemPath("site") + std::string("\0x", 2), kErrorInvalidParameter},
    };
    SetShareMountSources("", "");
    for (const auto& [path, expected] : kCases) {
        EXPECT_FALSE(DirectoryExists(path)) << path;
        EXPECT_EQ(expected, GetLastError()) << path;
    }
    SetShareMountSources(std::nullopt, std::nullopt);
}

class TempPathTest : public FilesTest
{
protected:
    TempPathTest()
        : runtime_("XDG_RUNTIME_DIR", sandbox_.Path("run"))
        , cache_("XDG_CACHE_HOME", sandbox_.Path("cache"))
    {
        sandbox_.MakeFolder("run");
    }

    testing::ScopedEnv runtime_;
    testing::ScopedEnv cache_;
};

TEST_F(TempPathTest, TempFolderIsMadePrivateUnderTheRuntimeFolder)
{
    std::string path;
    ASSERT_TRUE(GetTempPath(&path));
    EXPECT_EQ(sandbox_.SystemPath("run/vantrel") + "\\", path);
    struct stat st = {};
    ASSERT_EQ(0, lstat(sandbox_.Path("run/vantrel").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST_F(TempPathTest, AWidenedModeIsNarrowedAgain)
{
    sandbox_.MakeFolder("run/vantrel");
    ASSERT_EQ(0, chmod(sandbox_.Path("run/vantrel").c_str(), 0777));
    std::string path;
    ASSERT_TRUE(GetTempPath(&path));
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("run/vantrel").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST_F(TempPathTest, APlantedLinkIsRefusedAndTheCacheFolderUsed)
{
    sandbox_.MakeFolder("elsewhere");
    std::filesystem::create_directory_symlink(sandbox_.Path("elsewhere"),
                                              sandbox_.Path("run/vantrel"));
    EXPECT_FALSE(EnsurePrivateFolder(sandbox_.Path("run/vantrel")));
    EXPECT_EQ(kErrorAccessDenied, GetLastError());

    std::string path;
    ASSERT_TRUE(GetTempPath(&path));
    EXPECT_EQ(sandbox_.SystemPath("cache/vantrel") + "\\", path);
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("elsewhere").c_str(), &st));
    EXPECT_NE(0700u, st.st_mode & 0777) << "the link's target must be left alone";
}

TEST_F(TempPathTest, AFolderOfAnotherUserIsRefused)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a folder to another user";
    }
    sandbox_.MakeFolder("run/vantrel");
    ASSERT_EQ(0, chown(sandbox_.Path("run/vantrel").c_str(), 54321, 54321));
    EXPECT_FALSE(EnsurePrivateFolder(sandbox_.Path("run/vantrel")));
    EXPECT_EQ(kErrorAccessDenied, GetLastError());
    std::string path;
    ASSERT_TRUE(GetTempPath(&path));
    EXPECT_EQ(sandbox_.SystemPath("cache/vantrel") + "\\", path);
}

TEST_F(TempPathTest, WithoutARuntimeFolderTheSharedTmpGetsAPerUserFolder)
{
    testing::ScopedEnv no_runtime("XDG_RUNTIME_DIR", std::nullopt);
    std::string path;
    ASSERT_TRUE(GetTempPath(&path));
    EXPECT_EQ("\\tmp\\vantrel-" + std::to_string(geteuid()) + "\\", path);
}

TEST(TemporaryCopyTargetTest, OnlyACopysOwnTemporaryNameGivesItsTarget)
{
    const struct
    {
        const char* name;
        const char* target;
    } kCases[] = {
        {".vantrel-12-3-456.tmp-page.html", "page.html"},
        {".vantrel-12-3-456.tmp-.htaccess", ".htaccess"},
        {".vantrel-12-3-456.tmp", ""},
        {".vantrel-12-3-456.tmp-", ""},
        {".vantrel-12-3.tmp-page.html", ""},
        {".vantrel-1x-3-456.tmp-page.html", ""},
        {"vantrel-12-3-456.tmp-page.html", ""},
        {"page.html", ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.target, TemporaryCopyTarget(c.name)) << c.name;
    }
}

}  // namespace
}  // namespace vantrel::platform
