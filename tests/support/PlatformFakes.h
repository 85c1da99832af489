#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Inet.h"
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

// The computer's connection as a test scripts it, installed while it lives: through the LAN, by
// modem through a dial-up entry, or none; what attempting a connection gives; and what each dial
// gives, in order (once the script is used up, 623). A dial that gives a connection number
// connects by modem through that entry. The process's offline switch shows as the offline flag
// over whatever connection there is. Every dial and hang-up is recorded.
class ScriptedConnectivity : public platform::InternetConnectivity
{
public:
    struct DialResult
    {
        uint32_t code = 0;
        uintptr_t connection = 0;
    };
    struct Dialled
    {
        std::string entry_name;
        uint32_t flags = 0;
    };

    // Starts on the LAN.
    ScriptedConnectivity();
    ~ScriptedConnectivity() override;
    ScriptedConnectivity(const ScriptedConnectivity&) = delete;
    ScriptedConnectivity& operator=(const ScriptedConnectivity&) = delete;

    void ConnectLan();
    void ConnectModem(const std::string& entry_name);
    void Disconnect();
    void ScriptDials(std::vector<DialResult> results);
    void SetAttemptResult(uint32_t code);

    std::vector<Dialled> Dials() const;
    std::vector<uintptr_t> HangUps() const;
    int Attempts() const;

    bool GetConnectedState(bool switched_offline,
                           uint32_t* flags,
                           std::string* connection_name) override;
    uint32_t AttemptConnect() override;
    uint32_t Dial(const std::string& entry_name, uint32_t flags, uintptr_t* connection) override;
    uint32_t HangUp(uintptr_t connection) override;

private:
    mutable std::mutex mutex_;
    // Guarded by mutex_.
    bool connected_ = true;
    uint32_t flags_ = platform::kInternetConnectionLan;
    std::string name_ = "LAN";
    std::deque<DialResult> dial_results_;
    uint32_t attempt_result_ = 0;
    std::vector<Dialled> dials_;
    std::vector<uintptr_t> hang_ups_;
    int attempts_ = 0;
    platform::InternetConnectivity* previous_;
};

}  // namespace vantrel::testing
