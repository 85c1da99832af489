#include "publishing/PublicationStatusHoundU.h"

#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/QelRegistryU.h"
#include "platform/Threads.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/Concurrency.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"

namespace vantrel {
namespace {

using testing::kPatience;

// Far enough from now that no time zone turns an old file into a new one.
const std::time_t kOld = std::time(nullptr) - 3 * 86400;
const std::time_t kNew = std::time(nullptr) + 3 * 86400;

// The main window as the check sees it. Records, from the checking marks the grid would show,
// the order in which the web sites' results came in.
class RecordingOwner : public IStatusHoundOwner
{
public:
    explicit RecordingOwner(QelPublicationList& list)
        : list_(list)
    {}

    void RefreshPublicationsGrid() override
    {
        EXPECT_TRUE(platform::IsMainThread());
        EXPECT_EQ(0, finished);
        std::set<std::string> marked;
        for (int32_t i = 1; i <= list_.Count(); ++i) {
            if (list_.Items(i)->Checking) {
                marked.insert(list_.Items(i)->GetName());
            }
        }
        if (refreshes++ == 0) {
            first_marked = marked;
        }
        for (const std::string& name : marked_) {
            if (marked.count(name) == 0 && list_.Exists(name)) {
                results.push_back(name);
            }
        }
        marked_ = marked;
    }
    void UpdateConfigEnabled(int32_t row) override
    {
        EXPECT_TRUE(platform::IsMainThread());
        EXPECT_EQ(0, row);
        ++config_updates;
    }
    void StatusHoundFinished() override
    {
        EXPECT_TRUE(platform::IsMainThread());
        ++finished;
    }

    int refreshes = 0;
    int config_updates = 0;
    int finished = 0;
    std::set<std::string> first_marked;
    std::vector<std::string> results;

private:
    QelPublicationList& list_;
    std::set<std::string> marked_;
};

// Runs the check's synchronised calls one at a time, so that a test can act between two of them
// while the check's thread waits.
class SynchronizeStepper
{
public:
    SynchronizeStepper()
    {
        platform::InstallSynchronizeDispatcher([this] {
            {
                std::lock_guard<std::mutex> lock(lock_);
                ++queued_;
            }
            queued_cv_.notify_all();
        });
    }
    ~SynchronizeStepper()
    {
        platform::InstallSynchronizeDispatcher({});
        // A thread may still be calling the dispatcher it fetched before it was removed.
        EXPECT_TRUE(platform::ServeSynchronizeUntil(
            [] { return TPublicationStatusHound::Running() == 0; }, kPatience));
    }

    // Waits until the next call is queued, leaving it to wait.
    bool WaitForCall()
    {
        std::unique_lock<std::mutex> lock(lock_);
        return queued_cv_.wait_for(lock, kPatience, [this] { return queued_ > run_; });
    }
    bool Step()
    {
        if (!WaitForCall()) {
            return false;
        }
        ++run_;
        return platform::CheckSynchronize();
    }

private:
    std::mutex lock_;
    std::condition_variable queued_cv_;
    int queued_ = 0;  // Guarded by lock_.
    int run_ = 0;
};

class TPublicationStatusHoundTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_TRUE(platform::ServeSynchronizeUntil(
            [] { return TPublicationStatusHound::Running() == 0; }, kPatience));
    }

    // A web site whose source is the sandbox folder of its name, saved as never published and
    // then given these values in memory.
    QelPublication& AddSite(const std::string& name,
                            TPublicationStatus status,
                            int32_t web_files,
                            std::vector<std::string> ignore_files = {})
    {
        EXPECT_TRUE(
            list_.AddNew(name, sources_.SystemPath(name), "ftp:host", "", "", "", 0, false, false));
        QelPublication& p = *list_.FindByName(name);
        p.Status = status;
        p.WebFileCount = web_files;
        p.LastPublished = NowDateTime();
        p.IgnoreFiles = std::move(ignore_files);
        return p;
    }

    void RunCheck()
    {
        ASSERT_TRUE(TPublicationStatusHound::Create(owner_, list_));
        ASSERT_TRUE(platform::ServeSynchronizeUntil(
            [this] { return owner_.finished > 0 && TPublicationStatusHound::Running() == 0; },
            kPatience));
        EXPECT_EQ(1, owner_.finished);
    }

    int32_t Stored(const std::string& name, const char* value_name)
    {
        QelPublication naming;
        naming.SetName(name);
        return store_.ReadInteger(naming.KeyName(), value_name, -1);
    }

