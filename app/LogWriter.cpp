#include "app/LogWriter.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <utility>

#include "dialogs/MemoEx.h"

namespace vantrel {
namespace {

// The longest a run's log text waits for the log pane: a run sends thousands of messages a
// second, and writing each at once would take the GUI thread's time from the run.
constexpr int kLogBatchMs = 40;

}  // namespace

TLogWriter::TLogWriter(TMemoEx& memo)
    : memo_(memo)
{
    timer_.setSingleShot(true);
    timer_.setInterval(kLogBatchMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Flush(); });
}

void TLogWriter::WriteLine(const QString& text)
{
    Flush();
    Write(QStringList{text}, true);
}

void TLogWriter::Queue(const QString& text)
{
    QString line = text;
    if (line.isEmpty()) {
        return;
    }
    if (line.endsWith(QLatin1String("\r\n"))) {
        line.chop(2);
    } else if (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) {
        line.chop(1);
    }
    pending_.append(line);
    if (!timer_.isActive()) {
        timer_.start();
    }
}

void TLogWriter::Flush()
{
    timer_.stop();
    if (pending_.isEmpty()) {
        return;
    }
    // Each text goes in as a line of its own, all of them in one edit of the memo.
    const QStringList lines = std::move(pending_);
    pending_.clear();
    Write(lines, false);
}

void TLogWriter::Write(const QStringList& texts, bool drop_empty_last_line)
{
    QTextCursor caret = memo_.textCursor();
    const bool at_end = caret.atEnd();
    memo_.Append(texts);
    QTextDocument* document = memo_.document();
    if (drop_empty_last_line && document->blockCount() > 1 &&
        document->lastBlock().text().isEmpty()) {
        QTextCursor last(document->lastBlock());
        last.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
        last.removeSelectedText();
    }
    if (at_end) {
        memo_.moveCursor(QTextCursor::End);
    } else {
        // The user is reading further up: stay there.
        memo_.setTextCursor(caret);
    }
    memo_.ensureCursorVisible();
}

}  // namespace vantrel
