// Publishing a generated site tree to a local folder through the real disk devices.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sched.h>
#include <set>
#include <signal.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include "foundation/QelDateFunctions.h"
#include "publishing/PublicationInfo.h"
#include "storage/DiskStorage.h"
#include "sync/QelSyncBackupWorker.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// A disk device that lets a test act at a chosen call, before the device does: another program
// at work beside the run.
class InterferedDiskDevice : public DiskStorageDevice
{
public:
    using DiskStorageDevice::DiskStorageDevice;

    bool PutFile(const std::string& local_path,
                 const std::string& folder,
                 const std::string& name,
                 bool binary) override
    {
        Before("PutFile", folder);
        return DiskStorageDevice::PutFile(local_path, folder, name, binary);
    }

    std::unique_ptr<QelDirectoryList> ListDirectory(const std::string& folder,
                                                    const std::string& mask,
                                                    bool cache_allowed) override
    {
        Before("ListDirectory" + mask, folder);
        return DiskStorageDevice::ListDirectory(folder, mask, cache_allowed);
    }

    bool ChangeDirectory(const std::string& path) override
    {
        Before("ChangeDirectory", path);
        return DiskStorageDevice::ChangeDirectory(path);
    }

    // Called with the operation's name (a listing's followed by its mask) and folder.
    std::function<void(const std::string& operation, const std::string& folder)> Before =
        [](const std::string&, const std::string&) {};
};

// Runs `body` in a child process with a mount namespace of its own (root only), so that bind
// mounts made there vanish with it; gives the child's exit code, kNoMountNamespace when there
// could be none.
constexpr int kNoMountNamespace = 77;

int InPrivateMountNamespace(const std::function<int()>& body)
{
    const pid_t pid = geteuid() == 0 ? fork() : -1;
    if (pid == 0) {
        // Private, so that no mount made here reaches the namespace of the tests.
        const bool ok = unshare(CLONE_NEWNS) == 0 &&
                        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        _exit(ok ? body() : kNoMountNamespace);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return pid < 0 ? kNoMountNamespace : -1;
    }
    return WEXITSTATUS(status);
}

// The system calls on files and folders that `body` makes (those that manage memory or wait on a
// lock left out: a sanitizer's allocator makes its own), counted by tracing it in a child process
// whose exit code says whether body returned true; none where this system lets no process be
// traced.
std::optional<long> FileCallsOf(const std::function<bool()>& body, bool* passed)
{
    constexpr int kNoTracing = 77;
    const pid_t pid = fork();
    if (pid == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            _exit(kNoTracing);
        }
        raise(SIGSTOP);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
        return std::nullopt;
    }
    ptrace(PTRACE_SETOPTIONS, pid, nullptr,
           PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE);
    ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
    const std::set<uint64_t> kNotOnFiles = {SYS_mmap,    SYS_munmap, SYS_mprotect, SYS_brk,
                                            SYS_madvise, SYS_mremap, SYS_futex};
    long calls = 0;
    bool known = true;
    for (;;) {
        const pid_t who = waitpid(-1, &status, __WALL);
        if (who < 0) {
            return std::nullopt;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (who != pid) {
                continue;
            }
            *passed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            return known ? std::optional<long>(calls) : std::nullopt;
        }
        int signal = 0;
        if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info = {};
            if (ptrace(PTRACE_GET_SYSCALL_INFO, who, sizeof info, &info) <= 0) {
                known = false;
            } else if (info.op == PTRACE_SYSCALL_INFO_ENTRY &&
                       kNotOnFiles.count(info.entry.nr) == 0) {
                ++calls;
            }
        } else if (WSTOPSIG(status) != SIGTRAP && WSTOPSIG(status) != SIGSTOP) {
            signal = WSTOPSIG(status);
        }
        ptrace(PTRACE_SYSCALL, who, nullptr, signal);
    }
}

