#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <string>

#include "dialogs/PublisherWizardU.h"
#include "publishing/PublicationInfo.h"
#include "storage/FtpStorage.h"
#include "tests/support/FtpTestServers.h"
#include "tests/support/SettingsSandbox.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {

// The connection test against a real FTP server (pyftpdlib on a loopback port).
class TPublisherWizardFtpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        std::string why;
        server_ = std::make_unique<testing::PyftpdlibServer>();
        if (!server_->Start(&why)) {
            QFAIL(why.c_str());
        }
    }

    void cleanupTestCase() { server_.reset(); }

    void TheTestLogsInWithTheEnteredCredentials_data()
    {
        QTest::addColumn<bool>("right_password");
        QTest::newRow("right password") << true;
        QTest::newRow("wrong password") << false;
    }

    void TheTestLogsInWithTheEnteredCredentials()
    {
        QFETCH(bool, right_password);
        testing::ScopedConfigHome config;
        QelPublicationList list;
        testing::FakeMessageBoxes boxes;
        TPublisherWizard wizard;
        // The wizard's device knocks on the standard port; this one on the server's.
        const uint16_t port = server_->Port();
        wizard.SetDeviceFactory(
            [port](const ConnectionTestDevice& device, QelSyncBaseOutput& output) {
                auto ftp = std::make_unique<FtpStorageDevice>(
                    &output, FtpDeviceSettings{.port = port, .flags = device.ftp_flags});
                return std::unique_ptr<QelStorageDevice>(std::move(ftp));
            });
        const QString password =
            QString::fromStdString(right_password ? server_->Password() : "not-the-password");
        bool done = false;
        QString status, log;
        testing::RunModal(
            [&](QWidget*) {
                auto edit = [&](const char* name) {
                    return wizard.findChild<QLineEdit*>(QString::fromLatin1(name));
                };
                edit("PublicationName")->setText(QStringLiteral("Site"));
                edit("FtpServer")->setText(QStringLiteral("ftp://127.0.0.1/site"));
                edit("Username")->setText(QString::fromStdString(server_->User()));
                edit("edt_password")->setText(password);
                edit("edt_password2")->setText(password);
                wizard.findChild<QTabWidget*>(QStringLiteral("PageWizard"))
                    ->setCurrentIndex(TPublisherWizard::kPageTestConnection);
                QTest::mouseClick(
                    wizard.findChild<QPushButton*>(QStringLiteral("btnTestConnection")),
                    Qt::LeftButton);
                done = QTest::qWaitFor([&] { return !wizard.ConnectionTestRunning(); }, 30000);
                status = wizard.findChild<QLabel*>(QStringLiteral("lblTestStatus"))->text();
                log =
                    wizard.findChild<QPlainTextEdit*>(QStringLiteral("memoTestLog"))->toPlainText();
            },
            [&] { wizard.Execute(list, false); });
        QVERIFY(done);
        QCOMPARE(status, right_password ? QStringLiteral("Passed") : QStringLiteral("Failed"));
        if (right_password) {
            QVERIFY2(log.isEmpty(), qPrintable(log));
        } else {
            QVERIFY2(log.contains(QStringLiteral("Failed to connect to server 127.0.0.1.")),
                     qPrintable(log));
        }
        QVERIFY(boxes.Shown().empty());
    }

private:
    std::unique_ptr<testing::PyftpdlibServer> server_;
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TPublisherWizardFtpTest)
#include "PublisherWizardFtp_test.moc"
