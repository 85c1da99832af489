#include "app/OstrelU.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "app/ActivityPanel.h"
#include "app/SingleInstance.h"
#include "app/WindowPlacement.h"
#include "dialogs/StringGridUtils.h"
#include "dialogs/VStringGrid.h"
#include "foundation/ApiWrappers.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Threads.h"
#include "platform/Ui.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublicationStatusHoundU.h"
#include "publishing/PublisherThreadU.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

// A web site definition in the settings store, as the wizard would add it.
void AddSite(const std::string& name,
             const std::string& source,
             const std::string& server,
             const std::function<void(QelPublication&)>& edit = nullptr)
{
    QelPublicationList list;
    QVERIFY(list.AddNew(name, source, server, "", "", "", 0, false, false));
    if (edit) {
        QelPublication* d = list.FindByName(name);
        edit(*d);
        QVERIFY(list.Update(name, *d));
    }
}

// The stored definition's status, read back as the next start would; -1 when none is stored.
int StoredStatus(const std::string& name)
{
    QelPublicationList list;
    const QelPublication* d = list.FindByName(name);
    return d == nullptr ? -1 : d->Status;
}

QAction* Action(TOstrel& w, const char* name)
{
    return w.findChild<QAction*>(name);
}
VStringGrid* Grid(TOstrel& w)
{
    return w.findChild<VStringGrid*>("PublicationsGrid");
}
QStringList LogLines(TOstrel& w)
{
    return w.findChild<QPlainTextEdit*>("memoLog")->toPlainText().split('\n');
}

bool WaitIdle(TOstrel& w, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (!w.Publishing() && PublisherThread::Running() == 0 &&
            Action(w, "tbnPublish")->isEnabled()) {
            return true;
        }
        QTest::qWait(10);
    }
    return false;
}

std::vector<testing::RecordedMessageBox> BoxesCaptioned(const testing::FakeMessageBoxes& boxes,
                                                        const std::string& caption)
{
    std::vector<testing::RecordedMessageBox> found;
    for (const auto& box : boxes.Shown()) {
        if (box.caption == caption) {
            found.push_back(box);
        }
    }
    return found;
}

// A main window that presses Stop (or closes) when the run's first log text arrives, while the
// run is surely still going.
class StoppingWindow : public TOstrel
{
public:
    enum class Action
    {
        kStop,
        kClose
    };
    explicit StoppingWindow(Action action)
        : action_(action)
    {}
    void HandleQueueMessage(TPublisherMessageKind kind, TPublisherMessageQueue& queue) override
    {
        TOstrel::HandleQueueMessage(kind, queue);
        if (kind == kQueueLogText && !done_) {
            done_ = true;
            if (action_ == Action::kStop) {
                tbnStopClick();
            } else {
                QTimer::singleShot(0, this, [this] { close(); });
            }
        }
    }

private:
    const Action action_;
    bool done_ = false;
};

// A main window that presses Stop at one moment of a Publish All: once the first run has ended
// (before the next starts), or as the web site "B" starts to connect.
class PublishAllStopper : public TOstrel
{
public:
    enum class Moment
    {
        kBetweenRuns,
        kWhileConnecting
    };
    explicit PublishAllStopper(Moment moment)
        : moment_(moment)
    {}
    // Whether Stop was there to press at that moment.
    bool stop_was_enabled = false;

protected:
    void RunFinished(QelPublication& d, const QelSyncStatus& st, RunOutcome outcome) override
    {
        TOstrel::RunFinished(d, st, outcome);
        if (moment_ == Moment::kBetweenRuns) {
            PressStop();
        }
    }
    void Connecting(QelPublication& d) override
    {
        TOstrel::Connecting(d);
        if (moment_ == Moment::kWhileConnecting && d.GetName() == "B") {
            PressStop();
        }
    }

private:
    void PressStop()
    {
        if (!pressed_) {
            pressed_ = true;
            stop_was_enabled = Action(*this, "tbnStop")->isEnabled();
            tbnStopClick();
        }
    }
    const Moment moment_;
    bool pressed_ = false;
};

