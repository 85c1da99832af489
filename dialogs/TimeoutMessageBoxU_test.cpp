#include "dialogs/TimeoutMessageBoxU.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/Ui.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kTick = 20ms;

QMessageBox* ShownBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr && box->isVisible() ? box : nullptr;
}

// Watches the boxes while one is open: records every text the default button of the box of the
// given caption shows, and hands each box once to `act` (which may answer it).
class BoxWatch
{
public:
    explicit BoxWatch(QString caption, std::function<void(QMessageBox*)> act = {})
        : caption_(std::move(caption))
        , act_(std::move(act))
    {
        poll_.setTimerType(Qt::PreciseTimer);
        poll_.setInterval(1);
        QObject::connect(&poll_, &QTimer::timeout, [this] { Look(); });
        poll_.start();
    }

    QStringList texts;
    QString first_text;
    int default_id = 0;

private:
    void Look()
    {
        QMessageBox* box = ShownBox();
        if (box == nullptr || box->windowTitle() != caption_) {
            return;
        }
        const QString text = box->defaultButton()->text();
        if (texts.isEmpty()) {
            first_text = text;
            default_id = box->standardButton(box->defaultButton());
        }
        if (texts.isEmpty() || texts.last() != text) {
            texts << text;
        }
        if (act_) {
            auto act = std::move(act_);
            act_ = nullptr;
            act(box);
        }
    }

    QString caption_;
    std::function<void(QMessageBox*)> act_;
    QTimer poll_;
};

}  // namespace

class ShowTimedMessageBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void CountsDownOnTheDefaultButtonThenAnswersWithIt_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("default_button");
        QTest::addColumn<QStringList>("suffixes");
        QTest::addColumn<int>("result");

        QTest::newRow("OK, 3 seconds") << 0x40u << 3 << int(QMessageBox::Ok)
                                       << QStringList{"", " [2]", " [1]"} << platform::kIdOk;
        QTest::newRow("OK, 1 second: plain, then closed")
            << 0x30u << 1 << int(QMessageBox::Ok) << QStringList{""} << platform::kIdOk;
        QTest::newRow("YESNO: the first button")
            << 0x24u << 2 << int(QMessageBox::Yes) << QStringList{"", " [1]"} << platform::kIdYes;
        QTest::newRow("YESNO, second default")
            << 0x124u << 2 << int(QMessageBox::No) << QStringList{"", " [1]"} << platform::kIdNo;
    }

    void CountsDownOnTheDefaultButtonThenAnswersWithIt()
    {
        QFETCH(uint, type);
        QFETCH(int, seconds);
        QFETCH(int, default_button);
        QFETCH(QStringList, suffixes);
        QFETCH(int, result);

        BoxWatch watch(QStringLiteral("Done"));
        const int32_t answer =
            ShowTimedMessageBox("Publishing finished.", "Done", seconds, type, kTick);

        QCOMPARE(answer, result);
        QCOMPARE(watch.default_id, default_button);
        QStringList expected;
        for (const QString& suffix : suffixes) {
            expected << watch.first_text + suffix;
        }
        QCOMPARE(watch.texts, expected);
        QVERIFY(!watch.first_text.contains(QLatin1Char('[')));
    }

    void NoPositiveSecondsNeverCloses_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::newRow("0") << 0;
        QTest::newRow("negative") << -5;
    }

    void NoPositiveSecondsNeverCloses()
    {
        QFETCH(int, seconds);

        QString text_after_wait;
        BoxWatch watch(QStringLiteral("Done"), [&](QMessageBox* box) {
            QTest::qWait(10 * int(kTick.count()));
            text_after_wait = box->isVisible() ? box->defaultButton()->text() : QString();
            box->button(QMessageBox::No)->click();
        });
        const int32_t answer =
            ShowTimedMessageBox("Publishing finished.", "Done", seconds, 0x24, kTick);

        QVERIFY(!watch.first_text.isEmpty());
        QCOMPARE(text_after_wait, watch.first_text);
        QCOMPARE(answer, platform::kIdNo);
    }

    void AnAnswerBeforeTheEndEndsTheCountDown()
    {
        QString text_when_answered;
        BoxWatch watch(QStringLiteral("Done"), [&](QMessageBox* box) {
            QTest::qWait(2 * int(kTick.count()));
            text_when_answered = box->defaultButton()->text();
            box->button(QMessageBox::No)->click();
        });
        const int32_t answer = ShowTimedMessageBox("Publishing finished.", "Done", 5, 0x24, kTick);
        // The count-down's ticks would come now if it outlived its box.
        QTest::qWait(6 * int(kTick.count()));

        QCOMPARE(answer, platform::kIdNo);
        QVERIFY2(text_when_answered.startsWith(watch.first_text + QStringLiteral(" [")),
                 qPrintable(text_when_answered));
    }

    void ABoxOfAnotherCaptionIsLeftAlone()
    {
        // While the timed box counts down, another box opens over it; the count-down closes its
        // own box and does not touch the other one.
        bool other_open = false;
        bool timed_open = true;
        QString other_text;
        int32_t other_answer = 0;
        BoxWatch watch(QStringLiteral("Done"), [&](QMessageBox* timed) {
            QTimer::singleShot(8 * int(kTick.count()), [&, timed] {
                QMessageBox* other = ShownBox();
                if (other == nullptr) {
                    return;
                }
                other_open = other->windowTitle() == QStringLiteral("Other");
                other_text = other->defaultButton()->text();
                timed_open = timed->isVisible();
                other->defaultButton()->click();
            });
            other_answer = platform::MessageBox("Something else.", "Other", 0x24);
        });
        const int32_t answer = ShowTimedMessageBox("Publishing finished.", "Done", 3, 0x40, kTick);

        QVERIFY(other_open);
        QVERIFY(!timed_open);
        QVERIFY(!other_text.contains(QLatin1Char('[')));
        QCOMPARE(other_answer, platform::kIdYes);
        QCOMPARE(answer, platform::kIdOk);
    }

    void ABoxAskedForFromAWorkerCountsDownOnTheGuiThread()
    {
        std::atomic<int32_t> answer{0};
        BoxWatch watch(QStringLiteral("Done"));
        std::thread worker(
            [&] { answer = ShowTimedMessageBox("Publishing finished.", "Done", 2, 0x40, kTick); });
        QTRY_COMPARE_WITH_TIMEOUT(answer.load(), platform::kIdOk, 5000);
        worker.join();
        QCOMPARE(watch.texts.size(), 2);
    }

    void ScriptedAnswersTakeTheBoxAndLaterBoxesCountNothingDown()
    {
        {
            testing::FakeMessageBoxes boxes({platform::kIdNo});
            QCOMPARE(ShowTimedMessageBox("Publishing finished.", "Done", 2, 0x24, kTick),
                     platform::kIdNo);
            QCOMPARE(boxes.Shown().size(), size_t{1});
            QCOMPARE(boxes.Shown()[0].caption, std::string("Done"));
        }
        QString text_after_wait;
        BoxWatch watch(QStringLiteral("Done"), [&](QMessageBox* box) {
            QTest::qWait(5 * int(kTick.count()));
            text_after_wait = box->isVisible() ? box->defaultButton()->text() : QString();
            box->defaultButton()->click();
        });
        QCOMPARE(platform::MessageBox("Plain.", "Done", 0x40), platform::kIdOk);
        QVERIFY(!watch.first_text.isEmpty());
        QCOMPARE(text_after_wait, watch.first_text);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::ShowTimedMessageBoxTest)
#include "TimeoutMessageBoxU_test.moc"
