#include "tests/support/RecordingOutput.h"

#include <utility>

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

}  // namespace vantrel::testing
