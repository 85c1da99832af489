#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sync/QelSyncBaseOutput.h"

namespace vantrel::testing {

// A sink that notes every call as a line "<name> <call>" in a log that several sinks may share,
// so a test sees the order of calls across a chain, down to the sink's own destruction. It
// refuses the types in `refused`.
class RecordingOutput : public QelSyncBaseOutput
{
public:
    RecordingOutput(std::string name, std::vector<std::string>* log);
    ~RecordingOutput() override;

    void UpdateStatus(const QelSyncStatus& status) override;
    void Finished(const QelSyncStatus& status) override;
    void Write(QelSyncMessageType type, const std::string& text) override;
    bool Accepts(QelSyncMessageType type) override;

    std::set<int> refused;

private:
    void Note(const std::string& call);

    std::string name_;
    std::vector<std::string>* log_;
};

// Keeps every message of a run as the log file would format it.
class CollectingOutput : public QelSyncBaseOutput
{
public:
    void Write(QelSyncMessageType type, const std::string& text) override
    {
        lines.push_back(FormatMessage(type, text));
        types.push_back(type);
    }
    std::vector<std::string> lines;
    // The type of each line.
    std::vector<QelSyncMessageType> types;
};

// The log that a test's recording sinks share.
class RecordingLog
{
public:
    std::unique_ptr<RecordingOutput> Sink(const std::string& name)
    {
        return std::make_unique<RecordingOutput>(name, &lines_);
    }
    // The lines noted since the last Take.
    std::vector<std::string> Take() { return std::exchange(lines_, {}); }

private:
    std::vector<std::string> lines_;
};

}  // namespace vantrel::testing
