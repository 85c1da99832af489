// The file-permission dialog as Execute shows it for 644.
#include "bench/screenshots/WindowShots.h"
#include "dialogs/ChmodFormU.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootChmodForm(vantrel::bench::ShotSession& session)
{
    vantrel::TChmodForm form;
    vantrel::testing::RunModal(
        [&](QWidget* dialog) {
            session.Save(dialog, QStringLiteral("TChmodForm"));
            form.reject();
        },
        [&] { form.Execute(QStringLiteral("644")); });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootChmodForm)
