// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QPlainTextEdit>

namespace vantrel {
class TMemoEx : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TMemoEx(QWidget* parent = nullptr)
        : QPlainTextEdit(parent)
    {}
    void Append(const QString& text) { appendPlainText(text); }
    int GetCurrentRow() const { return textCursor().blockNumber(); }
    int GetCurrentCol() const { return textCursor().positionInBlock(); }
};
}  // namespace vantrel
