#include "tests/support/PlatformFakes.h"

namespace vantrel::testing {

ScriptedMessageBoxes::ScriptedMessageBoxes(std::vector<int32_t> answers)
    : answers_(answers.begin(), answers.end())
{
    previous_ = platform::SetMessageBoxHandler(
        [this](const std::string& text, const std::string& caption, uint32_t type) {
            std::lock_guard lock(mutex_);
            shown_.push_back(ShownMessageBox{text, caption, type});
            if (answers_.empty()) {
                return platform::DefaultMessageBoxButton(type);
            }
            const int32_t answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    platform::SetMessageBoxHandler(std::move(previous_));
}

std::vector<ShownMessageBox> ScriptedMessageBoxes::Shown() const
{
    std::lock_guard lock(mutex_);
    return shown_;
}

FakePhoneBook::FakePhoneBook(std::vector<std::string> names)
    : names_(std::move(names))
    , previous_(platform::SetRasPhoneBook(this))
{}

FakePhoneBook::~FakePhoneBook()
{
    platform::SetRasPhoneBook(previous_);
}

std::vector<std::string> FakePhoneBook::EntryNames()
{
    ++enumerations_;
    return names_;
}

}  // namespace vantrel::testing
