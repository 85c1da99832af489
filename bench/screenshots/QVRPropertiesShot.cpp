// The global options dialog, every page, with the completion box closing after two minutes.
#include <QPushButton>
#include <QTabWidget>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/QVRPropertiesU.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootQVRPropertiesForm(vantrel::bench::ShotSession& session)
{
    vantrel::TQVRPropertiesForm form;
    vantrel::TQVRProperties options;
    options.OpenLog = true;
    options.CompletedMessageTimesout = true;
    options.CompletedMessageTimeout = 120;
    vantrel::testing::RunModal(
        [&](QWidget* window) {
            session.SavePages(window, window->findChild<QTabWidget*>(QStringLiteral("PageControl")),
                              QStringLiteral("TQVRPropertiesForm"));
            window->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
        },
        [&] { form.Execute(options); });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootQVRPropertiesForm)
