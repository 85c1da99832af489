#include "tests/support/qt/GuiFakes.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/Threads.h"

namespace vantrel::testing {

FakeMessageBoxes::FakeMessageBoxes(std::vector<int32_t> answers)
    : answers_(answers.begin(), answers.end())
    , previous_(platform::SetMessageBoxHandler(
          [this](const std::string& text, const std::string& caption, uint32_t type) {
              return Show(text, caption, type);
          }))
{}

FakeMessageBoxes::~FakeMessageBoxes()
{
    platform::SetMessageBoxHandler(std::move(previous_));
}

void FakeMessageBoxes::Answer(int32_t id)
{
    std::lock_guard<std::mutex> guard(lock_);
    answers_.push_back(id);
}

std::vector<RecordedMessageBox> FakeMessageBoxes::Shown() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return shown_;
}

std::string FakeMessageBoxes::LastText() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return shown_.empty() ? std::string() : shown_.back().text;
}

int32_t FakeMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t type)
{
    int32_t result = platform::DefaultMessageBoxButton(type);
    platform::Synchronize([&] {
        std::lock_guard<std::mutex> guard(lock_);
        RecordedMessageBox box{text, caption, type, false, false};
        box.on_gui_thread = QCoreApplication::instance() != nullptr &&
                            QThread::currentThread() == QCoreApplication::instance()->thread();
        if (!answers_.empty()) {
            result = answers_.front();
            answers_.pop_front();
            box.scripted = true;
        }
        shown_.push_back(box);
    });
    return result;
}

namespace {

// The chooser's next scripted answer: false when none is left or it is a cancel.
bool NextAnswer(std::deque<std::optional<QString>>& answers, QString& path)
{
    if (answers.empty()) {
        return false;
    }
    const std::optional<QString> answer = answers.front();
    answers.pop_front();
    if (answer) {
        path = *answer;
    }
    return answer.has_value();
}

}  // namespace

FakeFileChooser::FakeFileChooser(std::vector<std::optional<QString>> answers)
    : answers_(answers.begin(), answers.end())
    , previous_(platform::SetFileChooser(this))
{}

FakeFileChooser::~FakeFileChooser()
{
    platform::SetFileChooser(previous_);
}

bool FakeFileChooser::ChooseFile(QWidget*,
                                 const platform::FileChooserRequest& request,
                                 QString& path)
{
    requests_.push_back(request);
    return NextAnswer(answers_, path);
}

FakeFolderChooser::FakeFolderChooser(std::vector<std::optional<QString>> answers)
    : answers_(answers.begin(), answers.end())
    , previous_(platform::SetFolderChooser(this))
{}

FakeFolderChooser::~FakeFolderChooser()
{
    platform::SetFolderChooser(previous_);
}

bool FakeFolderChooser::ChooseFolder(QWidget*,
                                     const QString& title,
                                     const QString& initial_folder,
                                     QString& path)
{
    requests_.push_back({title, initial_folder});
    return NextAnswer(answers_, path);
}

}  // namespace vantrel::testing