    testing::ScopedConfigHome home_;
    testing::ScriptedMessageBoxes boxes_;
    testing::TestSandbox sources_;
    QelPublicationList list_;
    TQelRegistry store_{platform::RegistryRoot::CurrentUser, "\\SOFTWARE\\Velko\\Vantrel"};
    RecordingOwner owner_{list_};
};

TEST_F(TPublicationStatusHoundTest, ChecksEveryWebSiteFewestPublishedFilesFirst)
{
    AddSite("fifty", StatusPublished, 50);
    AddSite("ten", StatusPublished, 10);
    AddSite("also ten", StatusNeverPublished, 10).Disabled = true;
    RunCheck();
    EXPECT_EQ((std::set<std::string>{"fifty", "ten", "also ten"}), owner_.first_marked);
    EXPECT_EQ((std::vector<std::string>{"ten", "also ten", "fifty"}), owner_.results);
    EXPECT_EQ(3, owner_.config_updates);
}

TEST_F(TPublicationStatusHoundTest, CountsTheSourceAndMarksOnlyOutOfDatePublishedSites)
{
    struct File
    {
        const char* path;
        std::time_t mtime;
    };
    struct Case
    {
        const char* site;
        TPublicationStatus status;
        int32_t web_files;
        std::vector<File> files;
        TPublicationStatus expected_status;
        int32_t files_counted, folders_counted, pages_counted;
    };
    const std::vector<Case> kCases = {
        {"unchanged",
         StatusPublished,
         2,
         {{"index.htm", kOld}, {"sub/a.gif", kOld}},
         StatusPublished,
         2,
         1,
         1},
        {"lost a file",
         StatusPublished,
         3,
         {{"a.htm", kOld}, {"b.gif", kOld}},
         StatusNeedsPublishing,
         2,
         0,
         1},
        {"newer file",
         StatusPublished,
         1,
         {{"deep/er/new.gif", kNew}},
         StatusNeedsPublishing,
         1,
         2,
         0},
        {"failed", StatusFailed, 5, {{"x.htm", kNew}}, StatusFailed, 1, 0, 1},
        {"never published",
         StatusNeverPublished,
         0,
         {{"x.htm", kNew}},
         StatusNeverPublished,
         1,
         0,
         1},
        // Patterns in the form the dialog stores them ("*\name") match the path below the
        // source as a run matches it, letter case counting; text-file names ignore case; a
        // folder named like a file pattern is still counted and entered.
        {"filtered",
         StatusPublished,
         3,
         {{"INDEX.HTM", kOld},
          {"thumbs.db", kNew},
          {"Thumbs.db", kOld},
          {"old.bak", kNew},
          {"private/p.htm", kNew},
          {"cgi/run.pl", kNew},
          {"store.bak/item.txt", kOld}},
         StatusPublished,
         3,
         1,
         2},
        {"missing source", StatusPublished, 0, {}, StatusPublished, 0, 0, 0},
        // One of two published pages deleted beside an excluded folder full of files.
        {"lost a page beside exclusions",
         StatusPublished,
         2,
         {{"a.htm", kOld}, {"private/1.htm", kOld}, {"private/2.htm", kOld}},
         StatusNeedsPublishing,
         1,
         0,
         1},
    };
    for (const Case& c : kCases) {
        QelPublication& p = AddSite(c.site, c.status, c.web_files, {"*\\thumbs.db"});
        for (const File& f : c.files) {
            sources_.WriteFile(std::string(c.site) + "/" + f.path, "x", f.mtime);
        }
        p.ExcludeFiles = {"*.bak"};
        p.ExcludeFolders = {"*\\priv*"};
        p.IgnoreFolders = {"*\\cgi"};
    }
    RunCheck();
    for (const Case& c : kCases) {
        const QelPublication& p = *list_.FindByName(c.site);
        EXPECT_EQ(c.expected_status, p.Status) << c.site;
        EXPECT_EQ(c.files_counted, p.SrcFileCount) << c.site;
        EXPECT_EQ(c.folders_counted, p.SrcDirsCount) << c.site;
        EXPECT_EQ(c.pages_counted, p.SrcPageCount) << c.site;
        EXPECT_FALSE(p.Checking) << c.site;
        EXPECT_EQ(c.files_counted > 0, p.SrcMostRecent > 0) << c.site;
        // Only a change of status is saved, and then with the counts.
        const bool saved = c.expected_status != c.status;
        EXPECT_EQ(saved ? c.expected_status : 0, Stored(c.site, "Status")) << c.site;
        EXPECT_EQ(saved ? c.files_counted : 0, Stored(c.site, "SrcFileCount")) << c.site;
    }
}

