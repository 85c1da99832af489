// The new-web-site wizard, every page filled in, the credentials mistyped and the connection
// test failed, so that the labels shown only then are pictured too.
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/PublisherWizardU.h"
#include "publishing/PublicationInfo.h"
#include "tests/support/qt/DialogDriver.h"

namespace {

void ShootPublisherWizard(vantrel::bench::ShotSession& session)
{
    vantrel::QelPublicationList list;
    vantrel::TPublisherWizard wizard;
    vantrel::testing::RunModal(
        [&](QWidget*) {
            auto edit = [&](const char* name) {
                return wizard.findChild<QLineEdit*>(QString::fromLatin1(name));
            };
            edit("PublicationName")->setText(QStringLiteral("www.example.com"));
            edit("SourceDirectory")->setText(QStringLiteral("/home/me/www.example.com"));
            edit("FtpServer")->setText(QStringLiteral("/nonexistent/www.example.com"));
            edit("Username")->setText(QStringLiteral("webmaster"));
            edit("edt_password")->setText(QStringLiteral("secret"));
            edit("edt_password2")->setText(QStringLiteral("secrte"));
            auto* pages = wizard.findChild<QTabWidget*>(QStringLiteral("PageWizard"));
            pages->setCurrentIndex(vantrel::TPublisherWizard::kPageTestConnection);
            QTest::mouseClick(wizard.findChild<QPushButton*>(QStringLiteral("btnTestConnection")),
                              Qt::LeftButton);
            (void)QTest::qWaitFor([&] { return !wizard.ConnectionTestRunning(); }, 10000);
            edit("FtpServer")->setText(QStringLiteral("ftp://ftp.example.com/public_html"));
            session.SavePages(&wizard, pages, QStringLiteral("TPublisherWizard"));
        },
        [&] { wizard.Execute(list, true); });
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootPublisherWizard)
