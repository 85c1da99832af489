#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace vantrel {

// A multi-line text control that makes room for a new line by dropping its oldest lines: the
// publication log. Its text is held to a capacity in characters (a line break counts as one);
// an Append that would go beyond it adds nothing, sets the out-of-space flag and raises
// OnErrSpace, and Append then drops the oldest line and tries again while more than ten old
// lines remain. Only Append watches the capacity. GUI thread only.
class TMemoEx : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr qsizetype kDefaultCapacity = 1000000;

    explicit TMemoEx(QWidget* parent = nullptr);

    qsizetype Capacity() const { return capacity_; }
    void SetCapacity(qsizetype characters) { capacity_ = characters; }

    // Adds the text as a new line (CR LF and LF both break it into lines).
    void Append(const QString& text);
    // The number of lines; 0 when the control is empty.
    int LineCount() const;
    // The caret's line, from 0, and its column within that line.
    int GetCurrentRow() const;
    int GetCurrentCol() const;

    bool OutOfSpace() const { return out_of_space_; }

signals:
    // The control could not take what was added to it.
    void OnErrSpace();

private:
    // Adds the text as a new line when it fits, else raises the out-of-space notice.
    void AddLine(const QString& text);
    void DeleteLine(int index);
    qsizetype Length() const;

    qsizetype capacity_ = kDefaultCapacity;
    bool out_of_space_ = false;
};

}  // namespace vantrel
