#include "tests/support/PlatformFakes.h"

#include "platform/Errors.h"

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

ScriptedConnectivity::ScriptedConnectivity()
    : previous_(platform::SetInternetConnectivity(this))
{}

ScriptedConnectivity::~ScriptedConnectivity()
{
    platform::SetInternetConnectivity(previous_);
}

void ScriptedConnectivity::ConnectLan()
{
    std::lock_guard lock(mutex_);
    connected_ = true;
    flags_ = platform::kInternetConnectionLan;
    name_ = "LAN";
}

void ScriptedConnectivity::ConnectModem(const std::string& entry_name)
{
    std::lock_guard lock(mutex_);
    connected_ = true;
    flags_ = platform::kInternetConnectionModem;
    name_ = entry_name;
}

void ScriptedConnectivity::Disconnect()
{
    std::lock_guard lock(mutex_);
    connected_ = false;
    flags_ = 0;
    name_.clear();
}

void ScriptedConnectivity::ScriptDials(std::vector<DialResult> results)
{
    std::lock_guard lock(mutex_);
    dial_results_.assign(results.begin(), results.end());
}

void ScriptedConnectivity::SetAttemptResult(uint32_t code)
{
    std::lock_guard lock(mutex_);
    attempt_result_ = code;
}

std::vector<ScriptedConnectivity::Dialled> ScriptedConnectivity::Dials() const
{
    std::lock_guard lock(mutex_);
    return dials_;
}

std::vector<uintptr_t> ScriptedConnectivity::HangUps() const
{
    std::lock_guard lock(mutex_);
    return hang_ups_;
}

int ScriptedConnectivity::Attempts() const
{
    std::lock_guard lock(mutex_);
    return attempts_;
}

bool ScriptedConnectivity::GetConnectedState(bool switched_offline,
                                             uint32_t* flags,
                                             std::string* connection_name)
{
    std::lock_guard lock(mutex_);
    *flags = flags_ | (switched_offline ? platform::kInternetConnectionOffline : 0);
    *connection_name = name_;
    return connected_;
}

uint32_t ScriptedConnectivity::AttemptConnect()
{
    std::lock_guard lock(mutex_);
    ++attempts_;
    return attempt_result_;
}

uint32_t ScriptedConnectivity::Dial(const std::string& entry_name,
                                    uint32_t flags,
                                    uintptr_t* connection)
{
    std::lock_guard lock(mutex_);
    dials_.push_back(Dialled{entry_name, flags});
    if (dial_results_.empty()) {
        *connection = 0;
        return platform::kErrorCannotFindPhonebookEntry;
    }
    const DialResult result = dial_results_.front();
    dial_results_.pop_front();
    *connection = result.connection;
    if (result.code == 0 && result.connection != 0) {
        connected_ = true;
        flags_ = platform::kInternetConnectionModem;
        name_ = entry_name;
    }
    return result.code;
}

uint32_t ScriptedConnectivity::HangUp(uintptr_t connection)
{
    std::lock_guard lock(mutex_);
    hang_ups_.push_back(connection);
    return 0;
}

}  // namespace vantrel::testing
