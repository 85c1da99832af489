#include <QApplication>
#include <csignal>

#include "app/OstrelU.h"
#include "app/SingleInstance.h"
#include "dialogs/AboutBoxU.h"
#include "platform/Version.h"
#include "platform/qt/QtPlatform.h"

// The program: one instance per desktop, the main window, the event loop. No command-line
// arguments are read.
int main(int argc, char** argv)
{
    // A server that hangs up is an error of the call that wrote to it, never the end of the
    // program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(vantrel::platform::kApplicationTitle);
    QApplication::setDesktopFileName("vantrel");
    vantrel::TSingleInstance instance;
    if (!instance.Claim()) {
        return 0;
    }
    vantrel::platform::QtPlatform platform;
    vantrel::TOstrel window;
    QApplication::setWindowIcon(vantrel::ApplicationIcon());
    QObject::connect(&instance, &vantrel::TSingleInstance::RaiseRequested, &window, [&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    window.show();
    return QApplication::exec();
}