std::string ErrorLogText()
{
    std::ifstream file(platform::ToPosixPath(GetTempFolder() + "Vantrel.Error.log"),
                       std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

class TOstrelTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        home_ = std::make_unique<testing::ScopedConfigHome>();
        files_ = std::make_unique<testing::TestSandbox>();
    }
    void cleanup()
    {
        QTRY_COMPARE_WITH_TIMEOUT(TPublicationStatusHound::Running(), 0, 20000);
        files_.reset();
        home_.reset();
    }

    void FirstLogLineNamesTheVersion()
    {
        TOstrel w;
        QVERIFY(LogLines(w).first().startsWith("Vantrel v"));
        QVERIFY(LogLines(w).first().endsWith(" started."));
        QVERIFY(LogLines(w).first().contains("(Build "));
    }

    void EmptyListAndAWizardThatAddsNothingEndTheProgram()
    {
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        bool wizard_seen = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                wizard_seen = modal->objectName() == "PublisherWizard";
                static_cast<QDialog*>(modal)->reject();
            }
        });
        closer.start(20);
        // A timer of the test's own: a left-over single shot would end the event loops of a
        // later test.
        QTimer give_up;
        give_up.setSingleShot(true);
        connect(&give_up, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        give_up.start(20000);
        w.show();
        QCOMPARE(QApplication::exec(), 0);
        // Closing the last window also posted a quit of its own; delivered in a later test it
        // would end every event loop of that test, its dialogs' too.
        QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
        QVERIFY(wizard_seen);
        QVERIFY(!w.isVisible());
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QCOMPARE(boxes.Shown()[0].caption, std::string("You need to create a web site definition"));
        QCOMPARE(boxes.Shown()[0].type, 64u);
    }

    void SettingsThatCannotBeReadAreToldAtStartWithoutTheWizard_data()
    {
        QTest::addColumn<bool>("damaged");  // else locked by another program
        QTest::addColumn<bool>("retry");    // free the file, then Retry; else Cancel
        QTest::newRow("damaged, Cancel") << true << false;
        QTest::newRow("locked, Cancel") << false << false;
        QTest::newRow("locked, freed, Retry") << false << true;
    }
    void SettingsThatCannotBeReadAreToldAtStartWithoutTheWizard()
    {
        QFETCH(bool, damaged);
        QFETCH(bool, retry);
        AddSite("Site", "/src", "/dst");
        platform::CloseRegistryDatabase();
        const std::string db = home_->DatabasePath();
        if (damaged) {
            home_->Sandbox().WriteFile("config/Velko/registry.sqlite", std::string(4096, '\x13'));
        }
        const std::string before = home_->Sandbox().ReadFile("config/Velko/registry.sqlite");
        const auto wait = platform::SetRegistryLockWait(std::chrono::milliseconds(300));
        std::optional<testing::HeldDatabaseLock> lock;
        if (!damaged) {
            lock.emplace(db);
        }
        std::vector<std::pair<std::string, std::string>> shown;
        const auto previous = platform::SetMessageBoxHandler(
            [&](const std::string& text, const std::string& caption, uint32_t type) {
                shown.emplace_back(caption, text);
                if (caption == "Settings cannot be read" && retry && shown.size() == 1) {
                    lock.reset();
                    return platform::kIdRetry;
                }
                return platform::DefaultMessageBoxButton(type);
            });
        int ended = -1;
        {
            TOstrel w;
            QTimer give_up;
            give_up.setSingleShot(true);
            connect(&give_up, &QTimer::timeout, [] { QCoreApplication::exit(99); });
            give_up.start(20000);
            w.show();
            if (retry) {
                QTRY_COMPARE(w.Publications().Count(), 1);
                QTest::qWait(50);
                QVERIFY(w.isVisible());
            } else {
                ended = QApplication::exec();
                QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
                QVERIFY(!w.isVisible());
            }
        }
        platform::SetMessageBoxHandler(previous);
        platform::SetRegistryLockWait(wait);
        // Never the first-start box and its wizard.
        QCOMPARE(shown.size(), size_t(1));
        QCOMPARE(shown[0].first, std::string("Settings cannot be read"));
        const std::string& text = shown[0].second;
        QVERIFY2(text.find("The settings file " + db +
                           (damaged ? " is not a settings database"
                                    : " is locked by another program")) == 0,
                 text.c_str());
        QVERIFY(text.find(damaged ? "Move it aside" : "Close that program") != std::string::npos);
        if (!retry) {
            QCOMPARE(ended, 1);
            lock.reset();
            platform::CloseRegistryDatabase();
            QCOMPARE(home_->Sandbox().ReadFile("config/Velko/registry.sqlite"), before);
        }
    }

    void AFailingStoreDuringPublishAllIsToldOnce()
    {
        files_->WriteFile("src/a.txt", "a");
        for (const char* name : {"A", "B"}) {
            AddSite(name, files_->SystemPath("src"), files_->SystemPath(std::string("dst") + name));
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        home_->FailWritesOf("Status");
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        // Four stores failed: the start and the end of two runs.
        const auto told = BoxesCaptioned(boxes, "Settings not saved");
        QCOMPARE(told.size(), size_t(1));
        QVERIFY2(told[0].text.find("The settings of the web site \"A\" could not be saved. The "
                                   "settings file " +
                                   home_->DatabasePath()) == 0,
                 told[0].text.c_str());
        QCOMPARE(Grid(w)->Cell(1, 2), QString("Published"));
        // A store that works ends the failures; the next one is told again.
        home_->AcceptEveryWrite();
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        home_->FailWritesOf("Status");
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(BoxesCaptioned(boxes, "Settings not saved").size(), size_t(2));
    }

    void SecondInstanceIsRefusedAndAsksTheFirstToRaise()
    {
        const QString name = TSingleInstance::DefaultName() + "-test";
        TSingleInstance first(name);
        QVERIFY(first.Claim());
        QSignalSpy raised(&first, &TSingleInstance::RaiseRequested);
        TSingleInstance second(name);
        QVERIFY(!second.Claim());
        QTRY_COMPARE(raised.count(), 1);
    }

    void AStaleSocketIsTakenOver()
    {
        const QString name = TSingleInstance::DefaultName() + "-stale";
        // What an instance that died leaves: the socket's file with nobody listening.
        QFile stale(name);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        TSingleInstance instance(name);
        QVERIFY(instance.Claim());
        TSingleInstance second(name);
        QVERIFY(!second.Claim());
    }

    void PublishToAFolderEndToEnd()
    {
        files_->WriteFile("src/index.html", "<html>home</html>");
        files_->MakeFolder("dst");
        AddSite("Home", files_->SystemPath("src"), files_->SystemPath("dst"));
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().CompletedMessageGrabsAttention = false;
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));

        QCOMPARE(files_->ReadFile("dst/index.html"), std::string("<html>home</html>"));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Published"));
        QVERIFY(Grid(w)->Cell(2, 1) != "Never");
        const QStringList log = LogLines(w);
        QVERIFY(log.contains("Publishing completed successfully."));
        const int summary = log.indexOf("Summary:-");
        QVERIFY(summary > 0);
        QVERIFY(log[summary + 3].endsWith(" file copied"));
        QVERIFY(log[summary + 3].startsWith(" "));  // padded to six digits' width
        QVERIFY(log[summary + 5].endsWith(" files deleted"));
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QCOMPARE(done[0].type, 64u);
        QVERIFY(done[0].text.starts_with("Website Home has been published.\r\n\r\nSummary:-\r\n"));
        QVERIFY(done[0].text.ends_with(" files deleted\r\n"));
        QCOMPARE(w.StatusPanelText(1), QString("Idle."));
        QCOMPARE(w.StatusPanelText(0), QString("Published: Home"));
        QCOMPARE(w.windowTitle(), QString("Vantrel"));
    }

    // A server written with its own "ftp:" prefix, in any letter case, gets no second one. The
    // site's folder does not exist yet, and the server hides dot entries from a plain listing, as
    // many web hosts do: the folder is made without an error, and a dot folder the first run
    // published is found and published into by the next, on both devices.
    void PublishToTheFtpFixture_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("client_library");
        QTest::newRow("host alone") << "" << false;
        QTest::newRow("ftp:// written, client library") << "Ftp://" << true;
    }
    void PublishToTheFtpFixture()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, client_library);
        testing::PyftpdlibServer server;
        server.SetHidesDotFiles(true);
        std::string why;
        if (!server.Start(&why)) {
            QSKIP(why.c_str());
        }
        files_->WriteFile("src/a.html", "a");
        files_->WriteFile("src/sub/b.txt", "b");
        files_->WriteFile("src/.well-known/acme.txt", "token");
        AddSite("Ftp", files_->SystemPath("src"), prefix.toStdString() + server.Host() + "/site",
                [&](QelPublication& d) {
                    d.Username = server.User();
                    d.Password = server.Password();
                    d.FtpPort = server.Port();
                    d.FtpUseIndy = client_library;
                    d.ConnectionTimeout = 10;
                    d.GeneralTimeout = 10;
                });
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        for (const char* acme : {"token", "changed token"}) {
            files_->WriteFile("src/.well-known/acme.txt", acme);
            w.tbnPublishClick();
            QVERIFY(WaitIdle(w));
            QCOMPARE(Grid(w)->Cell(1, 1), QString("Published"));
            const auto errors = BoxesCaptioned(boxes, "");
            QVERIFY2(errors.empty(), errors.empty() ? "" : errors[0].text.c_str());
            QVERIFY2(ErrorLogText().find("!! Error") == std::string::npos, ErrorLogText().c_str());
            std::ifstream published(server.SiteLocalPath(".well-known/acme.txt"));
            std::string content;
            std::getline(published, content);
            QCOMPARE(content, std::string(acme));
        }
        std::ifstream published(server.SiteLocalPath("sub/b.txt"));
        std::string content;
        std::getline(published, content);
        QCOMPARE(content, std::string("b"));
    }

    // Whatever form the server was typed in, the pages land in its folder and deletion works
    // there alone: the login folder's own file stays, and the two folders' pages stay apart.
    // %h stands for the host, %p for the port; without %p the port setting carries it.
    void AnAddressInAnyFormPublishesIntoItsFolderOnly_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("client_library");
        QTest::newRow("ftp:host/folder") << "ftp:%h/site" << false;
        QTest::newRow("ftp:host:port/folder") << "ftp:%h:%p/site" << false;
        QTest::newRow("ftp:\\\\host:port\\folder") << "ftp:\\\\%h:%p\\site" << false;
        QTest::newRow("host:port/folder, client library") << "%h:%p/site" << true;
        QTest::newRow("ftp:host/folder, client library") << "ftp:%h/site" << true;
    }
    void AnAddressInAnyFormPublishesIntoItsFolderOnly()
    {
        QFETCH(QString, server);
        QFETCH(bool, client_library);
        testing::PyftpdlibServer ftp;
        std::string why;
        if (!ftp.Start(&why)) {
            QSKIP(why.c_str());
        }
        const std::string login = ftp.Sandbox().Path("root");
        ftp.Sandbox().WriteFile("root/notes.txt", "the login folder's own");
        ftp.Sandbox().WriteFile("root/site/old.txt", "obsolete");
        files_->WriteFile("src/a/index.html", "a");
        files_->WriteFile("src/b/index.html", "b");
        const bool port_in_address = server.contains("%p");
        const std::string typed = server.replace("%h", QString::fromStdString(ftp.Host()))
                                      .replace("%p", QString::number(ftp.Port()))
                                      .toStdString();
        AddSite("Forms", files_->SystemPath("src"), typed, [&](QelPublication& d) {
            d.Username = ftp.User();
            d.Password = ftp.Password();
            d.FtpPort = port_in_address ? 0 : ftp.Port();
            d.FtpUseIndy = client_library;
            d.DeleteOldFiles = 1;
            d.ConnectionTimeout = 10;
            d.GeneralTimeout = 10;
        });
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        const auto errors = BoxesCaptioned(boxes, "");
        QVERIFY2(errors.empty(), errors.empty() ? "" : errors[0].text.c_str());
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Published"));
        const auto content = [](const std::string& path) {
            std::ifstream in(path);
            std::string text;
            std::getline(in, text);
            return text;
        };
        QCOMPARE(content(ftp.SiteLocalPath("a/index.html")), std::string("a"));
        QCOMPARE(content(ftp.SiteLocalPath("b/index.html")), std::string("b"));
        QVERIFY(!std::filesystem::exists(ftp.SiteLocalPath("old.txt")));
        QCOMPARE(content(login + "/notes.txt"), std::string("the login folder's own"));
        QVERIFY(!std::filesystem::exists(login + "/index.html"));
        QVERIFY(!std::filesystem::exists(login + "/a"));
    }

    void StopDuringARunIsInterruptedAndAlwaysTold()
    {
        for (int i = 0; i < 1500; ++i) {
            files_->WriteFile("src/f" + std::to_string(i) + ".txt", "x");
        }
        AddSite("Big", files_->SystemPath("src"), files_->SystemPath("dst"));
        testing::FakeMessageBoxes boxes;
        StoppingWindow w(StoppingWindow::Action::kStop);
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Interrupted"));
        QVERIFY(LogLines(w).contains("Publishing was stopped by user."));
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QCOMPARE(done[0].text,
                 std::string("Publishing of Big was interrupted and has now stopped."));
        QCOMPARE(done[0].type & 0xFFFF, 16u);
    }

    void AFailedRunShowsOneErrorBoxAndTheFailure()
    {
        // A destination below a file cannot be made: every entry fails.
        files_->WriteFile("src/a.txt", "a");
        files_->WriteFile("src/b.txt", "b");
        files_->WriteFile("blocker", "not a folder");
        AddSite("Bad", files_->SystemPath("src"), files_->SystemPath("blocker/dst"));
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Failed!"));
        QVERIFY(LogLines(w).contains("Publishing failed."));
        const auto errors = BoxesCaptioned(boxes, "");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].type, 48u);
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QCOMPARE(done[0].text, std::string("An error was encountered while publishing Bad"));
        QCOMPARE(done[0].type & 0xFFFF, 48u);
    }

    void PublishAllWithNothingToDo_data()
    {
        QTest::addColumn<int>("sites");
        QTest::addColumn<QString>("opening");
        QTest::newRow("one") << 1 << "Your website does not need publishing";
        QTest::newRow("several") << 2 << "None of your websites need publishing";
    }
    void PublishAllWithNothingToDo()
    {
        QFETCH(int, sites);
        QFETCH(QString, opening);
        for (int i = 0; i < sites; ++i) {
            AddSite("S" + std::to_string(i), files_->SystemPath("src"), files_->SystemPath("dst"),
                    [](QelPublication& d) { d.Status = StatusPublished; });
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        Action(w, "tbnTurbo")->setChecked(true);
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QCOMPARE(boxes.Shown()[0].caption, std::string("No websites need publishing"));
        QVERIFY(QString::fromStdString(boxes.Shown()[0].text).startsWith(opening));
        QVERIFY(Action(w, "tbnPublish")->isEnabled());
    }

    void PublishAllOfOneEnabledSiteIsASinglePublish()
    {
        files_->WriteFile("src/a.txt", "a");
        AddSite("Off", files_->SystemPath("src"), files_->SystemPath("off"),
                [](QelPublication& d) { d.Disabled = true; });
        AddSite("On", files_->SystemPath("src"), files_->SystemPath("on"));
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QVERIFY(done[0].text.starts_with("Website On has been published."));
        QCOMPARE(StoredStatus("Off"), int(StatusNeverPublished));
    }

    void PublishAllOfDisabledSitesOnlyRunsNothing()
    {
        AddSite("Off", files_->SystemPath("src"), files_->SystemPath("off"),
                [](QelPublication& d) { d.Disabled = true; });
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.tbnPublishAllClick();
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QCOMPARE(boxes.LastText(), std::string("Publish All - Completed"));
        QVERIFY(Action(w, "tbnPublish")->isEnabled());
        QVERIFY(!Action(w, "tbnStop")->isEnabled());
        QCOMPARE(StoredStatus("Off"), int(StatusNeverPublished));
    }

    void PublishAllRunsEverySiteInTurn()
    {
        files_->WriteFile("src/a.txt", "a");
        for (const char* name : {"A", "B", "C"}) {
            AddSite(name, files_->SystemPath("src"), files_->SystemPath(std::string("dst") + name));
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        for (int row = 1; row <= 3; ++row) {
            QCOMPARE(Grid(w)->Cell(1, row), QString("Published"));
        }
        for (const char* name : {"A", "B", "C"}) {
            QCOMPARE(files_->ReadFile(std::string("dst") + name + "/a.txt"), std::string("a"));
        }
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QCOMPARE(done[0].text, std::string("Publish All - Completed"));
    }

    void StopDuringPublishAllLeavesTheRestMarked()
    {
        for (int i = 0; i < 1500; ++i) {
            files_->WriteFile("src/f" + std::to_string(i) + ".txt", "x");
        }
        for (const char* name : {"A", "B", "C"}) {
            AddSite(name, files_->SystemPath("src"), files_->SystemPath(std::string("dst") + name));
        }
        testing::FakeMessageBoxes boxes;
        StoppingWindow w(StoppingWindow::Action::kStop);
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        const auto stopped = BoxesCaptioned(boxes, "Publishing Interrupted");
        QCOMPARE(stopped.size(), size_t(1));
        QCOMPARE(stopped[0].text, std::string("Publish All - Stopped"));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Interrupted"));
        QVERIFY(w.Publications().FindByName("B")->Marked);
        QVERIFY(w.Publications().FindByName("C")->Marked);
    }

    void StopAtAnyMomentOfPublishAllEndsItAfterTheCurrentSite_data()
    {
        QTest::addColumn<int>("moment");
        QTest::addColumn<int>("status_of_b");
        QTest::newRow("between A and B")
            << int(PublishAllStopper::Moment::kBetweenRuns) << int(StatusNeverPublished);
        QTest::newRow("while B connects")
            << int(PublishAllStopper::Moment::kWhileConnecting) << int(StatusInterrupted);
    }
    void StopAtAnyMomentOfPublishAllEndsItAfterTheCurrentSite()
    {
        QFETCH(int, moment);
        QFETCH(int, status_of_b);
        files_->WriteFile("src/a.txt", "a");
        for (const char* name : {"A", "B", "C"}) {
            AddSite(name, files_->SystemPath("src"), files_->SystemPath(std::string("dst") + name));
        }
        testing::FakeMessageBoxes boxes;
        PublishAllStopper w(static_cast<PublishAllStopper::Moment>(moment));
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        QVERIFY(w.stop_was_enabled);
        QVERIFY(LogLines(w).contains("User initiated STOP"));
        const auto stopped = BoxesCaptioned(boxes, "Publishing Interrupted");
        QCOMPARE(stopped.size(), size_t(1));
        QCOMPARE(stopped[0].text, std::string("Publish All - Stopped"));
        QVERIFY(BoxesCaptioned(boxes, "Publishing Completed").empty());
        QCOMPARE(StoredStatus("A"), int(StatusPublished));
        QCOMPARE(StoredStatus("B"), status_of_b);
        QCOMPARE(StoredStatus("C"), int(StatusNeverPublished));
        QVERIFY(!QDir(QString::fromStdString(files_->Path("dstC"))).exists());
        QVERIFY(w.Publications().FindByName("C")->Marked);
        QVERIFY(Action(w, "tbnPublish")->isEnabled());
    }

    // Without a listener nothing of a run would be seen: a publish is refused with the reason,
    // and the next one tries again.
    void AListenerThatCannotStartIsToldAndTriedAgain()
    {
        files_->WriteFile("src/a.txt", "a");
        AddSite("Site", files_->SystemPath("src"), files_->SystemPath("dst"));
        testing::FakeMessageBoxes boxes;
        // The window's listener, then the one of the session made afresh at Publish.
        platform::FailNextThreadStarts(2);
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishClick();
        const std::string told = "Publishing could not start: " +
                                 platform::ErrorMessageText(platform::kErrorNotEnoughMemory);
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QVERIFY2(boxes.LastText() == told, boxes.LastText().c_str());
        QVERIFY(LogLines(w).contains(QString::fromStdString(told)));
        QVERIFY(Action(w, "tbnPublish")->isEnabled());
        QCOMPARE(StoredStatus("Site"), int(StatusNeverPublished));
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(StoredStatus("Site"), int(StatusPublished));
    }

    // The error log holds the warnings and errors of the last publish, also when it had none.
    void EveryRunStartsTheErrorLogAfresh()
    {
        files_->WriteFile("src/a.txt", "a");
        files_->WriteFile("blocker", "not a folder");
        files_->MakeFolder("quiet/src");
        files_->MakeFolder("quiet/dst");
        AddSite("A", files_->SystemPath("src"), files_->SystemPath("blocker/dst"));
        AddSite("B", files_->SystemPath("quiet/src"), files_->SystemPath("quiet/dst"));
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        SelectGridRow(*Grid(w), 1);
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Failed!"));
        QVERIFY2(ErrorLogText().find("!! Error: ") != std::string::npos, ErrorLogText().c_str());
        SelectGridRow(*Grid(w), 2);
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(Grid(w)->Cell(1, 2), QString("Published"));
        QCOMPARE(ErrorLogText(), std::string());
    }

    // Turbo leaves out the web sites found published at the start, but first looks again at
    // their sources: an edit or a deletion made since is published; with nothing changed the
    // box says so.
    void TurboPublishAllPublishesWhatChangedSinceTheStart_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("sites");
        QTest::newRow("an edit, one site") << "edit" << 1;
        QTest::newRow("a deletion, two sites") << "delete" << 2;
        QTest::newRow("nothing, two sites") << "none" << 2;
    }
    void TurboPublishAllPublishesWhatChangedSinceTheStart()
    {
        QFETCH(QString, change);
        QFETCH(int, sites);
        const std::time_t old = std::time(nullptr) - 3 * 86400;
        files_->WriteFile("src/a.txt", "a", old);
        files_->WriteFile("src/b.txt", "b", old);
        files_->SetFolderTimes("src", old);
        for (int i = 0; i < sites; ++i) {
            AddSite("S" + std::to_string(i), files_->SystemPath("src"),
                    files_->SystemPath("dst" + std::to_string(i)),
                    [](QelPublication& d) { d.DeleteOldFiles = 1; });
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(StoredStatus("S0"), int(StatusPublished));
        if (change == "edit") {
            files_->WriteFile("src/a.txt", "edited", std::time(nullptr) + 5);
        } else if (change == "delete") {
            QVERIFY(QFile::remove(QString::fromStdString(files_->Path("src/b.txt"))));
        }
        Action(w, "tbnTurbo")->setChecked(true);
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        for (int i = 0; i < sites; ++i) {
            const std::string dst = "dst" + std::to_string(i);
            QCOMPARE(files_->ReadFile(dst + "/a.txt"),
                     std::string(change == "edit" ? "edited" : "a"));
            QCOMPARE(QFile::exists(QString::fromStdString(files_->Path(dst + "/b.txt"))),
                     change != "delete");
            QCOMPARE(Grid(w)->Cell(1, i + 1), QString("Published"));
        }
        QCOMPARE(BoxesCaptioned(boxes, "No websites need publishing").size(),
                 size_t(change == "none" ? 1 : 0));
    }

    // Stop while Turbo's Publish All looks at the published web sites ends it before any run.
    void StopEndsTheLookOfATurboPublishAll()
    {
        files_->WriteFile("src/a.txt", "a");
        for (const char* name : {"A", "B"}) {
            AddSite(name, files_->SystemPath("src"), files_->SystemPath(std::string("dst") + name),
                    [](QelPublication& d) {
                        d.Status = StatusPublished;
                        d.LastPublished = 1;
                    });
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        Action(w, "tbnTurbo")->setChecked(true);
        w.tbnPublishAllClick();
        // The look's end comes through the event loop, which has not run yet.
        QVERIFY(Action(w, "tbnStop")->isEnabled());
        w.tbnStopClick();
        QVERIFY(WaitIdle(w));
        const auto stopped = BoxesCaptioned(boxes, "Publishing Interrupted");
        QCOMPARE(stopped.size(), size_t(1));
        QCOMPARE(stopped[0].text, std::string("Publish All - Stopped"));
        QVERIFY(!QDir(QString::fromStdString(files_->Path("dstA"))).exists());
        for (int row = 1; row <= 2; ++row) {
            QVERIFY(Grid(w)->Cell(1, row) != "Checking");
        }
    }

    // A web site that fails, before its run or in it, does not end the Publish All: the next one
    // is published, and the grid, the last box (shown whatever the options say) and the error
    // log, which keeps every site's lines under its name, say which failed.
    void PublishAllGoesOnPastAFailedSite_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("cannot connect") << "connect";
        QTest::newRow("source cannot be opened") << "source";
        QTest::newRow("the run fails") << "run";
    }
    void PublishAllGoesOnPastAFailedSite()
    {
        QFETCH(QString, failure);
        files_->WriteFile("src/a.txt", "a");
        files_->WriteFile("blocker", "not a folder");
        const uint16_t refused = testing::UnusedLoopbackPort();
        AddSite("A", failure == "source" ? "\\\\nowhere\\share" : files_->SystemPath("src"),
                failure == "connect" ? "127.0.0.1" : files_->SystemPath("blocker/dst"),
                [&](QelPublication& d) { d.FtpPort = refused; });
        AddSite("B", files_->SystemPath("src"), files_->SystemPath("dstB"));
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.Options().DisplayCompletedMessage = false;
        w.tbnPublishAllClick();
        QVERIFY(WaitIdle(w));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Failed!"));
        QCOMPARE(Grid(w)->Cell(1, 2), QString("Published"));
        QCOMPARE(files_->ReadFile("dstB/a.txt"), std::string("a"));
        QVERIFY(BoxesCaptioned(boxes, "").empty());
        const auto done = BoxesCaptioned(boxes, "Publishing Completed");
        QCOMPARE(done.size(), size_t(1));
        QCOMPARE(done[0].type & 0xFFFF, 48u);
        const std::string reason = w.Publications().FindByName("A")->LastErrorText;
        QVERIFY(!reason.empty());
        QVERIFY2(done[0].text.starts_with("Publish All - Completed with errors.\r\n") &&
                     done[0].text.find("\r\nA: " + reason.substr(0, reason.find('\r'))) !=
                         std::string::npos &&
                     done[0].text.find("\r\nB") == std::string::npos,
                 done[0].text.c_str());
        const std::string log = ErrorLogText();
        const size_t b = log.find("Publishing B\r\n");
        QVERIFY2(log.starts_with("Publishing A\r\n") && log.find("\n!! Error: ") < b &&
                     b != std::string::npos &&
                     log.find("Copying file a.txt", b) != std::string::npos,
                 log.c_str());
    }

    void StatusBarShowsEachMessageOnOneLineWithItsLinesApart_data()
    {
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("error of three lines")
            << true
            << "Failed to connect to 127.0.0.1.\r\nError code: 12003\r\nDescription: refused"
            << "Failed to connect to 127.0.0.1. / Error code: 12003 / Description: refused";
        QTest::newRow("bare line feeds, a blank line") << false << "one\n\ntwo\n"
                                                       << "one / two";
        QTest::newRow("one line") << false << "Copying a.txt"
                                  << "Copying a.txt";
    }
    void StatusBarShowsEachMessageOnOneLineWithItsLinesApart()
    {
        QFETCH(bool, error);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        TPublisherMessageQueue queue;
        error ? queue.SendError(text.toStdString()) : queue.SendMessage(text.toStdString());
        w.HandleQueueMessage(queue.ReadKind(), queue);
        QCOMPARE(w.StatusPanelText(0), shown);
    }

    // Answered Yes, the whole open is tried again; answered No, the run fails.
    void DestinationTimeOut()
    {
        // A listener that accepts and never greets.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        files_->WriteFile("src/a.txt", "a");
        AddSite("Slow", files_->SystemPath("src"), "127.0.0.1",
                [&](QelPublication& d) { d.FtpPort = silent.serverPort(); });
        testing::FakeMessageBoxes boxes({6, 7});
        TOstrel w;
        // A second for each attempt: a stored time-out loads as at least 10 seconds, the least
        // the dialogs give, so the listed definition is given it directly.
        QelPublication* slow = w.Publications().FindByName("Slow");
        slow->ConnectionTimeout = 1;
        slow->GeneralTimeout = 1;
        w.tbnPublishClick();
        QVERIFY(WaitIdle(w, 60000));
        QCOMPARE(BoxesCaptioned(boxes, "Connection attempt has timedout").size(), size_t(2));
        QVERIFY(LogLines(w).contains("Failed to connect to destination 127.0.0.1."));
        QCOMPARE(w.StatusPanelText(0), QString("Failed to connect."));
        QCOMPARE(w.StatusPanelText(1), QString("Idle."));
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Failed!"));
        QCOMPARE(w.Publications().FindByName("Slow")->LastErrorText,
                 std::string("Failed to connect"));
    }

    void GridTexts()
    {
        AddSite("Pub", "/src", "/dst", [](QelPublication& d) {
            d.Status = StatusPublished;
            d.LastPublished = 45000.5;
        });
        AddSite("Needs", "/src", "/dst",
                [](QelPublication& d) { d.Status = StatusNeedsPublishing; });
        TOstrel w;
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Needs publishing"));
        QCOMPARE(Grid(w)->Cell(2, 1), QString("Never"));
        QCOMPARE(Grid(w)->Cell(1, 2), QString("Published"));
        QVERIFY(Grid(w)->Cell(2, 2) != "Never");
        for (int i = 1; i <= 2; ++i) {
            w.Publications().Items(i)->Checking = true;
        }
        w.RefreshPublicationsGrid();
        QCOMPARE(Grid(w)->Cell(1, 1), QString("Needs publishing"));
        QCOMPARE(Grid(w)->Cell(1, 2), QString("Checking"));
    }

    void DeleteAsksOnce_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("kept");
        QTest::newRow("Yes") << 6 << false;
        QTest::newRow("No") << 7 << true;
        QTest::newRow("Cancel") << 2 << true;
    }
    void DeleteAsksOnce()
    {
        QFETCH(int, answer);
        QFETCH(bool, kept);
        AddSite("Gone", "/src", "/dst");
        testing::FakeMessageBoxes boxes({answer});
        TOstrel w;
        w.tbnDeleteClick();
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QCOMPARE(boxes.Shown()[0].text,
                 std::string("Are you sure you wish to delete the publication \"Gone\".\r\nThis "
                             "cannot be undone."));
        QCOMPARE(boxes.Shown()[0].type, 35u);
        QCOMPARE(StoredStatus("Gone") >= 0, kept);
        QCOMPARE(w.Publications().Exists("Gone"), kept);
    }

    void ConfigRenamesTheSiteAndSelectsIt()
    {
        AddSite("Alpha", "/srv/a", "/dst");
        AddSite("Beta", "/srv/b", "/dst");
        // Save takes only a source folder that is there.
        testing::TestSandbox files;
        files.WriteFile("g/index.html", "x");
        const std::string source = files.SystemPath("g");
        TOstrel w;
        SelectGridRow(*Grid(w), 2);
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget* dialog) {
                dialog->findChild<QLineEdit*>("EditName")->setText("Gamma");
                dialog->findChild<QLineEdit*>("edt_source_directory")
                    ->setText(QString::fromStdString(source));
                dialog->findChild<QPushButton*>("SaveButton")->click();
            },
            [&] { Action(w, "tbnProperties")->trigger(); });
        QVERIFY2(run.script_ran, "no dialog");
        QVERIFY2(!run.left_open, "left open");
        QCOMPARE(Grid(w)->Cell(0, Grid(w)->Selection().top), QString("Gamma"));
        QelPublicationList stored;
        QVERIFY(!stored.Exists("Beta"));
        QVERIFY(stored.Exists("Alpha"));
        QCOMPARE(stored.FindByName("Gamma")->Source, source);
    }

    // The web site the wizard made is selected, wherever it lands in the list.
    void NewSelectsTheSiteItMade()
    {
        AddSite("Alpha", "/srv/a", "/dst");
        AddSite("Gamma", "/srv/g", "/dst");
        TOstrel w;
        SelectGridRow(*Grid(w), 2);
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget* wizard) {
                QVERIFY(
                    w.Publications().AddNew("Beta", "/srv/b", "/dst", "", "", "", 0, false, false));
                static_cast<QDialog*>(wizard)->reject();
            },
            [&] { Action(w, "tbnNew")->trigger(); });
        QVERIFY2(run.script_ran, "no wizard");
        QCOMPARE(Grid(w)->Cell(0, Grid(w)->Selection().top), QString("Beta"));
    }

    void ConfigIsRefusedForASiteBeingChecked()
    {
        AddSite("Busy", "/srv/a", "/dst");
        TOstrel w;
        SelectGridRow(*Grid(w), 1);
        QVERIFY(Action(w, "tbnProperties")->isEnabled());
        w.Publications().Items(1)->Checking = true;
        w.UpdateConfigEnabled(0);
        QVERIFY(!Action(w, "tbnProperties")->isEnabled());
        QVERIFY(!Action(w, "mnu_Properties")->isEnabled());
        // The double click reaches the command even so: it must not open the dialog.
        const testing::ModalRun run =
            testing::RunModal([](QWidget*) {}, [&] { w.tbnPropertiesClick(); });
        QVERIFY(!run.script_ran);
    }

    void TurboSurvivesARestart()
    {
        {
            TOstrel w;
            QVERIFY(!Action(w, "tbnTurbo")->isChecked());
            Action(w, "tbnTurbo")->trigger();
        }
        TOstrel again;
        QVERIFY(Action(again, "tbnTurbo")->isChecked());
    }

    void RestoreWindowPosition_data()
    {
        QTest::addColumn<QRect>("stored");  // outer bounds as saved
        QTest::addColumn<bool>("restored");
        QTest::newRow("too narrow") << QRect(10, 10, 100, 500) << false;
        QTest::newRow("too low") << QRect(10, 10, 500, 100) << false;
        QTest::newRow("inside") << QRect(30, 40, 500, 400) << true;
        QTest::newRow("off the top left") << QRect(-300, -200, 500, 400) << true;
        QTest::newRow("off the bottom right") << QRect(5000, 4000, 500, 400) << true;
        // Saved on a larger screen, or at a smaller scale.
        QTest::newRow("larger than the screen") << QRect(101, 80, 3000, 2400) << true;
        QTest::newRow("larger and off the top left") << QRect(-2000, -1500, 3000, 2400) << true;
    }
    void RestoreWindowPosition()
    {
        QFETCH(QRect, stored);
        QFETCH(bool, restored);
        {
            QelPublicationList list;
            QVERIFY(list.Store()->WriteRootInteger("Left", stored.left()));
            QVERIFY(list.Store()->WriteRootInteger("Top", stored.top()));
            QVERIFY(list.Store()->WriteRootInteger("Width", stored.width()));
            QVERIFY(list.Store()->WriteRootInteger("Height", stored.height()));
        }
        TOstrel w;
        const QSize before = w.size();
        w.RestoreWindowPosition();
        if (!restored) {
            QCOMPARE(w.size(), before);
            return;
        }
        const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.frameGeometry().size(), stored.size().boundedTo(desktop.size()));
        QVERIFY2(desktop.contains(w.frameGeometry()), "kept inside the desktop");
        if (desktop.contains(stored)) {
            QCOMPARE(w.frameGeometry().topLeft(), stored.topLeft());
        }
    }

    // Tab leaves the site list for the window's next control: the site that Publish and the
    // other commands act on stays the one chosen, which the arrow keys change.
    void TabNeverChangesTheChosenSite()
    {
        AddSite("A ro", "/srv/a", "/dst");
        AddSite("B ok", "/srv/b", "/dst");
        AddSite("C new", "/srv/c", "/dst");
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        SelectGridRow(*Grid(w), 2);
        Grid(w)->setFocus();
        QStringList chosen;
        for (int tab = 0; tab < 3; ++tab) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            chosen << QString::fromStdString(w.SelectedPublication()->GetName());
        }
        QVERIFY(QApplication::focusWidget() != Grid(w));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        chosen << QString::fromStdString(w.SelectedPublication()->GetName());
        Grid(w)->setFocus();
        QTest::keyClick(Grid(w), Qt::Key_Down);
        chosen << QString::fromStdString(w.SelectedPublication()->GetName());
        QCOMPARE(chosen, (QStringList{"B ok", "B ok", "B ok", "B ok", "C new"}));
    }

    void GeometryHoldsOverRestarts()
    {
        AddSite("Site", "/src", "/dst");
        testing::FakeMessageBoxes boxes;
        QRect expected(60, 70, 720, 560);
        {
            QelPublicationList list;
            QVERIFY(SaveWindowPlacement(*list.Store(), {expected, 150}));
        }
        for (int start = 1; start <= 2; ++start) {
            TOstrel w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTRY_COMPARE(w.frameGeometry(), expected);
            // A move is saved once it rests: what is read back is what the window saved, not
            // what the test wrote, and the next start restores it without creeping.
            expected.translate(10, 10);
            w.move(w.pos() + QPoint(10, 10));
            QTRY_COMPARE_WITH_TIMEOUT(LoadWindowPlacement(*w.Publications().Store())->outer,
                                      expected, 10000);
            QCOMPARE(w.frameGeometry(), expected);
        }
    }

    void ListPaneCutsNoRow_data()
    {
        QTest::addColumn<int>("sites");
        QTest::addColumn<int>("window_height");
        QTest::addColumn<bool>("all_shown");
        QTest::newRow("two sites") << 2 << 600 << true;
        QTest::newRow("six sites") << 6 << 600 << true;
        QTest::newRow("forty sites, a low window") << 40 << 500 << false;
    }
    void ListPaneCutsNoRow()
    {
        QFETCH(int, sites);
        QFETCH(int, window_height);
        QFETCH(bool, all_shown);
        for (int i = 1; i <= sites; ++i) {
            AddSite("Site " + std::to_string(i), "/src", "/dst");
        }
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.resize(700, window_height);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* show_log = w.findChild<QCheckBox*>("chkShowLog");
        if (show_log->isChecked()) {
            show_log->click();
        }
        show_log->click();
        QTest::qWait(50);
        auto* grid = w.findChild<QTableWidget*>("PublicationsGrid");
        const int view = grid->viewport()->height();
        int shown = 0;
        for (int row = 0; row < grid->rowCount(); ++row) {
            const int top = grid->rowViewportPosition(row);
            if (top < view) {
                QVERIFY2(top + grid->rowHeight(row) <= view, "a row is cut");
                ++shown;
            }
        }
        QCOMPARE(shown == grid->rowCount(), all_shown);
        QVERIFY(shown >= std::min(3, grid->rowCount()));
        QVERIFY(w.findChild<QWidget*>("PublicationLogFrame")->height() >= 60);
    }

    void MovesAreSaved()
    {
        AddSite("Site", "/src", "/dst");
        testing::FakeMessageBoxes boxes;
        TOstrel w;
        w.show();
        QTest::qWait(50);  // the first show restores the (missing) position
        w.move(70, 80);
        QTRY_COMPARE(w.Publications().Store()->ReadRootInteger("Left"), w.frameGeometry().left());
        QCOMPARE(w.Publications().Store()->ReadRootInteger("Top"), w.frameGeometry().top());
        QCOMPARE(w.Publications().Store()->ReadRootInteger("Width"), w.frameGeometry().width());
    }

    void ExportThenImportGivesAnEqualDefinition()
    {
        AddSite("Site one", "/src", "ftp.example.org/www", [](QelPublication& d) {
            d.Username = "me";
            d.Password = "pw";
            d.IgnoreFiles = {"*.bak"};
            d.DeleteOldFiles = 1;
        });
        const std::string file = files_->Path("exported.qvr");
        testing::FakeMessageBoxes boxes;
        testing::FakeFileChooser chooser(
            {QString::fromStdString(file), QString::fromStdString(file)});
        TOstrel w;
        w.mnuExportToFileClick();
        QCOMPARE(chooser.Requests().at(0).file_name, QString("Site_one"));
        QCOMPARE(chooser.Requests().at(0).default_suffix, QString("qvr"));
        // Imported into a list that does not hold the name.
        QelPublication exported;
        exported.Assign(*w.Publications().FindByName("Site one"));
        QVERIFY(w.Publications().Delete("Site one"));
        w.mnuImportFromFileClick();
        const QelPublication* imported = w.Publications().FindByName("Site one");
        QVERIFY(imported != nullptr);
        QVERIFY(QelPublication::SameSettings(exported, *imported));
        QCOMPARE(imported->Password, std::string("pw"));
        QCOMPARE(Grid(w)->Cell(0, 1), QString("Site one"));
        QVERIFY(boxes.Shown().empty());
    }

    void ProgressPanelIsLimeToItsPosition()
    {
        TOstrel w;
        auto* panel = w.findChild<TActivityPanel*>("ActivityPanel");
        panel->resize(202, 20);
        // Five of ten files done, the marker at rest.
        panel->Finish(10, 5);
        const QImage image = panel->grab().toImage();
        const QColor lime(0, 255, 0);
        // The bar lies inside a 1-pixel margin and a 1-pixel black frame.
        const int inner = image.width() - 4;
        const int middle = 2 + inner / 2;
        QCOMPARE(image.pixelColor(2, 10), lime);
        QCOMPARE(image.pixelColor(middle - 1, 10), lime);
        QVERIFY(image.pixelColor(middle + 1, 10) != lime);
        QCOMPARE(image.pixelColor(1, 10), QColor(Qt::black));
    }

    // A run's log texts may reach the pane late, but in order, each as its own line as a direct
    // line would be, and never lost.
    void RunLogTextsKeepTheirOrderAndLines()
    {
        TOstrel w;
        TPublisherMessageQueue queue;
        auto deliver = [&](const std::string& text) {
            queue.SendMessage(text);
            w.HandleQueueMessage(queue.ReadKind(), queue);
        };
        deliver("one");
        deliver("two\r\n");
        deliver("");      // adds nothing
        deliver("\r\n");  // an empty line
        QCOMPARE(w.StatusPanelText(0), QString());
        w.AppendLog("three");
        deliver("four");
        QTRY_COMPARE(LogLines(w).last(), QString("four"));
        const QStringList log = LogLines(w);
        QCOMPARE(log.mid(log.size() - 5), QStringList({"one", "two", "", "three", "four"}));
    }

    void ClosingDuringARunWaitsForItAndShowsNoBox()
    {
        for (int i = 0; i < 1500; ++i) {
            files_->WriteFile("src/f" + std::to_string(i) + ".txt", "x");
        }
        AddSite("Closed", files_->SystemPath("src"), files_->SystemPath("dst"));
        testing::FakeMessageBoxes boxes;
        bool forced_exit = false;
        TOstrel::SetProcessExit([&](int) { forced_exit = true; });
        QElapsedTimer took;
        {
            StoppingWindow w(StoppingWindow::Action::kClose);
            w.show();
            w.tbnPublishClick();
            took.start();
            QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 20000);
            QVERIFY(!w.Publishing());
        }
        QVERIFY(took.elapsed() < 16000);
        QVERIFY(!forced_exit);
        QVERIFY(BoxesCaptioned(boxes, "Publishing Completed").empty());
    }

private:
    std::unique_ptr<testing::ScopedConfigHome> home_;
    std::unique_ptr<testing::TestSandbox> files_;
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TOstrelTest)
#include "OstrelU_test.moc"
