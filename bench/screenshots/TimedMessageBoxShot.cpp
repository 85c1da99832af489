// The completion box of a publish while it counts down.
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/TimeoutMessageBoxU.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootTimedMessageBox(vantrel::bench::ShotSession& session)
{
    using namespace std::chrono_literals;
    constexpr auto kTick = 100ms;
    vantrel::testing::RunModal(
        [&](QWidget* window) {
            // Past the first tick, so the count shows.
            QEventLoop wait;
            QTimer::singleShot(kTick * 3 / 2, &wait, &QEventLoop::quit);
            wait.exec();
            session.Save(window, QStringLiteral("ShowTimedMessageBox"));
            if (auto* box = qobject_cast<QMessageBox*>(window)) {
                box->defaultButton()->click();
            }
        },
        [&] {
            vantrel::ShowTimedMessageBox(
                "Website Example has been published.\r\n\r\nSummary:-\r\n    12 files copied\r\n"
                "     1 file deleted\r\n",
                "Publishing Completed", 60, 0x40, kTick);
        });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootTimedMessageBox)
