// The debug window once a few reports have arrived.
#include "bench/screenshots/WindowShots.h"
#include "dialogs/DebugOutput.h"

namespace {

void ShootDebugOutputForm(vantrel::bench::ShotSession& session)
{
    vantrel::TDebugOutputForm form;
    vantrel::TDebugOutputForm::Report("Status check started.");
    vantrel::TDebugOutputForm::Report(
        "Scanning /home/me/www.example.com: 214 files in 17 folders.");
    vantrel::TDebugOutputForm::ReportImmediate("Status check finished.");
    session.Save(&form, QStringLiteral("TDebugOutputForm"));
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootDebugOutputForm)
