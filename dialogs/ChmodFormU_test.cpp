#include "dialogs/ChmodFormU.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

const char* const kBoxes[9] = {"chkOwnerRead", "chkOwnerWrite", "chkOwnerExecute",
                               "chkGroupRead", "chkGroupWrite", "chkGroupExecute",
                               "chkWorldRead", "chkWorldWrite", "chkWorldExecute"};

// The boxes as ls shows a permission: "rw-r--r--".
QString Boxes(QWidget* dialog)
{
    QString shown;
    for (int i = 0; i < 9; ++i) {
        auto* box = dialog->findChild<QCheckBox*>(QLatin1String(kBoxes[i]));
        shown += box != nullptr && box->isChecked() ? QLatin1Char("rwx"[i % 3]) : QLatin1Char('-');
    }
    return shown;
}

}  // namespace

class TChmodFormTest : public QObject
{
    Q_OBJECT

private:
    // The one dialog is reused across the rows, as the program reuses it.
    std::unique_ptr<TChmodForm> form_;

private slots:
    void initTestCase() { form_ = std::make_unique<TChmodForm>(); }
    void cleanupTestCase() { form_.reset(); }

    void TypingClickingAndClosingGiveTheModeAndTextTheyStandFor_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("clicked");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<QString>("close");
        QTest::addColumn<QString>("result");

        const QStringList none;
        QTest::newRow("644 checks its boxes") << "644"
                                              << "" << none << "644"
                                              << "rw-r--r--"
                                              << "btnOk"
                                              << "644";
        QTest::newRow("an empty text checks none") << ""
                                                   << "" << none << ""
                                                   << "---------"
                                                   << "btnOk"
                                                   << "";
        QTest::newRow("four given digits keep the last three") << "0755"
                                                               << "" << none << "755"
                                                               << "rwxr-xr-x"
                                                               << "btnOk"
                                                               << "755";
        QTest::newRow("letters in the given text are dropped") << "6a4x4"
                                                               << "" << none << "644"
                                                               << "rw-r--r--"
                                                               << "btnCancel"
                                                               << "6a4x4";
        QTest::newRow("7 typed into an empty edit shows 007") << ""
                                                              << "7" << none << "007"
                                                              << "------rwx"
                                                              << "btnOk"
                                                              << "007";
        QTest::newRow("typed digits replace the given ones") << "755"
                                                             << "640" << none << "640"
                                                             << "rw-r-----"
                                                             << "Enter"
                                                             << "640";
        QTest::newRow("a fourth digit keeps the last three") << ""
                                                             << "1234" << none << "234"
                                                             << "-w--wxr--"
                                                             << "btnOk"
                                                             << "234";
        QTest::newRow("8, 9 and letters are refused") << "64"
                                                      << "89aZ-" << none << "064"
                                                      << "---rw-r--"
                                                      << "btnOk"
                                                      << "064";
        QTest::newRow("world execute on an empty edit gives 001")
            << ""
            << "" << QStringList{"chkWorldExecute"} << "001"
            << "--------x"
            << "btnOk"
            << "001";
        QTest::newRow("clearing every box empties the edit")
            << "644"
            << "" << QStringList{"chkOwnerRead", "chkOwnerWrite", "chkGroupRead", "chkWorldRead"}
            << ""
            << "---------"
            << "btnOk"
            << "";
        QTest::newRow("boxes add to typed digits")
            << ""
            << "5" << QStringList{"chkOwnerWrite", "chkGroupExecute"} << "215"
            << "-w---xr-x"
            << "btnOk"
            << "215";
        QTest::newRow("Cancel gives the given text") << "644"
                                                     << "7" << none << "007"
                                                     << "------rwx"
                                                     << "btnCancel"
                                                     << "644";
        QTest::newRow("Esc gives the given text") << "644"
                                                  << "1" << none << "001"
                                                  << "--------x"
                                                  << "Esc"
                                                  << "644";
        QTest::newRow("Delete gives an empty text") << "644"
                                                    << "" << none << "644"
                                                    << "rw-r--r--"
                                                    << "btnDelete"
                                                    << "";
        QTest::newRow("empty: Cancel gives empty") << ""
                                                   << "" << none << ""
                                                   << "---------"
                                                   << "btnCancel"
                                                   << "";
        QTest::newRow("empty: Delete gives empty") << ""
                                                   << "" << none << ""
                                                   << "---------"
                                                   << "btnDelete"
                                                   << "";
    }

    void TypingClickingAndClosingGiveTheModeAndTextTheyStandFor()
    {
        QFETCH(QString, given);
        QFETCH(QString, typed);
        QFETCH(QStringList, clicked);
        QFETCH(QString, shown);
        QFETCH(QString, boxes);
        QFETCH(QString, close);
        QFETCH(QString, result);

        QString first_boxes;
        QString edit_text;
        QString box_text;
        QString got;
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget* dialog) {
                auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("edtChmod"));
                first_boxes = Boxes(dialog);
                QTest::keyClicks(edit, typed);
                for (const QString& name : clicked) {
                    QTest::mouseClick(dialog->findChild<QCheckBox*>(name), Qt::LeftButton);
                }
                edit_text = edit->text();
                box_text = Boxes(dialog);
                if (close == QLatin1String("Enter")) {
                    QTest::keyClick(edit, Qt::Key_Return);
                } else if (close == QLatin1String("Esc")) {
                    QTest::keyClick(edit, Qt::Key_Escape);
                } else {
                    QTest::mouseClick(dialog->findChild<QPushButton*>(close), Qt::LeftButton);
                }
            },
            [&] { got = form_->Execute(given); });

        QVERIFY(run.script_ran);
        QVERIFY(!run.left_open);
        if (typed.isEmpty() && clicked.isEmpty()) {
            QCOMPARE(first_boxes, boxes);
        }
        QCOMPARE(edit_text, shown);
        QCOMPARE(box_text, boxes);
        QCOMPARE(got, result);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TChmodFormTest)
#include "ChmodFormU_test.moc"
