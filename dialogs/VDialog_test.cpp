#include "dialogs/VDialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

// A dialog of the usual shape: an edit whose Enter handler counts, OK and Cancel in a button
// box, and a button of its own.
struct SampleDialog
{
    VDialog dialog;
    QLineEdit* edit;
    QPushButton* ok;
    QPushButton* cancel;
    QPushButton* other;
    int return_pressed = 0;
    int ok_clicks = 0;
    int other_clicks = 0;

    SampleDialog()
    {
        auto* layout = new QVBoxLayout(&dialog);
        edit = new QLineEdit(&dialog);
        other = new QPushButton(QStringLiteral("Other"), &dialog);
        auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        ok = box->button(QDialogButtonBox::Ok);
        cancel = box->button(QDialogButtonBox::Cancel);
        layout->addWidget(edit);
        layout->addWidget(other);
        layout->addWidget(box);
        QObject::connect(edit, &QLineEdit::returnPressed, [this] { ++return_pressed; });
        QObject::connect(ok, &QPushButton::clicked, [this] { ++ok_clicks; });
        QObject::connect(other, &QPushButton::clicked, [this] { ++other_clicks; });
        QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    }
};

}  // namespace

class VDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void EnterPressesTheFocusedButtonElseTheDefaultButton_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("ok_is_default");
        QTest::addColumn<bool>("ok_enabled");
        QTest::addColumn<int>("ok_clicks");
        QTest::addColumn<int>("other_clicks");
        QTest::addColumn<int>("return_pressed");

        QTest::newRow("edit, OK default") << "edit" << true << true << 1 << 0 << 1;
        QTest::newRow("edit, no default: nothing") << "edit" << false << true << 0 << 0 << 1;
        QTest::newRow("edit, OK disabled: nothing") << "edit" << true << false << 0 << 0 << 1;
        QTest::newRow("focused other button") << "other" << true << true << 0 << 1 << 0;
        QTest::newRow("focused OK without default") << "ok" << false << true << 1 << 0 << 0;
    }

    void EnterPressesTheFocusedButtonElseTheDefaultButton()
    {
        QFETCH(QString, focus);
        QFETCH(bool, ok_is_default);
        QFETCH(bool, ok_enabled);
        QFETCH(int, ok_clicks);
        QFETCH(int, other_clicks);
        QFETCH(int, return_pressed);

        SampleDialog sample;
        if (ok_is_default) {
            sample.dialog.SetDefaultButton(sample.ok);
        }
        sample.ok->setEnabled(ok_enabled);
        sample.dialog.show();
        QWidget* target = focus == "edit" ? static_cast<QWidget*>(sample.edit)
                          : focus == "ok" ? static_cast<QWidget*>(sample.ok)
                                          : static_cast<QWidget*>(sample.other);
        target->setFocus();
        QCOMPARE(sample.dialog.focusWidget(), target);
        for (QPushButton* button : sample.dialog.findChildren<QPushButton*>()) {
            QVERIFY(!button->autoDefault());
            QCOMPARE(button->isDefault(), ok_is_default && button == sample.ok);
        }
        QTest::keyClick(target, Qt::Key_Return);
        QCOMPARE(sample.ok_clicks, ok_clicks);
        QCOMPARE(sample.other_clicks, other_clicks);
        QCOMPARE(sample.return_pressed, return_pressed);
    }

    void EscRejectsUnlessSwallowedAndCloseAlwaysRejects()
    {
        SampleDialog plain;
        plain.dialog.show();
        QTest::keyClick(plain.edit, Qt::Key_Escape);
        QVERIFY(!plain.dialog.isVisible());
        QCOMPARE(plain.dialog.result(), int(QDialog::Rejected));

        SampleDialog wizard;
        wizard.dialog.SetSwallowEscape(true);
        wizard.dialog.show();
        QTest::keyClick(wizard.edit, Qt::Key_Escape);
        QVERIFY(wizard.dialog.isVisible());
        wizard.dialog.close();
        QVERIFY(!wizard.dialog.isVisible());
        QCOMPARE(wizard.dialog.result(), int(QDialog::Rejected));
    }

    void AScriptDrivesTheModalDialogAndEnterInTheEditAcceptsOnce()
    {
        SampleDialog sample;
        sample.dialog.SetDefaultButton(sample.ok);
        QObject::connect(sample.ok, &QPushButton::clicked, &sample.dialog, &QDialog::accept);
        int result = -1;
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget*) {
                sample.edit->setFocus();
                QTest::keyClicks(sample.edit, QStringLiteral("site"));
                QTest::keyClick(sample.edit, Qt::Key_Enter, Qt::KeypadModifier);
            },
            [&] { result = sample.dialog.exec(); });
        QVERIFY(run.script_ran);
        QVERIFY(!run.left_open);
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(sample.ok_clicks, 1);
        QCOMPARE(sample.return_pressed, 1);
        QCOMPARE(sample.edit->text(), QStringLiteral("site"));
    }

    void ADialogTheScriptLeavesOpenIsClosedAndReported()
    {
        SampleDialog sample;
        const testing::ModalRun run =
            testing::RunModal([](QWidget*) {}, [&] { sample.dialog.exec(); });
        QVERIFY(run.script_ran);
        QVERIFY(run.left_open);
        QVERIFY(!sample.dialog.isVisible());
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::VDialogTest)
#include "VDialog_test.moc"
