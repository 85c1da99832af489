#include "sync/QelSyncBackupWorker.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/MemoryStorageDevice.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using testing::EventLog;
using testing::MemoryStorageDevice;

class QelSyncBackupWorkerTest : public ::testing::Test
{
protected:
    QelSyncBackupWorkerTest()
    {
        source_holder_ = std::make_unique<MemoryStorageDevice>("src", &log_);
        destination_holder_ = std::make_unique<MemoryStorageDevice>("dst", &log_);
        src_ = static_cast<MemoryStorageDevice*>(source_holder_.get());
        dst_ = static_cast<MemoryStorageDevice*>(destination_holder_.get());
        src_->AddFolder("\\src", 100);
        dst_->AddFolder("\\dst", 100);
        flags_.CreateDestinationRoot = true;
        flags_.ClearReadOnly = true;
        flags_.DatesOnly = false;
    }

    // The destination as an FTP server: no dot entries, text transfers, permissions, its own
    // clock for uploads.
    void DestinationIsAServer()
    {
        dst_->device_type = kDeviceFtp;
        dst_->lists_dot_entries = false;
        dst_->transfer_modes = true;
        dst_->permissions = true;
        dst_->upload_date = 500;
    }

    // A published page on both sides, so that the source root is not empty: a run with an
    // empty source deletes nothing.
    void SourceHoldsAPage()
    {
        src_->AddFile("\\src\\index.htm", "x", 10);
        dst_->AddFile("\\dst\\index.htm", "x", 10);
    }

    void Run(const std::string& source_root = "\\src",
             const std::string& destination_root = "\\dst")
    {
        log_.clear();
        worker_.Synchronise(source_root, source_holder_, destination_root, destination_holder_,
                            flags_);
    }

