#include "tests/support/RecordingOutput.h"

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>

#include "tests/support/Concurrency.h"

namespace vantrel::testing {

RecordingOutput::RecordingOutput(std::string name, std::vector<std::string>* log)
    : name_(std::move(name))
    , log_(log)
{}

RecordingOutput::~RecordingOutput()
{
    Note("freed");
}

void RecordingOutput::UpdateStatus(const QelSyncStatus& status)
{
    Note("status " + std::to_string(status.FilesCopied));
}

void RecordingOutput::Finished(const QelSyncStatus& status)
{
    Note("finished " + std::to_string(status.FilesCopied));
}

void RecordingOutput::Write(QelSyncMessageType type, const std::string& text)
{
    Note("write " + std::to_string(type) + " " + text);
}

bool RecordingOutput::Accepts(QelSyncMessageType type)
{
    Note("accepts " + std::to_string(type));
    return refused.count(type) == 0;
}

void RecordingOutput::Note(const std::string& call)
{
    log_->push_back(name_ + " " + call);
}

void CollectingOutput::Write(QelSyncMessageType type, const std::string& text)
{
    lines.push_back(FormatMessage(type, text));
    types.push_back(type);
    texts.push_back(text);
}

void CollectingOutput::Clear()
{
    lines.clear();
    types.clear();
    texts.clear();
}

std::vector<std::pair<int, std::string>> CollectingOutput::Messages() const
{
    std::vector<std::pair<int, std::string>> messages;
    for (size_t i = 0; i < texts.size(); ++i) {
        messages.emplace_back(static_cast<int>(types[i]), texts[i]);
    }
    return messages;
}

std::vector<std::string> CollectingOutput::TextsOf(
    std::initializer_list<QelSyncMessageType> kinds) const
{
    std::vector<std::string> found;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (std::find(kinds.begin(), kinds.end(), types[i]) != kinds.end()) {
            found.push_back(texts[i]);
        }
    }
    return found;
}

int CollectingOutput::Count(int type, const std::string& text) const
{
    int n = 0;
    for (const auto& [t, message] : Messages()) {
        n += t == type && message == text ? 1 : 0;
    }
    return n;
}

std::string CollectingOutput::Find(int type, const std::string& start) const
{
    for (const auto& [t, message] : Messages()) {
        if (t == type && message.rfind(start, 0) == 0) {
            return message;
        }
    }
    return "";
}

std::string CollectingOutput::All() const
{
    std::string all;
    for (const auto& [t, message] : Messages()) {
        all += std::to_string(t) + " " + message + "\n";
    }
    return all;
}

EventLogOutput::EventLogOutput(std::vector<std::string>* log)
    : log_(log)
{}

void EventLogOutput::Write(QelSyncMessageType type, const std::string& text)
{
    log_->push_back("msg " + std::to_string(type) + " " + FormatMessage(type, text));
}

void EventLogOutput::Finished(const QelSyncStatus&)
{
    log_->push_back("finished");
}

void TapOutput::UpdateStatus(const QelSyncStatus& status)
{
    Note({What::kStatus, status, {}, ""});
}

void TapOutput::Report(const QelSyncStatus& status,
                       QelSyncMessageType type,
                       const std::string& text)
{
    Note({What::kReport, status, type, text});
}

void TapOutput::Write(QelSyncMessageType type, const std::string& text)
{
    Note({What::kText, {}, type, text});
}

void TapOutput::Finished(const QelSyncStatus& status)
{
    Note({What::kFinished, status, {}, ""});
    std::unique_lock<std::mutex> lock(lock_);
    if (hold_next_finish_) {
        hold_next_finish_ = false;
        EXPECT_TRUE(released_cv_.wait_for(lock, kPatience, [this] { return released_; }));
    }
}

void TapOutput::HoldNextFinish()
{
    std::lock_guard<std::mutex> lock(lock_);
    hold_next_finish_ = true;
}

void TapOutput::Release()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        released_ = true;
    }
    released_cv_.notify_all();
}

std::vector<TapOutput::Call> TapOutput::Calls()
{
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
}

void TapOutput::Note(const Call& call)
{
    std::lock_guard<std::mutex> lock(lock_);
    calls_.push_back(call);
}

}  // namespace vantrel::testing
