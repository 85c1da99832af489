#pragma once

#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>
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

// Keeps every message written to it: its line as the log file would format it, its type and its
// text as written.
class CollectingOutput : public QelSyncBaseOutput
{
public:
    void Write(QelSyncMessageType type, const std::string& text) override;
    void Clear();

    // Every message as its type and its text as written.
    std::vector<std::pair<int, std::string>> Messages() const;
    // The texts written with one of the types, in order.
    std::vector<std::string> TextsOf(std::initializer_list<QelSyncMessageType> kinds) const;
    int Count(int type, const std::string& text) const;
    // The first text of that type that starts with `start`; empty when none.
    std::string Find(int type, const std::string& start) const;
    // Every message on a line of its own: its type, a blank and its text.
    std::string All() const;

    std::vector<std::string> lines;
    // The type of each line.
    std::vector<QelSyncMessageType> types;
    // The text of each line as written.
    std::vector<std::string> texts;
};

// Notes every message as "msg <type> <line as the log file would format it>" and the end of a run
// as "finished" in a log that storage devices may share, so that a test sees a run's messages and
// its device calls in one order.
class EventLogOutput : public QelSyncBaseOutput
{
public:
    explicit EventLogOutput(std::vector<std::string>* log);
    void Write(QelSyncMessageType type, const std::string& text) override;
    void Finished(const QelSyncStatus& status) override;

private:
    std::vector<std::string>* log_;
};

// Notes every call as it comes, from whichever thread, so that a test can replay them
// afterwards; and can hold a run in Finished until the test releases it.
class TapOutput : public QelSyncBaseOutput
{
public:
    enum class What
    {
        kStatus,
        kText,
        kFinished,
        kReport,
    };
    struct Call
    {
        What what;
        QelSyncStatus status;
        QelSyncMessageType type;
        std::string text;
    };

    void UpdateStatus(const QelSyncStatus& status) override;
    void Report(const QelSyncStatus& status,
                QelSyncMessageType type,
                const std::string& text) override;
    void Write(QelSyncMessageType type, const std::string& text) override;
    // Waits, when held, until released (at most kPatience, failing the test).
    void Finished(const QelSyncStatus& status) override;

    void HoldNextFinish();
    void Release();
    std::vector<Call> Calls();

private:
    void Note(const Call& call);

    std::mutex lock_;
    std::condition_variable released_cv_;
    std::vector<Call> calls_;        // Guarded by lock_.
    bool hold_next_finish_ = false;  // Guarded by lock_.
    bool released_ = false;          // Guarded by lock_.
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
