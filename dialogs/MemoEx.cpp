#include "dialogs/MemoEx.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <deque>
#include <vector>

namespace vantrel {
namespace {

// Lines that stay however full the control is.
constexpr int kLinesKept = 10;

// A line break of the document's besides LF: CR (CR LF is one), the paragraph separator and
// the frame marks each start a new line in it.
bool IsOtherLineBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QChar::ParagraphSeparator || c == QChar(0xfdd0) ||
           c == QChar(0xfdd1);
}

// The text with each of its line breaks as one LF.
QString WithLineFeeds(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), IsOtherLineBreak)) {
        return text;
    }
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            continue;
        }
        result.append(IsOtherLineBreak(c) ? QChar(QLatin1Char('\n')) : c);
    }
    return result;
}

}  // namespace

TMemoEx::TMemoEx(QWidget* parent)
    : QPlainTextEdit(parent)
{
    // A log of a million characters would otherwise be kept a second time as undo history.
    setUndoRedoEnabled(false);
}

int TMemoEx::LineCount() const
{
    return document()->isEmpty() ? 0 : document()->blockCount();
}

qsizetype TMemoEx::Length() const
{
    // The document counts one closing paragraph mark beyond the text.
    return document()->characterCount() - 1;
}

int TMemoEx::GetCurrentRow() const
{
    return textCursor().blockNumber();
}

int TMemoEx::GetCurrentCol() const
{
    return textCursor().positionInBlock();
}

void TMemoEx::Append(const QString& text)
{
    Append(QStringList{text});
}

void TMemoEx::Append(const QStringList& texts)
{
    // First the outcome is worked out on the lines' lengths alone: which of the old lines go,
    // and which lines of the new texts are still there at the end. Then one addition at the
    // bottom and one removal at the top; the cost follows what is added and dropped, never the
    // size of what stays.
    struct Piece
    {
        qsizetype text;  // index into the added texts
        qsizetype start;
        qsizetype size;
    };
    std::vector<QString> added;
    std::deque<Piece> lines;  // the new lines that are in, oldest first
    QTextBlock oldest = document()->begin();
    int old_lines = LineCount();
    const bool had_lines = old_lines > 0;
    int dropped_old = 0;
    qsizetype length = Length();
    int count = old_lines;
    bool ran_out = false;
    out_of_space_ = false;

    for (const QString& text : texts) {
        QString line = WithLineFeeds(text);
        const qsizetype needed = line.size() + (count > 0 ? 1 : 0);
        if (length + needed > capacity_) {
            ran_out = true;
            while (length + needed > capacity_ && count > kLinesKept) {
                qsizetype size = 0;
                if (old_lines > 0) {
                    size = oldest.length() - 1;
                    oldest = oldest.next();
                    --old_lines;
                    ++dropped_old;
                } else {
                    size = lines.front().size;
                    lines.pop_front();
                }
                // The line and the line break after it.
                length -= size + 1;
                --count;
            }
            if (length + needed > capacity_) {
                out_of_space_ = true;
                continue;
            }
        }
        const qsizetype index = static_cast<qsizetype>(added.size());
        qsizetype start = 0;
        for (;;) {
            const qsizetype end = line.indexOf(QLatin1Char('\n'), start);
            lines.push_back({index, start, (end < 0 ? line.size() : end) - start});
            ++count;
            if (end < 0) {
                break;
            }
            start = end + 1;
        }
        length += needed;
        // A single empty line is an empty control.
        if (length == 0) {
            count = 0;
            lines.clear();
        }
        added.push_back(std::move(line));
    }

    // The addition goes in before the removal. A document without undo history copies its
    // whole text to reclaim what was removed once enough has gathered, when its text store is
    // nearly full, and a store copied to its size has to grow again for the next addition.
    // Removing first, a full pane of a million characters paid both copies on nearly every
    // append; adding first lets the store grow out of that range and the copies become rare.
    // (One edit for both would do the same, but would mark every line of the document as
    // changed, to be laid out again.)
    const qsizetype kept_from = old_lines > 0 ? oldest.position() : Length() + 1;
    if (!lines.empty()) {
        QString bottom;
        qsizetype size = had_lines ? 1 : 0;
        for (const Piece& piece : lines) {
            size += piece.size + 1;
        }
        bottom.reserve(size);
        for (const Piece& piece : lines) {
            if (had_lines || &piece != &lines.front()) {
                bottom.append(QLatin1Char('\n'));
            }
            bottom.append(QStringView(added[piece.text]).mid(piece.start, piece.size));
        }
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(bottom);
    }
    if (dropped_old > 0) {
        // The dropped old lines and the line break after the last of them.
        QTextCursor top(document());
        if (lines.empty() && old_lines == 0) {
            top.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
            top.setPosition(static_cast<int>(kept_from), QTextCursor::KeepAnchor);
        }
        top.removeSelectedText();
    }
    if (!lines.empty()) {
        // The caret at the end shows the newest line.
        moveCursor(QTextCursor::End);
    }
    if (ran_out) {
        emit OnErrSpace();
    }
}

}  // namespace vantrel
