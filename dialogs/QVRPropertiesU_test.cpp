#include "dialogs/QVRPropertiesU.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include "tests/support/qt/DialogDriver.h"
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

bool SameOptions(const TQVRProperties& a, const TQVRProperties& b)
{
    return a.OpenLog == b.OpenLog && a.DisplayCompletedMessage == b.DisplayCompletedMessage &&
           a.CompletedMessageTimesout == b.CompletedMessageTimesout &&
           a.CompletedMessageTimeout == b.CompletedMessageTimeout &&
           a.CompletedMessageGrabsAttention == b.CompletedMessageGrabsAttention;
}

}  // namespace

class TQVRPropertiesFormTest : public QObject
{
    Q_OBJECT

private slots:
    void OkStoresTheTimeoutAsTheSpinEditReadsIt_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("typed");  // Null: nothing typed.
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("saved");

        QTest::newRow("1000 shows 600") << 1000 << QString() << 600 << 600;
        QTest::newRow("typed 5 reads 10") << 60 << "5" << 60 << 10;
        QTest::newRow("typed 45 reads 45") << 60 << "45" << 60 << 45;
        QTest::newRow("typed 1000 reads 600") << 60 << "1000" << 60 << 600;
        QTest::newRow("typed nothing reads 10") << 60 << "" << 60 << 10;
    }

    void OkStoresTheTimeoutAsTheSpinEditReadsIt()
    {
        QFETCH(int, stored);
        QFETCH(QString, typed);
        QFETCH(int, shown);
        QFETCH(int, saved);

        TQVRPropertiesForm form;
        TQVRProperties options;
        options.CompletedMessageTimesout = true;
        options.CompletedMessageTimeout = stored;
        int seen = 0;
        const auto run = testing::RunModal(
            [&](QWidget* w) {
                auto* spin = Find<QSpinBox>(w, "seTimeout");
                seen = spin->value();
                if (!typed.isNull()) {
                    spin->setFocus();
                    spin->selectAll();
                    QTest::keyClick(spin, Qt::Key_Delete);
                    QTest::keyClicks(spin, typed);
                }
                Click(w, "btnOk");
            },
            [&] { form.Execute(options); });

        QVERIFY(run.script_ran && !run.left_open);
        QCOMPARE(seen, shown);
        QCOMPARE(options.CompletedMessageTimeout, saved);
    }

    void DefaultsThenCancelLeavesTheOptionsAlone()
    {
        TQVRPropertiesForm form;
        TQVRProperties options;
        options.OpenLog = true;
        options.DisplayCompletedMessage = false;
        options.CompletedMessageTimesout = true;
        options.CompletedMessageTimeout = 300;
        options.CompletedMessageGrabsAttention = false;
        const TQVRProperties before = options;
        bool display_shown = false;
        int timeout_shown = 0;
        const auto run = testing::RunModal(
            [&](QWidget* w) {
                Click(w, "btnDefaults");
                display_shown = Find<QRadioButton>(w, "rbCompletedDisplay")->isChecked();
                timeout_shown = Find<QSpinBox>(w, "seTimeout")->value();
                Click(w, "btnCancel");
            },
            [&] { form.Execute(options); });

        QVERIFY(run.script_ran && !run.left_open);
        QVERIFY(display_shown);
        QCOMPARE(timeout_shown, 60);
        QVERIFY(SameOptions(options, before));
    }

    void SilentDisablesTheGroupYetOkStillWritesIt()
    {
        TQVRPropertiesForm form;
        TQVRProperties options;
        options.OpenLog = false;
        options.CompletedMessageGrabsAttention = true;
        bool group_enabled_before = false;
        bool group_enabled_after = true;
        bool timeout_enabled = true;
        const auto run = testing::RunModal(
            [&](QWidget* w) {
                group_enabled_before = Find<QGroupBox>(w, "gbDisplayMessage")->isEnabled();
                timeout_enabled = Find<QSpinBox>(w, "seTimeout")->isEnabled();
                Click(w, "rbDisplayTimeout");
                Find<QSpinBox>(w, "seTimeout")->setValue(120);
                Click(w, "chkAttractAttention");
                Click(w, "rbCompletedSilent");
                group_enabled_after = Find<QGroupBox>(w, "gbDisplayMessage")->isEnabled();
                Click(w, "chkShowPublicationLog");
                Click(w, "btnOk");
            },
            [&] { form.Execute(options); });

        QVERIFY(run.script_ran && !run.left_open);
        QVERIFY(group_enabled_before);
        QVERIFY(!timeout_enabled);
        QVERIFY(!group_enabled_after);
        QVERIFY(options.OpenLog);
        QVERIFY(!options.DisplayCompletedMessage);
        QVERIFY(options.CompletedMessageTimesout);
        QCOMPARE(options.CompletedMessageTimeout, 120);
        QVERIFY(!options.CompletedMessageGrabsAttention);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TQVRPropertiesFormTest)
#include "QVRPropertiesU_test.moc"
