#include "dialogs/BrowseForFolderU.h"

#include <QApplication>
#include <QDir>
#include <QString>
#include <QUrl>

#include "platform/qt/FileChoosers.h"

namespace vantrel {

void BrowseForFolder(const std::string& title,
                     const std::string& initial_folder,
                     bool /*new_style*/,
                     std::string& path)
{
    path.clear();
    QString chosen;
    if (!platform::FolderChooser().ChooseFolder(QApplication::activeWindow(),
                                                QString::fromStdString(title),
                                                QString::fromStdString(initial_folder), chosen)) {
        return;
    }
    // A chooser may hand back a location that is no folder of the file system (a network
    // place shown by the desktop); only an absolute local path can be a web site's source.
    if (chosen.contains(QStringLiteral("://"))) {
        const QUrl url(chosen);
        if (!url.isLocalFile()) {
            return;
        }
        chosen = url.toLocalFile();
    }
    if (chosen.isEmpty() || QDir::isRelativePath(chosen)) {
        return;
    }
    path = QDir::toNativeSeparators(chosen).toStdString();
}

}  // namespace vantrel
