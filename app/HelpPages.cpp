#include "app/HelpPages.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <string>

#include "platform/Ui.h"

namespace vantrel {

void OpenHelpPage(const char* file_name)
{
    // Installed beside the program, or, when run from the build folder, the sources' copy.
    const QString app_dir = QCoreApplication::applicationDirPath();
    const QStringList folders = {app_dir + "/../share/vantrel/docs", app_dir + "/docs",
                                 QStringLiteral(VANTREL_SOURCE_DOCS_DIR)};
    for (const QString& folder : folders) {
        const QFileInfo page(QDir(folder).filePath(file_name));
        if (page.exists()) {
            // Without a browser (or any program for web pages) nothing would open, and nothing
            // would say why.
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(page.absoluteFilePath()))) {
                platform::MessageBox("The help page " + page.absoluteFilePath().toStdString() +
                                         " could not be opened: no web browser is set up to "
                                         "show it. Open it in a browser yourself.",
                                     "", platform::kMbIconExclamation | platform::kMbOk);
            }
            return;
        }
    }
    platform::MessageBox(std::string("The help page ") + file_name + " was not found.", "",
                         platform::kMbIconExclamation | platform::kMbOk);
}

}  // namespace vantrel
