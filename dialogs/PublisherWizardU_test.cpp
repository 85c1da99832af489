#include "dialogs/PublisherWizardU.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "foundation/QelRegistryU.h"
#include "publishing/PublicationInfo.h"
#include "storage/FtpStorage.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/MemoryStorageDevice.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/PublicationSamples.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

using testing::RunModal;

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

// What one device of a connection test was made with and opened with.
struct DeviceRecord
{
    ConnectionTestDevice device;
    std::string address, user, password, connection;
};

// The connection test's device maker for tests: memory devices whose Open is scripted and which
// record what they receive. Made and opened on the test's worker thread.
class FakeDevices
{
public:
    // Runs in Open on the worker thread; the answer is Open's.
    std::function<bool(QelSyncBaseOutput& output, int test)> open = [](auto&, int) { return true; };

    ConnectionTestDeviceFactory Factory()
    {
        return [this](const ConnectionTestDevice& device, QelSyncBaseOutput& output) {
            return std::make_unique<Device>(*this, device, output);
        };
    }
    std::vector<DeviceRecord> Records()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return records_;
    }

private:
    class Device : public testing::MemoryStorageDevice
    {
    public:
        Device(FakeDevices& owner, const ConnectionTestDevice& device, QelSyncBaseOutput& output)
            : MemoryStorageDevice("fake", &owner.unused_log_)
            , owner_(owner)
            , device_(device)
            , output_(output)
        {}
        bool Open(const std::string& address,
                  const std::string& user,
                  const std::string& password,
                  const std::string& connection) override
        {
            int test = 0;
            {
                std::lock_guard<std::mutex> guard(owner_.lock_);
                owner_.records_.push_back({device_, address, user, password, connection});
                test = static_cast<int>(owner_.records_.size());
            }
            return owner_.open(output_, test);
        }

    private:
        FakeDevices& owner_;
        ConnectionTestDevice device_;
        QelSyncBaseOutput& output_;
    };

    std::mutex lock_;
    std::vector<DeviceRecord> records_;  // Guarded by lock_.
    testing::EventLog unused_log_;       // Devices are used one at a time.
};

// The dial-up entries of the tests' phone book.
const std::vector<std::string> kDialEntries{"Dial A", "Dial B"};

QStringList Lines(const QPlainTextEdit* memo)
{
    return memo->toPlainText().split(QLatin1Char('\n'));
}

// A wizard over a list in a settings store of its own, with its message boxes faked.
struct Fixture
{
    testing::ScopedConfigHome config;
    std::unique_ptr<QelPublicationList> list = std::make_unique<QelPublicationList>();
    testing::FakeMessageBoxes boxes;
    TPublisherWizard wizard;
    QTabWidget* pages = wizard.findChild<QTabWidget*>(QStringLiteral("PageWizard"));

    template <typename T>
    T* Find(const char* name)
    {
        return wizard.findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
    QPlainTextEdit* Log() { return Find<QPlainTextEdit>("memoTestLog"); }
    QLabel* Status() { return Find<QLabel>("lblTestStatus"); }

    void AddSite(const std::string& name)
    {
        list->AddNew(name, "/src", "ftp.example.com", "u", "p", "", 0, false, true);
    }
    testing::ModalRun Run(const std::function<void()>& script, bool show_import = false)
    {
        return RunModal([&](QWidget*) { script(); }, [&] { wizard.Execute(*list, show_import); });
    }
    void ClickTab(int index)
    {
        QTabBar* bar = pages->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void Type(const char* edit, const QString& text)
    {
        Edit(edit)->clear();
        QTest::keyClicks(Edit(edit), text);
    }
    // In one change, so no shorter text is checked on the way.
    void Paste(const char* edit, const QString& text)
    {
        Edit(edit)->clear();
        Edit(edit)->insert(text);
    }
    // Runs one connection test and waits until its result is in.
    bool Test()
    {
        QTest::mouseClick(Button("btnTestConnection"), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !wizard.ConnectionTestRunning(); }, 20000);
    }
};

}  // namespace

