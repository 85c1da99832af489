// Publishing a generated site tree to real FTP servers (pyftpdlib and vsftpd) through each FTP
// device (over the internet library and over the FTP client library) and the worker, as the main
// window runs it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <spawn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "foundation/QelDateFunctions.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "publishing/PublicationInfo.h"
#include "storage/DiskStorage.h"
#include "storage/FtpStorage.h"
#include "storage/FtpStorageIndy.h"
#include "sync/QelSyncBackupWorker.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/RecordingOutput.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// In one read: the site holds a file of 64 MiB, which a character at a time reads slowly in
// the sanitizer build.
std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string content(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

using Tree = std::map<std::string, std::string>;

// The names whose entries differ between two trees, with the sizes of each side: a whole
// site's contents are too long to read in a failure.
std::string Differences(const Tree& expected, const Tree& actual)
{
    std::string text;
    auto describe = [](const Tree& tree, const std::string& name) {
        const auto it = tree.find(name);
        return it == tree.end() ? std::string("missing")
                                : std::to_string(it->second.size()) + " bytes";
    };
    std::vector<std::string> names;
    for (const auto& [name, content] : expected) {
        const auto it = actual.find(name);
        if (it == actual.end() || it->second != content) {
            names.push_back(name);
        }
    }
    for (const auto& [name, content] : actual) {
        if (!expected.contains(name)) {
            names.push_back(name);
        }
    }
    for (const std::string& name : names) {
        text +=
            name + ": " + describe(expected, name) + " expected, " + describe(actual, name) + "\n";
    }
    return text;
}

#define EXPECT_SAME_TREE(expected, actual) EXPECT_EQ("", Differences((expected), (actual)))

fs::file_time_type ToFileTime(std::time_t seconds)
{
    return std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(seconds));
}

struct PublishTarget
{
    std::string server;
    // The device over the FTP client library in place of the one over the internet library.
    bool client_library;
};

void PrintTo(const PublishTarget& target, std::ostream* out)
{
    *out << target.server << (target.client_library ? " over the client library" : "");
}

class FtpServerPublishTest : public ::testing::TestWithParam<PublishTarget>
{
protected:
    void SetUp() override
    {
        std::string why;
        server_ = testing::StartFtpTestServer(GetParam().server, &why);
        if (server_ == nullptr) {
            GTEST_SKIP() << why;
        }
        // vsftpd hides dot files; without the server type from the connection, nothing fetches
        // them.
        if (server_->Family() == "vsftpd") {
            const std::unique_ptr<FtpStorageDevice> probe = MakeDevice();
            if (probe->Open(kRoot, server_->User(), server_->Password(), "") && !probe->IsUnix()) {
                GTEST_SKIP() << "the device does not learn the server type at connection";
            }
        }
    }