TEST_F(TPublicationStatusHoundTest, FolderLinksBackUpTheTreeAreNeitherCountedNorFollowed)
{
    AddSite("looped", StatusPublished, 3);
    sources_.WriteFile("looped/index.htm", "x", kOld);
    sources_.WriteFile("looped/sub/page.htm", "x", kOld);
    sources_.WriteFile("elsewhere/e.txt", "x", kOld);
    namespace fs = std::filesystem;
    fs::create_directory_symlink(sources_.Path("looped"), sources_.Path("looped/sub/up"));
    fs::create_directory_symlink(".", sources_.Path("looped/sub/self"));
    fs::create_directory_symlink(sources_.Path("elsewhere"), sources_.Path("looped/alias"));
    RunCheck();
    const QelPublication& p = *list_.FindByName("looped");
    EXPECT_EQ(3, p.SrcFileCount);
    EXPECT_EQ(2, p.SrcDirsCount);
    EXPECT_EQ(StatusPublished, p.Status);
}

TEST_F(TPublicationStatusHoundTest, PipesAndDevicesAreNeitherCountedNorDated)
{
    AddSite("special", StatusPublished, 1);
    sources_.WriteFile("special/index.htm", "x", kOld);
    ASSERT_EQ(0, mkfifo(sources_.Path("special/pipe.htm").c_str(), 0644));
    std::filesystem::create_symlink("/dev/zero", sources_.Path("special/zero.htm"));
    RunCheck();
    const QelPublication& p = *list_.FindByName("special");
    EXPECT_EQ(1, p.SrcFileCount);
    EXPECT_EQ(1, p.SrcPageCount);
    EXPECT_EQ(StatusPublished, p.Status);
}

class TPublicationStatusHoundStepTest : public TPublicationStatusHoundTest
{
protected:
    // Starts a check of the sites and runs its calls up to the first scan's result, which waits
    // while `meanwhile` acts; then serves the check's calls until its thread has gone.
    void ActDuringFirstScan(const std::function<void()>& meanwhile)
    {
        SynchronizeStepper stepper;
        ASSERT_TRUE(TPublicationStatusHound::Create(owner_, list_));
        while (owner_.refreshes == 0) {
            ASSERT_TRUE(stepper.Step());
        }
        ASSERT_TRUE(stepper.Step());  // picks the first web site
        ASSERT_TRUE(stepper.WaitForCall());
        meanwhile();
    }
};

TEST_F(TPublicationStatusHoundStepTest, AWebSiteDeletedDuringItsScanGetsNothing)
{
    AddSite("deleted", StatusPublished, 0);
    sources_.WriteFile("deleted/new.htm", "x", kNew);
    AddSite("kept", StatusPublished, 9);
    ActDuringFirstScan([this] { ASSERT_TRUE(list_.Delete("deleted")); });
    EXPECT_EQ(1, owner_.finished);
    QelPublication naming;
    naming.SetName("deleted");
    EXPECT_FALSE(store_.SectionExists(naming.KeyName()));
    EXPECT_EQ((std::vector<std::string>{"kept"}), owner_.results);
    EXPECT_EQ(StatusNeedsPublishing, Stored("kept", "Status"));
}

TEST_F(TPublicationStatusHoundStepTest, AWebSiteEditedDuringItsScanIsScannedAgain)
{
    QelPublication& p = AddSite("edited", StatusPublished, 1);
    sources_.WriteFile("edited/a.htm", "x", kOld);
    sources_.WriteFile("other/b.htm", "x", kOld);
    sources_.WriteFile("other/c.htm", "x", kOld);
    ActDuringFirstScan([&] { p.Source = sources_.SystemPath("other"); });
    EXPECT_EQ(1, owner_.finished);
    EXPECT_EQ(2, p.SrcFileCount);
    EXPECT_FALSE(p.Checking);
}

TEST_F(TPublicationStatusHoundStepTest, AStoppedCheckCallsItsOwnerNoMoreAndEnds)
{
    AddSite("one", StatusPublished, 0);
    AddSite("two", StatusPublished, 1);
    ActDuringFirstScan([this] { TPublicationStatusHound::Stop(owner_); });
    EXPECT_EQ(0, TPublicationStatusHound::Running());
    EXPECT_EQ(1, owner_.refreshes);
    EXPECT_EQ(0, owner_.config_updates);
    EXPECT_EQ(0, owner_.finished);
}

}  // namespace
}  // namespace vantrel