class TPublisherWizardTest : public QObject
{
    Q_OBJECT

private slots:
    void TabClicksPastTheHighestReachablePageAreReverted()
    {
        Fixture f;
        f.AddSite("Taken");
        testing::TestSandbox source;
        std::vector<int> fresh, after_name, after_failed_source, after_mended_source;
        int reachable_after_failure = 0;
        auto visit = [&](std::vector<int>& shown, int from) {
            for (int page = from; page <= TPublisherWizard::kPageCompleted; ++page) {
                f.ClickTab(page);
                shown.push_back(f.pages->currentIndex());
            }
        };
        const auto run = f.Run([&] {
            f.ClickTab(TPublisherWizard::kPageName);
            visit(fresh, TPublisherWizard::kPageSource);
            f.Type("PublicationName", "Site");
            visit(after_name, TPublisherWizard::kPageSource);
            f.ClickTab(TPublisherWizard::kPageSource);
            f.Type("SourceDirectory", QString::fromStdString(source.Path("missing")));
            QTest::mouseClick(f.Button("SourceNextButton"), Qt::LeftButton);
            QTest::mouseClick(f.Button("SourceNextButton"), Qt::LeftButton);
            reachable_after_failure = f.wizard.HighestReachablePage();
            visit(after_failed_source, TPublisherWizard::kPageServer);
            // The mended source frees every page the name had opened, the name untouched.
            f.Type("SourceDirectory", QString::fromStdString(source.Path()));
            QTest::mouseClick(f.Button("SourceNextButton"), Qt::LeftButton);
            visit(after_mended_source, TPublisherWizard::kPageServer);
        });
        QVERIFY(run.script_ran);
        QCOMPARE(fresh, std::vector<int>(7, 1));
        QCOMPARE(after_name, (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(reachable_after_failure, 2);
        QCOMPARE(after_failed_source, std::vector<int>(6, 2));
        QCOMPARE(after_mended_source, (std::vector<int>{3, 4, 5, 6, 7, 8}));
        const auto shown = f.boxes.Shown();
        QCOMPARE(shown.size(), size_t{2});
        QCOMPARE(shown[0].caption, std::string("Directory does not exist"));
        QCOMPARE(shown[0].type, 48u);
    }

    // Enter alone goes from the first page to Finish; a user name is asked only for an FTP
    // destination.
    void EnterMovesOnFromEveryPage_data()
    {
        QTest::addColumn<bool>("ftp");
        QTest::newRow("local folder") << false;
        QTest::newRow("FTP server") << true;
    }
    void EnterMovesOnFromEveryPage()
    {
        QFETCH(bool, ftp);
        Fixture f;
        testing::TestSandbox files;
        files.WriteFile("site/index.html", "x");
        const QString destination =
            ftp ? QStringLiteral("ftp.example.com") : QString::fromStdString(files.Path("out"));
        std::vector<int> pages;
        bool user_asked = false;
        auto enter = [&] {
            QTest::keyClick(f.wizard.focusWidget(), Qt::Key_Return);
            pages.push_back(f.pages->currentIndex());
        };
        const auto run = f.Run([&] {
            enter();
            f.Type("PublicationName", "Site");
            enter();
            f.Type("SourceDirectory", QString::fromStdString(files.Path("site")));
            enter();
            f.Type("FtpServer", destination);
            enter();
            user_asked = f.Edit("Username")->isEnabled() &&
                         !f.Button("AuthenticationNextButton")->isEnabled();
            if (ftp) {
                f.Type("Username", "user");
                enter();  // to the password
                enter();  // to its retyping
            }
            enter();
            for (int page = TPublisherWizard::kPageConnection;
                 page <= TPublisherWizard::kPageCompleted; ++page) {
                enter();
            }
        });
        QVERIFY(run.script_ran);
        QVERIFY(!run.left_open);
        const std::vector<int> through_credentials =
            ftp ? std::vector<int>{1, 2, 3, 4, 4, 4, 5} : std::vector<int>{1, 2, 3, 4, 5};
        std::vector<int> expected = through_credentials;
        expected.insert(expected.end(), {6, 7, 8, 8});
        QCOMPARE(pages, expected);
        QCOMPARE(user_asked, ftp);
        QelPublicationList stored;
        QVERIFY(stored.Exists("Site"));
        QCOMPARE(stored.FindByName("Site")->Username, ftp ? std::string("user") : std::string());
    }

    void NameCheck_data()
    {
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("next_enabled");
        QTest::newRow("the used name") << "Alpha"
                                       << "Alpha" << false;
        QTest::newRow("used but for trailing blanks") << "Alpha"
                                                      << "Alpha  " << false;
        QTest::newRow("used but for letter case") << "Alpha"
                                                  << "alpha" << true;
        QTest::newRow("new") << "Alpha"
                             << "Beta" << true;
        QTest::newRow("blanks only") << "Alpha"
                                     << "   " << false;
        QTest::newRow("a used name with its trailing blank") << "Alpha "
                                                             << "Alpha " << false;
        QTest::newRow("a used name's trailing blank left out") << "Alpha "
                                                               << "Alpha" << true;
    }

    void NameCheck()
    {
        QFETCH(QString, listed);
        QFETCH(QString, typed);
        QFETCH(bool, next_enabled);
        Fixture f;
        f.AddSite(listed.toStdString());
        bool enabled = !next_enabled;
        bool told = false;
        QString text;
        f.Run([&] {
            f.ClickTab(TPublisherWizard::kPageName);
            f.Type("PublicationName", typed);
            enabled = f.Button("NameNextButton")->isEnabled();
            told = f.Find<QLabel>("lblNameTaken")->isVisible();
            text = f.Find<QLabel>("lblNameTaken")->text();
        });
        QCOMPARE(enabled, next_enabled);
        // A taken name says why Next stays greyed out; an empty one needs no word.
        QCOMPARE(told, !next_enabled && !typed.trimmed().isEmpty());
        if (told) {
            QVERIFY2(text.startsWith("There is already a web site called \"Alpha\""),
                     qPrintable(text));
        }
    }

    // What the configuration dialog's Save refuses, Finish refuses too, and adds nothing.
    void FinishRefusesAnOverlapAndSettingsBeyondTheirBounds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("destination");  // in the sandbox
        QTest::addColumn<QString>("caption");      // empty: added
        QTest::newRow("destination inside the source") << "Local One"
                                                       << "src/out"
                                                       << "Source and destination";
        QTest::newRow("destination holding the source") << "Local One"
                                                        << "."
                                                        << "Source and destination";
        QTest::newRow("a name too long")
            << QString(kSettingTextBytesAtMost + 1, 'n') << "dst" << kBeyondBoundsCaption;
        QTest::newRow("destination beside the source") << "Local One"
                                                       << "dst"
                                                       << "";
    }
    void FinishRefusesAnOverlapAndSettingsBeyondTheirBounds()
    {
        QFETCH(QString, name);
        QFETCH(QString, destination);
        QFETCH(QString, caption);
        Fixture f;
        testing::TestSandbox folders;
        folders.MakeFolder("src");
        int page = -1;
        const auto run = f.Run([&] {
            f.Paste("PublicationName", name);
            f.Paste("SourceDirectory", QString::fromStdString(folders.Path("src")));
            f.Paste("FtpServer", QString::fromStdString(folders.Path(destination.toStdString())));
            f.ClickTab(TPublisherWizard::kPageCompleted);
            QTest::mouseClick(f.Button("FinishButton"), Qt::LeftButton);
            page = f.pages->currentIndex();
        });
        QCOMPARE(run.left_open, !caption.isEmpty());
        QCOMPARE(f.list->Count(), caption.isEmpty() ? 1 : 0);
        if (caption.isEmpty()) {
            QVERIFY(f.boxes.Shown().empty());
            return;
        }
        QCOMPARE(f.boxes.Shown().size(), size_t{1});
        QCOMPARE(QString::fromStdString(f.boxes.Shown()[0].caption), caption);
        if (caption == "Source and destination") {
            QCOMPARE(page, int(TPublisherWizard::kPageServer));
        }
    }

    // Finish reads the FTP address as a publish will: a port in it becomes the web site's port,
    // and one it cannot read is refused on the server's page with a message that quotes it.
    void FinishReadsTheFtpAddress_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("port");  // saved; -1: refused
        QTest::newRow("no port") << "ftp:example.org/www" << 0;
        QTest::newRow("a port") << "ftp://example.org:2121/www" << 2121;
        QTest::newRow("a port beyond 65535") << "example.org:70000/www" << -1;
    }
    void FinishReadsTheFtpAddress()
    {
        QFETCH(QString, server);
        QFETCH(int, port);
        Fixture f;
        int page = -1;
        const auto run = f.Run([&] {
            f.Paste("PublicationName", "Remote");
            f.Paste("SourceDirectory", "/tmp/src");
            f.Paste("FtpServer", server);
            f.ClickTab(TPublisherWizard::kPageCompleted);
            QTest::mouseClick(f.Button("FinishButton"), Qt::LeftButton);
            page = f.pages->currentIndex();
        });
        QCOMPARE(run.left_open, port < 0);
        if (port >= 0) {
            QVERIFY(f.boxes.Shown().empty());
            QCOMPARE(int(f.list->FindByName("Remote")->FtpPort), port);
            return;
        }
        QCOMPARE(f.list->Count(), 0);
        QCOMPARE(page, int(TPublisherWizard::kPageServer));
        QCOMPARE(f.boxes.Shown().size(), size_t{1});
        const std::string text = f.boxes.Shown()[0].text;
        QVERIFY2(text.find("\"" + server.toStdString() + "\" cannot be read") != std::string::npos,
                 text.c_str());
    }

