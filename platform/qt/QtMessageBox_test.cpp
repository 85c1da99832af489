#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/Ui.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel::platform {
namespace {

struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    bool open_after_escape = false;
    int width = 0;
    int caption_width = 0;
};

int32_t IdOf(QMessageBox::StandardButton button)
{
    switch (button) {
        case QMessageBox::Ok:
            return kIdOk;
        case QMessageBox::Cancel:
            return kIdCancel;
        case QMessageBox::Abort:
            return kIdAbort;
        case QMessageBox::Retry:
            return kIdRetry;
        case QMessageBox::Ignore:
            return kIdIgnore;
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        default:
            return 0;
    }
}

}  // namespace

class QtMessageBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void ABoxAskedForByAWorkerShowsTheTypeOnTheGuiThread_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QList<int>>("buttons");
        QTest::addColumn<int>("default_id");
        // What Esc answers; 0: it does nothing, and the last button is clicked instead.
        QTest::addColumn<int>("escape_id");

        QTest::newRow("ok") << "Note" << 0x0u << "Note" << int(QMessageBox::NoIcon)
                            << QList<int>{kIdOk} << kIdOk << kIdOk;
        QTest::newRow("empty caption, stop icon")
            << "" << 0x10u << "Vantrel" << int(QMessageBox::Critical) << QList<int>{kIdOk} << kIdOk
            << kIdOk;
        QTest::newRow("yes no cancel, question, second default")
            << "Confirm Delete" << 0x123u << "Confirm Delete" << int(QMessageBox::Question)
            << QList<int>{kIdYes, kIdNo, kIdCancel} << kIdNo << kIdCancel;
        QTest::newRow("yes no, warning: Esc does nothing")
            << "Q" << 0x34u << "Q" << int(QMessageBox::Warning) << QList<int>{kIdYes, kIdNo}
            << kIdYes << 0;
        QTest::newRow("ok cancel, information, default beyond the buttons")
            << "I" << 0x241u << "I" << int(QMessageBox::Information) << QList<int>{kIdOk, kIdCancel}
            << kIdOk << kIdCancel;
        QTest::newRow("a caption longer than its text")
            << "Publish All - Completed: every web site" << 0x40u
            << "Publish All - Completed: every web site" << int(QMessageBox::Information)
            << QList<int>{kIdOk} << kIdOk << kIdOk;
        QTest::newRow("abort retry ignore: Esc does nothing")
            << "A" << 0x202u << "A" << int(QMessageBox::NoIcon)
            << QList<int>{kIdAbort, kIdRetry, kIdIgnore} << kIdIgnore << 0;
    }

    void ABoxAskedForByAWorkerShowsTheTypeOnTheGuiThread()
    {
        QFETCH(QString, caption);
        QFETCH(uint, type);
        QFETCH(QString, title);
        QFETCH(int, icon);
        QFETCH(QList<int>, buttons);
        QFETCH(int, default_id);
        QFETCH(int, escape_id);

        SeenBox seen;
        QTimer poll;
        poll.setInterval(1);
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) {
                return;
            }
            poll.stop();
            seen.seen = true;
            seen.title = box->windowTitle();
            seen.width = box->width();
            QFont bold = box->font();
            bold.setBold(true);
            seen.caption_width = QFontMetrics(bold).horizontalAdvance(box->windowTitle()) +
                                 3 * QFontMetrics(bold).height();
            seen.text = box->text();
            seen.icon = box->icon();
            for (QAbstractButton* button : box->buttons()) {
                seen.buttons << box->standardButton(button);
            }
            seen.default_button = box->standardButton(box->defaultButton());
            QTest::keyClick(box, Qt::Key_Escape);
            seen.open_after_escape = box->isVisible();
            if (seen.open_after_escape) {
                box->buttons().last()->click();
            }
        });
        poll.start();

        std::atomic<int32_t> result{-1};
        std::thread worker(
            [&] { result = MessageBox("Line one\r\nLine two", caption.toStdString(), type); });
        const bool answered = QTest::qWaitFor([&] { return result != -1; }, 20000);
        if (!answered) {
            SetMessageBoxHandler({});
        }
        worker.join();
        QVERIFY(answered);
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, title);
        QVERIFY2(seen.width >= seen.caption_width, "the caption has room in the title bar");
        QCOMPARE(seen.text, QStringLiteral("Line one\nLine two"));
        QCOMPARE(int(seen.icon), icon);
        QList<int> shown_ids;
        for (QMessageBox::StandardButton button : seen.buttons) {
            shown_ids << IdOf(button);
        }
        std::sort(shown_ids.begin(), shown_ids.end());
        std::sort(buttons.begin(), buttons.end());
        QCOMPARE(shown_ids, buttons);
        QCOMPARE(IdOf(seen.default_button), default_id);
        QCOMPARE(seen.open_after_escape, escape_id == 0);
        if (escape_id != 0) {
            QCOMPARE(result.load(), escape_id);
        } else {
            QVERIFY(result.load() != 0);
        }
    }

    void AFakeAnswersAWorkerOnTheGuiThreadThenFallsBackToTheDefault()
    {
        testing::FakeMessageBoxes boxes({kIdNo});
        std::atomic<int32_t> first{-1};
        std::atomic<int32_t> second{-1};
        std::thread worker([&] {
            first = MessageBox("Delete it?", "Confirm", kMbYesNo | kMbIconQuestion);
            second = MessageBox("Again?", "", kMbYesNoCancel | kMbDefaultButton3);
        });
        const bool answered = QTest::qWaitFor([&] { return second != -1; }, 20000);
        if (!answered) {
            SetMessageBoxHandler({});
        }
        worker.join();
        QVERIFY(answered);
        QCOMPARE(first.load(), kIdNo);
        QCOMPARE(second.load(), kIdCancel);
        const std::vector<testing::RecordedMessageBox> shown = boxes.Shown();
        QCOMPARE(shown.size(), size_t{2});
        QCOMPARE(shown[0].text, std::string("Delete it?"));
        QCOMPARE(shown[0].caption, std::string("Confirm"));
        QCOMPARE(shown[0].type, kMbYesNo | kMbIconQuestion);
        QVERIFY(shown[0].on_gui_thread);
        QVERIFY(shown[0].scripted);
        QVERIFY(shown[1].on_gui_thread);
        QVERIFY(!shown[1].scripted);
    }
};

}  // namespace vantrel::platform

VANTREL_QTEST_MAIN(vantrel::platform::QtMessageBoxTest)
#include "QtMessageBox_test.moc"
