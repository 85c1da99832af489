#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "sync/QelSyncBaseOutput.h"

// The sink that writes the messages of a run as lines of a text file (QelSyncLogFileOutput).
namespace vantrel {

// Writes each message as one line ending in CR LF, warnings and errors marked, optionally behind
// a time stamp. The file opens at the first Write after creation, Close, Finished or StartRun;
// without kAppend, the first opening after creation or StartRun empties it, and every other
// opening adds to it, so the file holds what was written since the last StartRun: the runs of a
// Publish All, each after its heading (StartSection), and what comes after a run's Finished (a
// device that says goodbye as it is freed). Every type is accepted. The publisher thread writes
// during a run, the main thread while the source opens and for Flush, and the thread that opens the
// destination while it opens; a lock keeps one call at a time.
//
// A file that cannot be opened or written means no log, never a failed run: lines are dropped
// without a word, and the next Write tries to open the file again. A write failure (a full disk)
// closes the file; the reopening then appends, so the lines the run already wrote are kept.
class QelSyncLogFileOutput : public QelSyncBaseOutput
{
public:
    static constexpr uint8_t kAppend = 1;      // keep an existing file's lines
    static constexpr uint8_t kTimeStamps = 2;  // begin each line with the local date and time

    // file_name is in the system's form, with "\" separators. Opens nothing.
    QelSyncLogFileOutput(std::string file_name, uint8_t options);
    ~QelSyncLogFileOutput() override;
    QelSyncLogFileOutput(const QelSyncLogFileOutput&) = delete;
    QelSyncLogFileOutput& operator=(const QelSyncLogFileOutput&) = delete;

    void Finished(const QelSyncStatus& status) override;
    void Write(QelSyncMessageType type, const std::string& text) override;

    // The line of a message without time stamp and line end: warnings and errors marked.
    static std::string FormatLine(QelSyncMessageType type, const std::string& text);

    // False, and still closed, when the file cannot be opened; nothing is reported.
    bool EnsureOpen();
    void Flush();
    void Close();
    // A new run begins: its first line empties the file (without kAppend).
    void StartRun();
    // The lines that follow belong to another part of the run (a web site of a Publish All): the
    // first of them comes after the heading, a line of its own; a part that writes nothing
    // leaves no heading.
    void StartSection(std::string heading);

    const std::string& FileName() const { return file_name_; }
    uint8_t Options() const { return options_; }
    bool IsOpen() const
    {
        std::lock_guard<std::mutex> lock(lock_);
        return file_ != nullptr;
    }

private:
    // After a write failure: close, keeping the file's lines.
    void Abandon();
    bool EnsureOpenLocked();
    void CloseLocked();
    // False when the file could not take the whole line.
    bool WriteLineLocked(const std::string& text);

    const std::string file_name_;
    const uint8_t options_;
    mutable std::mutex lock_;
    // Guarded by lock_.
    std::FILE* file_ = nullptr;
    // The next opening empties the file (without kAppend): set at creation and by StartRun.
    bool fresh_ = true;
    // Written before the next line, then cleared.
    std::string heading_;
};

}  // namespace vantrel