class PublishLocalTest : public ::testing::Test
{
protected:
    // A few hundred files in nested folders, with the names a site may hold on this platform.
    void GenerateSite()
    {
        std::mt19937 random(42);
        for (int a = 0; a < 4; ++a) {
            for (int b = 0; b < 5; ++b) {
                for (int f = 0; f < 15; ++f) {
                    std::string content(random() % 20000, '\0');
                    for (char& c : content) {
                        c = static_cast<char>(random());
                    }
                    sandbox_.WriteFile("src/area" + std::to_string(a) + "/part" +
                                           std::to_string(b) + "/page" + std::to_string(f) +
                                           ".html",
                                       content, kOld);
                }
            }
        }
        sandbox_.WriteFile("src/Index.html", "upper", kOld);
        sandbox_.WriteFile("src/index.html", "lower", kOld);
        sandbox_.WriteFile("src/.htaccess", "deny from all", kOld);
        sandbox_.WriteFile("src/caf\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "utf-8", kOld);
        sandbox_.WriteFile("src/empty.txt", "", kOld);
        sandbox_.WriteFile("src/locked.html", "read-only", kOld);
        ASSERT_EQ(0, chmod(sandbox_.Path("src/locked.html").c_str(), 0444));
        sandbox_.MakeFolder("src/empty-folder");
    }

    // Publishes src to dst as the main window would for a web site.
    void Publish(int delete_old_files = 0,
                 TDateTime turbo_folder_date = 0,
                 const std::string& src = "src",
                 const std::string& dst = "dst",
                 std::unique_ptr<QelStorageDevice> destination = nullptr,
                 std::unique_ptr<QelStorageDevice> source = nullptr)
    {
        output_.lines.clear();
        QelPublication site;
        site.DeleteOldFiles = static_cast<uint8_t>(delete_old_files);
        site.Status = StatusPublished;
        site.LastPublished = turbo_folder_date;
        FillSyncFlags(site, turbo_folder_date != 0, &flags_);
        flags_.ContinueAfterErrors = continue_after_errors_;
        if (!ignore_files_.empty()) {
            flags_.IgnoreFiles = ignore_files_;
        }
        if (source == nullptr) {
            source = std::make_unique<DiskStorageDevice>(&output_);
        }
        if (destination == nullptr) {
            destination = std::make_unique<DiskStorageDevice>(&output_);
        }
        worker_.Synchronise(sandbox_.SystemPath(src), source, sandbox_.SystemPath(dst), destination,
                            flags_);
        EXPECT_EQ(nullptr, source);
        EXPECT_EQ(nullptr, destination);
    }

    // Every entry below a folder, links not followed: relative path -> content, or "<folder>"
    // and "<link>".
    std::map<std::string, std::string> TreeOf(const std::string& relative)
    {
        std::map<std::string, std::string> tree;
        const fs::path root = sandbox_.Path(relative);
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            const std::string name = fs::relative(it->path(), root).string();
            if (it->is_symlink()) {
                tree[name] = "<link>";
            } else if (it->is_directory()) {
                tree[name] = "<folder>";
            } else {
                tree[name] = sandbox_.ReadFile(relative + "/" + name);
            }
        }
        return tree;
    }

