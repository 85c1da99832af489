// The main window idle, with its publication log shown, and in the middle of a real publish to a
// local folder.
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>
#include <string>

#include "app/ActivityPanel.h"
#include "app/OstrelU.h"
#include "bench/screenshots/WindowShots.h"
#include "dialogs/VStringGrid.h"
#include "foundation/QelDateFunctions.h"
#include "publishing/PublicationInfo.h"
#include "publishing/PublicationStatusHoundU.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/GuiFakes.h"

namespace {

using vantrel::QelPublication;
using vantrel::QelPublicationList;

// Saves the window once the run has copied a few of its files.
class ShotWindow : public vantrel::TOstrel
{
public:
    explicit ShotWindow(vantrel::bench::ShotSession& session)
        : session_(session)
    {}
    void HandleQueueMessage(vantrel::TPublisherMessageKind kind,
                            vantrel::TPublisherMessageQueue& queue) override
    {
        TOstrel::HandleQueueMessage(kind, queue);
        auto* panel = findChild<vantrel::TActivityPanel*>("ActivityPanel");
        if (!shot_ && kind == vantrel::kQueueProgress && panel->Position() >= 40) {
            shot_ = true;
            // The marker where a picture shows it well, whatever the run's messages so far.
            panel->Finish(0, 0);
            for (int tick = 0; tick < 37; ++tick) {
                panel->Tick();
            }
            session_.Save(this, "TOstrel-publishing");
            tbnStopClick();
        }
    }

private:
    vantrel::bench::ShotSession& session_;
    bool shot_ = false;
};

void WaitForChecks()
{
    QTest::qWait(100);
    QElapsedTimer waited;
    waited.start();
    while (vantrel::TPublicationStatusHound::Running() > 0 && waited.elapsed() < 10000) {
        QTest::qWait(20);
    }
}

void ShootMainWindow(vantrel::bench::ShotSession& session)
{
    vantrel::testing::ScopedConfigHome home;
    vantrel::testing::TestSandbox files;
    vantrel::testing::FakeMessageBoxes boxes;
    for (int i = 0; i < 120; ++i) {
        files.WriteFile("www/page" + std::to_string(i) + ".html", std::string(20000, 'x'));
    }
    {
        QelPublicationList list;
        list.AddNew("My home page", files.SystemPath("www"), files.SystemPath("published"), "", "",
                    "", 0, true, false);
        list.AddNew("Club news", "/home/me/club", "ftp.example.org/news", "news", "", "", 0, false,
                    false);
        list.AddNew("Photo album", "/home/me/photos", "ftp.example.org", "me", "", "", 0, false,
                    false);
        QelPublication* news = list.FindByName("Club news");
        news->Status = vantrel::StatusPublished;
        news->LastPublished = vantrel::NowDateTime() - 2.25;
        (void)list.Update("Club news", *news);
        QelPublication* photos = list.FindByName("Photo album");
        photos->Status = vantrel::StatusFailed;
        photos->LastPublished = vantrel::NowDateTime() - 30.5;
        (void)list.Update("Photo album", *photos);
    }
    {
        vantrel::TOstrel window;
        window.show();
        WaitForChecks();
        session.Save(&window, "TOstrel");
        window.findChild<QCheckBox*>("chkShowLog")->setChecked(true);
        window.AppendLog("Publishing Club news");
        window.AppendLog("Connecting to ftp.example.org/news");
        window.AppendLog("Connected ... starting to publish");
        window.AppendLog("Publishing completed successfully.");
        session.Save(&window, "TOstrel-log");
        window.findChild<QCheckBox*>("chkShowLog")->setChecked(false);
    }
    {
        ShotWindow window(session);
        window.findChild<QCheckBox*>("chkShowLog")->setChecked(true);
        window.show();
        WaitForChecks();
        auto* grid = window.findChild<vantrel::VStringGrid*>("PublicationsGrid");
        grid->SetCurrentCell(0, 2);
        window.tbnPublishClick();
        QElapsedTimer waited;
        waited.start();
        while (window.Publishing() && waited.elapsed() < 20000) {
            QTest::qWait(20);
        }
        window.findChild<QCheckBox*>("chkShowLog")->setChecked(false);
    }
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootMainWindow)
