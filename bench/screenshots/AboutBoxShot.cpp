// The about box as Execute shows it.
#include <QPushButton>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/AboutBoxU.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootAboutBox(vantrel::bench::ShotSession& session)
{
    vantrel::TAboutBox box;
    vantrel::testing::RunModal(
        [&](QWidget* window) {
            session.Save(window, QStringLiteral("TAboutBox"));
            window->findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
        },
        [&] { box.Execute(); });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootAboutBox)