    bool Said(const std::string& line) const
    {
        for (const auto& l : output_.lines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    int CountStarting(const std::string& prefix) const
    {
        int n = 0;
        for (const auto& l : output_.lines) {
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }

    static constexpr std::time_t kOld = 1'500'000'000;

    testing::TestSandbox sandbox_;
    testing::CollectingOutput output_;
    QelSyncFlags flags_;
    bool continue_after_errors_ = false;
    // In place of the web site's own, when not empty.
    std::vector<std::string> ignore_files_;
    QelSyncBackupWorker worker_{&output_};
};

TEST_F(PublishLocalTest, AnInitialPublishCopiesTheTreeExactlyAndASecondCopiesNothing)
{
    GenerateSite();
    Publish();
    ASSERT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ(TreeOf("src"), TreeOf("dst"));
    EXPECT_EQ(306, worker_.Status().FilesCopied);
    struct stat st = {};
    ASSERT_EQ(0, stat(sandbox_.Path("dst/locked.html").c_str(), &st));
    EXPECT_EQ(0u, st.st_mode & S_IWUSR) << "the copy keeps the read-only bit";
    ASSERT_EQ(0, stat(sandbox_.Path("dst/area1/part2/page3.html").c_str(), &st));
    EXPECT_EQ(kOld, st.st_mtime) << "the copy keeps the last-write time";

    Publish();
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(0, worker_.Status().FilesCopied);
    EXPECT_EQ(306, worker_.Status().FilesProcessed);
}

TEST_F(PublishLocalTest, AnInitialCopyMakesFewSystemCallsAFile)
{
    // On a network share each call is a round trip: a copy works from the folder it is in, not
    // from the root down again for every file. A tree of two levels, 20 files a folder.
    constexpr int kFiles = 4 * 5 * 20;
    for (int i = 0; i < kFiles; ++i) {
        sandbox_.WriteFile("src/area" + std::to_string(i / 100) + "/part" +
                               std::to_string(i / 20 % 5) + "/page" + std::to_string(i % 20) +
                               ".html",
                           std::string(100 + i, 'x'), kOld);
    }
    bool copied = false;
    const std::optional<long> calls = FileCallsOf(
        [&] {
            Publish();
            return !flags_.Failed && worker_.Status().FilesCopied == kFiles;
        },
        &copied);
    if (!calls) {
        GTEST_SKIP() << "this system lets no process be traced";
    }
    EXPECT_TRUE(copied);
    EXPECT_EQ(TreeOf("src"), TreeOf("dst"));
    EXPECT_LE(*calls, 14 * kFiles);
}

TEST_F(PublishLocalTest, ChangesArePublishedAndObsoleteFilesFollowTheDeletionChoice)
{
    GenerateSite();
    Publish();
    ASSERT_FALSE(flags_.Failed);

    sandbox_.WriteFile("src/area0/part0/page0.html", "changed", kOld + 100);
    sandbox_.WriteFile("src/area0/new.html", "new", kOld);
    ASSERT_EQ(0, chmod(sandbox_.Path("src/locked.html").c_str(), 0644));
    sandbox_.WriteFile("src/locked.html", "changed too", kOld + 100);
    ASSERT_EQ(0, chmod(sandbox_.Path("src/locked.html").c_str(), 0444));
    fs::remove(sandbox_.Path("src/area1/part1/page1.html"));
    fs::remove_all(sandbox_.Path("src/area2"));
    // A copy cut short by a killed run; a file of the same form that stands for no source file;
    // a source name that no folder path can hold.
    sandbox_.WriteFile("dst/area0/part0/.vantrel-4242-0-77.tmp-page0.html", "half");
    sandbox_.WriteFile("dst/.vantrel-4242-1-78.tmp-gone.html", "not ours");
    sandbox_.WriteFile("src/back\\slash.html", "x", kOld);

    Publish(0);
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(3, worker_.Status().FilesCopied);
    EXPECT_EQ("changed", sandbox_.ReadFile("dst/area0/part0/page0.html"));
    EXPECT_EQ("changed too", sandbox_.ReadFile("dst/locked.html"));
    EXPECT_TRUE(fs::exists(sandbox_.Path("dst/area1/part1/page1.html")));
    EXPECT_FALSE(fs::exists(sandbox_.Path("dst/area0/part0/.vantrel-4242-0-77.tmp-page0.html")));
    EXPECT_TRUE(fs::exists(sandbox_.Path("dst/.vantrel-4242-1-78.tmp-gone.html")));
    EXPECT_TRUE(Said("The name of " + sandbox_.Path("src") +
                     "/back/slash.html cannot be used at the destination; it is not published."))
        << ::testing::PrintToString(output_.lines);
    fs::remove(sandbox_.Path("dst/.vantrel-4242-1-78.tmp-gone.html"));
    fs::remove(sandbox_.Path("src/back\\slash.html"));

    Publish(2);
    EXPECT_TRUE(Said("Obsolete file /area1/part1/page1.html"));
    EXPECT_TRUE(Said("Obsolete folder /area2"));
    EXPECT_TRUE(fs::exists(sandbox_.Path("dst/area2")));

    Publish(1);
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(TreeOf("src"), TreeOf("dst"));
    EXPECT_EQ(76, worker_.Status().FilesDeleted);
    EXPECT_EQ(6, worker_.Status().FoldersDeleted);
}

TEST_F(PublishLocalTest, TheDeletionCountTakesOnlyTheFilesThisRunDeleted)
{
    ignore_files_ = {"*.gif"};
    sandbox_.WriteFile("src/index.html", "home", kOld);
    for (const char* name :
         {"oldfolder/a.html", "oldfolder/b.gif", "oldfolder/c.txt", "stray.gif", "stray.html"}) {
        sandbox_.WriteFile(std::string("dst/") + name, "old", kOld);
    }
    for (const int deleted : {3, 0}) {
        Publish(1);
        EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
        EXPECT_EQ(deleted, worker_.Status().FilesDeleted);
        EXPECT_EQ((std::map<std::string, std::string>{{"index.html", "home"},
                                                      {"oldfolder", "<folder>"},
                                                      {"oldfolder/b.gif", "old"},
                                                      {"stray.gif", "old"}}),
                  TreeOf("dst"));
    }
}

TEST_F(PublishLocalTest, PipesAndDevicesInTheSourceAreSkippedWithAWarningNeverRead)
{
    sandbox_.WriteFile("src/index.html", "home", kOld);
    ASSERT_EQ(0, mkfifo(sandbox_.Path("src/x.html").c_str(), 0644));
    fs::create_symlink("/dev/zero", sandbox_.Path("src/zero.bin"));
    sandbox_.WriteFile("dst/x.html", "published before", kOld);
    Publish(1);
    EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ(1, worker_.Status().FilesCopied);
    EXPECT_EQ(1, worker_.Status().SourceFiles);
    for (const char* name : {"x.html", "zero.bin"}) {
        EXPECT_TRUE(Said("File " + sandbox_.Path("src") + "/" + name +
                         " is not a regular file (it is a pipe, socket or device); it is not "
                         "published."))
            << ::testing::PrintToString(output_.lines);
    }
    EXPECT_EQ((std::map<std::string, std::string>{{"index.html", "home"},
                                                  {"x.html", "published before"}}),
              TreeOf("dst"));
}

TEST_F(PublishLocalTest, TurboListsOnlyFoldersChangedSinceTheLastPublish)
{
    GenerateSite();
    Publish();
    ASSERT_FALSE(flags_.Failed);
    // Every source folder as of before the last publish...
    sandbox_.SetFolderTimes("src", kOld);
    // ...but one file changed since.
    sandbox_.WriteFile("src/area3/part4/page9.html", "turbo", kOld + 1000);
    const TDateTime last_publish = FileTimeToLocalDateTime(
        platform::FileTime::FromValue((kOld + 500 + 11'644'473'600ULL) * 10'000'000ULL));

    Publish(1, last_publish);
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(1, worker_.Status().FilesCopied);
    EXPECT_EQ(0, CountStarting("Scanning target folder:"));
    EXPECT_EQ("turbo", sandbox_.ReadFile("dst/area3/part4/page9.html"));
    EXPECT_EQ(0, worker_.Status().FilesDeleted);
}

TEST_F(PublishLocalTest, ASourceLinkBackIntoItsOwnPathIsNotFollowed)
{
    sandbox_.WriteFile("src/sub/page.html", "x", kOld);
    fs::create_directory_symlink("..", sandbox_.Path("src/sub/loop"));
    sandbox_.WriteFile("outside/shared.html", "shared", kOld);
    fs::create_directory_symlink(sandbox_.Path("outside"), sandbox_.Path("src/linked"));
    Publish(1);
    EXPECT_TRUE(Said("Folder " + sandbox_.Path("src") +
                     "/sub/loop links back to a folder that holds it; it is not published."));
    EXPECT_EQ("x", sandbox_.ReadFile("dst/sub/page.html"));
    EXPECT_FALSE(fs::exists(sandbox_.Path("dst/sub/loop")));
    // A link to a folder outside the site is published as the folder it points to.
    EXPECT_EQ("shared", sandbox_.ReadFile("dst/linked/shared.html"));
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(PublishLocalTest, OverlappingRootsFailTheRunAndTouchNothing)
{
    sandbox_.WriteFile("outer/src/page.html", "x", kOld);
    sandbox_.WriteFile("outer/src/excluded.tmp", "kept only here", kOld);
    sandbox_.WriteFile("outer/other.html", "y", kOld);
    sandbox_.MakeFolder("outer/src/out");
    fs::create_directory_symlink(sandbox_.Path("outer"), sandbox_.Path("alias"));
    struct Case
    {
        const char* src;
        const char* dst;
        const char* error;  // with S and D for the two roots
    };
    const Case kCases[] = {
        {"outer/src", "outer", "Source directory S lies inside destination directory D"},
        {"outer/src", "outer/src/out", "Destination directory D lies inside source directory S"},
        {"outer/src", "outer/src/new", "Destination directory D lies inside source directory S"},
        {"outer/src", "outer/src",
         "Source directory S and destination directory D are the same "
         "folder"},
        {"outer/src", "alias/src/../src",
         "Source directory S and destination directory D are "
         "the same folder"},
        {"alias", "outer/src", "Destination directory D lies inside source directory S"},
    };
    const auto before = TreeOf(".");
    for (const auto& c : kCases) {
        Publish(1, 0, c.src, c.dst);
        EXPECT_TRUE(flags_.Failed) << c.dst;
        std::string error = c.error;
        error.replace(error.find(" S"), 2, " " + sandbox_.Path(c.src));
        error.replace(error.find(" D"), 2, " " + sandbox_.Path(c.dst));
        EXPECT_TRUE(Said(error)) << ::testing::PrintToString(output_.lines);
        EXPECT_EQ(0, CountStarting("Scanning")) << c.dst;
        EXPECT_EQ(before, TreeOf(".")) << c.src << " -> " << c.dst;
    }
    // Beside each other is no overlap.
    Publish(1, 0, "outer/src", "beside");
    EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ("x", sandbox_.ReadFile("beside/page.html"));
}

TEST_F(PublishLocalTest, SourceLinksToTheRootOrAboveItAreSkippedWithAWarning)
{
    sandbox_.WriteFile("site/src/page.html", "x", kOld);
    sandbox_.WriteFile("site/secret.key", "never published", kOld);
    sandbox_.WriteFile("beside/shared.html", "shared", kOld);
    const char* const kLinks[][2] = {
        {"self", "."}, {"up", "../.."}, {"parent", ".."}, {"top", "/"}, {"beside", "../../beside"}};
    for (const auto& [name, target] : kLinks) {
        fs::create_directory_symlink(target, sandbox_.Path(std::string("site/src/") + name));
    }
    Publish(0, 0, "site/src", "dst");
    EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    for (const char* skipped : {"self", "up", "parent", "top"}) {
        EXPECT_EQ(1, CountStarting("Folder " + sandbox_.Path("site/src") + "/" + skipped +
                                   " links back to a folder that holds it"))
            << skipped;
    }
    EXPECT_EQ((std::map<std::string, std::string>{
                  {"beside", "<folder>"}, {"beside/shared.html", "shared"}, {"page.html", "x"}}),
              TreeOf("dst"));
}

TEST_F(PublishLocalTest, DeletingAnObsoleteFolderRemovesLinksNotWhatTheyPointTo)
{
    sandbox_.WriteFile("src/keep.html", "x", kOld);
    sandbox_.WriteFile("precious/data.html", "precious", kOld);
    sandbox_.WriteFile("dst/gone/file.html", "x", kOld);
    fs::create_directory_symlink(sandbox_.Path("precious"), sandbox_.Path("dst/gone/inner"));
    fs::create_directory_symlink(sandbox_.Path("precious"), sandbox_.Path("dst/alias"));
    Publish(1);
    EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ("precious", sandbox_.ReadFile("precious/data.html"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sandbox_.Path("dst/alias"))));
    EXPECT_FALSE(fs::exists(sandbox_.Path("dst/gone")));
    EXPECT_EQ((std::map<std::string, std::string>{{"keep.html", "x"}}), TreeOf("dst"));
}

TEST_F(PublishLocalTest, AnObsoleteFolderSwappedForALinkAfterItWasListedLosesOnlyTheLink)
{
    sandbox_.WriteFile("src/keep.html", "x", kOld);
    sandbox_.WriteFile("dst/old/page.html", "obsolete", kOld);
    sandbox_.WriteFile("outside/page.html", "precious", kOld);
    // Listed as a folder by the main pass, "old" is a link to "outside" when its deletion lists it.
    auto destination = std::make_unique<InterferedDiskDevice>(&output_);
    destination->Before = [&, swapped = false](const std::string& operation,
                                               const std::string& folder) mutable {
        if (!swapped && operation == "ListDirectory" && folder == sandbox_.SystemPath("dst/old")) {
            swapped = true;
            fs::remove_all(sandbox_.Path("dst/old"));
            fs::create_directory_symlink(sandbox_.Path("outside"), sandbox_.Path("dst/old"));
        }
    };
    Publish(1, 0, "src", "dst", std::move(destination));
    EXPECT_FALSE(flags_.Failed) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ("precious", sandbox_.ReadFile("outside/page.html"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(sandbox_.Path("dst/old"))));
    EXPECT_EQ((std::map<std::string, std::string>{{"keep.html", "x"}}), TreeOf("dst"));
}

TEST_F(PublishLocalTest, ADestinationRootSwappedForALinkDuringTheRunEndsItAndNothingLeavesIt)
{
    // While the run copies, another user of the folder above the destination puts a link in its
    // place, to the folder of the master copy, whose name the published copy holds as obsolete.
    for (const char* name : {"a.html", "b.html", "c.html"}) {
        sandbox_.WriteFile(std::string("src/") + name, name, kOld);
    }
    sandbox_.WriteFile("dst/src/old.html", "obsolete", kOld);
    const auto master = TreeOf("src");
    auto destination = std::make_unique<InterferedDiskDevice>(&output_);
    destination->Before = [&](const std::string& operation, const std::string&) {
        if (operation == "PutFile" && !fs::exists(sandbox_.Path("dst.moved"))) {
            fs::rename(sandbox_.Path("dst"), sandbox_.Path("dst.moved"));
            fs::create_directory_symlink(sandbox_.Path(), sandbox_.Path("dst"));
        }
    };
    continue_after_errors_ = true;
    Publish(1, 0, "src", "dst", std::move(destination));

    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ(1, CountStarting("Destination directory " + sandbox_.Path("dst") +
                               " is no longer the folder this run started with"))
        << ::testing::PrintToString(output_.lines);
    // Nothing was written or deleted after the swap, on either side of it.
    EXPECT_EQ(master, TreeOf("src"));
    EXPECT_EQ(
        (std::map<std::string, std::string>{{"src", "<folder>"}, {"src/old.html", "obsolete"}}),
        TreeOf("dst.moved"));
    for (const char* name : {"a.html", "b.html", "c.html"}) {
        EXPECT_FALSE(fs::exists(sandbox_.Path(name))) << name;
    }
}

TEST_F(PublishLocalTest, ADestinationRootSwappedBeforeTheRunChecksItTakesNothing)
{
    // At the first step of the run on either side, another user of the folder above puts a
    // link in place of the destination, to a folder outside the site.
    sandbox_.WriteFile("src/page.html", "x", kOld);
    sandbox_.WriteFile("dst/old.html", "obsolete", kOld);
    sandbox_.WriteFile("outside/precious.html", "precious", kOld);
    for (const bool at_source : {true, false}) {
        SCOPED_TRACE(at_source ? "source" : "destination");
        auto source = std::make_unique<InterferedDiskDevice>(&output_);
        auto destination = std::make_unique<InterferedDiskDevice>(&output_);
        (at_source ? source : destination)->Before = [&](const std::string& operation,
                                                         const std::string&) {
            if (operation == "ChangeDirectory" && !fs::is_symlink(sandbox_.Path("dst"))) {
                fs::rename(sandbox_.Path("dst"), sandbox_.Path("dst.moved"));
                fs::create_directory_symlink(sandbox_.Path("outside"), sandbox_.Path("dst"));
            }
        };
        Publish(1, 0, "src", "dst", std::move(destination), std::move(source));
        EXPECT_TRUE(flags_.Failed);
        EXPECT_EQ(1, CountStarting("Destination directory " + sandbox_.Path("dst") +
                                   " is no longer the folder this run started with"))
            << ::testing::PrintToString(output_.lines);
        EXPECT_EQ((std::map<std::string, std::string>{{"precious.html", "precious"}}),
                  TreeOf("outside"));
        EXPECT_EQ((std::map<std::string, std::string>{{"old.html", "obsolete"}}),
                  TreeOf("dst.moved"));
        fs::remove(sandbox_.Path("dst"));
        fs::rename(sandbox_.Path("dst.moved"), sandbox_.Path("dst"));
    }
}

TEST_F(PublishLocalTest, ABindMountOfOneRootInsideTheOtherFailsTheRunWhenMet)
{
    // The check before the run walks up from each root, and above a bind mount's root lies the
    // folder of its mount point, not the folder it shows: the walk itself must see the overlap.
    sandbox_.WriteFile("outer/src/page.html", "master", kOld);
    sandbox_.WriteFile("outer/other.html", "obsolete", kOld);
    sandbox_.MakeFolder("outer/src/out");
    sandbox_.MakeFolder("bind");
    struct Case
    {
        const char* bound;  // shown at "bind"
        const char* src;
        const char* dst;
        const char* error;  // with S and D for the two roots
    };
    const Case kCases[] = {
        {"outer/src", "bind", "outer", "Source directory S lies inside destination directory D"},
        {"outer/src/out", "outer/src", "bind",
         "Destination directory D lies inside source directory S"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.bound);
        const auto before = TreeOf("outer");
        std::string error = c.error;
        error.replace(error.find(" S"), 2, " " + sandbox_.Path(c.src));
        error.replace(error.find(" D"), 2, " " + sandbox_.Path(c.dst));
        const int code = InPrivateMountNamespace([&] {
            if (mount(sandbox_.Path(c.bound).c_str(), sandbox_.Path("bind").c_str(), nullptr,
                      MS_BIND, nullptr) != 0) {
                return kNoMountNamespace;
            }
            Publish(1, 0, c.src, c.dst);
            return (flags_.Failed ? 0 : 1) | (Said(error) ? 0 : 2);
        });
        if (code == kNoMountNamespace) {
            GTEST_SKIP() << "a bind mount needs root and a mount namespace of our own";
        }
        EXPECT_EQ(0, code) << "1: the run did not fail, 2: no overlap error";
        // Met before anything was copied or deleted.
        EXPECT_EQ(before, TreeOf("outer"));
    }
}

TEST_F(PublishLocalTest, AFolderThatIsInBothTreesFailsTheRunBeforeAnythingInItChanges)
{
    // A folder of one tree shown inside the other, by a bind mount (root only) or by a source
    // link, wherever it lies and in whichever order the walk would meet it.
    sandbox_.WriteFile("src/docs/manual.html", "master", kOld);
    sandbox_.WriteFile("src/a/mirror/page.html", "master", kOld);
    sandbox_.WriteFile("src/index.html", "master", kOld);
    sandbox_.WriteFile("dst/docs/manual.html", "published", kOld);
    sandbox_.WriteFile("dst/old/page.html", "obsolete", kOld);
    sandbox_.MakeFolder("dst/mirror");
    sandbox_.MakeFolder("dst/a/mirror");
    sandbox_.MakeFolder("src/pub");
    struct Case
    {
        const char* bound;  // shown at `at` by a bind mount, or by a link when `link`
        const char* at;
        bool link;
        const char* shared_source;  // the shared folder as each tree names it
        const char* shared_destination;
    } kCases[] = {
        {"dst/old", "src/pub", true, "/pub", "/old"},               // listed through a link
        {"src/docs", "dst/mirror", false, "/docs", "/mirror"},      // obsolete: deleted
        {"src/docs", "dst/a/mirror", false, "/docs", "/a/mirror"},  // written into
        {"dst/docs", "src/pub", false, "/pub", "/docs"},            // listed as source
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.bound) + " at " + c.at);
        const auto master = TreeOf("src");
        const auto shared = TreeOf(c.bound);
        const std::string error = "Source directory " + sandbox_.Path("src") + c.shared_source +
                                  " and destination directory " + sandbox_.Path("dst") +
                                  c.shared_destination + " are the same folder";
        const auto run = [&] {
            Publish(1);
            return (flags_.Failed ? 0 : 1) | (Said(error) ? 0 : 2);
        };
        int code;
        if (c.link) {
            fs::remove(sandbox_.Path(c.at));
            fs::create_directory_symlink(sandbox_.Path(c.bound), sandbox_.Path(c.at));
            code = run();
            fs::remove(sandbox_.Path(c.at));
            sandbox_.MakeFolder(c.at);
        } else {
            code = InPrivateMountNamespace([&] {
                return mount(sandbox_.Path(c.bound).c_str(), sandbox_.Path(c.at).c_str(), nullptr,
                             MS_BIND, nullptr) == 0
                           ? run()
                           : kNoMountNamespace;
            });
            if (code == kNoMountNamespace) {
                GTEST_SKIP() << "a bind mount needs root and a mount namespace of our own";
            }
        }
        EXPECT_EQ(0, code) << "1: the run did not fail, 2: no overlap error";
        EXPECT_EQ(master, TreeOf("src"));
        EXPECT_EQ(shared, TreeOf(c.bound));
    }
}

TEST_F(PublishLocalTest, ASourceFolderSwappedForALinkUpwardsBeforeItsListingIsNotPublished)
{
    sandbox_.WriteFile("site/src/sub/page.html", "x", kOld);
    sandbox_.WriteFile("site/secret.key", "never published", kOld);
    auto source = std::make_unique<InterferedDiskDevice>(&output_);
    // Right after the root's listing saw "sub" as a folder of its own.
    source->Before = [&](const std::string& operation, const std::string& folder) {
        if (operation == "ListDirectory" && folder == sandbox_.SystemPath("site/src/sub")) {
            fs::rename(sandbox_.Path("site/src/sub"), sandbox_.Path("site/sub.real"));
            fs::create_directory_symlink("..", sandbox_.Path("site/src/sub"));
        }
    };
    Publish(0, 0, "site/src", "dst", nullptr, std::move(source));
    EXPECT_EQ(1, CountStarting("Folder " + sandbox_.Path("site/src") +
                               "/sub links back to a folder that holds it; it is not published."))
        << ::testing::PrintToString(output_.lines);
    EXPECT_EQ((std::map<std::string, std::string>{{"sub", "<folder>"}}), TreeOf("dst"));
}

TEST_F(PublishLocalTest, ASourceRootSwappedForALinkUpwardsDuringTheWalkPublishesNothingAroundIt)
{
    sandbox_.WriteFile("site/src/sub/page.html", "x", kOld);
    sandbox_.WriteFile("site/sub/secret.key", "never published", kOld);
    sandbox_.WriteFile("dst/sub/page.html", "x", kOld);
    auto source = std::make_unique<InterferedDiskDevice>(&output_);
    // After the root's listing, before that of "sub": the root's path now leads to its parent.
    source->Before = [&](const std::string& operation, const std::string& folder) {
        if (operation == "ListDirectory" && folder == sandbox_.SystemPath("site/src/sub")) {
            fs::rename(sandbox_.Path("site/src"), sandbox_.Path("site/src.real"));
            fs::create_directory_symlink(".", sandbox_.Path("site/src"));
        }
    };
    Publish(1, 0, "site/src", "dst", nullptr, std::move(source));
    EXPECT_EQ(1, CountStarting("Folder " + sandbox_.Path("site/src") +
                               "/sub links back to a folder that holds it; it is not published."))
        << ::testing::PrintToString(output_.lines);
    EXPECT_EQ((std::map<std::string, std::string>{{"sub", "<folder>"}, {"sub/page.html", "x"}}),
              TreeOf("dst"));
}

}  // namespace
}  // namespace vantrel