    // Nested folders of text and binary files, dot files, names that differ only in letter
    // case and a UTF-8 name; text files have LF line ends.
    void GenerateSite()
    {
        std::mt19937 random(7);
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) {
                const std::string folder =
                    "src/area" + std::to_string(a) + "/part" + std::to_string(b) + "/";
                for (int f = 0; f < 4; ++f) {
                    std::string binary(random() % 5000, '\0');
                    for (char& c : binary) {
                        c = static_cast<char>(random());
                    }
                    sandbox_.WriteFile(folder + "image" + std::to_string(f) + ".bin", binary, kOld);
                    sandbox_.WriteFile(folder + "page" + std::to_string(f) + ".html",
                                       "<p>page " + std::to_string(f) + "</p>\nline two\n", kOld);
                }
            }
        }
        sandbox_.WriteFile("src/.htaccess", "deny from all\n", kOld);
        sandbox_.WriteFile("src/area1/.htaccess", "allow from all\n", kOld);
        sandbox_.WriteFile("src/Index.html", "upper\n", kOld);
        sandbox_.WriteFile("src/index.html", "lower\n", kOld);
        sandbox_.WriteFile("src/caf\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "utf-8\n", kOld);
        sandbox_.WriteFile("src/empty.txt", "", kOld);
    }

    // The web site's FTP device, with its dot-file state and server time drift.
    std::unique_ptr<FtpStorageDevice> MakeDevice(uint8_t flags = 0)
    {
        const FtpDeviceSettings settings{.port = server_->Port(),
                                         .general_timeout = 10,
                                         .connection_timeout = 10,
                                         .dot_file_state = &dots_,
                                         .time_drift = &drift_,
                                         .flags = flags};
        if (GetParam().client_library) {
            return std::make_unique<FtpIndyStorageDevice>(&output_, settings);
        }
        return std::make_unique<FtpStorageDevice>(&output_, settings);
    }

    void Publish(int delete_old_files = 0, bool succeeds = true)
    {
        output_.lines.clear();
        output_.types.clear();
        site_.DeleteOldFiles = static_cast<uint8_t>(delete_old_files);
        site_.AsciiFiles = {"*.html", "*.txt"};
        FillSyncFlags(site_, turbo_, &flags_);
        dots_.DotFilesFound = 0;
        std::unique_ptr<QelStorageDevice> source = std::make_unique<DiskStorageDevice>(&output_);
        // As the main window sets them: the server type is asked at every connection.
        std::unique_ptr<FtpStorageDevice> ftp =
            MakeDevice(FtpStorageDevice::kFlagQuietTimeout | FtpStorageDevice::kFlagAskSyst);
        ASSERT_TRUE(ftp->Open(root_, server_->User(), server_->Password(), ""))
            << ::testing::PrintToString(output_.lines);
        std::unique_ptr<QelStorageDevice> destination = std::move(ftp);
        worker_.Synchronise(sandbox_.SystemPath("src"), source, root_, destination, flags_);
        EXPECT_EQ(!succeeds, flags_.Failed.load()) << ::testing::PrintToString(output_.lines);
    }

    // The warnings and errors of the last run.
    int Complaints() const
    {
        return static_cast<int>(std::count_if(
            output_.types.begin(), output_.types.end(),
            [](QelSyncMessageType type) { return type == kMsgWarning || type == kMsgError; }));
    }

    // Every file and folder below a local root; text files with their CRs dropped, since a
    // server may store either line end.
    static std::map<std::string, std::string> TreeOf(const fs::path& root)
    {
        std::map<std::string, std::string> tree;
        for (auto it = fs::recursive_directory_iterator(root);
             it != fs::recursive_directory_iterator(); ++it) {
            const std::string name = fs::relative(it->path(), root).string();
            if (it->is_directory()) {
                tree[name] = "<folder>";
                continue;
            }
            std::string content = ReadAll(it->path());
            const std::string extension = it->path().extension().string();
            if (extension == ".html" || extension == ".txt") {
                std::erase(content, '\r');
            }
            tree[name] = content;
        }
        return tree;
    }
    std::map<std::string, std::string> Source() const { return TreeOf(sandbox_.Path("src")); }

    // The published copy as a client sees it: every folder listed and every file downloaded
    // through a fresh FTP device, in the form TreeOf gives.
    std::map<std::string, std::string> Downloaded()
    {
        std::map<std::string, std::string> tree;
        std::unique_ptr<FtpStorageDevice> ftp = MakeDevice();
        if (!ftp->Open(kRoot, server_->User(), server_->Password(), "")) {
            ADD_FAILURE() << ::testing::PrintToString(output_.lines);
            return tree;
        }
        DownloadFolder(*ftp, kRoot, "", &tree);
        return tree;
    }

    void DownloadFolder(FtpStorageDevice& ftp,
                        const std::string& folder,
                        const std::string& relative,
                        std::map<std::string, std::string>* tree)
    {
        const auto list = ftp.ListDirectory(folder, "", false);
        for (int32_t i = 1; i <= list->Count(); ++i) {
            const QelDirectoryEntry& entry = *list->Items(i);
            if (entry.IsDotEntry()) {
                continue;
            }
            const std::string name = relative + entry.Name;
            if (entry.IsDirectory()) {
                (*tree)[name] = "<folder>";
                DownloadFolder(ftp, folder + "\\" + entry.Name, name + "/", tree);
                continue;
            }
            const std::string local = ftp.GetFile(folder, entry.Name);
            if (local.empty()) {
                ADD_FAILURE() << "cannot download " << name << ": " << ftp.GetLastErrorText();
                continue;
            }
            std::string content = ReadAll(platform::ToPosixPath(local));
            const std::string extension = fs::path(entry.Name).extension().string();
            if (extension == ".html" || extension == ".txt") {
                std::erase(content, '\r');
            }
            (*tree)[name] = content;
            ftp.ReleaseFile(local);
        }
    }

    std::map<std::string, std::string> Server() const { return TreeOf(server_->SiteLocalPath()); }
    // The server that hides dot files from a plain listing, or null.
    testing::PyftpdlibServer* HidingServer() const
    {
        auto* server = dynamic_cast<testing::PyftpdlibServer*>(server_.get());
        return server != nullptr && server->HidesDotFiles() ? server : nullptr;
    }

    static constexpr std::time_t kOld = 1'500'000'000;
    static constexpr const char* kRoot = "ftp:\\\\127.0.0.1\\site";
    // The web site's destination.
    std::string root_ = kRoot;

    testing::ScriptedMessageBoxes boxes_;
    std::unique_ptr<testing::FtpTestServer> server_;
    testing::TestSandbox sandbox_;
    // Downloads land in the temporary folder under their own names; a folder of this test's
    // own keeps parallel test programs from reading or deleting each other's copies.
    testing::ScopedEnv runtime_folder_{"XDG_RUNTIME_DIR", sandbox_.Path()};
    testing::CollectingOutput output_;
    QelSyncFlags flags_;
    QelSyncBackupWorker worker_{&output_};
    TDotFileState dots_;
    TDateTime drift_ = 0;
    // The web site's options; the Turbo button.
    QelPublication site_;
    bool turbo_ = false;
};

TEST_P(FtpServerPublishTest, ASitePublishesExactlyAndAnUnchangedOneCopiesNothing)
{
    GenerateSite();
    Publish();
    EXPECT_SAME_TREE(Source(), Server());
    EXPECT_SAME_TREE(Source(), Downloaded());
    const int32_t files = worker_.Status().FilesCopied;
    EXPECT_EQ(78, files);

    const size_t commands_before = HidingServer() ? HidingServer()->Commands().size() : 0;
    Publish();
    EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ(files, worker_.Status().FilesProcessed);
    if (server_->Family() == "vsftpd" || HidingServer() != nullptr) {
        // Both hide dot files: they come through "NLST -a .*", or "LIST -a" where that is
        // refused.
        EXPECT_EQ(kDotFilesHidden, dots_.Treatment);
    }
    if (HidingServer() != nullptr) {
        const std::vector<std::string> commands = HidingServer()->Commands();
        EXPECT_EQ(1, std::count_if(commands.begin() + static_cast<ptrdiff_t>(commands_before),
                                   commands.end(),
                                   [](const std::string& c) { return c.rfind("NLST", 0) == 0; }))
            << "one refused pattern a run";
    }
    EXPECT_LE(2, dots_.DotFilesFound);
}

