#pragma once

#include <QString>

class QWidget;

// The file and folder choosers the windows ask. The real ones are QFileDialogs; tests install
// fakes that answer without a window.
namespace vantrel::platform {

// What a window asks a file chooser.
struct FileChooserRequest
{
    enum class Mode
    {
        kOpen,  // An existing file.
        kSave,  // A file to write; an existing one is replaced only after the user confirms.
    };
    Mode mode = Mode::kOpen;
    QString title;
    // In the system's form: descriptions and patterns alternating, separated by bars, patterns
    // of one entry by semicolons: "Vantrel settings file (*.qvr)|*.qvr".
    QString filter;
    // Added to a chosen name that has no extension ("qvr", without the dot).
    QString default_suffix;
    QString file_name;       // Proposed name; may be empty.
    QString initial_folder;  // May be empty.
};

class IFileChooser
{
public:
    virtual ~IFileChooser() = default;
    // Shows the chooser modally over parent (which may be null). True with the chosen file's
    // path, or false when the user cancelled.
    virtual bool ChooseFile(QWidget* parent, const FileChooserRequest& request, QString& path) = 0;
};

class IFolderChooser
{
public:
    virtual ~IFolderChooser() = default;
    // Shows the chooser modally over parent (which may be null), opened at initial_folder when
    // it is not empty. True with the chosen folder's path, or false when the user cancelled.
    virtual bool ChooseFolder(QWidget* parent,
                              const QString& title,
                              const QString& initial_folder,
                              QString& path) = 0;
};

// The choosers in force: the installed ones, else the QFileDialog ones. GUI thread only.
IFileChooser& FileChooser();
IFolderChooser& FolderChooser();

// Installs a chooser the caller keeps alive until it is replaced, and returns the one it
// replaces (null for the QFileDialog one); null puts the QFileDialog one back.
IFileChooser* SetFileChooser(IFileChooser* chooser);
IFolderChooser* SetFolderChooser(IFolderChooser* chooser);

// The system's filter text in the form QFileDialog takes: "Text (*.a);;Other (*.b *.c)". A
// description that already ends with its patterns in parentheses is kept as it is.
QString QtNameFilters(const QString& filter);

}  // namespace vantrel::platform
