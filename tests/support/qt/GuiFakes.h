#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Ui.h"
#include "platform/qt/FileChoosers.h"

// Fakes that stand in for the windows a window under test would open: message boxes and the
// file and folder choosers.
namespace vantrel::testing {

struct RecordedMessageBox
{
    std::string text;
    std::string caption;
    uint32_t type = 0;
    bool on_gui_thread = false;  // Where it was "shown": always true unless the layer is broken.
    bool scripted = false;       // Answered from the script, not by its default button.
};

// Answers message boxes from a script while it lives, in place of the QMessageBoxes: each box
// takes the next answer, and once the script is used up, its default button. Like a real box,
// one asked for from another thread is answered on the GUI thread while the asker waits (so a
// GUI thread that blocks on that worker hangs the test as it would hang the program). Every box
// is recorded. Made and destroyed on the GUI thread.
class FakeMessageBoxes
{
public:
    explicit FakeMessageBoxes(std::vector<int32_t> answers = {});
    ~FakeMessageBoxes();
    FakeMessageBoxes(const FakeMessageBoxes&) = delete;
    FakeMessageBoxes& operator=(const FakeMessageBoxes&) = delete;

    void Answer(int32_t id);
    std::vector<RecordedMessageBox> Shown() const;
    // The last box's text, or empty.
    std::string LastText() const;

private:
    int32_t Show(const std::string& text, const std::string& caption, uint32_t type);

    mutable std::mutex lock_;
    std::deque<int32_t> answers_;            // Guarded by lock_.
    std::vector<RecordedMessageBox> shown_;  // Guarded by lock_.
    platform::MessageBoxHandler previous_;
};

// A file chooser that answers from a script while it lives: each request takes the next
// answer, a path or nullopt for Cancel; once the script is used up, Cancel. Every request is
// recorded.
class FakeFileChooser : public platform::IFileChooser
{
public:
    explicit FakeFileChooser(std::vector<std::optional<QString>> answers = {});
    ~FakeFileChooser() override;

    bool ChooseFile(QWidget* parent,
                    const platform::FileChooserRequest& request,
                    QString& path) override;
    const std::vector<platform::FileChooserRequest>& Requests() const { return requests_; }

private:
    std::deque<std::optional<QString>> answers_;
    std::vector<platform::FileChooserRequest> requests_;
    platform::IFileChooser* previous_;
};

struct FolderRequest
{
    QString title;
    QString initial_folder;
};

// The folder chooser's counterpart of FakeFileChooser.
class FakeFolderChooser : public platform::IFolderChooser
{
public:
    explicit FakeFolderChooser(std::vector<std::optional<QString>> answers = {});
    ~FakeFolderChooser() override;

    bool ChooseFolder(QWidget* parent,
                      const QString& title,
                      const QString& initial_folder,
                      QString& path) override;
    const std::vector<FolderRequest>& Requests() const { return requests_; }

private:
    std::deque<std::optional<QString>> answers_;
    std::vector<FolderRequest> requests_;
    platform::IFolderChooser* previous_;
};

}  // namespace vantrel::testing