    void LeadingBlanksAreCutWhileTypingAndTheCaretStays_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name") << "PublicationName"
                              << "wxyz ";
        QTest::newRow("source") << "SourceDirectory"
                                << "wxyz ";
        QTest::newRow("server") << "FtpServer"
                                << "wxyz ";
        QTest::newRow("user") << "Username"
                              << "wxyz ";
        QTest::newRow("password, never cut") << "edt_password"
                                             << "  w \txyz ";
    }

    void LeadingBlanksAreCutWhileTypingAndTheCaretStays()
    {
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        Fixture f;
        QString text;
        f.Run([&] {
            QLineEdit* field = f.Edit(edit.toLatin1().constData());
            // Pasted, typed on at the end, pasted at the start and typed on there.
            field->insert(QStringLiteral(" \txy"));
            QTest::keyClicks(field, QStringLiteral("z "));
            field->setCursorPosition(0);
            field->insert(QStringLiteral("  "));
            QTest::keyClicks(field, QStringLiteral("w"));
            text = field->text();
        });
        QCOMPARE(text, expected);
    }

    void EnterOnTheNamePageMovesOnOnlyOnceTheNameWasValid_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("page");
        QTest::newRow("never valid: stays") << "" << 1;
        QTest::newRow("valid once: moves one page") << "Beta" << 2;
    }

    void EnterOnTheNamePageMovesOnOnlyOnceTheNameWasValid()
    {
        QFETCH(QString, first);
        QFETCH(int, page);
        Fixture f;
        f.AddSite("Alpha");
        int shown = -1;
        QWidget* focus = nullptr;
        f.Run([&] {
            f.ClickTab(TPublisherWizard::kPageName);
            f.Paste("PublicationName", first);
            f.Paste("PublicationName", "Alpha");
            QTest::keyClick(f.Edit("PublicationName"), Qt::Key_Return);
            shown = f.pages->currentIndex();
            focus = f.wizard.focusWidget();
        });
        QCOMPARE(shown, page);
        QCOMPARE(focus, page == 1 ? static_cast<QWidget*>(f.Edit("PublicationName"))
                                  : static_cast<QWidget*>(f.Edit("SourceDirectory")));
        QVERIFY(f.boxes.Shown().empty());
    }

    void FinishWithAnEmptyOrUsedNameIsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("said");
        QTest::newRow("used") << "Alpha "
                              << "already exists";
        QTest::newRow("emptied") << ""
                                 << "no name";
    }

    void FinishWithAnEmptyOrUsedNameIsRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, said);
        Fixture f;
        f.AddSite("Alpha");
        int page = -1;
        const auto run = f.Run([&] {
            f.ClickTab(TPublisherWizard::kPageName);
            f.Type("PublicationName", "Beta");
            f.Type("PublicationName", name);
            f.ClickTab(TPublisherWizard::kPageCompleted);
            QTest::mouseClick(f.Button("FinishButton"), Qt::LeftButton);
            page = f.pages->currentIndex();
        });
        QVERIFY(run.left_open);
        QCOMPARE(page, 1);
        QCOMPARE(f.list->Count(), 1);
        const auto shown = f.boxes.Shown();
        QCOMPARE(shown.size(), size_t{1});
        QCOMPARE(shown[0].type, 48u);
        QVERIFY2(QString::fromStdString(shown[0].text).contains(said), shown[0].text.c_str());
    }

    void AFailedSaveKeepsTheWizardOpenWithEverythingTyped()
    {
        Fixture f;
        f.AddSite("Other");
        f.config.FailWritesOf("Server");
        int page = -1;
        QString name;
        const auto run = f.Run([&] {
            f.Type("PublicationName", "Site");
            f.Type("FtpServer", "ftp.example.com");
            f.ClickTab(TPublisherWizard::kPageCompleted);
            QTest::mouseClick(f.Button("FinishButton"), Qt::LeftButton);
            page = f.pages->currentIndex();
            name = f.Edit("PublicationName")->text();
        });
        QVERIFY(run.left_open);
        QCOMPARE(page, int(TPublisherWizard::kPageCompleted));
        QCOMPARE(name, QStringLiteral("Site"));
        const auto shown = f.boxes.Shown();
        QCOMPARE(shown.size(), size_t{1});
        QCOMPARE(shown[0].text,
                 std::string("The new web site could not be saved: Failed to set data for "
                             "'Server'"));
        // Nothing half-saved is left, in the list or in the store.
        QCOMPARE(f.list->Count(), 1);
        QCOMPARE(QelPublicationList().Count(), 1);
    }

    void EscLeavesWithoutAdding()
    {
        Fixture f;
        const auto run = f.Run([&] {
            f.Type("PublicationName", "Site");
            QTest::keyClick(f.Edit("PublicationName"), Qt::Key_Escape);
        });
        QVERIFY(run.script_ran);
        QVERIFY(!run.left_open);
        QCOMPARE(f.list->Count(), 0);
    }

    void PasswordMismatch()
    {
        Fixture f;
        bool shown_by_first = true, shown_by_second = false, shown_when_empty = true;
        bool next_when_differ = true, next_when_empty = false;
        f.Run([&] {
            f.Type("Username", "bob");
            f.Type("edt_password", "a");
            shown_by_first = !f.Find<QLabel>("lbl_password_error")->isHidden();
            next_when_differ = f.Button("AuthenticationNextButton")->isEnabled();
            f.Type("edt_password2", "b");
            shown_by_second = !f.Find<QLabel>("lbl_password_error")->isHidden();
            f.Edit("edt_password")->clear();
            f.Edit("edt_password2")->clear();
            shown_when_empty = !f.Find<QLabel>("lbl_password_error")->isHidden();
            next_when_empty = f.Button("AuthenticationNextButton")->isEnabled();
        });
        QVERIFY(!shown_by_first);
        QVERIFY(!next_when_differ);
        QVERIFY(shown_by_second);
        QVERIFY(!shown_when_empty);
        QVERIFY(next_when_empty);
    }

    // The connection choice as the test's device and the new definition receive it.
    void ConnectionChoiceReachesTheTestAndTheDefinition_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("connection");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("delete_mode");
        QTest::newRow("any") << 0 << "rdoDeleteYes" << 3 << "" << 0 << 1;
        QTest::newRow("LAN only") << 1 << "rdoDeleteList" << 11 << "" << 1 << 2;
        QTest::newRow("dial-up entry") << 3 << "rdoDeleteNo" << 3 << "Dial B" << 0 << 0;
    }

    void ConnectionChoiceReachesTheTestAndTheDefinition()
    {
        QFETCH(int, item);
        QFETCH(QString, radio);
        QFETCH(int, flags);
        QFETCH(QString, connection);
        QFETCH(int, type);
        QFETCH(int, delete_mode);
        auto phone_book = std::make_unique<testing::FakePhoneBook>(kDialEntries);
        Fixture f;
        FakeDevices devices;
        f.wizard.SetDeviceFactory(devices.Factory());
        testing::TestSandbox source;
        bool tested = false;
        QString status;
        const auto run = f.Run([&] {
            f.Type("PublicationName", "Site ");
            f.Type("SourceDirectory", QString::fromStdString(source.Path()));
            f.Type("FtpServer", "ftp://ftp.example.com/www");
            f.Type("Username", "user");
            f.Type("edt_password", " pw");
            f.Type("edt_password2", " pw");
            f.Find<QComboBox>("ConnectionCombo")->setCurrentIndex(item);
            f.ClickTab(TPublisherWizard::kPageTestConnection);
            tested = f.Test();
            status = f.Status()->text();
            f.Find<QRadioButton>(radio.toLatin1().constData())->setChecked(true);
            f.ClickTab(TPublisherWizard::kPageCompleted);
            QTest::mouseClick(f.Button("FinishButton"), Qt::LeftButton);
        });
        QVERIFY(tested);
        QCOMPARE(status, QStringLiteral("Passed"));
        QVERIFY(!run.left_open);
        const auto records = devices.Records();
        QCOMPARE(records.size(), size_t{1});
        QVERIFY(!records[0].device.disk);
        QCOMPARE(int(records[0].device.ftp_flags), flags);
        QCOMPARE(records[0].address, std::string("ftp://ftp.example.com/www"));
        QCOMPARE(records[0].user, std::string("user"));
        QCOMPARE(records[0].password, std::string(" pw"));
        QCOMPARE(QString::fromStdString(records[0].connection), connection);

        // An entry the phone book lists is kept when the list loads.
        QelPublicationList reloaded;
        QCOMPARE(reloaded.Count(), 1);
        const QelPublication* site = reloaded.FindByName("Site ");
        QVERIFY(site != nullptr);
        QCOMPARE(site->Source, source.Path());
        QCOMPARE(site->Server, std::string("ftp://ftp.example.com/www"));
        QCOMPARE(site->Username, std::string("user"));
        QCOMPARE(site->Password, std::string(" pw"));
        QCOMPARE(QString::fromStdString(site->Connection), connection);
        QCOMPARE(int(site->ConnectionType), type);
        QCOMPARE(int(site->DeleteOldFiles), delete_mode);
        QCOMPARE(site->GeneralTimeout, 20);
        QCOMPARE(site->ConnectionTimeout, 30);
    }

    // Nothing else can be typed in: the box holds the fixed choices and this system's entries.
    void TheConnectionBoxOffersOnlyThisSystemsConnections()
    {
        const QStringList fixed{"Any/LAN connection", "LAN only"};
        for (const bool phone_book : {false, true}) {
            std::optional<testing::FakePhoneBook> entries;
            if (phone_book) {
                entries.emplace(kDialEntries);
            }
            Fixture f;
            QStringList items;
            QString chosen;
            bool editable = true;
            f.Run([&] {
                auto* combo = f.Find<QComboBox>("ConnectionCombo");
                f.Type("PublicationName", "Site");
                f.pages->setCurrentIndex(TPublisherWizard::kPageConnection);
                QTest::keyClicks(combo, QStringLiteral("eth0"));
                editable = combo->isEditable();
                chosen = combo->currentText();
                for (int i = 0; i < combo->count(); ++i) {
                    items << combo->itemText(i);
                }
            });
            QVERIFY(!editable);
            QCOMPARE(items, (phone_book ? fixed + QStringList{"Dial A", "Dial B"} : fixed));
            QVERIFY2(items.contains(chosen), qPrintable(chosen));
        }
    }

    void ASecondRunStartsAfreshButKeepsTheBehaviourChoice()
    {
        testing::FakePhoneBook phone_book(kDialEntries);
        Fixture f;
        FakeDevices devices;
        devices.open = [](auto&, int) { return false; };
        f.wizard.SetDeviceFactory(devices.Factory());
        f.Run([&] {
            for (const char* edit : {"PublicationName", "SourceDirectory", "FtpServer", "Username",
                                     "edt_password", "edt_password2"}) {
                f.Type(edit, "x");
            }
            f.Find<QComboBox>("ConnectionCombo")->setCurrentIndex(2);
            f.ClickTab(TPublisherWizard::kPageTestConnection);
            f.Test();
            f.Find<QRadioButton>("rdoDeleteYes")->setChecked(true);
        });
        QStringList texts;
        QString status, combo;
        bool log_hidden = false, advice_hidden = false, delete_yes = false;
        int page = -1, reachable = -1, items = 0;
        QWidget* focus = nullptr;
        f.Run([&] {
            for (const char* edit : {"PublicationName", "SourceDirectory", "FtpServer", "Username",
                                     "edt_password", "edt_password2"}) {
                texts << f.Edit(edit)->text();
            }
            status = f.Status()->text();
            log_hidden = f.Log()->isHidden() && f.Log()->toPlainText().isEmpty();
            advice_hidden = f.Find<QLabel>("lblFailedMessage")->isHidden();
            delete_yes = f.Find<QRadioButton>("rdoDeleteYes")->isChecked();
            page = f.pages->currentIndex();
            reachable = f.wizard.HighestReachablePage();
            combo = f.Find<QComboBox>("ConnectionCombo")->currentText();
            items = f.Find<QComboBox>("ConnectionCombo")->count();
            focus = f.wizard.focusWidget();
        });
        QCOMPARE(texts, QStringList(6, QString()));
        QCOMPARE(status, QStringLiteral("Connection not tested"));
        QVERIFY(log_hidden);
        QVERIFY(advice_hidden);
        QVERIFY(delete_yes);
        QCOMPARE(page, 0);
        QCOMPARE(reachable, 1);
        QCOMPARE(combo, QStringLiteral("Any/LAN connection"));
        QCOMPARE(items, 4);
        QCOMPARE(focus, static_cast<QWidget*>(f.Button("WelcomeNextButton")));
    }

    void Import_data()
    {
        QTest::addColumn<QString>("file");  // "exported", "nameless" or "" (cancelled)
        QTest::addColumn<bool>("closed");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("boxes");
        QTest::newRow("exported site") << "exported" << true << 1 << 0;
        QTest::newRow("file without a name") << "nameless" << false << 0 << 1;
        QTest::newRow("cancelled") << "" << false << 0 << 0;
    }

    void Import()
    {
        QFETCH(QString, file);
        QFETCH(bool, closed);
        QFETCH(int, count);
        QFETCH(int, boxes);
        Fixture f;
        testing::FakePhoneBook phone_book(kDialEntries);
        testing::TestSandbox folder;
        const std::string path = folder.Path("site.qvr");
        if (file == "exported") {
            QelIniReg store(path);
            // An entry of the phone book, so that the import keeps it.
            auto exported = testing::EveryValueAwayFromDefault("Imported");
            exported->Connection = "Dial A";
            QVERIFY(exported->SaveTo(store, true));
        } else {
            folder.WriteFile("site.qvr", "[Vantrel]\r\nSource=/src\r\n");
        }
        std::vector<std::optional<QString>> answers{std::nullopt};
        if (!file.isEmpty()) {
            answers[0] = QString::fromStdString(path);
        }
        testing::FakeFileChooser chooser(answers);
        bool panel_shown = false;
        const auto run = f.Run(
            [&] {
                panel_shown = !f.Find<QWidget>("ImportPanel")->isHidden();
                QTest::mouseClick(f.Button("btnImport"), Qt::LeftButton);
            },
            true);
        QVERIFY(panel_shown);
        QCOMPARE(!run.left_open, closed);
        QCOMPARE(f.list->Count(), count);
        QCOMPARE(int(f.boxes.Shown().size()), boxes);
        QCOMPARE(chooser.Requests().size(), size_t{1});
        QCOMPARE(chooser.Requests()[0].title, QStringLiteral("Import web site settings from file"));
        QCOMPARE(chooser.Requests()[0].filter,
                 QStringLiteral("Vantrel settings file (*.qvr)|*.qvr"));
        QCOMPARE(chooser.Requests()[0].default_suffix, QStringLiteral("qvr"));
    }

    void BrowseReplacesTheSourceOnlyWithAChosenFolder()
    {
        Fixture f;
        testing::FakeFolderChooser chooser({QStringLiteral("/srv/www"), std::nullopt});
        QString after_choice, after_cancel;
        f.Run([&] {
            QTest::mouseClick(f.Button("BrowseButton"), Qt::LeftButton);
            after_choice = f.Edit("SourceDirectory")->text();
            QTest::mouseClick(f.Button("BrowseButton"), Qt::LeftButton);
            after_cancel = f.Edit("SourceDirectory")->text();
        });
        QCOMPARE(after_choice, QStringLiteral("/srv/www"));
        QCOMPARE(after_cancel, QStringLiteral("/srv/www"));
        QCOMPARE(chooser.Requests().size(), size_t{2});
        QCOMPARE(chooser.Requests()[0].title, QStringLiteral("Source directory"));
        QVERIFY(chooser.Requests()[0].initial_folder.isEmpty());
    }

    // The real devices: a local folder, and an FTP address where nothing listens. A missing
    // folder passes where a run would make it and leaves no trace; "%1" in the line stands for
    // the destination, shown with "/" however it was typed.
    void ConnectionTestWithRealDevices_data()
    {
        QTest::addColumn<QString>("destination");  // in the sandbox, or absolute
        QTest::addColumn<bool>("backslashes");     // typed with "\\" separators
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("logged");
        const QString created =
            "Folder %1 does not exist yet; it will be created when the site is published.";
        QTest::newRow("existing folder") << "site" << false << "" << true << "";
        QTest::newRow("missing folder") << "missing" << false << "" << true << created;
        QTest::newRow("missing folder, typed with backslashes")
            << "missing/" << true << "" << true << created;
        QTest::newRow("missing parent folder")
            << "gone/missing" << false << "" << false << "Failed to create folder %1";
        QTest::newRow("a parent that takes no folder")
            << "/proc/vantrel-wizard-test" << false << "" << false << "Failed to create folder %1";
        QTest::newRow("a file in the way")
            << "file" << false << "" << false << "Failed to open folder %1";
        QTest::newRow("no FTP server")
            << "ftp" << false << "" << false << "Failed to connect to server 127.0.0.1";
        QTest::newRow("inside the source")
            << "site/out" << false << "site" << false << "Destination directory ";
        QTest::newRow("missing, inside the source")
            << "site/new" << false << "site" << false << "Destination directory ";
        QTest::newRow("holding the source")
            << "site" << false << "site/out" << false << "Source directory ";
    }

    void ConnectionTestWithRealDevices()
    {
        QFETCH(QString, destination);
        QFETCH(bool, backslashes);
        QFETCH(QString, source);
        QFETCH(bool, passed);
        QFETCH(QString, logged);
        Fixture f;
        testing::TestSandbox folder;
        folder.MakeFolder("site/out");
        folder.WriteFile("file", "x");
        const std::string posix = destination.startsWith('/')
                                      ? destination.toStdString()
                                      : folder.Path(destination.toStdString());
        QString server = QString::fromStdString(posix);
        if (backslashes) {
            server.replace('/', '\\');
        }
        if (destination == "ftp") {
            // The wizard tests the standard port; the device here knocks on a free one.
            const uint16_t port = testing::UnusedLoopbackPort();
            f.wizard.SetDeviceFactory(
                [port](const ConnectionTestDevice& device, QelSyncBaseOutput& output) {
                    auto ftp = std::make_unique<FtpStorageDevice>(
                        &output, FtpDeviceSettings{.port = port, .flags = device.ftp_flags});
                    return std::unique_ptr<QelStorageDevice>(std::move(ftp));
                });
            server = QStringLiteral("ftp://127.0.0.1");
        }
        const bool existed = std::filesystem::exists(posix);
        bool done = false;
        QString status;
        QColor colour;
        bool advice = !passed, log_shown = false;
        QStringList lines;
        const auto started = std::chrono::steady_clock::now();
        f.Run([&] {
            if (!source.isEmpty()) {
                f.Type("SourceDirectory",
                       QString::fromStdString(folder.Path(source.toStdString())));
            }
            f.Type("FtpServer", server);
            f.Type("PublicationName", "Site");
            f.ClickTab(TPublisherWizard::kPageTestConnection);
            done = f.Test();
            status = f.Status()->text();
            colour = f.Status()->palette().color(QPalette::WindowText);
            advice = !f.Find<QLabel>("lblFailedMessage")->isHidden();
            log_shown = !f.Log()->isHidden();
            lines = Lines(f.Log());
        });
        QVERIFY(done);
        QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(15));
        QCOMPARE(status, passed ? QStringLiteral("Passed") : QStringLiteral("Failed"));
        QCOMPARE(colour, passed ? kGreen : kRed);
        QCOMPARE(advice, !passed);
        QVERIFY(log_shown);
        QCOMPARE(std::filesystem::exists(posix), existed);
        if (logged.isEmpty()) {
            QCOMPARE(lines, QStringList(QString()));
        } else {
            const QString line =
                logged.contains("%1") ? logged.arg(QString::fromStdString(posix)) : logged;
            QVERIFY2(std::any_of(lines.begin(), lines.end(),
                                 [&](const QString& l) { return l.startsWith(line); }),
                     qPrintable(lines.join('|')));
        }
    }

    // A server that never greets: Cancel ends the test at once, whatever the time-outs.
    void CancelEndsATestThatWaits()
    {
        Fixture f;
        testing::ScriptedFtpServer server;
        server.HoldGreeting();
        const uint16_t port = server.Port();
        f.wizard.SetDeviceFactory(
            [port](const ConnectionTestDevice& device, QelSyncBaseOutput& output) {
                return std::unique_ptr<QelStorageDevice>(std::make_unique<FtpStorageDevice>(
                    &output, FtpDeviceSettings{.port = port,
                                               .general_timeout = 60,
                                               .connection_timeout = 60,
                                               .flags = device.ftp_flags,
                                               .stop = device.stop}));
            });
        bool ended = false;
        QString status;
        std::chrono::steady_clock::duration took{};
        f.Run([&] {
            f.Type("FtpServer", QStringLiteral("ftp://127.0.0.1"));
            f.Type("PublicationName", "Site");
            f.ClickTab(TPublisherWizard::kPageTestConnection);
            QTest::mouseClick(f.Button("btnTestConnection"), Qt::LeftButton);
            QTest::qWait(300);
            const auto start = std::chrono::steady_clock::now();
            QTest::mouseClick(f.Button("btnTestConnection"), Qt::LeftButton);
            ended = QTest::qWaitFor([&] { return !f.wizard.ConnectionTestRunning(); }, 10000);
            took = std::chrono::steady_clock::now() - start;
            status = f.Status()->text();
        });
        server.Release();
        QVERIFY(ended);
        QVERIFY(took < std::chrono::seconds(2));
        QCOMPARE(status, QStringLiteral("Failed"));
    }

    // While the device works the window stays live: the log fills, nothing can leave the page.
    void TheTestRunsOffTheGuiThreadAndKeepsItsObjects()
    {
        Fixture f;
        FakeDevices devices;
        std::mutex lock;
        std::condition_variable released_cv;
        bool released = false;
        devices.open = [&](QelSyncBaseOutput& output, int test) {
            QelSyncStatus counters;
            output.UpdateStatus(counters);
            output.Write(kMsgError, "error " + std::to_string(test));
            output.Finished(counters);
            output.WriteEvent(kMsgConnectionEstablished);
            output.Write(kMsgWarning, "two\r\nlines\r\n");
            if (test == 1) {
                std::unique_lock<std::mutex> guard(lock);
                released_cv.wait(guard, [&] { return released; });
            }
            return true;
        };
        auto release = [&] {
            std::lock_guard<std::mutex> guard(lock);
            released = true;
            released_cv.notify_all();
        };
        f.wizard.SetDeviceFactory(devices.Factory());
        // button_off: the test button has become the test's Cancel.
        bool live_log = false, button_off = false, tabs_off = false, stayed = false;
        bool first_done = false;
        int page_after_click = -1;
        QString testing_status, second_status;
        QStringList first_lines, second_lines;
        const TListenOnQueue* first_listener = nullptr;
        const TListenOnQueue* second_listener = nullptr;
        f.Run([&] {
            f.Type("PublicationName", "Site");
            f.ClickTab(TPublisherWizard::kPageTestConnection);
            QTest::mouseClick(f.Button("btnTestConnection"), Qt::LeftButton);
            testing_status = f.Status()->text();
            live_log = QTest::qWaitFor([&] { return Lines(f.Log()).size() == 4; }, 10000);
            button_off = f.Button("btnTestConnection")->isEnabled() &&
                         f.Button("btnTestConnection")->text() == QStringLiteral("Cancel");
            tabs_off = !f.pages->tabBar()->isEnabled() && !f.Button("Button10")->isEnabled();
            f.pages->setCurrentIndex(TPublisherWizard::kPageCompleted);
            page_after_click = f.pages->currentIndex();
            f.wizard.close();
            QTest::keyClick(f.Log(), Qt::Key_Escape);
            stayed = f.wizard.isVisible();
            release();
            first_done = QTest::qWaitFor([&] { return !f.wizard.ConnectionTestRunning(); }, 10000);
            first_lines = Lines(f.Log());
            first_listener = f.wizard.TestListener();
            f.Test();
            second_status = f.Status()->text();
            second_lines = Lines(f.Log());
            second_listener = f.wizard.TestListener();
        });
        release();
        QVERIFY(QTest::qWaitFor([&] { return !f.wizard.ConnectionTestRunning(); }, 10000));
        QCOMPARE(testing_status, QStringLiteral("Testing..."));
        QVERIFY(live_log);
        QVERIFY(button_off);
        QVERIFY(tabs_off);
        QCOMPARE(page_after_click, int(TPublisherWizard::kPageTestConnection));
        QVERIFY(stayed);
        QVERIFY(first_done);
        const QStringList expected{"error 1", "Connection established.", "two", "lines"};
        QCOMPARE(first_lines, expected);
        QCOMPARE(second_status, QStringLiteral("Passed"));
        QCOMPARE(second_lines, QStringList({"error 2", "Connection established.", "two", "lines"}));
        QVERIFY(first_listener != nullptr);
        QCOMPARE(second_listener, first_listener);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TPublisherWizardTest)
#include "PublisherWizardU_test.moc"
