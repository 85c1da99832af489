#include "tests/support/qt/DialogDriver.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace vantrel::testing {

ModalRun RunModal(const std::function<void(QWidget* modal)>& script,
                  const std::function<void()>& execute)
{
    ModalRun run;
    QPointer<QWidget> outer = QApplication::activeModalWidget();
    // Polled rather than a single zero-time shot: execute may run events of its own before its
    // window's loop starts.
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == outer || !modal->isVisible()) {
            return;
        }
        poll.stop();
        QPointer<QWidget> window = modal;
        run.script_ran = true;
        script(modal);
        if (window != nullptr && window->isVisible()) {
            run.left_open = true;
            if (auto* dialog = qobject_cast<QDialog*>(window.data())) {
                dialog->reject();
            } else {
                window->close();
            }
        }
    });
    poll.start();
    execute();
    return run;
}

}  // namespace vantrel::testing
