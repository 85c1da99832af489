#include "platform/qt/QtSynchronize.h"

#include <QDialog>
#include <QObject>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Threads.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel::platform {

// The dispatcher is the test session's (GuiTestSession): the event loop of QTest::qWaitFor and of
// modal windows serves the calls.
class QtSynchronizeTest : public QObject
{
    Q_OBJECT

private slots:
    void CallOnTheGuiThreadRunsAtOnceEvenInsideAnotherCall()
    {
        int depth = 0;
        Synchronize([&] {
            ++depth;
            Synchronize([&] { ++depth; });
        });
        QCOMPARE(depth, 2);
    }

    void CallsFromManyThreadsAllRunOnTheGuiThreadBeforeTheyReturn()
    {
        constexpr int kThreads = 4;
        constexpr int kCalls = 200;
        std::atomic<int> ran{0};
        std::atomic<int> off_gui_thread{0};
        std::atomic<int> returned_early{0};
        std::atomic<int> finished{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < kCalls; ++i) {
                    bool done = false;
                    Synchronize([&] {
                        if (!IsMainThread()) {
                            ++off_gui_thread;
                        }
                        done = true;
                        ++ran;
                    });
                    if (!done) {
                        ++returned_early;
                    }
                }
                ++finished;
            });
        }
        const bool all_finished = QTest::qWaitFor([&] { return finished == kThreads; }, 20000);
        if (!all_finished) {
            // Let the threads go so the program can end and report.
            SetSynchronizeShutdown(true);
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        QVERIFY(all_finished);
        QCOMPARE(ran.load(), kThreads * kCalls);
        QCOMPARE(off_gui_thread.load(), 0);
        QCOMPARE(returned_early.load(), 0);
    }

    void AModalWindowsLoopServesAWorkersCall()
    {
        std::atomic<bool> ran{false};
        std::thread worker;
        bool ran_while_modal = false;
        QDialog dialog;
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget*) {
                worker = std::thread([&] { Synchronize([&] { ran = true; }); });
                ran_while_modal = QTest::qWaitFor([&] { return ran.load(); }, 10000);
                dialog.accept();
            },
            [&] { dialog.exec(); });
        if (!ran_while_modal) {
            SetSynchronizeShutdown(true);
        }
        worker.join();
        QVERIFY(run.script_ran);
        QVERIFY(ran_while_modal);
    }
};

}  // namespace vantrel::platform

VANTREL_QTEST_MAIN(vantrel::platform::QtSynchronizeTest)
#include "QtSynchronize_test.moc"
