#include "dialogs/PublicationPropertiesU.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "dialogs/ControlStringGrid.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/PlatformFakes.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

template <typename T>
T* Find(QWidget* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

void Click(QWidget* window, const char* name)
{
    Find<QAbstractButton>(window, name)->click();
}

// A definition with every setting away from its default, its lists in their stored form.
void FillEverything(QelPublication& site)
{
    site.SetName("Site one");
    site.Source = "/home/u/site";
    site.Server = "ftp://ftp.example.com/www";
    site.Username = "user";
    site.Password = "p a,ss";
    site.Connection = "Dial B";
    site.ConnectionType = 0;
    site.ConnectionBehaviour = 2;
    site.DeleteOldFiles = 1;
    site.DeleteOldFilesNow = true;
    site.DotFileState.Treatment = 3;
    site.ConnectionTimeout = 45;
    site.GeneralTimeout = 15;
    site.LogExplainCopy = true;
    site.LogListFiles = true;
    site.UploadViaIntermediary = true;
    site.Disabled = true;
    site.FtpPort = 2121;
    site.FtpUseIndy = true;
    site.UploadModifiedNow = true;
    site.DefaultFilePermission = "644";
    site.IgnoreFiles = {"*\\thumbs.db"};
    site.ExcludeFiles = {"*.bak", "*\\old\\x.htm"};
    site.IgnoreFolders = {"\\private"};
    site.ExcludeFolders = {"*\\logs\\*"};
    site.AsciiFiles = {"*.htm", "index.php"};
    site.FilePermissions = {"*.cgi=755", "x.pl=700"};
}

// The editor of a grid cell, opened as a click would.
QWidget* OpenEditor(VStringGrid* grid, int col, int row)
{
    grid->SetCurrentCell(col, row);
    const QModelIndex index = grid->model()->index(VStringGrid::TableRow(row), col);
    grid->edit(index);
    return grid->indexWidget(index);
}

// Plays steps on the dialog's grid as a user would: "click C,R" clicks a cell; "type TEXT"
// types it key by key into whatever has the focus; any other step names a key to press there.
void Play(QWidget* dialog, VStringGrid* grid, const QStringList& steps)
{
    auto* pages = Find<QTabWidget>(dialog, "PropertiesControl");
    auto* inner = Find<QTabWidget>(dialog, "FilesPageControl");
    for (QTabWidget* tabs : {pages, inner}) {
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->isAncestorOf(grid)) {
                tabs->setCurrentIndex(i);
            }
        }
    }
    QCoreApplication::processEvents();
    for (const QString& step : steps) {
        const QString arg = step.section(' ', 1);
        if (step.startsWith("click ")) {
            const QModelIndex cell = grid->model()->index(
                VStringGrid::TableRow(arg.section(',', 1).toInt()), arg.section(',', 0, 0).toInt());
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                              grid->visualRect(cell).center());
        } else if (step.startsWith("type ")) {
            for (const QChar c : arg) {
                QTest::keyClick(dialog->focusWidget(), c.toLatin1());
            }
        } else {
            QTest::keyClick(dialog->focusWidget(), QKeySequence::fromString(step)[0].key());
        }
        // Enter closes an editor by a queued call.
        QCoreApplication::processEvents();
    }
}

QStringList Column(const VStringGrid* grid, int col)
{
    QStringList cells;
    for (int row = 1; row < grid->RowCount(); ++row) {
        cells << grid->Cell(col, row);
    }
    return cells;
}

}  // namespace

class TPublicationPropertiesTest : public QObject
{
    Q_OBJECT

private slots:
    void SaveWithNothingTouchedKeepsEverySetting()
    {
        testing::FakePhoneBook phone_book({"Dial A", "Dial B"});
        TPublicationProperties dialog;
        QelPublication site;
        FillEverything(site);
        // The dialog is made once and reused: the second showing refills every control.
        for (int showing = 0; showing < 2; ++showing) {
            QString caption;
            QString connection;
            bool dial_up_enabled = false;
            std::unique_ptr<QelPublication> copy;
            const auto run = testing::RunModal(
                [&](QWidget* w) {
                    caption = w->windowTitle();
                    connection = Find<QComboBox>(w, "combo_connection")->currentText();
                    dial_up_enabled = Find<QWidget>(w, "grpDialUp")->isEnabled();
                    Click(w, "SaveButton");
                },
                [&] { copy = dialog.Execute(site); });
            QVERIFY(run.script_ran && !run.left_open);
            QCOMPARE(caption, QString::fromStdString("Properties for " + site.GetName()));
            QCOMPARE(connection, QString("Dial B"));
            QVERIFY(dial_up_enabled);
            QVERIFY(copy != nullptr);
            QVERIFY(QelPublication::SameSettings(*copy, site));
            site.SetName("Site two");
            site.FilePermissions = {"*.cgi=711"};
            site.ConnectionBehaviour = 1;
        }
    }