TEST_P(FtpServerPublishTest, ASlowFirstUploadReadsTheServersClockAndTheNextRunCopiesNothing)
{
    // Edited a minute before the publish; the first file takes seconds to upload. pyftpdlib's
    // throttle pauses after each whole limit's worth of bytes: a size short of a multiple keeps
    // it from pausing between its last write and its reply.
    constexpr uint32_t kMiB = 1 << 20;
    const std::time_t edited = std::time(nullptr) - 60;
    sandbox_.WriteFile("src/big.bin", std::string(11 * kMiB / 2, 'b'), edited);
    sandbox_.WriteFile("src/index.html", "<p>index</p>\n", edited);
    sandbox_.WriteFile("src/pages/page.html", "<p>page</p>\n", edited);
    std::string why;
    if (auto* vsftpd = dynamic_cast<testing::VsftpdServer*>(server_.get())) {
        vsftpd->SetMaxRate(2 * kMiB);
    } else {
        dynamic_cast<testing::PyftpdlibServer&>(*server_).SetMaxUploadRate(kMiB);
    }
    ASSERT_TRUE(server_->Restart(&why)) << why;
    site_.LogExplainCopy = true;
    const auto start = std::chrono::steady_clock::now();
    Publish();
    ASSERT_EQ(3, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    ASSERT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "not slowed";
    // The server's clock is ours, and both servers list in GMT.
    const double offset_seconds = drift_ * 86400 + platform::LocalOffsetSecondsNow();
    EXPECT_NEAR(0, offset_seconds, 2);
    Publish();
    EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
}

TEST_P(FtpServerPublishTest, AnEditInsideTheListedMinuteIsPublishedOnlyWhenMadeAfterTheUpload)
{
    // A minute an hour ago, which listings give to the minute; the copies are written 30 s into
    // it, one file edited 20 s before that and one (to the same size) 20 s after.
    const std::time_t minute = (std::time(nullptr) - 3600) / 60 * 60;
    sandbox_.WriteFile("src/before.bin", "before", minute + 10);
    sandbox_.WriteFile("src/after.bin", "after", minute + 10);
    sandbox_.WriteFile("src/page.html", "<p>page</p>\n", minute + 10);
    Publish();
    ASSERT_EQ(3, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    for (const char* name : {"before.bin", "after.bin", "page.html"}) {
        fs::last_write_time(server_->SiteLocalPath(name), ToFileTime(minute + 30));
    }
    sandbox_.WriteFile("src/after.bin", "AFTER", minute + 50);
    Publish();
    EXPECT_EQ(1, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ("AFTER", ReadAll(server_->SiteLocalPath("after.bin")));
    Publish();
    EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
}

TEST_P(FtpServerPublishTest, AnEditInTheSecondOfItsUploadIsPublishedOnEitherSideOfIt)
{
    // Copies written in a minute an hour ago, at `uploaded_ms` into it; the offset stored is the
    // one an upload whose reply came 0.45 s into its second gives: the server's clock is ours.
    const std::time_t minute = (std::time(nullptr) - 3600) / 60 * 60;
    const struct
    {
        const char* name;
        int uploaded_ms;
        int edited_ms;
        bool copied;
    } kCases[] = {
        {"after.bin", 30'300, 30'500, true},
        // Before the upload by less than the offset's own error: the order is unknown.
        {"before.bin", 30'300, 30'100, true},
        {"long-before.bin", 30'300, 20'500, false},
        // Listed as the minute: the listing alone would put the copy after the edit.
        {"after-at-the-minute.bin", 200, 400, true},
    };
    for (const auto& c : kCases) {
        sandbox_.WriteFile(std::string("src/") + c.name, "old", minute - 60);
    }
    Publish();
    ASSERT_EQ(4, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    const auto at = [&](int ms) { return ToFileTime(minute) + std::chrono::milliseconds(ms); };
    for (const auto& c : kCases) {
        fs::last_write_time(server_->SiteLocalPath(c.name), at(c.uploaded_ms));
        sandbox_.WriteFile(std::string("src/") + c.name, "new");
        fs::last_write_time(sandbox_.Path(std::string("src/") + c.name), at(c.edited_ms));
    }
    drift_ = (-static_cast<double>(platform::LocalOffsetSecondsNow()) - 0.45) / 86400;
    Publish();
    for (const auto& c : kCases) {
        EXPECT_EQ(c.copied ? "new" : "old", ReadAll(server_->SiteLocalPath(c.name))) << c.name;
    }
}

TEST_P(FtpServerPublishTest, SameMinuteFilesAreDatedByOneMachineListingOfEachFolder)
{
    // Copies written 30 s into a minute an hour ago, from sources saved 20 s before; then one
    // source edited to the same size 20 s after.
    const std::time_t minute = (std::time(nullptr) - 3600) / 60 * 60;
    const std::vector<std::string> names = {"a.bin",       "b.bin",       "c.bin",
                                            "pages/a.bin", "pages/b.bin", "pages/c.bin"};
    for (const std::string& name : names) {
        sandbox_.WriteFile("src/" + name, "old", minute + 10);
    }
    Publish();
    ASSERT_EQ(6, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    for (const std::string& name : names) {
        fs::last_write_time(server_->SiteLocalPath(name), ToFileTime(minute + 30));
    }
    const auto sent = [](const char* verb) {
        const auto counts = platform::SentFtpCommandCounts();
        const auto it = counts.find(verb);
        return static_cast<int>(it == counts.end() ? 0 : it->second);
    };
    const bool machine_listings = server_->Family() == "pyftpdlib" && !GetParam().client_library;
    for (const char* edited : {static_cast<const char*>(nullptr), "pages/b.bin"}) {
        SCOPED_TRACE(edited != nullptr ? edited : "no edit");
        if (edited != nullptr) {
            sandbox_.WriteFile(std::string("src/") + edited, "new", minute + 50);
        }
        const int mdtm_before = sent("MDTM"), mlsd_before = sent("MLSD");
        Publish();
        const int copied = edited != nullptr ? 1 : 0;
        EXPECT_EQ(copied, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
        if (edited != nullptr) {
            EXPECT_EQ("new", ReadAll(server_->SiteLocalPath(edited)));
        }
        if (GetParam().client_library) {
            continue;
        }
        // An upload asks once more, for the server's clock.
        EXPECT_EQ(machine_listings ? copied : 6 + copied, sent("MDTM") - mdtm_before);
        EXPECT_EQ(machine_listings ? 2 : 0, sent("MLSD") - mlsd_before);
    }
}

TEST_P(FtpServerPublishTest, ChangesAndDeletionsFollowEachChoice)
{
    GenerateSite();
    Publish();
    // The published copies made a day after the site and the edits two days after: a file
    // edited within the listed minute of its upload would be uploaded again by every run of
    // the next minute or two, which would blur the counts here.
    for (const auto& entry : fs::recursive_directory_iterator(server_->SiteLocalPath())) {
        fs::last_write_time(entry.path(), ToFileTime(kOld + 86400));
    }
    sandbox_.WriteFile("src/area0/part0/page0.html", "<p>changed and longer</p>\n",
                       kOld + 2 * 86400);
    sandbox_.WriteFile("src/area2/new.txt", "new\n", kOld + 2 * 86400);
    fs::remove(sandbox_.Path("src/area1/part1/image1.bin"));
    fs::remove(sandbox_.Path("src/.htaccess"));
    const std::string deleted = server_->SiteLocalPath("area1/part1/image1.bin");

    Publish(0);
    EXPECT_EQ(2, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    EXPECT_TRUE(fs::exists(deleted));
    Publish(2);
    EXPECT_EQ(0, worker_.Status().FilesCopied);
    EXPECT_TRUE(fs::exists(deleted));
    // A folder whose dot file a hiding server leaves out of its listing goes too.
    fs::remove_all(sandbox_.Path("src/area1"));
    Publish(1);
    EXPECT_FALSE(fs::exists(deleted));
    EXPECT_FALSE(fs::exists(server_->SiteLocalPath(".htaccess")));
    EXPECT_FALSE(fs::exists(server_->SiteLocalPath("area1")));
    EXPECT_SAME_TREE(Source(), Server());
}

TEST_P(FtpServerPublishTest, TurboIntermediaryNamesAndPermissions)
{
    GenerateSite();
    Publish();
    // Every source folder as of before the last publish, as Turbo sees a site unchanged since.
    sandbox_.SetFolderTimes("src", kOld);
    turbo_ = true;
    site_.Status = StatusPublished;
    site_.LastPublished = FileTimeToLocalDateTime(
        platform::FileTime::FromValue((kOld + 500 + 11'644'473'600ULL) * 10'000'000ULL));
    site_.UploadViaIntermediary = true;
    site_.FilePermissions = {"*.cgi=755"};
    sandbox_.WriteFile("src/area2/part2/page3.html", "<p>changed under a temporary name</p>\n");
    sandbox_.WriteFile("src/run.cgi", "#!/bin/sh\n");
    Publish(1);
    EXPECT_EQ(2, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    EXPECT_SAME_TREE(Source(), Server());
    int listed = 0;
    for (const std::string& line : output_.lines) {
        listed += line.rfind("Scanning target folder:", 0) == 0 ? 1 : 0;
    }
    // Only the root, where run.cgi was added, is listed; the changed file is sent unlisted.
    EXPECT_EQ(1, listed);
    struct stat st = {};
    ASSERT_EQ(0, stat(server_->SiteLocalPath("run.cgi").c_str(), &st));
    if (server_->Family() == "vsftpd") {
        // vsftpd never lets an anonymous session change modes: the refusal is reported once
        // and the worker stops asking.
        EXPECT_EQ(1, std::count(output_.lines.begin(), output_.lines.end(),
                                "CHMOD not supported by FTP server"));
        EXPECT_EQ(0644u, st.st_mode & 0777);
    } else {
        EXPECT_EQ(0755u, st.st_mode & 0777);
    }
}

TEST_P(FtpServerPublishTest, AServerKilledDuringAnUploadLosesNothing)
{
    GenerateSite();
    sandbox_.WriteFile("src/big.bin", "small", kOld);
    Publish();
    std::string big(64 << 20, 'b');
    sandbox_.WriteFile("src/big.bin", big);
    site_.UploadViaIntermediary = true;
    std::string why;
    const uint16_t port = server_->Port();
    auto* vsftpd = dynamic_cast<testing::VsftpdServer*>(server_.get());
    if (vsftpd != nullptr) {
        // vsftpd takes the whole file faster than the server can be stopped under load.
        vsftpd->SetMaxRate(16 << 20);
        ASSERT_TRUE(vsftpd->Restart(&why)) << why;
    }
    // The server goes as soon as the upload under the temporary name has begun.
    std::atomic<bool> killed{false};
    std::thread killer([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            for (const auto& entry : fs::directory_iterator(server_->SiteLocalPath())) {
                std::error_code error;
                if (entry.path().filename().string().rfind("qvr", 0) == 0 &&
                    fs::file_size(entry.path(), error) > 0) {
                    server_->Kill();
                    killed = true;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    Publish(1, false);
    killer.join();
    ASSERT_TRUE(killed);
    for (const std::string& line : output_.lines) {
        if (line.rfind("Failed to copy file", 0) == 0 &&
            line.find("Stopping") != std::string::npos) {
            EXPECT_EQ(std::string::npos, line.find("(#0)")) << "the failure keeps its code";
        }
    }
    EXPECT_EQ("small", ReadAll(server_->SiteLocalPath("big.bin")));
    int partial = 0;
    for (const auto& entry : fs::directory_iterator(server_->SiteLocalPath())) {
        partial += entry.path().filename().string().rfind("qvr", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(1, partial);

    if (vsftpd != nullptr) {
        vsftpd->SetMaxRate(0);
    }
    ASSERT_TRUE(server_->Restart(&why)) << why;
    if (vsftpd != nullptr) {
        // The port of the web site definition still reaches it.
        EXPECT_EQ(port, server_->Port());
    }
    // The partial upload goes whatever the deletion choice.
    Publish(0);
    EXPECT_SAME_TREE(Source(), Server());
}

TEST_P(FtpServerPublishTest, TextFilesArriveWholeAndACopyCutShortIsSentAgain)
{
    std::string lf, crlf;
    for (int i = 0; i < 20000; ++i) {
        lf += "line " + std::to_string(i) + "\n";
        crlf += "line " + std::to_string(i) + "\r\n";
    }
    sandbox_.WriteFile("src/lf.html", lf, kOld);
    sandbox_.WriteFile("src/stored-with-crlf.html", lf, kOld);
    sandbox_.WriteFile("src/crlf.txt", crlf, kOld);
    sandbox_.WriteFile("src/crlf-cut-a-little.txt", crlf, kOld);
    // LF text already has a UNIX server's line ends and travels byte for byte; CR LF text is
    // converted where the server converts (pyftpdlib) and stored as sent where it does not.
    const std::string crlf_on_server = server_->Family() == "vsftpd" ? crlf : lf;
    const auto on_server = [&](const char* name) { return ReadAll(server_->SiteLocalPath(name)); };
    Publish();
    EXPECT_EQ(lf, on_server("lf.html"));
    EXPECT_EQ(crlf_on_server, on_server("crlf.txt"));

    // Uploads cut short, dated after the source as a broken upload leaves them, and a copy
    // that an earlier text upload stored with CR LF.
    const auto now = fs::file_time_type::clock::now();
    for (const char* name : {"lf.html", "crlf.txt"}) {
        fs::resize_file(server_->SiteLocalPath(name), 98'304);
        fs::last_write_time(server_->SiteLocalPath(name), now);
    }
    std::ofstream(server_->SiteLocalPath("stored-with-crlf.html"), std::ios::binary) << crlf;
    fs::last_write_time(server_->SiteLocalPath("stored-with-crlf.html"), now);
    // Cut by fewer bytes than the page has CR LF pairs: where the server stores text as sent,
    // still larger than the page with its line ends made LF.
    const std::string cut_a_little = server_->SiteLocalPath("crlf-cut-a-little.txt");
    fs::resize_file(cut_a_little, fs::file_size(cut_a_little) - 100);
    fs::last_write_time(cut_a_little, now);
    Publish();
    EXPECT_EQ(4, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ(crlf_on_server, on_server("crlf-cut-a-little.txt"));
    EXPECT_EQ(lf, on_server("lf.html"));
    EXPECT_EQ(lf, on_server("stored-with-crlf.html"));
    EXPECT_EQ(crlf_on_server, on_server("crlf.txt"));

    Publish();
    EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
}

TEST_P(FtpServerPublishTest, PipesAndDevicesInTheSourceAreSkippedNeverRead)
{
    sandbox_.WriteFile("src/index.html", "home\n", kOld);
    const std::string fifo = sandbox_.Path("src/x.html");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    fs::create_symlink("/dev/zero", sandbox_.Path("src/zero.bin"));
    // Were either read, the run would never end: far beyond what this run takes, the guard
    // stops it and gives the pipe a writer.
    std::atomic<bool> done{false};
    std::thread guard([&] {
        for (int i = 0; i < 600 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!done) {
            flags_.StopRequested = true;
            const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                close(fd);
            }
        }
    });
    Publish();
    done = true;
    guard.join();
    EXPECT_FALSE(flags_.StopRequested) << "the run did not end by itself";
    EXPECT_EQ(1, worker_.Status().FilesCopied);
    EXPECT_EQ(2, Complaints()) << ::testing::PrintToString(output_.lines);
    EXPECT_EQ(2, std::count_if(output_.lines.begin(), output_.lines.end(), [](const auto& line) {
                  return line.find(" is not a regular file ") != std::string::npos;
              }));
    EXPECT_SAME_TREE((Tree{{"index.html", "home\n"}}), Server());
}

TEST_P(FtpServerPublishTest, LinksOnTheServerAreRemovedNeverFollowed)
{
    GenerateSite();
    Publish();
    // Folders beside the site, as a host's "www" or "logs" would be.
    const std::string outside = server_->SiteLocalPath("../outside");
    for (const std::string folder : {"one", "two", "three", "four"}) {
        fs::create_directories(outside + "/" + folder + "/inner");
        std::ofstream(outside + "/" + folder + "/keep.txt") << "keep\n";
        std::ofstream(outside + "/" + folder + "/inner/keep.bin") << "keep\n";
    }
    const Tree before = TreeOf(outside);
    // Absolute and relative, with and without the trailing "/"; obsolete, or named like a
    // source folder.
    fs::create_directory_symlink(outside + "/one/", server_->SiteLocalPath("www"));
    fs::create_directory_symlink("../outside/two", server_->SiteLocalPath("logs"));
    fs::remove_all(server_->SiteLocalPath("area0"));
    fs::create_directory_symlink(outside + "/three", server_->SiteLocalPath("area0"));
    fs::remove_all(server_->SiteLocalPath("area1/part1"));
    fs::create_directory_symlink("../../outside/four/", server_->SiteLocalPath("area1/part1"));
    // A link in place of a changed file is never written through.
    fs::remove(server_->SiteLocalPath("Index.html"));
    fs::create_symlink("../outside/one/keep.txt", server_->SiteLocalPath("Index.html"));
    sandbox_.WriteFile("src/Index.html", "upper, changed\n", kOld + 86400);

    Publish(1);
    EXPECT_SAME_TREE(before, TreeOf(outside));
    for (const std::string name : {"www", "logs", "area0", "area1/part1", "Index.html"}) {
        EXPECT_FALSE(fs::is_symlink(server_->SiteLocalPath(name))) << name;
    }
    EXPECT_SAME_TREE(Source(), Server());
}

TEST_P(FtpServerPublishTest, AFolderTheServerHidesIsPublishedIntoOnEveryRun)
{
    // The treatment found by making the folder, or still unknown (as a site published by an
    // earlier version has it).
    for (const bool treatment_unknown : {false, true}) {
        SCOPED_TRACE(treatment_unknown ? "treatment unknown" : "treatment found");
        for (const auto& entry : fs::directory_iterator(server_->SiteLocalPath())) {
            fs::remove_all(entry.path());
        }
        fs::remove_all(sandbox_.Path("src"));
        dots_ = TDotFileState();
        turbo_ = false;
        sandbox_.WriteFile("src/index.html", "<p>index</p>\n", kOld);
        sandbox_.WriteFile("src/.well-known/acme.txt", "token\n", kOld);
        sandbox_.WriteFile("src/.well-known/sub/key.bin", "key", kOld);
        Publish();
        if (treatment_unknown) {
            dots_ = TDotFileState();
        }
        Publish();
        EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
        EXPECT_EQ(0, Complaints()) << ::testing::PrintToString(output_.lines);
        if (!treatment_unknown) {
            // The listing found the folder: it was not made again.
            EXPECT_EQ(0, worker_.Status().FoldersCreated);
        }
        sandbox_.WriteFile("src/.well-known/acme.txt", "token, changed\n", kOld + 86400);
        Publish(1);
        EXPECT_EQ(1, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
        EXPECT_SAME_TREE(Source(), Server());

        // Turbo lists the root, where a file was added, and goes into the folder unlisted.
        sandbox_.SetFolderTimes("src", kOld);
        turbo_ = true;
        site_.Status = StatusPublished;
        site_.LastPublished = FileTimeToLocalDateTime(
            platform::FileTime::FromValue((kOld + 500 + 11'644'473'600ULL) * 10'000'000ULL));
        sandbox_.WriteFile("src/new.html", "<p>new</p>\n");
        sandbox_.WriteFile("src/.well-known/acme.txt", "token, changed again\n");
        Publish(1);
        EXPECT_EQ(2, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
        EXPECT_SAME_TREE(Source(), Server());
    }
}

TEST_P(FtpServerPublishTest, AMissingDestinationFolderIsMadeWithoutAComplaint)
{
    sandbox_.WriteFile("src/index.html", "<p>index</p>\n", kOld);
    root_ = std::string(kRoot) + "\\new";
    Publish();
    EXPECT_EQ(0, Complaints()) << ::testing::PrintToString(output_.lines);
    EXPECT_SAME_TREE(Source(), TreeOf(server_->SiteLocalPath("new")));

    // A folder that cannot be made is still an error.
    root_ = std::string(kRoot) + "\\no\\new";
    Publish(0, false);
    EXPECT_LE(1, Complaints()) << ::testing::PrintToString(output_.lines);
}

TEST_P(FtpServerPublishTest, ALineBreakOrNulInASettingSendsNothing)
{
    auto* pyftpdlib = dynamic_cast<testing::PyftpdlibServer*>(server_.get());
    if (pyftpdlib == nullptr) {
        GTEST_SKIP() << "only pyftpdlib logs the commands it receives";
    }
    const std::string user = server_->User();
    const std::string password = server_->Password();
    const std::string host = "ftp:\\\\127.0.0.1";
    struct Case
    {
        std::string field;
        std::string address;
        std::string user;
        std::string password;
    };
    const Case cases[] = {
        {"user name", host + "\\site", user + "\r\nDELE site/x", password},
        {"password", host + "\\site", user, password + "\nDELE site/x"},
        {"password", host + "\\site", user, std::string("pass\0word", 9)},
        {"host name", "ftp:\\\\127.0.0.1\r\nDELE x\\site", user, password},
        {"folder", host + "\\site\r\nDELE x", user, password},
    };
    for (const Case& c : cases) {
        output_.lines.clear();
        const std::unique_ptr<FtpStorageDevice> ftp = MakeDevice();
        EXPECT_FALSE(ftp->Open(c.address, c.user, c.password, "")) << c.field;
        EXPECT_EQ(87u, ftp->GetLastError()) << c.field;
        const std::string text = ::testing::PrintToString(output_.lines);
        EXPECT_NE(std::string::npos, text.find("The " + c.field + " holds")) << text;
        EXPECT_EQ(std::string::npos, text.find(c.password.substr(0, 6))) << text;
        // The raw probe refuses them too (it has no folder to send).
        if (c.field != "folder") {
            EXPECT_EQ(0u, ftp->ProbeServer().find("The server was not probed")) << c.field;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(std::vector<std::string>{}, pyftpdlib->Commands());
}

// A server that stores a text upload with every CR removed, a lone one too.
using CrStrippingFtpServerPublishTest = FtpServerPublishTest;

TEST_P(CrStrippingFtpServerPublishTest, APageWithALoneCrIsSentOnce)
{
    sandbox_.WriteFile("src/page.html", "one\r\ntwo\rthree\nfour\r\n", kOld);
    sandbox_.WriteFile("src/plain.html", "a\nb\n", kOld);
    Publish();
    EXPECT_EQ(2, worker_.Status().FilesCopied);
    EXPECT_EQ("one\ntwothree\nfour\n", ReadAll(server_->SiteLocalPath("page.html")));
    Publish();
    EXPECT_EQ(0, worker_.Status().FilesCopied) << ::testing::PrintToString(output_.lines);
}

// The headless runner takes the destination as the window stores it, reads it as the window's
// run does, and publishes into that folder alone: the login folder's own file survives deletion.
TEST(FtpServerRunnerTest, AnAddressAsTheWindowStoresItPublishesIntoItsFolderOnly)
{
    const struct
    {
        const char* destination;  // %h the host, %p the port
        bool port_option;
        bool client_library;
    } kCases[] = {
        {"ftp:%h:%p/site", false, false},
        {"ftp:%h/site", true, false},
        {"ftp:%h:%p/site", false, true},
        {"ftp://%h/site/", true, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.destination);
        testing::PyftpdlibServer server;
        std::string why;
        if (!server.Start(&why)) {
            GTEST_SKIP() << why;
        }
        testing::TestSandbox files;
        files.WriteFile("src/a/index.html", "a");
        files.WriteFile("src/b/index.html", "b");
        server.Sandbox().WriteFile("root/notes.txt", "the login folder's own");
        server.Sandbox().WriteFile("root/site/old.txt", "obsolete");
        std::string destination = c.destination;
        destination.replace(destination.find("%h"), 2, server.Host());
        if (const size_t port = destination.find("%p"); port != std::string::npos) {
            destination.replace(port, 2, std::to_string(server.Port()));
        }
        std::vector<std::string> args = {
            VANTREL_PUBLISH_RUNNER, files.Path("src"), destination,      "--delete", "1", "--user",
            server.User(),          "--password",      server.Password()};
        if (c.port_option) {
            args.insert(args.end(), {"--port", std::to_string(server.Port())});
        }
        if (c.client_library) {
            args.push_back("--client-library");
        }
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const std::string printed = files.Path("printed.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, printed.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        ASSERT_EQ(0, posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadAll(printed);
        EXPECT_EQ("a", ReadAll(server.SiteLocalPath("a/index.html")));
        EXPECT_EQ("b", ReadAll(server.SiteLocalPath("b/index.html")));
        EXPECT_FALSE(fs::exists(server.SiteLocalPath("old.txt")));
        EXPECT_EQ("the login folder's own", ReadAll(server.Sandbox().Path("root/notes.txt")));
        EXPECT_FALSE(fs::exists(server.Sandbox().Path("root/a")));
        EXPECT_FALSE(fs::exists(server.Sandbox().Path("root/index.html")));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers,
                         FtpServerPublishTest,
                         ::testing::Values(PublishTarget{"pyftpdlib", false},
                                           PublishTarget{"vsftpd", false},
                                           PublishTarget{"pyftpdlib_hiding", false},
                                           PublishTarget{"pyftpdlib", true},
                                           PublishTarget{"vsftpd", true},
                                           PublishTarget{"pyftpdlib_hiding", true}),
                         [](const auto& info) {
                             return info.param.server +
                                    (info.param.client_library ? "_client_library" : "");
                         });

INSTANTIATE_TEST_SUITE_P(CrStripping,
                         CrStrippingFtpServerPublishTest,
                         ::testing::Values(PublishTarget{"pyftpdlib_stripping_cr", false},
                                           PublishTarget{"pyftpdlib_stripping_cr", true}),
                         [](const auto& info) {
                             return info.param.server +
                                    (info.param.client_library ? "_client_library" : "");
                         });

// A server whose MDTM stalls, refuses it, or finds no file, asked about files saved in the
// minute their copies are listed in, with the same size: the run ends by itself and publishes
// them, and says once when it stops asking.
TEST(ExactDateTest, AQuestionThatGetsNoAnswerPublishesTheFilesAndTheRunGoesOn)
{
    while (std::fmod(NowDateTime() * 86400, 60.0) > 55) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    platform::SystemTime now;
    platform::DecodeDateTime(NowDateTime(), &now);
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char listed[100];
    std::snprintf(listed, sizeof(listed), "-rw-r--r-- 1 u g 5 %s %2d %.2d:%.2d ",
                  kMonths[now.month - 1], now.day, now.hour, now.minute);
    const struct
    {
        const char* mdtm;  // nullptr: no reply
        // MDTM commands, and the lines that say the run stops asking. A missing file says
        // nothing of the others: each file is asked about, and the offset after an upload.
        int asked;
        int told;
    } kCases[] = {{nullptr, 1, 1}, {"500 Unknown command.", 1, 1}, {"550 No such file.", 3, 0}};
    for (const auto& c : kCases) {
        for (const bool client_library : {false, true}) {
            SCOPED_TRACE(std::string(c.mdtm != nullptr ? c.mdtm : "no reply") +
                         (client_library ? " client library" : ""));
            testing::TestSandbox sandbox;
            sandbox.WriteFile("src/a.bin", "12345");
            sandbox.WriteFile("src/b.bin", "54321");
            testing::ScriptedFtpServer server;
            server.SetListing({listed + std::string("a.bin"), listed + std::string("b.bin")});
            if (c.mdtm == nullptr) {
                server.SetFault("MDTM", testing::ScriptedFtpServer::Fault::kHang);
            } else {
                server.SetReply("MDTM", c.mdtm);
            }
            testing::CollectingOutput output;
            TDateTime drift = 0;
            const FtpDeviceSettings settings{.port = server.Port(),
                                             .general_timeout = 1,
                                             .connection_timeout = 5,
                                             .time_drift = &drift};
            std::unique_ptr<FtpStorageDevice> ftp =
                client_library ? std::make_unique<FtpIndyStorageDevice>(&output, settings)
                               : std::make_unique<FtpStorageDevice>(&output, settings);
            ASSERT_TRUE(ftp->Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << output.All();
            std::unique_ptr<QelStorageDevice> destination = std::move(ftp);
            std::unique_ptr<QelStorageDevice> source = std::make_unique<DiskStorageDevice>(&output);
            QelPublication site;
            QelSyncFlags flags;
            FillSyncFlags(site, false, &flags);
            QelSyncBackupWorker worker(&output);
            worker.Synchronise(sandbox.SystemPath("src"), source, "ftp:\\\\127.0.0.1\\base",
                               destination, flags);
            EXPECT_FALSE(flags.Failed.load()) << output.All();
            EXPECT_EQ(2, worker.Status().FilesCopied) << output.All();
            const auto count = [](const auto& items, const auto& matches) {
                return std::count_if(items.begin(), items.end(), matches);
            };
            const auto asked = count(server.Commands(), [](const std::string& command) {
                return command.rfind("MDTM", 0) == 0;
            });
            if (c.told == 0) {
                EXPECT_LE(c.asked, asked);
            } else {
                EXPECT_EQ(c.asked, asked);
            }
            EXPECT_EQ(c.told, count(output.Messages(),
                                    [](const auto& message) {
                                        return message.first == kMsgInformation &&
                                               message.second.find("within their listed minute") !=
                                                   std::string::npos;
                                    }))
                << output.All();
            EXPECT_EQ(std::string::npos, output.All().find("completed successfully"));
            server.Release();
        }
    }
}

// Two files saved in the minute their copies are listed in, with the same size, where MDTM
// finds no file: a copy dated by the machine listing as written after its source stays, one it
// does not date is published. A listing cut short dates no file by a line cut off in its name.
TEST(ExactDateTest, AMachineListingDatesOnlyTheFilesItListsWhole)
{
    while (std::fmod(NowDateTime() * 86400, 60.0) > 55) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const TDateTime now = NowDateTime();
    platform::SystemTime local;
    platform::DecodeDateTime(now, &local);
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char listed[100];
    std::snprintf(listed, sizeof(listed), "-rw-r--r-- 1 u g 5 %s %2d %.2d:%.2d ",
                  kMonths[local.month - 1], local.day, local.hour, local.minute);
    // Written at the end of the listed minute, after both sources.
    const double utc = now - static_cast<double>(platform::LocalOffsetSecondsNow()) / 86400;
    const std::string modify = platform::FormatDateTime(
        "yyyymmddhhnnss", utc + (59.2 - std::fmod(utc * 86400, 60.0)) / 86400);
    const auto listing = [&](const std::string& b) {
        return "type=cdir;modify=" + modify + "; .\r\ntype=file;size=5;modify=" + modify +
               "; a.bin\r\ntype=file;size=5;modify=" + modify + "; " + b + "\r\n";
    };
    using Fault = testing::ScriptedFtpServer::Fault;
    const std::string features = "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n211 End";
    const struct
    {
        const char* name;
        bool offered;
        // The name of b.bin's line; null: the server does not know MLSD.
        const char* listed_b;
        testing::ScriptedFtpServer::Fault fault;
        int copied;
        // MDTM: each file not dated by the listing, and one for the clock after an upload.
        int mdtm;
        int mlsd;
    } kCases[] = {
        {"not offered", false, "b.bin", Fault::kNone, 2, 3, 0},
        {"listed", true, "b.bin", Fault::kNone, 0, 0, 1},
        // Cut where the four bytes "XY" and the line end are lost.
        {"cut short", true, "b.binXY", Fault::kCutData, 1, 2, 1},
        {"refused", true, nullptr, Fault::kNone, 2, 3, 1},
        // The questions go on over a new connection.
        {"session ended", true, "b.bin", Fault::kReply421, 2, 3, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        testing::TestSandbox sandbox;
        sandbox.WriteFile("src/a.bin", "12345");
        sandbox.WriteFile("src/b.bin", "54321");
        testing::ScriptedFtpServer server;
        server.SetListing({listed + std::string("a.bin"), listed + std::string("b.bin")});
        server.SetReply("MDTM", "550 No such file.");
        if (c.offered) {
            server.SetReply("FEAT", features);
        }
        if (c.listed_b != nullptr) {
            server.SetMachineListing(listing(c.listed_b));
        }
        server.SetFault("MLSD", c.fault);
        testing::CollectingOutput output;
        TDateTime drift = 0;
        const FtpDeviceSettings settings{.port = server.Port(),
                                         .general_timeout = 5,
                                         .connection_timeout = 5,
                                         .time_drift = &drift};
        auto ftp = std::make_unique<FtpStorageDevice>(&output, settings);
        ASSERT_TRUE(ftp->Open("ftp:\\\\127.0.0.1\\base", "u", "p", "")) << output.All();
        std::unique_ptr<QelStorageDevice> destination = std::move(ftp);
        std::unique_ptr<QelStorageDevice> source = std::make_unique<DiskStorageDevice>(&output);
        QelPublication site;
        QelSyncFlags flags;
        FillSyncFlags(site, false, &flags);
        QelSyncBackupWorker worker(&output);
        worker.Synchronise(sandbox.SystemPath("src"), source, "ftp:\\\\127.0.0.1\\base",
                           destination, flags);
        EXPECT_FALSE(flags.Failed.load()) << output.All();
        EXPECT_EQ(c.copied, worker.Status().FilesCopied) << output.All();
        const std::vector<std::string> commands = server.Commands();
        const auto sent = [&](const char* verb) {
            return std::count_if(commands.begin(), commands.end(), [&](const std::string& command) {
                return command.rfind(verb, 0) == 0;
            });
        };
        EXPECT_EQ(c.mdtm, sent("MDTM"));
        EXPECT_EQ(c.mlsd, sent("MLSD"));
        if (c.copied == 1) {
            EXPECT_EQ(1, sent("STOR b.bin")) << "the file the listing did not date";
        }
        server.Release();
    }
}

}  // namespace
}  // namespace vantrel