    // Log lines that start with the prefix, in order.
    std::vector<std::string> Lines(const std::string& prefix) const
    {
        std::vector<std::string> lines;
        for (const auto& line : log_) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    bool Logged(const std::string& line) const
    {
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }

    // Position of a line in the log, or -1.
    int IndexOf(const std::string& line) const
    {
        const auto it = std::find(log_.begin(), log_.end(), line);
        return it == log_.end() ? -1 : static_cast<int>(it - log_.begin());
    }

    int Count(const std::string& prefix) const { return static_cast<int>(Lines(prefix).size()); }

    EventLog log_;
    testing::EventLogOutput sink_{&log_};
    std::unique_ptr<QelStorageDevice> source_holder_;
    std::unique_ptr<QelStorageDevice> destination_holder_;
    MemoryStorageDevice* src_;
    MemoryStorageDevice* dst_;
    QelSyncFlags flags_;
    QelSyncBackupWorker worker_{&sink_};
};

TEST_F(QelSyncBackupWorkerTest, ASmallTreeIsPublishedInThisExactOrder)
{
    src_->AddFile("\\src\\a.htm", "aaa", 10);
    src_->AddFolder("\\src\\sub", 20);
    src_->AddFile("\\src\\sub\\b.htm", "bb", 30);
    dst_->AddFile("\\dst\\a.htm", "aaa", 10);
    Run();
    const std::vector<std::string> expected = {
        "src.ChangeDirectory(\\src)",
        // Where the root lies: a source link to it or above it is never followed.
        "src.ListDirectory(\\src, ., fresh)",
        "dst.ChangeDirectory(\\dst)",
        "msg 3 Scanning folder: .",
        "msg 1 Scanning source folder: /src",
        "src.ListDirectory(\\src, , fresh)",
        "msg 2 Scanning target folder: /dst",
        "dst.ListDirectory(\\dst, , fresh)",
        "msg 5 File a.htm does not need copying.",
        "dst.CreateDirectory(\\dst\\sub)",
        "msg 3 Scanning folder: /sub",
        "msg 1 Scanning source folder: /src/sub",
        "src.ListDirectory(\\src\\sub, , fresh)",
        "msg 2 Scanning target folder: /dst/sub",
        "dst.ListDirectory(\\dst\\sub, , fresh)",
        "msg 14 Copying file b.htm",
        "src.GetFile(\\src\\sub, b.htm)",
        "dst.PutFile(mem:src:\\src\\sub\\b.htm, \\dst\\sub, b.htm, binary)",
        "finished",
    };
    EXPECT_EQ(expected, log_);
    const QelSyncStatus& st = worker_.Status();
    EXPECT_EQ(2, st.SourceFiles);
    EXPECT_EQ(1, st.SourceFolders);
    EXPECT_EQ(2, st.FoldersTotal);
    EXPECT_EQ(2, st.FilesTotal);
    EXPECT_EQ(1, st.FilesCopied);
    EXPECT_EQ(2, st.FilesProcessed);
    EXPECT_EQ(1, st.FoldersCreated);
    EXPECT_EQ(2, st.FoldersProcessed);
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ("bb", dst_->Node("\\dst\\sub\\b.htm")->content);

    Run();
    EXPECT_EQ(0, Count("dst.PutFile"));
    EXPECT_EQ(0, worker_.Status().FilesCopied);
}

// What a web site records of its source is what the run publishes: the status check counts by
// the same rule, so an unchanged site stays published.
TEST_F(QelSyncBackupWorkerTest, TheSourceCountsLeaveOutWhatTheRunDoesNotPublish)
{
    src_->AddFile("\\src\\a.htm", "a", 10);
    src_->AddFile("\\src\\thumbs.db", "t", 10);
    src_->AddFolder("\\src\\priv", 10);
    src_->AddFile("\\src\\priv\\x.htm", "x", 10);
    src_->AddFolder("\\src\\pub", 10);
    src_->AddFile("\\src\\pub\\b.htm", "b", 10);
    flags_.IgnoreFiles = {"*\\thumbs.db"};
    flags_.ExcludeFolders = {"*\\priv"};
    Run();
    const QelSyncStatus& st = worker_.Status();
    EXPECT_EQ(2, st.SourceFiles);
    EXPECT_EQ(1, st.SourceFolders);
    EXPECT_EQ(3, st.FilesTotal);
    EXPECT_EQ(3, st.FoldersTotal);
}

TEST_F(QelSyncBackupWorkerTest, RootsAreNormalisedButQuotedAsGiven)
{
    src_->AddFile("\\src\\a.htm", "a", 10);
    Run("/src/", "/dst/");
    EXPECT_TRUE(Logged("src.ChangeDirectory(\\src)"));
    EXPECT_TRUE(Logged("dst.PutFile(mem:src:\\src\\a.htm, \\dst, a.htm, binary)"));

    Run("/nowhere/", "/dst/");
    EXPECT_TRUE(Logged("msg 27 Source directory /nowhere/ does not exist"));
    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ("finished", log_.back());
}

TEST_F(QelSyncBackupWorkerTest, AMissingDestinationRootIsCreatedOnlyWhenAllowed)
{
    src_->AddFile("\\src\\a.htm", "a", 10);
    flags_.CreateDestinationRoot = false;
    Run("\\src", "\\dst\\www");
    EXPECT_TRUE(Logged("msg 27 Destination directory /dst/www does not exist"));
    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ(0, Count("dst.CreateDirectory"));

    flags_.CreateDestinationRoot = true;
    Run("\\src", "\\dst\\www\\");
    EXPECT_TRUE(Logged("msg 17 Creating folder /dst/www/"));
    EXPECT_TRUE(Logged("dst.CreateDirectory(\\dst\\www)"));
    EXPECT_FALSE(flags_.Failed);
    EXPECT_TRUE(dst_->Exists("\\dst\\www\\a.htm"));

    Run("\\src", "\\dst\\no\\www");
    EXPECT_TRUE(Logged("msg 27 Failed to create destination directory /dst/no/www"));
    EXPECT_TRUE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, FilesAreCopiedWhenMissingNewerOrOfAnotherSize)
{
    DestinationIsAServer();
    flags_.TextFiles = {"*.txt"};
    struct Case
    {
        const char* name;
        const char* source;
        TDateTime source_date;
        const char* destination;  // null: missing at the destination
        TDateTime destination_date;
        bool unknown_size;
        bool copied;
    };
    const Case kCases[] = {
        {"missing.bin", "x", 10, nullptr, 0, false, true},
        {"newer.bin", "x", 20, "x", 10, false, true},
        {"older.bin", "x", 10, "x", 20, false, false},
        {"resized.bin", "xx", 10, "x", 10, false, true},
        {"same.bin", "xx", 10, "yy", 10, false, false},
        {"unknown.bin", "xx", 10, "x", 10, true, false},
        // Text uploads change line ends; with line ends that cannot be read (a file of the
        // memory device) only a larger server copy counts.
        {"smaller.txt", "a\nb\n", 10, "a\nb", 10, false, false},
        {"larger.txt", "a\n", 10, "a\r\nbbbb", 10, false, true},
        {"larger-unknown.txt", "a\n", 10, "a\r\nbbbb", 10, true, false},
    };
    for (const auto& c : kCases) {
        src_->AddFile(std::string("\\src\\") + c.name, c.source, c.source_date);
        if (c.destination != nullptr) {
            dst_->AddFile(std::string("\\dst\\") + c.name, c.destination, c.destination_date);
            dst_->Node(std::string("\\dst\\") + c.name)->size_unknown = c.unknown_size;
        }
    }
    Run();
    for (const auto& c : kCases) {
        EXPECT_EQ(c.copied, Logged(std::string("msg 14 Copying file ") + c.name)) << c.name;
    }
    EXPECT_TRUE(Logged("dst.PutFile(mem:src:\\src\\larger.txt, \\dst, larger.txt, text)"));

    flags_.DatesOnly = true;
    src_->AddFile("\\src\\resized.bin", "xxxxx", 10);
    dst_->AddFile("\\dst\\resized.bin", "x", 10);
    Run();
    EXPECT_FALSE(Logged("msg 14 Copying file resized.bin"));
}

TEST_F(QelSyncBackupWorkerTest, ASourceTimeInsideTheListedMinuteIsNewerOnlyByTheExactTime)
{
    DestinationIsAServer();
    flags_.TextFiles = {"*.txt"};
    // The server lists its copies at the start of a minute; it wrote them 30 s into it.
    constexpr TDateTime kSecond = 1.0 / 86400;
    const TDateTime minute = 45000 + 600.0 / 1440;
    const TDateTime written = minute + 30 * kSecond;
    struct Case
    {
        const char* name;
        const char* source;
        TDateTime source_date;
        const char* destination;
        TDateTime listed;
        TDateTime exact;  // 0: the server does not tell
        bool asked;
        bool copied;
    };
    const TDateTime before = minute + 10 * kSecond;
    const Case kCases[] = {
        {"edited-before-upload.bin", "ab", before, "ab", minute, written, true, false},
        {"edited-after-upload.bin", "ab", minute + 50 * kSecond, "ab", minute, written, true, true},
        // A text upload may change the size: only the time tells.
        {"edited-before-upload.txt", "a\r\n", before, "a\n", minute, written, true, false},
        {"no-exact-time.bin", "ab", before, "ab", minute, 0, true, true},
        {"after-the-minute.bin", "ab", minute + 70 * kSecond, "ab", minute, written, false, true},
        {"other-size.bin", "ab", before, "abc", minute, written, false, true},
        {"listed-with-seconds.bin", "ab", before, "ab", minute + 5 * kSecond, written, false, true},
    };
    for (const auto& c : kCases) {
        src_->AddFile(std::string("\\src\\") + c.name, c.source, c.source_date);
        dst_->AddFile(std::string("\\dst\\") + c.name, c.destination, c.listed);
        dst_->Node(std::string("\\dst\\") + c.name)->exact_date = c.exact;
    }
    Run();
    for (const auto& c : kCases) {
        EXPECT_EQ(c.asked, Logged(std::string("dst.GetExactFileDate(\\dst, ") + c.name + ")"))
            << c.name;
        EXPECT_EQ(c.copied, Logged(std::string("msg 14 Copying file ") + c.name)) << c.name;
    }
}

TEST_F(QelSyncBackupWorkerTest, OnlyAFileChangedSinceTheLastPublishBeganIsAskedAbout)
{
    DestinationIsAServer();
    // Listed at the start of their minute; each answer would say "written after the source".
    constexpr TDateTime kSecond = 1.0 / 86400;
    const TDateTime minute = 45000 + 600.0 / 1440;
    flags_.LastPublishStart = minute + 40.5 * kSecond;
    const struct
    {
        const char* name;
        TDateTime source_date;
        bool asked;
    } kCases[] = {
        {"before-the-start.bin", minute + 30.25 * kSecond, false},
        {"just-before-the-start.bin", minute + 40.49 * kSecond, true},
        // Whole seconds: a file system that keeps two may have dated a later write so.
        {"whole-second-before.bin", minute + 39 * kSecond, true},
        {"whole-seconds-long-before.bin", minute + 30 * kSecond, false},
        {"after-the-start.bin", minute + 45.25 * kSecond, true},
    };
    for (const auto& c : kCases) {
        src_->AddFile(std::string("\\src\\") + c.name, "ab", c.source_date);
        dst_->AddFile(std::string("\\dst\\") + c.name, "ab", minute);
        dst_->Node(std::string("\\dst\\") + c.name)->exact_date = minute + 59 * kSecond;
    }
    Run();
    for (const auto& c : kCases) {
        EXPECT_EQ(c.asked, Logged(std::string("dst.GetExactFileDate(\\dst, ") + c.name + ")"))
            << c.name;
    }
    EXPECT_EQ(0, worker_.Status().FilesCopied);
    // A site never published successfully: every one is asked about.
    flags_.LastPublishStart = 0;
    Run();
    EXPECT_EQ(5, Count("dst.GetExactFileDate("));
    EXPECT_EQ(0, worker_.Status().FilesCopied);
}

TEST_F(QelSyncBackupWorkerTest, ExplainCopyGivesTheReason)
{
    DestinationIsAServer();
    flags_.ExplainCopy = true;
    flags_.TextFiles = {"*.txt"};
    src_->AddFile("\\src\\new.bin", "x", 10);
    src_->AddFile("\\src\\size.bin", "xx", 10);
    dst_->AddFile("\\dst\\size.bin", "x", 10);
    src_->AddFile("\\src\\text.txt", "x", 10);
    dst_->AddFile("\\dst\\text.txt", "xyz", 10);
    Run();
    EXPECT_TRUE(Logged("msg 20 File does not exist at server"));
    EXPECT_TRUE(Logged("msg 20 File size (0x000000002) different to server size (0x000000001)"));
    EXPECT_TRUE(Logged("msg 20 File size (0x000000001) less than server size (0x000000003)"));
}

TEST_F(QelSyncBackupWorkerTest, ExplainCopyQuotesBothDates)
{
    flags_.ExplainCopy = true;
    src_->AddFile("\\src\\a.htm", "x", 45000.5);
    dst_->AddFile("\\dst\\a.htm", "x", 45000.0);
    Run();
    EXPECT_TRUE(Logged("msg 20 File (" + platform::FormatDateTime("c", 45000.5) +
                       ") is newer than at server (" + platform::FormatDateTime("c", 45000.0) +
                       ")"));
}

TEST_F(QelSyncBackupWorkerTest, FloorsIncludesExcludesAndIgnoresKeepFilesBack)
{
    flags_.DateFloor = 15;
    flags_.IncludeFiles = {"*.htm", "*.gif"};
    flags_.ExcludeFiles = {"*\\draft*"};
    flags_.IgnoreFiles = {"*\\notes.htm"};
    flags_.ExcludeFolders = {"*\\private"};
    flags_.IgnoreFolders = {"*\\cgi-bin"};
    src_->AddFile("\\src\\old.htm", "x", 10);
    src_->AddFile("\\src\\page.htm", "x", 20);
    src_->AddFile("\\src\\page.txt", "x", 20);
    src_->AddFile("\\src\\draft1.htm", "x", 20);
    src_->AddFile("\\src\\notes.htm", "x", 20);
    src_->AddFolder("\\src\\private", 20);
    src_->AddFile("\\src\\private\\x.htm", "x", 20);
    src_->AddFolder("\\src\\cgi-bin", 20);
    src_->AddFile("\\src\\cgi-bin\\x.gif", "x", 20);
    src_->AddFolder("\\src\\Private", 20);  // letter case counts with a local source
    src_->AddFile("\\src\\Private\\y.gif", "x", 20);
    Run();
    EXPECT_EQ((std::vector<std::string>{"Private\\", "Private\\y.gif", "page.htm"}),
              dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, PatternsIgnoreCaseWhenTheSourceIsNotLocal)
{
    src_->device_type = kDeviceFtp;
    flags_.ExcludeFiles = {"*.HTM"};
    src_->AddFile("\\src\\page.htm", "x", 20);
    src_->AddFile("\\src\\page.gif", "x", 20);
    Run();
    EXPECT_EQ((std::vector<std::string>{"page.gif"}), dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, AFolderOfExactly2000EntriesBesideMoreAtTheSourceIsWarnedAbout)
{
    DestinationIsAServer();
    const std::string warning =
        "msg 24 FTP server may not be listing all files. Recommend reducing the number of files "
        "in this folder to less than 2000.";
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "f" + std::to_string(i);
        src_->AddFile("\\src\\" + name, "x", 10);
        dst_->AddFile("\\dst\\" + name, "x", 10);
    }
    Run();  // 2002 source entries with "." and ".."
    EXPECT_FALSE(Logged(warning));
    src_->AddFile("\\src\\extra", "x", 10);
    Run();
    EXPECT_TRUE(Logged(warning));
}

TEST_F(QelSyncBackupWorkerTest, TurboFolderDateSkipsListingAnUnchangedFolder)
{
    flags_.TurboFolderDate = 50;
    src_->AddFolder("\\src\\old", 40);
    src_->AddFile("\\src\\old\\changed.htm", "new", 60);
    src_->AddFile("\\src\\old\\same.htm", "same but longer", 30);
    dst_->AddFolder("\\dst\\old", 40);
    dst_->AddFile("\\dst\\old\\changed.htm", "old", 20);
    dst_->AddFile("\\dst\\old\\same.htm", "same", 30);
    Run();
    EXPECT_FALSE(Logged("dst.ListDirectory(\\dst\\old, , fresh)"));
    EXPECT_TRUE(Logged("msg 14 Copying file changed.htm"));
    EXPECT_FALSE(Logged("msg 14 Copying file same.htm"));  // no size is compared
    // The root's own time (100) is later, so the root is listed.
    EXPECT_TRUE(Logged("dst.ListDirectory(\\dst, , fresh)"));
}

TEST_F(QelSyncBackupWorkerTest, TurboEntryDateListsAFolderThatHoldsANewerEntry)
{
    flags_.TurboEntryDate = 50;
    src_->AddFolder("\\src\\old", 40);
    src_->AddFile("\\src\\old\\a.htm", "a", 30);
    src_->AddFolder("\\src\\new", 40);
    src_->AddFile("\\src\\new\\b.htm", "b", 60);
    dst_->AddFolder("\\dst\\old", 40);
    dst_->AddFolder("\\dst\\new", 40);
    Run();
    EXPECT_FALSE(Logged("dst.ListDirectory(\\dst\\old, , fresh)"));
    EXPECT_TRUE(Logged("dst.ListDirectory(\\dst\\new, , fresh)"));
    EXPECT_FALSE(Logged("msg 14 Copying file a.htm"));
    EXPECT_TRUE(Logged("msg 14 Copying file b.htm"));
}

TEST_F(QelSyncBackupWorkerTest, TurboNeverDeletesWhatItDidNotList)
{
    flags_.TurboFolderDate = 500;
    flags_.DeleteObsolete = true;
    flags_.ExcludeFiles = {"*.bak"};
    src_->AddFile("\\src\\a.bak", "x", 10);
    src_->AddFile("\\src\\a.htm", "x", 10);
    dst_->AddFile("\\dst\\a.bak", "x", 10);
    dst_->AddFile("\\dst\\a.htm", "x", 10);
    Run();
    EXPECT_FALSE(Logged("dst.ListDirectory(\\dst, , fresh)"));
    EXPECT_EQ(0, Count("msg 7"));
    EXPECT_EQ(0, Count("dst.DeleteFile"));
    EXPECT_EQ(0, Count("dst.PutFile"));
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, PairingPrefersTheExactNameThenOneNoSourceEntryNames)
{
    // The page.html listed second is the same file; Page.html is another one.
    src_->AddFile("\\src\\page.html", "x", 10);
    dst_->AddFile("\\dst\\Page.html", "other", 10);
    dst_->AddFile("\\dst\\page.html", "x", 10);
    Run();
    EXPECT_EQ(0, Count("dst.PutFile"));
    EXPECT_EQ(0, Count("dst.RenameFile"));

    // Two source files that differ only in case must stay two files.
    src_->AddFile("\\src\\A.txt", "upper", 10);
    src_->AddFile("\\src\\a.txt", "lower", 10);
    dst_->AddFile("\\dst\\A.TXT", "upper", 10);
    Run();
    EXPECT_TRUE(Logged("dst.RenameFile(\\dst, A.TXT, A.txt)"));
    EXPECT_TRUE(Logged("msg 15 Renaming A.TXT"));
    EXPECT_TRUE(Logged("msg 16 Renaming to A.txt"));
    EXPECT_TRUE(Logged("dst.PutFile(mem:src:\\src\\a.txt, \\dst, a.txt, binary)"));
    EXPECT_EQ("upper", dst_->Node("\\dst\\A.txt")->content);
    EXPECT_EQ("lower", dst_->Node("\\dst\\a.txt")->content);
}

TEST_F(QelSyncBackupWorkerTest, ADestinationThatIgnoresCaseChangesIsCorrectedOnlyInMemory)
{
    dst_->case_sensitive = false;
    dst_->keeps_case = false;
    src_->AddFile("\\src\\a.htm", "x", 10);
    src_->AddFile("\\src\\b.htm", "x", 10);
    dst_->AddFile("\\dst\\A.HTM", "x", 10);
    dst_->AddFile("\\dst\\B.HTM", "x", 10);
    Run();
    EXPECT_EQ((std::vector<std::string>{"dst.RenameFile(\\dst, A.HTM, a.htm)"}),
              Lines("dst.RenameFile"));
    EXPECT_TRUE(Logged("dst.ListDirectory(\\dst, a.htm, fresh)"));
    EXPECT_EQ(0, Count("msg 15"));
    EXPECT_EQ(0, Count("dst.PutFile"));
}

TEST_F(QelSyncBackupWorkerTest, ACopyOverAnEntryOfAnotherCaseReplacesThatEntry)
{
    src_->AddFile("\\src\\page.htm", "new", 20);
    dst_->AddFile("\\dst\\Page.htm", "old", 10);
    dst_->Node("\\dst\\Page.htm")->read_only = true;
    Run();
    EXPECT_TRUE(Logged("dst.SetReadOnly(\\dst, Page.htm, off, normal)"));
    EXPECT_EQ((std::vector<std::string>{"page.htm"}), dst_->Tree("\\dst"));
    EXPECT_EQ("new", dst_->Node("\\dst\\page.htm")->content);
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, LeftoverTemporaryUploadsGoFirstAndNewNamesAvoidEveryOtherName)
{
    flags_.TempNameTag = "qvr";
    src_->AddFile("\\src\\page.html", "new", 20);
    src_->AddFile("\\src\\fresh.html", "new", 20);
    src_->AddFile("\\src\\kept.html", "mine", 20);
    src_->AddFile("\\src\\qvr_kept.html", "mine", 20);
    dst_->AddFile("\\dst\\page.html", "old", 10);
    dst_->AddFile("\\dst\\QVR_page.html", "not ours", 10);
    dst_->AddFile("\\dst\\qvr_page.html", "junk", 10);
    dst_->AddFile("\\dst\\qvr_2_fresh.html", "junk", 10);
    dst_->AddFile("\\dst\\qvr_other.html", "not ours", 10);
    dst_->AddFile("\\dst\\kept.html", "mine", 20);
    dst_->AddFile("\\dst\\qvr_kept.html", "mine", 20);
    Run();
    const std::vector<std::string> expected = {
        "dst.PutFile(mem:src:\\src\\fresh.html, \\dst, fresh.html, binary)",
        "dst.PutFile(mem:src:\\src\\page.html, \\dst, qvr_1_page.html, binary)",
        "dst.DeleteFile(\\dst, qvr_2_fresh.html, quiet)",
        "dst.DeleteFile(\\dst, qvr_page.html, quiet)",
        "dst.DeleteFile(\\dst, page.html, report)",
        "dst.RenameFile(\\dst, qvr_1_page.html, page.html)",
    };
    std::vector<std::string> calls = Lines("dst.PutFile");
    for (const auto& prefix : {"dst.DeleteFile", "dst.RenameFile"}) {
        const auto more = Lines(prefix);
        calls.insert(calls.end(), more.begin(), more.end());
    }
    EXPECT_EQ(expected, calls);
    EXPECT_EQ("new", dst_->Node("\\dst\\page.html")->content);
    EXPECT_EQ((std::vector<std::string>{"QVR_page.html", "fresh.html", "kept.html", "page.html",
                                        "qvr_kept.html", "qvr_other.html"}),
              dst_->Tree("\\dst"));
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, NamesAServerCannotHoldAreSkippedWithAWarning)
{
    DestinationIsAServer();
    src_->AddFile("\\src\\a\nb.html", "x", 20);
    src_->AddFile("\\src\\caf\xE9.html", "x", 20);
    src_->AddFolder("\\src\\bad\rdir", 20);
    src_->AddFile("\\src\\bad\rdir\\in.html", "x", 20);
    src_->AddFile("\\src\\caf\xC3\xA9.html", "x", 20);
    Run();
    for (const char* shown : {"a?b.html", "caf?.html", "bad?dir"}) {
        EXPECT_TRUE(Logged(std::string("msg 24 The name of /src/") + shown +
                           " cannot be used at the destination; it is not published."))
            << shown;
    }
    EXPECT_EQ(1, Count("dst.PutFile"));
    EXPECT_EQ(0, Count("dst.CreateDirectory"));
    EXPECT_EQ(3, worker_.Status().FilesProcessed);
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, ADestinationFolderThatCannotBeListedIsNeitherFilledNorEmptied)
{
    DestinationIsAServer();
    flags_.DeleteObsolete = true;
    for (const char* folder : {"\\src\\sub", "\\src\\tail", "\\dst\\sub", "\\dst\\gone"}) {
        (folder[1] == 's' ? src_ : dst_)->AddFolder(folder, 100);
    }
    src_->AddFile("\\src\\sub\\page.html", "new", 20);
    src_->AddFile("\\src\\tail\\page.html", "new", 20);
    dst_->AddFile("\\dst\\sub\\obsolete.html", "old", 10);
    dst_->AddFile("\\dst\\gone\\kept.html", "old", 10);
    dst_->fail_when = [](const std::string& call) {
        return call.find("ListDirectory(\\dst\\sub,") != std::string::npos ||
               call.find("ListDirectory(\\dst\\gone,") != std::string::npos;
    };
    for (const bool go_on : {false, true}) {
        SCOPED_TRACE(go_on);
        flags_.ContinueAfterErrors = go_on;
        Run();
        EXPECT_TRUE(flags_.Failed);
        EXPECT_EQ(1, Count("msg " + std::to_string(go_on ? 24 : 27) +
                           " Failed to read destination folder /dst/sub."));
        EXPECT_EQ(nullptr, dst_->Node("\\dst\\sub\\page.html"));
        EXPECT_NE(nullptr, dst_->Node("\\dst\\sub\\obsolete.html"));
        EXPECT_NE(nullptr, dst_->Node("\\dst\\gone\\kept.html"));
        // Going on after errors, the other folders are published all the same.
        EXPECT_EQ(go_on, dst_->Node("\\dst\\tail\\page.html") != nullptr);
    }
}

TEST_F(QelSyncBackupWorkerTest, AFailedSwapUnderATemporaryNameIsAFailedCopy)
{
    flags_.TempNameTag = "qvr";
    src_->AddFile("\\src\\page.html", "new", 20);
    dst_->AddFile("\\dst\\page.html", "old", 10);
    dst_->fail_when = [](const std::string& call) {
        return call.find("RenameFile") != std::string::npos;
    };
    Run();
    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ(0, worker_.Status().FilesCopied);
    EXPECT_EQ(1, Count("msg 27 Failed to copy file /src/page.html. Memory device error 5."));

    // In a Turbo run the old file may not be there: the rename alone decides; when it fails, a
    // reported deletion and one more rename.
    flags_.TurboFolderDate = 1;
    dst_->Node("\\dst")->date = 1;
    int renames = 0;
    dst_->fail_when = [&renames](const std::string& call) {
        return call == "dst.DeleteFile(\\dst, page.html, quiet)" ||
               (call.find("RenameFile") != std::string::npos && ++renames == 1);
    };
    dst_->AddFile("\\dst\\page.html", "old", 10);
    Run();
    EXPECT_TRUE(Logged("dst.DeleteFile(\\dst, page.html, report)"));
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(1, worker_.Status().FilesCopied);
    EXPECT_EQ("new", dst_->Node("\\dst\\page.html")->content);

    // When that deletion fails too, the old file stays and the temporary upload goes.
    dst_->fail_when = [](const std::string& call) {
        return call.find("DeleteFile(\\dst, page.html") != std::string::npos ||
               call.find("RenameFile") != std::string::npos;
    };
    src_->AddFile("\\src\\page.html", "newer", 30);
    Run();
    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ(0, worker_.Status().FilesCopied);
    EXPECT_EQ("new", dst_->Node("\\dst\\page.html")->content);
    // The first run's temporary upload went as a leftover; this one's as junk.
    EXPECT_EQ(std::vector<std::string>{"page.html"}, dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, ADestinationFolderNamedLikeASourceFileGoesAloneThenTheFileComes)
{
    flags_.DeleteObsolete = true;
    src_->AddFolder("\\src\\a", 10);
    src_->AddFile("\\src\\x.htm", "file", 10);
    dst_->AddFolder("\\dst\\a", 10);
    dst_->AddFile("\\dst\\a\\old.htm", "obsolete", 10);
    dst_->AddFolder("\\dst\\x.htm", 10);
    dst_->AddFile("\\dst\\x.htm\\inner", "x", 10);
    Run();
    const int blocking_gone = IndexOf("dst.RemoveDirectory(\\dst\\x.htm)");
    const int upload = IndexOf("dst.PutFile(mem:src:\\src\\x.htm, \\dst, x.htm, binary)");
    const int obsolete_gone = IndexOf("dst.DeleteFile(\\dst, \\a\\old.htm, report)");
    ASSERT_GE(blocking_gone, 0);
    ASSERT_GT(upload, blocking_gone);
    // The earlier queued obsolete file waits for the end of the run.
    EXPECT_GT(obsolete_gone, upload);
    EXPECT_EQ("file", dst_->Node("\\dst\\x.htm")->content);

    // Also with deletion off, and with an empty file of the folder's date.
    flags_.DeleteObsolete = false;
    src_->AddFile("\\src\\x.htm", "", 10);
    dst_->AddFile("\\dst\\a\\old.htm", "obsolete", 10);
    dst_->AddFolder("\\dst\\x.htm", 10);
    dst_->AddFile("\\dst\\x.htm\\inner", "x", 10);
    Run();
    EXPECT_FALSE(dst_->Node("\\dst\\x.htm")->folder);
    EXPECT_TRUE(dst_->Exists("\\dst\\a\\old.htm"));
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, ADestinationFileNamedLikeASourceFolderMakesWayForIt)
{
    src_->AddFolder("\\src\\images", 10);
    src_->AddFile("\\src\\images\\a.gif", "gif", 10);
    dst_->AddFile("\\dst\\images", "stray", 10);
    Run();
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ((std::vector<std::string>{"images\\", "images\\a.gif"}), dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, AStopBeforeTheFirstEntryEndsTheRunWithoutFailing)
{
    src_->AddFile("\\src\\a.htm", "x", 10);
    src_->on_call = [this](const std::string& call) {
        if (call == "src.ListDirectory(\\src, , fresh)") {
            flags_.StopRequested = true;
        }
    };
    flags_.StopRequested = true;  // a request before the run has no effect
    Run();
    EXPECT_TRUE(Logged("msg 24 Stopped"));
    EXPECT_TRUE(flags_.StopRequested);
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(0, Count("dst.PutFile"));
    EXPECT_EQ(0, worker_.Status().FoldersProcessed);
    EXPECT_EQ("finished", log_.back());
}

TEST_F(QelSyncBackupWorkerTest, AFailedCopyStopsTheRunUnlessTheRunContinues)
{
    flags_.DeleteObsolete = true;
    src_->AddFile("\\src\\a.htm", "a", 10);
    src_->AddFile("\\src\\b.htm", "b", 10);
    dst_->AddFile("\\dst\\old.htm", "old", 10);
    dst_->fail_when = [](const std::string& call) {
        return call.find("a.htm, binary") != std::string::npos;
    };
    Run();
    EXPECT_TRUE(Logged("msg 27 Failed to copy file /src/a.htm. Memory device error 5. Stopping"));
    EXPECT_EQ(0, Count("msg 14 Copying file b.htm"));
    EXPECT_TRUE(dst_->Exists("\\dst\\old.htm"));
    EXPECT_TRUE(flags_.Failed);

    flags_.ContinueAfterErrors = true;
    Run();
    EXPECT_TRUE(Logged("msg 24 Failed to copy file /src/a.htm. Memory device error 5. Continuing"));
    EXPECT_TRUE(dst_->Exists("\\dst\\b.htm"));
    EXPECT_EQ(2, worker_.Status().FilesProcessed);
    EXPECT_TRUE(flags_.Failed);
    // A failed copy skips the final deletion unless asked otherwise.
    EXPECT_TRUE(dst_->Exists("\\dst\\old.htm"));
    flags_.DeleteAfterFailure = true;
    Run();
    EXPECT_FALSE(dst_->Exists("\\dst\\old.htm"));
}

TEST_F(QelSyncBackupWorkerTest, AFailedFolderCreationStopsOrIsWarnedAbout)
{
    src_->AddFolder("\\src\\sub", 10);
    src_->AddFile("\\src\\sub\\a.htm", "a", 10);
    dst_->fail_when = [](const std::string& call) {
        return call == "dst.CreateDirectory(\\dst\\sub)";
    };
    Run();
    EXPECT_TRUE(Logged("msg 27 Failed to create directory: /dst/sub. Stopping"));
    EXPECT_TRUE(flags_.Failed);
    flags_.ContinueAfterErrors = true;
    Run();
    EXPECT_TRUE(Logged("msg 24 Failed to create directory: /dst/sub. Continuing"));
    EXPECT_TRUE(Logged("msg 1 Scanning source folder: /src/sub"));  // still entered
}

TEST_F(QelSyncBackupWorkerTest, AReadOnlyDestinationFileIsOverwrittenOnlyWhenAllowed)
{
    src_->AddFile("\\src\\a.htm", "new", 20);
    dst_->AddFile("\\dst\\a.htm", "old", 10);
    dst_->Node("\\dst\\a.htm")->read_only = true;
    flags_.ClearReadOnly = false;
    Run();
    EXPECT_TRUE(flags_.Failed);
    EXPECT_EQ("old", dst_->Node("\\dst\\a.htm")->content);
    EXPECT_EQ(0, Count("dst.PutFile"));
    flags_.ClearReadOnly = true;
    Run();
    EXPECT_FALSE(flags_.Failed);
    EXPECT_LT(IndexOf("dst.SetReadOnly(\\dst, a.htm, off, normal)"),
              IndexOf("dst.PutFile(mem:src:\\src\\a.htm, \\dst, a.htm, binary)"));
    EXPECT_EQ("new", dst_->Node("\\dst\\a.htm")->content);
}

TEST_F(QelSyncBackupWorkerTest, UploadsGetDatesAndPermissionsWhereTheDevicesNeedThem)
{
    DestinationIsAServer();
    src_->keeps_file_dates = false;
    flags_.FilePermissions = {"*.cgi=755", "*=600", "secret.cgi=700"};
    flags_.DefaultFilePermission = "644";
    flags_.FolderPermission = "711";
    src_->AddFile("\\src\\run.cgi", "x", 10);
    src_->AddFile("\\src\\secret.cgi", "x", 10);
    src_->AddFolder("\\src\\sub", 10);
    Run();
    EXPECT_EQ("600", dst_->Node("\\dst\\run.cgi")->permission);  // the last matching line wins
    EXPECT_EQ("700", dst_->Node("\\dst\\secret.cgi")->permission);
    EXPECT_EQ("711", dst_->Node("\\dst\\sub")->permission);
    EXPECT_EQ(10, dst_->Node("\\dst\\run.cgi")->date);

    flags_.FilePermissions = {"*.cgi=755"};
    EXPECT_EQ("644", worker_.PermissionFor("index.htm"));
    EXPECT_EQ("755", worker_.PermissionFor("x.cgi"));
    EXPECT_EQ("644", worker_.PermissionFor("X.CGI"));  // case counts here

    dst_->fail_when = [](const std::string& call) {
        return call.find("SetPermissions") != std::string::npos;
    };
    src_->AddFile("\\src\\run.cgi", "changed", 20);
    Run();
    EXPECT_TRUE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, ObsoleteEntriesAreListedQueuedOrBoth)
{
    SourceHoldsAPage();
    dst_->AddFile("\\dst\\old.htm", "x", 10);
    dst_->AddFolder("\\dst\\gone", 10);
    dst_->AddFile("\\dst\\gone\\x.htm", "x", 10);
    flags_.ListObsoleteOnly = true;
    Run();
    EXPECT_TRUE(Logged("msg 10 Obsolete file /old.htm"));
    EXPECT_TRUE(Logged("msg 9 Obsolete folder /gone"));
    EXPECT_TRUE(dst_->Exists("\\dst\\old.htm"));

    flags_.DeleteObsolete = true;
    Run();
    EXPECT_LT(IndexOf("msg 10 Obsolete file /old.htm"),
              IndexOf("msg 7 Marking file /old.htm for later deletion."));
    EXPECT_TRUE(Logged("msg 6 Marking folder /gone for later deletion."));
    EXPECT_TRUE(Logged("msg 18 Deleting file /dst/old.htm"));
    EXPECT_TRUE(Logged("msg 18 Deleting file /dst/gone/x.htm"));
    EXPECT_TRUE(Logged("msg 19 Deleting folder /dst/gone"));
    EXPECT_EQ(std::vector<std::string>{"index.htm"}, dst_->Tree("\\dst"));
    EXPECT_EQ(2, worker_.Status().FilesDeleted);
    EXPECT_EQ(1, worker_.Status().FoldersDeleted);
}

TEST_F(QelSyncBackupWorkerTest, IgnoreAndExcludePatternsDecideWhatIsObsolete)
{
    flags_.DeleteObsolete = true;
    flags_.IgnoreFiles = {"*\\thumbs.db"};
    flags_.ExcludeFiles = {"*.bak"};
    SourceHoldsAPage();
    src_->AddFile("\\src\\page.bak", "x", 10);
    dst_->AddFile("\\dst\\page.bak", "x", 10);
    dst_->AddFile("\\dst\\thumbs.db", "x", 10);
    Run();
    EXPECT_EQ((std::vector<std::string>{"index.htm", "thumbs.db"}), dst_->Tree("\\dst"));

    // The bare name does not match the relative path \thumbs.db.
    flags_.IgnoreFiles = {"thumbs.db"};
    Run();
    EXPECT_EQ(std::vector<std::string>{"index.htm"}, dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, WithoutRecursionAnObsoleteFolderIsOnlyIgnored)
{
    flags_.DeleteObsolete = true;
    flags_.Recurse = false;
    dst_->AddFolder("\\dst\\gone", 10);
    Run();
    EXPECT_TRUE(Logged("msg 8 Ignoring folder /gone"));
    EXPECT_TRUE(dst_->Exists("\\dst\\gone"));
}

TEST_F(QelSyncBackupWorkerTest, AKeptFileKeepsItsFolderButNotTheRestOfTheQueue)
{
    SourceHoldsAPage();
    flags_.DeleteObsolete = true;
    flags_.IgnoreFiles = {"*\\keep.me"};
    for (const char* folder : {"\\dst\\a", "\\dst\\b"}) {
        dst_->AddFolder(folder, 10);
        dst_->AddFile(std::string(folder) + "\\x.htm", "x", 10);
    }
    dst_->AddFolder("\\dst\\a\\inner", 10);
    dst_->AddFile("\\dst\\a\\inner\\keep.me", "x", 10);
    Run();
    EXPECT_EQ((std::vector<std::string>{"a\\", "a\\inner\\", "a\\inner\\keep.me", "index.htm"}),
              dst_->Tree("\\dst"));
    EXPECT_FALSE(flags_.Failed);
    EXPECT_TRUE(worker_.FoldersToDelete.empty());

    // Deleting at once must not take the kept tree again after every later obsolete entry.
    flags_.DeleteImmediately = true;
    dst_->AddFolder("\\dst\\b", 10);
    dst_->AddFile("\\dst\\c.htm", "x", 10);
    dst_->AddFile("\\dst\\d.htm", "x", 10);
    Run();
    EXPECT_EQ(1, Count("msg 4 Scanning folder: /dst/a prior to deleting it"));
    EXPECT_FALSE(dst_->Exists("\\dst\\d.htm"));
}

TEST_F(QelSyncBackupWorkerTest, AFolderTreeGoesSubfoldersFirstThenFilesThenItself)
{
    SourceHoldsAPage();
    flags_.DeleteObsolete = true;
    dst_->AddFolder("\\dst\\t", 10);
    dst_->AddFile("\\dst\\t\\a.htm", "x", 10);
    dst_->AddFolder("\\dst\\t\\s", 10);
    dst_->AddFile("\\dst\\t\\s\\b.htm", "x", 10);
    Run();
    const std::vector<std::string> expected = {
        "dst.DeleteFile(\\dst, \\t\\s\\b.htm, report)",
        "dst.RemoveDirectory(\\dst\\t\\s)",
        "dst.DeleteFile(\\dst, \\t\\a.htm, report)",
        "dst.RemoveDirectory(\\dst\\t)",
    };
    std::vector<std::string> deletions;
    for (const auto& line : log_) {
        if (line.rfind("dst.DeleteFile", 0) == 0 || line.rfind("dst.RemoveDirectory", 0) == 0) {
            deletions.push_back(line);
        }
    }
    EXPECT_EQ(expected, deletions);
    EXPECT_EQ(3, worker_.Status().FoldersTotal);
}

TEST_F(QelSyncBackupWorkerTest, AFailedDeletionStopsTheDeletionAndFailsTheRun)
{
    SourceHoldsAPage();
    flags_.DeleteObsolete = true;
    dst_->AddFile("\\dst\\a.htm", "x", 10);
    dst_->AddFile("\\dst\\b.htm", "x", 10);
    dst_->fail_when = [](const std::string& call) {
        return call.find("DeleteFile(\\dst, \\a.htm") != std::string::npos;
    };
    Run();
    EXPECT_TRUE(Logged("msg 27 Failed to delete file: /dst/a.htm. stopping"));
    EXPECT_TRUE(dst_->Exists("\\dst\\b.htm"));
    EXPECT_TRUE(flags_.Failed);

    flags_.ContinueAfterErrors = true;
    Run();
    EXPECT_TRUE(Logged("msg 24 Failed to delete file: /dst/a.htm. Continuing"));
    EXPECT_FALSE(dst_->Exists("\\dst\\b.htm"));
    EXPECT_TRUE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, AReadOnlyObsoleteFileIsClearedThenDeleted)
{
    SourceHoldsAPage();
    flags_.DeleteObsolete = true;
    dst_->AddFile("\\dst\\a.htm", "x", 10);
    dst_->Node("\\dst\\a.htm")->read_only = true;
    Run();
    EXPECT_FALSE(dst_->Exists("\\dst\\a.htm"));
    EXPECT_EQ(2, Count("dst.DeleteFile(\\dst, \\a.htm, report)"));
}

TEST_F(QelSyncBackupWorkerTest, AStopDuringTheFinalDeletionLeavesTheRest)
{
    SourceHoldsAPage();
    flags_.DeleteObsolete = true;
    dst_->AddFile("\\dst\\a.htm", "x", 10);
    dst_->AddFile("\\dst\\b.htm", "x", 10);
    dst_->on_call = [this](const std::string& call) {
        if (call == "dst.DeleteFile(\\dst, \\a.htm, report)") {
            flags_.StopRequested = true;
        }
    };
    Run();
    EXPECT_TRUE(Logged("msg 24 Stopped."));
    EXPECT_TRUE(dst_->Exists("\\dst\\b.htm"));
    EXPECT_FALSE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, AnEmptySourceRootEmptiesNoDestination)
{
    // An empty source root (a share that is not mounted) beside "\dst" that holds a page and a
    // folder, "\empty" that holds nothing and "\kept" that holds only a protected file.
    dst_->AddFile("\\dst\\a.htm", "x", 10);
    dst_->AddFolder("\\dst\\sub", 10);
    dst_->AddFile("\\dst\\sub\\b.htm", "x", 10);
    dst_->AddFolder("\\empty", 10);
    dst_->AddFolder("\\kept", 10);
    dst_->AddFile("\\kept\\thumbs.db", "x", 10);
    flags_.IgnoreFiles = {"*\\thumbs.db"};
    const struct
    {
        const char* destination;
        bool delete_obsolete;
        bool immediately;
        bool list_only;
        TDateTime turbo_folder_date;  // the source root's "." is dated 100
        bool refused;
    } kCases[] = {
        {"\\dst", true, false, false, 0, true},
        {"\\dst", true, true, false, 0, true},
        {"\\dst", true, false, true, 0, true},
        {"\\dst", true, false, false, 50, true},    // Turbo lists the root
        {"\\dst", true, false, false, 500, false},  // Turbo lists nothing, so deletes nothing
        {"\\dst", false, false, true, 0, false},    // only listed
        {"\\empty", true, false, false, 0, false},
        {"\\kept", true, false, false, 0, false},
    };
    for (const auto& c : kCases) {
        flags_.DeleteObsolete = c.delete_obsolete;
        flags_.DeleteImmediately = c.immediately;
        flags_.ListObsoleteOnly = c.list_only;
        flags_.TurboFolderDate = c.turbo_folder_date;
        Run("\\src", c.destination);
        const std::string label = std::string(c.destination) + " " + std::to_string(&c - kCases);
        EXPECT_EQ(c.refused, Logged("msg 27 Source directory /src is empty; nothing is deleted at "
                                    "the destination."))
            << label;
        EXPECT_EQ(c.refused, flags_.Failed) << label;
        EXPECT_EQ(0, Count("dst.DeleteFile") + Count("dst.RemoveDirectory")) << label;
        EXPECT_EQ(c.list_only && !c.refused, Logged("msg 10 Obsolete file /a.htm")) << label;
    }
    EXPECT_EQ((std::vector<std::string>{"a.htm", "sub\\", "sub\\b.htm"}), dst_->Tree("\\dst"));

    // One file the run publishes is no empty source, beside one it leaves out.
    src_->AddFile("\\src\\notes.bak", "x", 10);
    src_->AddFile("\\src\\page.htm", "x", 10);
    flags_.ExcludeFiles = {"*.bak"};
    flags_.DeleteObsolete = true;
    flags_.DeleteImmediately = flags_.ListObsoleteOnly = false;
    flags_.TurboFolderDate = 0;
    Run();
    EXPECT_FALSE(flags_.Failed);
    EXPECT_EQ(std::vector<std::string>{"page.htm"}, dst_->Tree("\\dst"));
}

TEST_F(QelSyncBackupWorkerTest, ASourceWithNoFileToPublishDeletesNothing)
{
    flags_.DeleteObsolete = true;
    flags_.ContinueAfterErrors = flags_.DeleteAfterFailure = true;
    flags_.IgnoreFiles = {"*\\thumbs.db"};
    flags_.ExcludeFiles = {"*.bak"};
    flags_.DateFloor = 50;
    const struct
    {
        const char* form;
        std::vector<const char*> files;  // below \src; a name ending in "\\" is a folder
        bool a_unreadable;
        bool refused;
    } kCases[] = {
        {"an empty folder", {"a\\"}, false, true},
        {"an ignored file", {"thumbs.db"}, false, true},
        {"an excluded file", {"notes.bak"}, false, true},
        {"a file older than the floor", {"old.htm"}, false, true},
        {"a folder that cannot be read", {"a\\", "a\\page.htm"}, true, true},
        {"a page after an empty folder", {"a\\", "b\\", "b\\page.htm"}, false, false},
        {"a page", {"page.htm"}, false, false},
    };
    const std::vector<std::string> published = {"a\\", "a\\stale.htm", "gone\\", "gone\\x.htm",
                                                "old.htm"};
    const auto place = [](MemoryStorageDevice* device, const std::string& path, TDateTime date) {
        if (path.back() == '\\') {
            device->AddFolder(path.substr(0, path.size() - 1), date);
        } else {
            device->AddFile(path, "x", date);
        }
    };
    for (const bool immediately : {false, true}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(c.form) + (immediately ? ", deleting at once" : ""));
            source_holder_ = std::make_unique<MemoryStorageDevice>("src", &log_);
            destination_holder_ = std::make_unique<MemoryStorageDevice>("dst", &log_);
            src_ = static_cast<MemoryStorageDevice*>(source_holder_.get());
            dst_ = static_cast<MemoryStorageDevice*>(destination_holder_.get());
            src_->AddFolder("\\src", 100);
            dst_->AddFolder("\\dst", 100);
            for (const std::string file : c.files) {
                place(src_, "\\src\\" + file, file == "old.htm" ? 10 : 100);
            }
            src_->fail_when = [&c](const std::string& call) {
                return c.a_unreadable && call == "src.ListDirectory(\\src\\a, , fresh)";
            };
            for (const std::string& entry : published) {
                place(dst_, "\\dst\\" + entry, 10);
            }
            flags_.DeleteImmediately = immediately;
            Run();
            EXPECT_EQ(c.refused, Logged("msg 27 Source directory /src is empty; nothing is deleted "
                                        "at the destination."));
            EXPECT_TRUE(flags_.Failed || !c.refused);
            if (c.refused) {
                EXPECT_EQ(0, Count("dst.DeleteFile") + Count("dst.RemoveDirectory"));
                EXPECT_EQ(published, dst_->Tree("\\dst"));
            } else {
                EXPECT_FALSE(dst_->Exists("\\dst\\old.htm"));
                EXPECT_FALSE(dst_->Exists("\\dst\\a\\stale.htm"));
                EXPECT_FALSE(dst_->Exists("\\dst\\gone"));
            }
        }
    }
}

TEST_F(QelSyncBackupWorkerTest, AnUnreadableSourceFolderIsAFailureNotAnEmptyFolder)
{
    flags_.DeleteObsolete = true;
    src_->AddFolder("\\src\\sub", 10);
    src_->AddFile("\\src\\sub\\a.htm", "x", 10);
    src_->AddFile("\\src\\b.htm", "x", 10);
    dst_->AddFolder("\\dst\\sub", 10);
    dst_->AddFile("\\dst\\sub\\a.htm", "x", 10);
    src_->fail_when = [](const std::string& call) {
        return call == "src.ListDirectory(\\src\\sub, , fresh)";
    };
    Run();
    EXPECT_TRUE(Logged("msg 27 Failed to read source folder /src/sub. Stopping"));
    EXPECT_TRUE(dst_->Exists("\\dst\\sub\\a.htm"));
    EXPECT_TRUE(flags_.Failed);

    flags_.ContinueAfterErrors = true;
    Run();
    EXPECT_TRUE(Logged("msg 24 Failed to read source folder /src/sub. Continuing"));
    EXPECT_TRUE(dst_->Exists("\\dst\\sub\\a.htm"));
    EXPECT_TRUE(dst_->Exists("\\dst\\b.htm"));
    EXPECT_TRUE(flags_.Failed);
}

TEST_F(QelSyncBackupWorkerTest, DevicesAreFreedAtTheEndOnlyWhenAsked)
{
    Run();
    EXPECT_NE(nullptr, source_holder_);
    flags_.FreeSourceDevice = true;
    flags_.FreeDestinationDevice = true;
    Run();
    EXPECT_EQ(nullptr, source_holder_);
    EXPECT_EQ(nullptr, destination_holder_);
    const int finished = IndexOf("finished");
    EXPECT_EQ(finished + 1, IndexOf("dst.freed"));
    EXPECT_EQ(finished + 2, IndexOf("src.freed"));
}

TEST_F(QelSyncBackupWorkerTest, OptionsRefilledOnTheFinalStatusDoNotChangeWhatTheRunFrees)
{
    // The main window refills the options for its next run as soon as the final status arrives.
    struct RefillingSink : QelSyncBaseOutput
    {
        explicit RefillingSink(QelSyncFlags* flags)
            : flags(flags)
        {}
        void Finished(const QelSyncStatus&) override { flags->Reset(); }
        QelSyncFlags* flags;
    };
    RefillingSink sink(&flags_);
    QelSyncBackupWorker worker(&sink);
    flags_.FreeSourceDevice = true;
    flags_.FreeDestinationDevice = true;
    worker.Synchronise("\\src", source_holder_, "\\dst", destination_holder_, flags_);
    EXPECT_EQ(nullptr, source_holder_);
    EXPECT_EQ(nullptr, destination_holder_);
}

TEST_F(QelSyncBackupWorkerTest, TheWorkerFreesOnlyASinkItOwns)
{
    struct CountingSink : QelSyncBaseOutput
    {
        explicit CountingSink(int* freed)
            : freed(freed)
        {}
        ~CountingSink() override { ++*freed; }
        int* freed;
    };
    int freed = 0;
    QelSyncBackupWorker owner(std::make_unique<CountingSink>(&freed));
    flags_.FreeOutput = true;
    owner.Synchronise("\\src", source_holder_, "\\dst", destination_holder_, flags_);
    EXPECT_EQ(1, freed);
    EXPECT_EQ(nullptr, owner.Output);

    CountingSink borrowed(&freed);
    QelSyncBackupWorker borrower(&borrowed);
    borrower.Synchronise("\\src", source_holder_, "\\dst", destination_holder_, flags_);
    EXPECT_EQ(1, freed);
}

TEST_F(QelSyncBackupWorkerTest, UniqueTempNamesCountUpPastTakenNames)
{
    flags_.TempNameTag = "qvr";
    Run();
    auto dst = QelDirectoryList::Create();
    auto s = QelDirectoryEntry::Create();
    s->Name = "index.html";
    EXPECT_EQ("qvr_index.html", worker_.UniqueTempName(*s, *dst));
    for (const char* name : {"QVR_index.html", "qvr_1_index.html"}) {
        auto e = QelDirectoryEntry::Create();
        e->Name = name;
        dst->Add(std::move(e));
    }
    EXPECT_EQ("qvr_2_index.html", worker_.UniqueTempName(*s, *dst));
}

// A source whose copies are real files, as the disk device hands them out.
class FileBackedSource : public MemoryStorageDevice
{
public:
    FileBackedSource(EventLog* log, const testing::TestSandbox* sandbox)
        : MemoryStorageDevice("src", log)
        , sandbox_(sandbox)
    {}
    std::string GetFile(const std::string& /*folder*/, const std::string& name) override
    {
        return sandbox_->SystemPath(name);
    }

private:
    const testing::TestSandbox* sandbox_;
};

TEST_F(QelSyncBackupWorkerTest, ATextCopyIsWholeOnlyAtASizeAWholeTransferGives)
{
    // "a\r\nb\r\nc\nd\r": 10 bytes, two CR LF, one bare LF, a lone CR; whole copies hold 10
    // (stored as sent), 8 (CR LF made LF), 7 (every CR removed) or 11 (bare LF made CR LF).
    const char* const kMixed = "a\r\nb\r\nc\nd\r";
    const struct
    {
        const char* source;
        uint32_t server_size;
        bool copied;
    } kCases[] = {
        {"a\nb\n", 6, false},      // every LF became CR LF
        {"a\nb\n", 7, true},       // larger still: changed
        {"a\nb\n", 3, true},       // cut short
        {"a\r\nb\n", 6, false},    // only the bare LF grows
        {"a\r\nb\r\n", 7, true},   // no bare LF: any larger copy is a change
        {"a\r\nb\r\n", 4, false},  // every CR LF became LF
        {"a\r\nb\r\n", 5, true},   // cut by less than its CR LF pairs
        {"a\rb\n", 3, false},      // the lone CR removed
        {kMixed, 8, false},       {kMixed, 11, false}, {kMixed, 7, false},
        {kMixed, 9, true},        {kMixed, 6, true},   {kMixed, 12, true},
    };
    for (const auto& c : kCases) {
        testing::TestSandbox sandbox;
        sandbox.WriteFile("text.txt", c.source);
        auto source = std::make_unique<FileBackedSource>(&log_, &sandbox);
        source->AddFolder("\\src", 100);
        source->AddFile("\\src\\text.txt", c.source, 10);
        source_holder_ = std::move(source);
        destination_holder_ = std::make_unique<MemoryStorageDevice>("dst", &log_);
        dst_ = static_cast<MemoryStorageDevice*>(destination_holder_.get());
        dst_->AddFolder("\\dst", 100);
        DestinationIsAServer();
        dst_->AddFile("\\dst\\text.txt", std::string(c.server_size, 'x'), 10);
        flags_.TextFiles = {"*.txt"};
        Run();
        EXPECT_EQ(c.copied, Logged("msg 14 Copying file text.txt")) << c.source << c.server_size;
    }
}

}  // namespace
}  // namespace vantrel
