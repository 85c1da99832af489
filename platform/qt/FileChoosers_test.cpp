#include "platform/qt/FileChoosers.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "tests/support/qt/DialogDriver.h"
#include "tests/support/qt/GuiFakes.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel::platform {

class FileChoosersTest : public QObject
{
    Q_OBJECT

private slots:
    void TheSystemsFilterBecomesQtsNameFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("patterns already in the text") << "Vantrel settings file (*.qvr)|*.qvr"
                                                      << "Vantrel settings file (*.qvr)";
        QTest::newRow("patterns added, several joined") << "Pages|*.htm;*.html|All files|*.*"
                                                        << "Pages (*.htm *.html);;All files (*.*)";
        QTest::newRow("a description without patterns is dropped") << "Lonely"
                                                                   << "";
    }

    void TheSystemsFilterBecomesQtsNameFilters()
    {
        QFETCH(QString, filter);
        QFETCH(QString, expected);
        QCOMPARE(QtNameFilters(filter), expected);
    }

    void AFakeChooserAnswersWhileItLivesAndTheQtOneComesBack()
    {
        IFileChooser* qt_chooser = &FileChooser();
        {
            testing::FakeFileChooser fake({QStringLiteral("/tmp/a.qvr"), std::nullopt});
            QCOMPARE(&FileChooser(), static_cast<IFileChooser*>(&fake));
            FileChooserRequest request;
            request.mode = FileChooserRequest::Mode::kSave;
            request.default_suffix = QStringLiteral("qvr");
            QString path;
            QVERIFY(FileChooser().ChooseFile(nullptr, request, path));
            QCOMPARE(path, QStringLiteral("/tmp/a.qvr"));
            QVERIFY(!FileChooser().ChooseFile(nullptr, request, path));
            QVERIFY(!FileChooser().ChooseFile(nullptr, request, path));
            QCOMPARE(fake.Requests().size(), size_t{3});
            QCOMPARE(fake.Requests()[0].default_suffix, QStringLiteral("qvr"));
        }
        QCOMPARE(&FileChooser(), qt_chooser);
    }

    void TheQtSaveChooserAddsTheDefaultSuffix()
    {
        QTemporaryDir folder;
        FileChooserRequest request;
        request.mode = FileChooserRequest::Mode::kSave;
        request.title = QStringLiteral("Export web site settings to file");
        request.filter = QStringLiteral("Vantrel settings file (*.qvr)|*.qvr");
        request.default_suffix = QStringLiteral("qvr");
        request.file_name = QStringLiteral("My_site");
        request.initial_folder = folder.path();
        QString title;
        QString path;
        bool chosen = false;
        const testing::ModalRun run = testing::RunModal(
            [&](QWidget* modal) {
                title = modal->windowTitle();
                auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                auto* buttons = modal->findChild<QDialogButtonBox*>();
                if (name != nullptr && buttons != nullptr) {
                    name->setText(QStringLiteral("export"));
                    buttons->button(QDialogButtonBox::Save)->click();
                }
            },
            [&] { chosen = FileChooser().ChooseFile(nullptr, request, path); });
        QVERIFY(run.script_ran);
        QVERIFY(!run.left_open);
        QVERIFY(chosen);
        QCOMPARE(title, request.title);
        QCOMPARE(path, folder.filePath(QStringLiteral("export.qvr")));
    }
};

}  // namespace vantrel::platform

VANTREL_QTEST_MAIN(vantrel::platform::FileChoosersTest)
#include "FileChoosers_test.moc"
