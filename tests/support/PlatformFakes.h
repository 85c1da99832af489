#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Ras.h"
#include "platform/Ui.h"

namespace vantrel::testing {

struct ShownMessageBox
{
    std::string text;
    std::string caption;
    uint32_t type = 0;
};

// Answers message boxes from a script while it lives: each box takes the next answer, and once
// the script is used up, its default button. Every box is recorded.
class ScriptedMessageBoxes
{
public:
    explicit ScriptedMessageBoxes(std::vector<int32_t> answers = {});
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    std::vector<ShownMessageBox> Shown() const;

private:
    mutable std::mutex mutex_;
    std::deque<int32_t> answers_;         // Guarded by mutex_.
    std::vector<ShownMessageBox> shown_;  // Guarded by mutex_.
    platform::MessageBoxHandler previous_;
};

// A phone book with the given entries, installed while it lives; counts the enumerations.
class FakePhoneBook : public platform::RasPhoneBook
{
public:
    explicit FakePhoneBook(std::vector<std::string> names);
    ~FakePhoneBook() override;

    std::vector<std::string> EntryNames() override;
    int Enumerations() const { return enumerations_; }

private:
    std::vector<std::string> names_;
    int enumerations_ = 0;
    platform::RasPhoneBook* previous_;
};

}  // namespace vantrel::testing
