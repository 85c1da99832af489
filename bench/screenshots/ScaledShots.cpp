// The windows a first start and an ordinary day show, at 200 % on a 1280 x 800 screen: the main
// window from a size saved at 100 % and from none, the configuration dialog and the first-start
// wizard. Each must lie inside the screen; one that does not is reported as a failure.
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

#include "app/OstrelU.h"
#include "app/WindowPlacement.h"
#include "bench/screenshots/WindowShots.h"
#include "dialogs/PublicationPropertiesU.h"
#include "dialogs/PublisherWizardU.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/TestSandbox.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"

namespace {

using vantrel::bench::ShotSession;

void SaveInside(ShotSession& session, QWidget* window, const QString& name)
{
    session.Save(window, name);
    window->show();
    session.ExpectInsideScreen(window, name);
}

void ShootScaledMainWindow(ShotSession& session)
{
    vantrel::testing::ScopedConfigHome home;
    vantrel::testing::FakeMessageBoxes boxes;
    {
        vantrel::QelPublicationList list;
        list.AddNew("My home page", "/home/me/www", "ftp.example.org/www", "me", "", "", 0, true,
                    false);
    }
    {
        vantrel::TOstrel window;
        SaveInside(session, &window, QStringLiteral("TOstrel-200-unsaved"));
    }
    {
        // As saved on a 100 % screen.
        vantrel::QelPublicationList list;
        (void)vantrel::SaveWindowPlacement(*list.Store(), {QRect(101, 80, 1100, 800), 300});
    }
    vantrel::TOstrel window;
    SaveInside(session, &window, QStringLiteral("TOstrel-200-saved"));
}

void ShootScaledPublicationProperties(ShotSession& session)
{
    vantrel::testing::FakeMessageBoxes boxes;
    vantrel::TPublicationProperties dialog;
    vantrel::QelPublication site;
    site.SetName("www.example.com");
    site.Source = "/home/me/www.example.com";
    site.Server = "ftp://ftp.example.com/public_html";
    vantrel::testing::RunModal(
        [&](QWidget*) {
            auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("PropertiesControl"));
            session.SavePages(&dialog, pages, QStringLiteral("TPublicationProperties-200"));
            session.ExpectInsideScreen(&dialog, QStringLiteral("TPublicationProperties-200"));
            dialog.reject();
        },
        [&] { (void)dialog.Execute(site); });
}

void ShootScaledFirstStartWizard(ShotSession& session)
{
    vantrel::testing::ScopedConfigHome home;
    vantrel::testing::TestSandbox sandbox;
    sandbox.MakeFolder("src");
    vantrel::QelPublicationList list;
    vantrel::TPublisherWizard wizard;
    vantrel::testing::RunModal(
        [&](QWidget*) {
            for (const char* name : {"WelcomeNextButton", "btnImport"}) {
                auto* button = wizard.findChild<QPushButton*>(QString::fromLatin1(name));
                const QRect shown(button->mapToGlobal(QPoint(0, 0)), button->size());
                session.Expect(
                    button->screen()->availableGeometry().contains(shown),
                    QStringLiteral("TPublisherWizard-200: %1 lies outside the screen").arg(name));
            }
            // Each page may be entered only once those before it are filled in.
            auto edit = [&](const char* name) {
                return wizard.findChild<QLineEdit*>(QString::fromLatin1(name));
            };
            edit("PublicationName")->setText(QStringLiteral("www.example.com"));
            edit("SourceDirectory")->setText(QString::fromStdString(sandbox.SystemPath("src")));
            edit("FtpServer")->setText(QStringLiteral("ftp://ftp.example.com/public_html"));
            edit("Username")->setText(QStringLiteral("webmaster"));
            edit("edt_password")->setText(QStringLiteral("secret"));
            edit("edt_password2")->setText(QStringLiteral("secret"));
            auto* pages = wizard.findChild<QTabWidget*>(QStringLiteral("PageWizard"));
            session.SavePages(&wizard, pages, QStringLiteral("TPublisherWizard-200"));
            session.ExpectInsideScreen(&wizard, QStringLiteral("TPublisherWizard-200"));
            wizard.reject();
        },
        [&] { wizard.Execute(list, true); });
}

}  // namespace

VANTREL_SCALED_WINDOW_SHOT(ShootScaledMainWindow)
VANTREL_SCALED_WINDOW_SHOT(ShootScaledPublicationProperties)
VANTREL_SCALED_WINDOW_SHOT(ShootScaledFirstStartWizard)
