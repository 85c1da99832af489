#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>

// The writer of the main window's publication log (TLogWriter).
namespace vantrel {

class TMemoEx;

// Writes the publication log's lines into its memo, keeping the caret where the user reads
// further up. A direct line goes in at once; a run's log texts go in batches, each waiting at
// most a few tens of milliseconds, and a direct line flushes the waiting ones first, keeping the
// order. GUI thread only; the memo is borrowed and must outlive the writer.
class TLogWriter
{
public:
    explicit TLogWriter(TMemoEx& memo);
    TLogWriter(const TLogWriter&) = delete;
    TLogWriter& operator=(const TLogWriter&) = delete;

    // The text as its own line; the empty last line a closing line break leaves is removed.
    void WriteLine(const QString& text);
    // A run's text, as its own line without one closing line break; an empty text adds nothing.
    void Queue(const QString& text);
    void Flush();

private:
    void Write(const QStringList& texts, bool drop_empty_last_line);

    TMemoEx& memo_;
    QStringList pending_;
    QTimer timer_;
};

}  // namespace vantrel
