#include "dialogs/DebugOutput.h"

#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <thread>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {

class TDebugOutputFormTest : public QObject
{
    Q_OBJECT

private slots:
    void ReportsFromAnotherThreadAppearAtTheNextTick()
    {
        TDebugOutputForm::Report("before the window: lost");
        TDebugOutputForm form;
        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("MemoNotes"));
        auto* timer = form.findChild<QTimer*>(QStringLiteral("UpdateTimer"));
        QCOMPARE(timer->interval(), 1000);
        QVERIFY(timer->isActive());
        timer->setInterval(20);

        std::thread reporter([] {
            TDebugOutputForm::Report("one");
            TDebugOutputForm::Report("");
            TDebugOutputForm::Report("two");
        });
        reporter.join();
        QVERIFY(form.isHidden());

        QTRY_COMPARE(memo->toPlainText(), QStringLiteral("one\ntwo"));
        QVERIFY(form.isVisible());

        TDebugOutputForm::ReportImmediate("three");
        QCOMPARE(memo->toPlainText(), QStringLiteral("one\ntwo\nthree"));
        QTest::qWait(60);
        QCOMPARE(memo->toPlainText(), QStringLiteral("one\ntwo\nthree"));
    }

    void AReportAfterTheWindowIsGoneDoesNothing()
    {
        {
            TDebugOutputForm form;
        }
        TDebugOutputForm::Report("nobody listens");
        TDebugOutputForm::ReportImmediate("nobody listens");
        TDebugOutputForm form;
        auto* memo = form.findChild<QPlainTextEdit*>(QStringLiteral("MemoNotes"));
        TDebugOutputForm::ReportImmediate("");
        QVERIFY(memo->toPlainText().isEmpty());
        QVERIFY(form.isHidden());
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TDebugOutputFormTest)
#include "DebugOutput_test.moc"
