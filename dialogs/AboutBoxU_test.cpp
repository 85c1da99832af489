#include "dialogs/AboutBoxU.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <optional>

#include "platform/Version.h"
#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiTestMain.h"

Q_DECLARE_METATYPE(std::optional<vantrel::platform::VersionInfo>)

namespace vantrel {
namespace {

platform::VersionInfo Info(std::vector<platform::VersionTranslation> translations,
                           std::map<std::string, std::string> strings)
{
    platform::VersionInfo info;
    info.file_version_ms = (2u << 16) | 3u;
    info.file_version_ls = (4u << 16) | 57u;
    info.translations = std::move(translations);
    info.strings = std::move(strings);
    return info;
}

}  // namespace

class TAboutBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { platform::RestoreProgramVersionInfo(); }

    void TheVersionLineTakesTheFirstTranslationWithAProductVersion_data()
    {
        QTest::addColumn<std::optional<platform::VersionInfo>>("info");
        QTest::addColumn<QString>("line");

        QTest::newRow("only the second translation has one")
            << std::optional(Info({{0x0409, 0x04E4}, {0x0407, 0xFDE9}},
                                  {{"\\StringFileInfo\\040904E4\\FileVersion", "x"},
                                   {"\\StringFileInfo\\0407FDE9\\ProductVersion", "2.3.4"}}))
            << "Version: 2.3.4 - Build 57";
        QTest::newRow("one translation without one")
            << std::optional(
                   Info({{0x0409, 0x04E4}}, {{"\\StringFileInfo\\040704E4\\ProductVersion", "9"}}))
            << "Version: ? - Build 57";
        QTest::newRow("no translation table")
            << std::optional(Info({}, {{"\\StringFileInfo\\040904E4\\ProductVersion", "9"}}))
            << "Version: ? - Build 57";
        QTest::newRow("no version information")
            << std::optional<platform::VersionInfo>() << "Version: ? - Build 0";
    }

    void TheVersionLineTakesTheFirstTranslationWithAProductVersion()
    {
        QFETCH(std::optional<platform::VersionInfo>, info);
        QFETCH(QString, line);

        platform::OverrideProgramVersionInfoForTesting(info);
        TAboutBox box;

        QCOMPARE(QString::fromStdString(AboutVersionLine()), line);
        QCOMPARE(box.findChild<QLabel*>(QStringLiteral("lbl_version"))->text(), line);
    }

    void ExecuteShowsTheTitleAndIconUntilOk()
    {
        TAboutBox box;
        QString caption;
        QString title;
        bool has_icon = false;
        const auto run = testing::RunModal(
            [&](QWidget* w) {
                caption = w->windowTitle();
                title = w->findChild<QLabel*>(QStringLiteral("lbl_title"))->text();
                has_icon = !w->findChild<QLabel*>(QStringLiteral("ProgramIcon"))->pixmap().isNull();
                QTest::keyClick(w, Qt::Key_Return);
            },
            [&] { box.Execute(); });

        QVERIFY(run.script_ran && !run.left_open);
        QCOMPARE(box.result(), int(QDialog::Accepted));
        QCOMPARE(caption, QStringLiteral("About Vantrel"));
        QCOMPARE(title, QStringLiteral("Vantrel"));
        QVERIFY(has_icon);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TAboutBoxTest)
#include "AboutBoxU_test.moc"
