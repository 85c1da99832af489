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
        // The wizard's own device, the port written in the address.
        QTest::addColumn<bool>("port_in_address");
        QTest::newRow("right password") << true << false;
        QTest::newRow("wrong password") << false << false;
        QTest::newRow("the port in the address") << true << true;
    }

    void TheTestLogsInWithTheEnteredCredentials()
    {
        QFETCH(bool, right_password);
        QFETCH(bool, port_in_address);
        testing::ScopedConfigHome config;
        QelPublicationList list;
        testing::FakeMessageBoxes boxes;
        TPublisherWizard wizard;
        // The wizard's device knocks on the standard port; this one on the server's.
        const uint16_t port = server_->Port();
        if (!port_in_address) {
            wizard.SetDeviceFactory(
                [port](const ConnectionTestDevice& device, QelSyncBaseOutput& output) {
                    auto ftp = std::make_unique<FtpStorageDevice>(
                        &output, FtpDeviceSettings{.port = port, .flags = device.ftp_flags});
                    return std::unique_ptr<QelStorageDevice>(std::move(ftp));
                });
        }
        const QString server = port_in_address ? QStringLiteral("ftp://127.0.0.1:%1/site").arg(port)
                                               : QStringLiteral("ftp://127.0.0.1/site");
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
                edit("FtpServer")->setText(server);
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