    void CancelEscAndCloseReturnAnEqualCopy_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("Esc in a cell editor") << 2;
        QTest::newRow("Esc on the chooser") << 3;
        QTest::newRow("close") << 4;
    }

    void CancelEscAndCloseReturnAnEqualCopy()
    {
        QFETCH(int, how);
        testing::FakePhoneBook phone_book({"Dial A", "Dial B"});
        TPublicationProperties dialog;
        QelPublication site;
        FillEverything(site);
        site.AsciiFiles = {"*.txt", "*.htm"};  // Unsorted: the filling sorts the copy's list.
        std::unique_ptr<QelPublication> copy;
        const auto run = testing::RunModal(
            [&](QWidget* w) {
                Find<QLineEdit>(w, "EditName")->setText("Changed");
                Find<QCheckBox>(w, "chkDisable")->setChecked(false);
                auto* grid = Find<VStringGrid>(w, "FilesGrid");
                QWidget* editor = OpenEditor(grid, 0, grid->RowCount() - 1);
                QTest::keyClicks(editor, "new.txt");
                if (how == 0) {
                    Click(w, "CancelButton");
                } else if (how == 1) {
                    QTest::keyClick(Find<QWidget>(w, "PropertiesControl"), Qt::Key_Escape);
                } else if (how == 2) {
                    // One Esc, not one for the editor and one for the dialog.
                    QTest::keyClick(editor, Qt::Key_Escape);
                } else if (how == 3) {
                    QTest::keyClick(OpenEditor(grid, 1, 1), Qt::Key_Escape);
                } else {
                    w->close();
                }
            },
            [&] { copy = dialog.Execute(site); });
        QVERIFY(run.script_ran && !run.left_open);
        QVERIFY(QelPublication::SameSettings(*copy, site));
        QCOMPARE(copy->GetName(), std::string("Site one"));
    }

    // A typed number beyond its bounds is refused at Save and the dialog stays open; nothing
    // is brought within the bounds behind the user's back.
    void TypedNumbersAtSave_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("typed");  // Null: nothing typed.
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("saved");  // -1: refused
        QTest::addColumn<QString>("told");

        const QString port = "EditPortNumber";
        const QString connection = "edt_ConnectionTimeout";
        const QString general = "edt_GeneralTimeout";
        QTest::newRow("21 is the default") << port << 21 << QString() << "21" << 0 << "";
        QTest::newRow("0 is the default") << port << 0 << QString() << "21" << 0 << "";
        QTest::newRow("custom kept") << port << 2121 << QString() << "2121" << 2121 << "";
        QTest::newRow("port 70000 refused")
            << port << 2121 << "70000"
            << "70000" << -1 << "the FTP port 70000, which is not a port (1 to 65535)";
        QTest::newRow("port 65536 refused")
            << port << 2121 << "65536"
            << "65536" << -1 << "the FTP port 65536, which is not a port (1 to 65535)";
        QTest::newRow("port 65535 kept") << port << 2121 << "65535"
                                         << "65535" << 65535 << "";
        QTest::newRow("letters dropped") << port << 2121 << "2a1b"
                                         << "21" << 0 << "";
        QTest::newRow("empty port is the default") << port << 2121 << ""
                                                   << "" << 0 << "";
        QTest::newRow("connection 5 refused")
            << connection << 30 << "5"
            << "5" << -1 << "ConnectionTimeout the value 5, outside its range of 10 to 60";
        QTest::newRow("connection 61 refused")
            << connection << 30 << "61"
            << "61" << -1 << "ConnectionTimeout the value 61, outside its range of 10 to 60";
        QTest::newRow("connection 60 kept") << connection << 30 << "60"
                                            << "60" << 60 << "";
        QTest::newRow("general 9 refused")
            << general << 20 << "9"
            << "9" << -1 << "GeneralTimeout the value 9, outside its range of 10 to 60";
        QTest::newRow("general 0 is the default") << general << 45 << "0"
                                                  << "0" << 20 << "";
    }

    void TypedNumbersAtSave()
    {
        QFETCH(QString, field);
        QFETCH(int, stored);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, saved);
        QFETCH(QString, told);
        testing::FakeMessageBoxes boxes;
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        const bool port = field == "EditPortNumber";
        auto value_of = [&](const QelPublication& d) {
            return port                               ? int(d.FtpPort)
                   : field == "edt_ConnectionTimeout" ? d.ConnectionTimeout
                                                      : d.GeneralTimeout;
        };
        if (port) {
            site.FtpPort = static_cast<uint16_t>(stored);
        } else if (field == "edt_ConnectionTimeout") {
            site.ConnectionTimeout = stored;
        } else {
            site.GeneralTimeout = stored;
        }
        QString seen;
        bool default_checked = false;
        bool open_after_save = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                auto* control = Find<QWidget>(w, qPrintable(field));
                default_checked = Find<QRadioButton>(w, "rdoFtpPortDefault")->isChecked();
                auto* edit = port
                                 ? static_cast<QLineEdit*>(control)
                                 : static_cast<QAbstractSpinBox*>(control)->findChild<QLineEdit*>();
                if (!typed.isNull()) {
                    if (port) {
                        Find<QRadioButton>(w, "rdoCustomFtpPort")->setChecked(true);
                    }
                    control->setFocus();
                    edit->selectAll();
                    QTest::keyClick(edit, Qt::Key_Delete);
                    QTest::keyClicks(edit, typed);
                }
                // The focus leaves the field as a click on Save takes it.
                Find<QPushButton>(w, "SaveButton")->setFocus();
                seen = edit->text();
                Click(w, "SaveButton");
                open_after_save = w->isVisible();
                if (open_after_save) {
                    Click(w, "CancelButton");
                }
            },
            [&] { copy = dialog.Execute(site); });
        if (port) {
            QCOMPARE(seen, shown);
            QCOMPARE(default_checked, stored == 0 || stored == 21);
        }
        QCOMPARE(open_after_save, saved < 0);
        if (saved >= 0) {
            QVERIFY(boxes.Shown().empty());
            QCOMPARE(value_of(*copy), saved);
            return;
        }
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QVERIFY2(boxes.LastText().find(told.toStdString()) != std::string::npos,
                 boxes.LastText().c_str());
        QCOMPARE(value_of(*copy), stored);
    }

    // A source folder typed in must be there; one that has gone since it was chosen does not
    // hold up the other changes.
    void SaveRefusesATypedSourceFolderThatIsMissing_data()
    {
        QTest::addColumn<QString>("stored");  // in the sandbox
        QTest::addColumn<QString>("typed");   // Null: nothing typed.
        QTest::addColumn<bool>("saved");
        QTest::newRow("typed and there") << "gone"
                                         << "site" << true;
        QTest::newRow("typed and missing") << "site"
                                           << "missing" << false;
        QTest::newRow("stored, gone since") << "gone" << QString() << true;
    }
    void SaveRefusesATypedSourceFolderThatIsMissing()
    {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(bool, saved);
        testing::FakeMessageBoxes boxes;
        testing::TestSandbox files;
        files.WriteFile("site/index.html", "x");
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.Source = files.SystemPath(stored.toStdString());
        site.Disabled = false;
        bool open_after_save = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                if (!typed.isNull()) {
                    Find<QLineEdit>(w, "edt_source_directory")
                        ->setText(QString::fromStdString(files.SystemPath(typed.toStdString())));
                }
                Find<QCheckBox>(w, "chkDisable")->setChecked(true);
                Click(w, "SaveButton");
                open_after_save = w->isVisible();
                if (open_after_save) {
                    Click(w, "CancelButton");
                }
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(open_after_save, !saved);
        QCOMPARE(copy->Disabled, saved);
        if (!saved) {
            QCOMPARE(boxes.Shown().size(), size_t(1));
            QVERIFY2(boxes.LastText().find(files.Path("missing")) != std::string::npos,
                     boxes.LastText().c_str());
        }
    }

    // Enter presses Save wherever the focus is, but in a grid cell being edited, where it ends
    // the edit.
    void EnterSavesUnlessACellIsBeingEdited_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("saved");
        QTest::newRow("name") << "EditName" << true;
        QTest::newRow("connection list") << "combo_connection" << true;
        QTest::newRow("time-out") << "edt_GeneralTimeout" << true;
        QTest::newRow("grid cell being edited") << "FilesGrid" << false;
    }
    void EnterSavesUnlessACellIsBeingEdited()
    {
        QFETCH(QString, focus);
        QFETCH(bool, saved);
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        bool open_after_enter = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                QWidget* target = Find<QWidget>(w, qPrintable(focus));
                if (auto* grid = qobject_cast<VStringGrid*>(target)) {
                    Play(w, grid, {"click 0,1"});
                    target = w->focusWidget();
                } else {
                    target->setFocus();
                }
                QTest::keyClick(target, Qt::Key_Return);
                QCoreApplication::processEvents();
                open_after_enter = w->isVisible();
                if (open_after_enter) {
                    Click(w, "CancelButton");
                }
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(open_after_enter, !saved);
    }

    void ConnectionShownAndSaved_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("connection");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("dial_up");  // Shown as a dial-up entry: group on, kept by Save.

        QTest::newRow("no entries, any")
            << QStringList() << "" << 0 << "Any/LAN connection" << false;
        QTest::newRow("no entries, LAN only") << QStringList() << "" << 1 << "LAN only" << false;
        QTest::newRow("entry gone")
            << QStringList() << "eth0" << 0 << "Any/LAN connection" << false;
        QTest::newRow("entry gone, LAN only")
            << QStringList{"Dial A"} << "eth0" << 1 << "LAN only" << false;
        QTest::newRow("entry listed")
            << QStringList{"Dial A", "Dial B"} << "Dial B" << 0 << "Dial B" << true;
        QTest::newRow("entry listed, LAN only")
            << QStringList{"Dial A"} << "Dial A" << 1 << "Dial A" << true;
    }

    // The box offers what the system lists and the two LAN choices, and takes no typed name.
    void ConnectionShownAndSaved()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, connection);
        QFETCH(int, type);
        QFETCH(QString, shown);
        QFETCH(bool, dial_up);
        std::vector<std::string> names;
        for (const QString& entry : entries) {
            names.push_back(entry.toStdString());
        }
        testing::FakePhoneBook book(names);
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.Connection = connection.toStdString();
        site.ConnectionType = static_cast<uint8_t>(type);
        site.ConnectionBehaviour = 2;
        QStringList items;
        QString current;
        bool editable = true;
        bool group_enabled = !dial_up;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                auto* combo = Find<QComboBox>(w, "combo_connection");
                for (int i = 0; i < combo->count(); ++i) {
                    items << combo->itemText(i);
                }
                current = combo->currentText();
                editable = combo->isEditable();
                group_enabled = Find<QWidget>(w, "grpDialUp")->isEnabled();
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(items, QStringList{"Any/LAN connection"} + entries + QStringList{"LAN only"});
        QVERIFY(!editable);
        QCOMPARE(current, shown);
        QCOMPARE(group_enabled, dial_up);
        QCOMPARE(copy->Connection, dial_up ? connection.toStdString() : std::string());
        QCOMPARE(int(copy->ConnectionType), shown == "LAN only" ? 1 : 0);
        QCOMPARE(int(copy->ConnectionBehaviour), dial_up ? 2 : 0);
    }

    void ChoosingAConnectionSwitchesTheDialUpGroup()
    {
        testing::FakePhoneBook book({"Dial A"});
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.ConnectionBehaviour = 1;
        site.Connection = "Dial A";
        site.ConnectionType = 1;
        bool enabled_on_lan = true;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                auto* combo = Find<QComboBox>(w, "combo_connection");
                QCOMPARE(combo->currentText(), QString("Dial A"));
                combo->setCurrentIndex(0);
                emit combo->activated(0);
                enabled_on_lan = Find<QWidget>(w, "grpDialUp")->isEnabled();
                combo->setCurrentIndex(1);
                emit combo->activated(1);
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QVERIFY(!enabled_on_lan);
        QCOMPARE(copy->Connection, std::string("Dial A"));
        QCOMPARE(int(copy->ConnectionType), 0);
        QCOMPARE(int(copy->ConnectionBehaviour), 1);
    }

    void BrowseDefaultsAndDefaultPermission()
    {
        // Save takes only a chosen source folder that is there.
        testing::TestSandbox files;
        files.WriteFile("new/index.html", "x");
        const QString chosen = QString::fromStdString(files.Path("new"));
        testing::FakeFolderChooser folders({chosen, std::nullopt});
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.Source = "/srv/old";
        site.ConnectionTimeout = 50;
        site.GeneralTimeout = 11;
        site.DefaultFilePermission = "600";
        QStringList sources;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                Find<QLineEdit>(w, "EditName")->setText("Named");
                Click(w, "btn_browse_source");
                sources << Find<QLineEdit>(w, "edt_source_directory")->text();
                Click(w, "btn_browse_source");  // Cancelled: the text stays.
                sources << Find<QLineEdit>(w, "edt_source_directory")->text();
                Click(w, "btn_DefaultConnectionTimeout");
                Click(w, "btn_DefaultTimeouts");
                testing::RunModal([&](QWidget* chmod) { Click(chmod, "btnDelete"); },
                                  [&] { Click(w, "btnChangeDefFilePermission"); });
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(sources, (QStringList{chosen, chosen}));
        QCOMPARE(folders.Requests().size(), size_t(2));
        QCOMPARE(folders.Requests()[0].title, QString("Select source directory for Named"));
        QCOMPARE(folders.Requests()[0].initial_folder, QString("/srv/old"));
        QCOMPARE(copy->Source, chosen.toStdString());
        QCOMPARE(copy->ConnectionTimeout, 30);
        QCOMPARE(copy->GeneralTimeout, 20);
        QCOMPARE(copy->DefaultFilePermission, std::string());
    }

    void WarnAfterDeleteDisablesTheDeleteTimes()
    {
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        bool delete_checked = true;
        bool times_enabled_before = false;
        bool times_enabled_after = true;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                Find<QCheckBox>(w, "chkDeleteOldFiles")->click();
                times_enabled_before = Find<QWidget>(w, "rdoDeleteLater")->isEnabled();
                Find<QCheckBox>(w, "chkWarnOldFiles")->click();
                delete_checked = Find<QCheckBox>(w, "chkDeleteOldFiles")->isChecked();
                times_enabled_after = Find<QWidget>(w, "rdoDeleteStraightAway")->isEnabled() ||
                                      Find<QWidget>(w, "rdoDeleteLater")->isEnabled();
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QVERIFY(times_enabled_before);
        QVERIFY(!delete_checked);
        QVERIFY(!times_enabled_after);
        QCOMPARE(int(copy->DeleteOldFiles), 2);
    }

    void InformationPage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("status_text");
        QTest::addColumn<QString>("error_text");
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("published");

        QTest::newRow("never") << 0 << "Never published"
                               << "boom"
                               << "unknown"
                               << "never";
        QTest::newRow("error") << 1 << "Error"
                               << "boom"
                               << "12"
                               << "dated";
        QTest::newRow("published") << 2 << "Published"
                                   << "No error."
                                   << "12"
                                   << "dated";
        QTest::newRow("needs") << 3 << "Needs publishing"
                               << "boom"
                               << "12"
                               << "dated";
        QTest::newRow("publishing") << 4 << "Unknown"
                                    << "boom"
                                    << "12"
                                    << "dated";
        QTest::newRow("interrupted") << 5 << "Interrupted"
                                     << "boom"
                                     << "12"
                                     << "dated";
    }

    void InformationPage()
    {
        QFETCH(int, status);
        QFETCH(QString, status_text);
        QFETCH(QString, error_text);
        QFETCH(QString, files);
        QFETCH(QString, published);
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.Status = static_cast<TPublicationStatus>(status);
        site.LastErrorText = "boom";
        site.WebFileCount = 12;
        site.WebPageCount = 0;
        site.LastPublished = 45000.5;
        site.SrcFileCount = 0;
        site.SrcMostRecent = 45000.5;
        QStringList seen;
        testing::RunModal(
            [&](QWidget* w) {
                for (const char* name :
                     {"edt_publication_status", "edt_website_files", "edt_website_published",
                      "edt_web_pages", "edt_source_latest"}) {
                    seen << Find<QLineEdit>(w, name)->text();
                }
                seen << Find<QPlainTextEdit>(w, "mmo_last_error")->toPlainText();
                Click(w, "CancelButton");
            },
            [&] { (void)dialog.Execute(site); });
        QCOMPARE(seen[0], status_text);
        QCOMPARE(seen[1], files);
        QCOMPARE(seen[2] == "never", published == "never");
        QVERIFY(!seen[2].isEmpty());
        QCOMPARE(seen[3], QString());  // No pages counted: empty.
        QCOMPARE(seen[4], QString());  // No source files: no date.
        QCOMPARE(seen[5], error_text);
    }

    // Destinations are folders of a sandbox whose "src" is the web site's source.
    void SaveRefusesNamesThatAreEmptyOrTakenAndFoldersThatOverlap_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("refused");
        QTest::newRow("another site's name") << "Other"
                                             << "dst" << true;
        QTest::newRow("blanks only") << "   "
                                     << "dst" << true;
        QTest::newRow("own name") << "Mine"
                                  << "dst" << false;
        QTest::newRow("free name") << "Fresh"
                                   << "dst" << false;
        QTest::newRow("destination inside the source") << "Mine"
                                                       << "src/out" << true;
        QTest::newRow("destination holding the source") << "Mine"
                                                        << "." << true;
        QTest::newRow("destination beside the source") << "Mine"
                                                       << "src-copy" << false;
    }

    void SaveRefusesNamesThatAreEmptyOrTakenAndFoldersThatOverlap()
    {
        QFETCH(QString, typed);
        QFETCH(QString, destination);
        QFETCH(bool, refused);
        testing::FakeMessageBoxes boxes;
        testing::TestSandbox folders;
        folders.MakeFolder("src");
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("Mine");
        site.Source = folders.Path("src");
        bool open_after_save = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                Find<QLineEdit>(w, "EditName")->setText(typed);
                Find<QLineEdit>(w, "EditFTP")
                    ->setText(QString::fromStdString(folders.Path(destination.toStdString())));
                Click(w, "SaveButton");
                open_after_save = w->isVisible();
                if (open_after_save) {
                    Click(w, "CancelButton");
                }
            },
            [&] {
                copy = dialog.Execute(site, [](const std::string& name) {
                    return name == "Other" || name == "Mine";
                });
            });
        QCOMPARE(open_after_save, refused);
        QCOMPARE(boxes.Shown().size(), size_t(refused ? 1 : 0));
        if (refused) {
            QCOMPARE(boxes.Shown()[0].type, 48u);
            QCOMPARE(copy->GetName(), std::string("Mine"));
            QCOMPARE(copy->Server, std::string());
            QCOMPARE(boxes.Shown()[0].text.find(" lies inside ") != std::string::npos,
                     destination != "dst");
        } else {
            QCOMPARE(copy->GetName(), typed.toStdString());
        }
    }

    // The stored port is 2200; a port written in the address takes its place at Save, and an
    // address that cannot be read keeps the dialog open with a message that quotes it.
    void SaveReadsTheAddressAndTakesItsPort_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("saved");       // the port saved; -1: refused
        QTest::addColumn<QString>("reason");  // in the refusal
        QTest::newRow("no port") << "ftp:host/site" << 2200 << "";
        QTest::newRow("a port") << "ftp://host:2121/site" << 2121 << "";
        QTest::newRow("port 21") << "host:21\\site" << 0 << "";
        QTest::newRow("port 0") << "ftp://host:0/site" << -1 << "must be a number from 1 to 65535";
        QTest::newRow("a user in it") << "ftp://me@host/site" << -1 << "user name and password";
        QTest::newRow("another protocol") << "sftp://host/site" << -1 << "not sftp";
    }
    void SaveReadsTheAddressAndTakesItsPort()
    {
        QFETCH(QString, typed);
        QFETCH(int, saved);
        QFETCH(QString, reason);
        testing::FakeMessageBoxes boxes;
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.FtpPort = 2200;
        bool open_after_save = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                Find<QLineEdit>(w, "EditFTP")->setText(typed);
                Click(w, "SaveButton");
                open_after_save = w->isVisible();
                if (open_after_save) {
                    Click(w, "CancelButton");
                }
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(open_after_save, saved < 0);
        if (saved >= 0) {
            QVERIFY(boxes.Shown().empty());
            QCOMPARE(copy->Server, typed.toStdString());
            QCOMPARE(int(copy->FtpPort), saved);
            return;
        }
        QCOMPARE(boxes.Shown().size(), size_t(1));
        const std::string text = boxes.LastText();
        QVERIFY2(text.find("\"" + typed.toStdString() + "\"") != std::string::npos, text.c_str());
        QVERIFY2(text.find(reason.toStdString()) != std::string::npos, text.c_str());
    }

    void SaveRefusesSettingsBeyondTheirBounds_data()
    {
        QTest::addColumn<int>("patterns");      // in the definition's ExcludeFiles
        QTest::addColumn<int>("source_bytes");  // typed as the source
        QTest::addColumn<QString>("told");      // empty: saved
        QTest::newRow("patterns at the bound") << int(kPatternItemsAtMost) << 10 << "";
        QTest::newRow("one pattern more")
            << int(kPatternItemsAtMost) + 1 << 10 << "Too long to be saved: the file exclusions (";
        QTest::newRow("a source too long") << 1 << int(kSettingTextBytesAtMost) + 1
                                           << "Too long to be saved: the local source directory (";
    }
    void SaveRefusesSettingsBeyondTheirBounds()
    {
        QFETCH(int, patterns);
        QFETCH(int, source_bytes);
        QFETCH(QString, told);
        testing::FakeMessageBoxes boxes;
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        for (int i = 0; i < patterns; ++i) {
            site.ExcludeFiles.push_back("*\\x" + std::to_string(i) + ".htm");
        }
        bool open_after_save = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                // Only the row about the source types one: a short one would be no folder.
                if (source_bytes > int(kSettingTextBytesAtMost)) {
                    Find<QLineEdit>(w, "edt_source_directory")->setText(QString(source_bytes, 's'));
                }
                Click(w, "SaveButton");
                open_after_save = w->isVisible();
                if (open_after_save) {
                    Click(w, "CancelButton");
                }
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(open_after_save, !told.isEmpty());
        if (told.isEmpty()) {
            QVERIFY(boxes.Shown().empty());
            QCOMPARE(copy->ExcludeFiles.size(), size_t(patterns));
            return;
        }
        QCOMPARE(boxes.Shown().size(), size_t(1));
        QCOMPARE(boxes.Shown()[0].caption, std::string(kBeyondBoundsCaption));
        QVERIFY2(boxes.LastText().starts_with(told.toStdString()), boxes.LastText().c_str());
        QVERIFY(QelPublication::SameSettings(*copy, site));
    }

    void DifferingPasswordsKeepTheDialogOpen()
    {
        testing::FakeMessageBoxes boxes;
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.Password = "a";
        bool open = false;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                Find<QLineEdit>(w, "edt_password2")->setText("b");
                Click(w, "SaveButton");
                open = w->isVisible();
                Click(w, "CancelButton");
            },
            [&] { copy = dialog.Execute(site); });
        QVERIFY(open);
        QCOMPARE(boxes.LastText(), std::string("The password and the re-typed password are not "
                                               "the same. Please re-enter the password."));
        QCOMPARE(boxes.Shown()[0].caption, std::string("Please retype password"));
    }

    void FileGridsAreEditedKeyByKey()
    {
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.ExcludeFiles = {"*\\a.txt", "*\\b.txt", "*\\c.txt"};
        QStringList after_typing, actions, after_clearing, ascii;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                auto* files = Find<VStringGrid>(w, "FilesGrid");
                // Typing into the empty last row adds a row at once and sets "Ignore".
                QTest::keyClicks(OpenEditor(files, 0, 4), "n,ew.log");
                after_typing << Column(files, 0) << Column(files, 1);
                // "Delete" then x stays "Delete"; then i gives "Ignore".
                auto* combo = qobject_cast<QComboBox*>(OpenEditor(files, 1, 1));
                QTest::keyClick(combo, Qt::Key_X);
                actions << files->Cell(1, 1);
                QTest::keyClick(combo, Qt::Key_I);
                actions << files->Cell(1, 1);
                // Clearing a middle row removes it.
                auto* edit = qobject_cast<QLineEdit*>(OpenEditor(files, 0, 2));
                edit->selectAll();
                QTest::keyClick(edit, Qt::Key_Backspace);
                after_clearing << Column(files, 0);
                auto* text_files = Find<VStringGrid>(w, "AsciiFileGrid");
                QTest::keyClicks(OpenEditor(text_files, 0, 1), "index.htm");
                ascii << Column(text_files, 0);
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QCOMPARE(after_typing, (QStringList{"a.txt", "b.txt", "c.txt", "new.log", "", "Delete",
                                            "Delete", "Delete", "Ignore", ""}));
        QCOMPARE(actions, (QStringList{"Delete", "Ignore"}));
        QCOMPARE(after_clearing, (QStringList{"a.txt", "c.txt", "new.log", ""}));
        QCOMPARE(ascii, (QStringList{"index.htm", ""}));
        QCOMPARE(copy->IgnoreFiles, (std::vector<std::string>{"*\\a.txt", "*\\new.log"}));
        QCOMPARE(copy->ExcludeFiles, (std::vector<std::string>{"*\\c.txt"}));
        QCOMPARE(copy->AsciiFiles, (std::vector<std::string>{"index.htm"}));
    }

    void GridEditingKeepsEveryKey_data()
    {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("patterns");
        QTest::addColumn<QStringList>("second");  // The "On Server" or "Permission" column.

        QTest::newRow("empty grid: click, type, Tab through the chooser to the new row")
            << "FoldersGrid" << QStringList{"click 0,1", "type *.php", "Tab", "Tab", "type logs"}
            << QStringList{"*.php", "logs", ""} << QStringList{"Ignore", "Ignore", ""};
        QTest::newRow("arrows move the editor, Enter closes it, a key opens it again")
            << "FilesGrid"
            << QStringList{"click 0,2", "End",  "type 2", "Up",     "End", "type 1", "Return",
                           "Down",      "Down", "type n", "Return", "Up",  "Down",   "type w"}
            << QStringList{"a.txt1", "b.txt2", "w", ""}
            << QStringList{"Delete", "Delete", "Ignore", ""};
        QTest::newRow("a Backspace more than a row needs keeps the row below")
            << "FilesGrid" << QStringList{"click 0,1", "Backspace", "Backspace", "type x"}
            << QStringList{"xb.txt", ""} << QStringList{"Delete", ""};
        QTest::newRow("permissions: Tab over the button to the new row")
            << "FilePermissionsGrid"
            << QStringList{"click 0,1", "type *.cgi", "Tab", "type 755", "Tab",
                           "Tab",       "type x.pl",  "Tab", "type 7000"}
            << QStringList{"*.cgi", "x.pl", ""} << QStringList{"755", "000", ""};
    }

    // Every key reaches the cell it was typed in, and every editor is opened and closed by the
    // grid it belongs to (Qt warns of an editor closed by a grid not its own).
    void GridEditingKeepsEveryKey()
    {
        QFETCH(QString, grid);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, patterns);
        QFETCH(QStringList, second);
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                if (text.contains("commitData") || text.contains("closeEditor")) {
                    warnings << text;
                }
            });
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.ExcludeFiles = {"*\\a.txt", "*\\b.txt"};
        QStringList seen_patterns, seen_second;
        testing::RunModal(
            [&](QWidget* w) {
                auto* view = Find<VStringGrid>(w, grid.toLatin1().constData());
                Play(w, view, steps);
                seen_patterns = Column(view, 0);
                seen_second = Column(view, 1);
                Click(w, "SaveButton");
            },
            [&] { (void)dialog.Execute(site); });
        qInstallMessageHandler(previous);
        QCOMPARE(seen_patterns, patterns);
        QCOMPARE(seen_second, second);
        QCOMPARE(warnings, QStringList());
    }

    void PermissionRowsAndTheirButtons()
    {
        TPublicationProperties dialog;
        QelPublication site;
        site.SetName("s");
        site.FilePermissions = {"*\\a.pl=700", "b.pl=711", "c.pl=755"};
        QString typed_permission;
        bool new_row_has_button = false;
        bool button_gone = false;
        bool next_button_in_place = false;
        QStringList names;
        std::unique_ptr<QelPublication> copy;
        testing::RunModal(
            [&](QWidget* w) {
                auto* grid = Find<TControlStringGrid>(w, "FilePermissionsGrid");
                QTest::keyClicks(OpenEditor(grid, 0, 4), "d.pl");
                new_row_has_button =
                    grid->GetCellControl(2, 4) != nullptr && grid->GetCellControl(2, 5) == nullptr;
                QTest::keyClicks(OpenEditor(grid, 1, 4), "0755");
                typed_permission = grid->Cell(1, 4);
                // "Delete" in the permission dialog of row 2 removes the row and its button.
                QPointer<QWidget> button = grid->GetCellControl(2, 2);
                QWidget* next = grid->GetCellControl(2, 3);
                testing::RunModal([&](QWidget* chmod) { Click(chmod, "btnDelete"); },
                                  [&] { qobject_cast<QPushButton*>(button.data())->click(); });
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                button_gone = button == nullptr || !button->isVisible();
                next_button_in_place = grid->GetCellControl(2, 2) == next;
                names << Column(grid, 0);
                Click(w, "SaveButton");
            },
            [&] { copy = dialog.Execute(site); });
        QVERIFY(new_row_has_button);
        QCOMPARE(typed_permission, QString("755"));
        QVERIFY(button_gone);
        QVERIFY(next_button_in_place);
        QCOMPARE(names, (QStringList{"a.pl", "c.pl", "d.pl", ""}));
        QCOMPARE(copy->FilePermissions,
                 (std::vector<std::string>{"a.pl=700", "c.pl=755", "d.pl=755"}));
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TPublicationPropertiesTest)
#include "PublicationPropertiesU_test.moc"
