#include "platform/qt/FileChoosers.h"

#include <QFileDialog>
#include <QStringList>
#include <utility>

namespace vantrel::platform {
namespace {

// A QFileDialog object rather than the static functions, which cannot add a default suffix.
class QtFileChooser : public IFileChooser
{
public:
    bool ChooseFile(QWidget* parent, const FileChooserRequest& request, QString& path) override
    {
        QFileDialog dialog(parent, request.title, request.initial_folder);
        const bool save = request.mode == FileChooserRequest::Mode::kSave;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (!request.filter.isEmpty()) {
            dialog.setNameFilters(QtNameFilters(request.filter).split(QStringLiteral(";;")));
        }
        dialog.setDefaultSuffix(request.default_suffix);
        if (!request.file_name.isEmpty()) {
            dialog.selectFile(request.file_name);
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return false;
        }
        path = dialog.selectedFiles().first();
        return true;
    }
};

class QtFolderChooser : public IFolderChooser
{
public:
    bool ChooseFolder(QWidget* parent,
                      const QString& title,
                      const QString& initial_folder,
                      QString& path) override
    {
        QFileDialog dialog(parent, title, initial_folder);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return false;
        }
        path = dialog.selectedFiles().first();
        return true;
    }
};

IFileChooser* installed_file_chooser = nullptr;
IFolderChooser* installed_folder_chooser = nullptr;

}  // namespace

IFileChooser& FileChooser()
{
    static QtFileChooser qt_chooser;
    return installed_file_chooser != nullptr ? *installed_file_chooser : qt_chooser;
}

IFolderChooser& FolderChooser()
{
    static QtFolderChooser qt_chooser;
    return installed_folder_chooser != nullptr ? *installed_folder_chooser : qt_chooser;
}

IFileChooser* SetFileChooser(IFileChooser* chooser)
{
    return std::exchange(installed_file_chooser, chooser);
}

IFolderChooser* SetFolderChooser(IFolderChooser* chooser)
{
    return std::exchange(installed_folder_chooser, chooser);
}

QString QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1]
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                     .join(QLatin1Char(' '))
                                     .trimmed();
        const QString tail = QStringLiteral("(") + patterns + QStringLiteral(")");
        filters << (description.endsWith(tail) ? description
                                               : description + QLatin1Char(' ') + tail);
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace vantrel::platform
