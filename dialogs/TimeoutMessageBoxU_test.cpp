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

// Watches the boxes while one is open: records the text of the default button of the box of
// the given caption when the box is first seen and after every tick of its count-down, and hands
// that box once to `act` (which may answer it).
class BoxWatch
{
public:
    explicit BoxWatch(QString caption, std::function<void(QMessageBox*)> act = {})
        : caption_(std::move(caption))
        , act_(std::move(act))
    {
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
        poll_.stop();
        QPushButton* button = box->defaultButton();
        first_text = button->text();
        default_id = box->standardButton(button);
        texts << first_text;
        if (auto* count_down = box->findChild<TMessageTimeout*>()) {
            QObject::connect(count_down, &TMessageTimeout::Ticked,
                             [this, button] { texts << button->text(); });
        }
        if (act_) {
            act_(box);
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
        QTest::addColumn<int>("text_length");

        QTest::newRow("OK, 3 seconds")
            << 0x40u << 3 << int(QMessageBox::Ok) << QStringList{"", " [2]", " [1]", " [0]"}
            << platform::kIdOk << 20;
        QTest::newRow("a text of 600 characters")
            << 0x40u << 2 << int(QMessageBox::Ok) << QStringList{"", " [1]", " [0]"}
            << platform::kIdOk << 600;
        QTest::newRow("OK, 1 second: plain, then closed")
            << 0x30u << 1 << int(QMessageBox::Ok) << QStringList{"", " [0]"} << platform::kIdOk
            << 20;
        QTest::newRow("YESNO: the first button")
            << 0x24u << 2 << int(QMessageBox::Yes) << QStringList{"", " [1]", " [0]"}
            << platform::kIdYes << 20;
        QTest::newRow("YESNO, second default")
            << 0x124u << 2 << int(QMessageBox::No) << QStringList{"", " [1]", " [0]"}
            << platform::kIdNo << 20;
    }

    void CountsDownOnTheDefaultButtonThenAnswersWithIt()
    {
        QFETCH(uint, type);
        QFETCH(int, seconds);
        QFETCH(int, default_button);
        QFETCH(QStringList, suffixes);
        QFETCH(int, result);
        QFETCH(int, text_length);

        BoxWatch watch(QStringLiteral("Done"));
        const int32_t answer =
            ShowTimedMessageBox(std::string(text_length, 'x'), "Done", seconds, type, kTick);

        QCOMPARE(answer, result);
        QCOMPARE(watch.default_id, default_button);
        QStringList expected;
        for (const QString& suffix : suffixes) {
            expected << watch.first_text + suffix;
        }
        QCOMPARE(watch.texts.join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
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
            const QString first = box->defaultButton()->text();
            if (!QTest::qWaitFor([&] { return box->defaultButton()->text() != first; }, 5000)) {
                return;
            }
            text_when_answered = box->defaultButton()->text();
            box->button(QMessageBox::No)->click();
        });
        const int32_t answer = ShowTimedMessageBox("Publishing finished.", "Done", 5, 0x24, kTick);
        // The count-down's ticks would come now if it outlived its box.
        QTest::qWait(6 * int(kTick.count()));

        QCOMPARE(answer, platform::kIdNo);
        QCOMPARE(text_when_answered, watch.first_text + QStringLiteral(" [4]"));
    }

    void ABoxOfAnotherCaptionIsLeftAlone()
    {
        // While the timed box counts down, another box opens over it; the count-down closes its
        // own box and leaves the other one as it was.
        bool other_open = false;
        bool timed_open = true;
        QString other_text;
        int32_t other_answer = 0;
        BoxWatch watch(QStringLiteral("Done"), [&](QMessageBox* timed) {
            QTimer::singleShot(0, [&, timed] {
                if (!QTest::qWaitFor([timed] { return !timed->isVisible(); }, 5000)) {
                    return;
                }
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
        QCOMPARE(watch.texts.join(QLatin1Char('|')), QStringLiteral("OK|OK [1]|OK [0]"));
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
