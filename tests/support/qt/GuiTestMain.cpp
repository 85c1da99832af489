#include "tests/support/qt/GuiTestMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace vantrel::testing {

void PrepareGuiTestProcess()
{
    static QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "No temporary folder for the test's settings\n");
        std::exit(1);
    }
    const QString config = home.filePath(QStringLiteral("config"));
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    // Qt refuses a runtime folder that others may enter.
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(config).constData(), 1);
    setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime).constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

GuiTestSession::GuiTestSession()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantrel"));
    platform_ = std::make_unique<platform::QtPlatform>();
}

GuiTestSession::~GuiTestSession() = default;

}  // namespace vantrel::testing
