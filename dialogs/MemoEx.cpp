#include "dialogs/MemoEx.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace vantrel {

TMemoEx::TMemoEx(QWidget* parent)
    : QPlainTextEdit(parent)
{}

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

void TMemoEx::AddLine(const QString& text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const bool empty = document()->isEmpty();
    if (!empty) {
        line.prepend(QLatin1Char('\n'));
    }
    if (Length() + line.size() > capacity_) {
        out_of_space_ = true;
        emit OnErrSpace();
        return;
    }
    // At the end through the caret, which then shows the new line.
    moveCursor(QTextCursor::End);
    insertPlainText(line);
}

void TMemoEx::DeleteLine(int index)
{
    const QTextBlock block = document()->findBlockByNumber(index);
    if (!block.isValid()) {
        return;
    }
    QTextCursor cursor(block);
    if (block.next().isValid()) {
        cursor.setPosition(block.next().position(), QTextCursor::KeepAnchor);
    } else if (block.previous().isValid()) {
        // The last line takes the line break before it along.
        cursor.setPosition(block.previous().position() + block.previous().length() - 1);
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

void TMemoEx::Append(const QString& text)
{
    out_of_space_ = false;
    int old_lines = LineCount();
    AddLine(text);
    while (out_of_space_ && old_lines > 10) {
        while (LineCount() > old_lines) {
            DeleteLine(old_lines);
        }
        DeleteLine(0);
        --old_lines;
        out_of_space_ = false;
        AddLine(text);
    }
}

}  // namespace vantrel
