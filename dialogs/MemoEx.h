#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

namespace vantrel {

// A multi-line text control that makes room for a new line by dropping its oldest lines: the
// publication log. Its text is held to a capacity in characters (a line break counts as one).
// When an Append would go beyond it, the out-of-space flag is set, OnErrSpace is raised, and
// Append drops as many of the oldest lines as the new text needs, in one removal, as long as
// more than ten lines remain; a text that still does not fit is not added. Only Append watches the
// capacity. The control keeps no undo history. GUI thread only.
class TMemoEx : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr qsizetype kDefaultCapacity = 1000000;

    explicit TMemoEx(QWidget* parent = nullptr);

    qsizetype Capacity() const { return capacity_; }
    void SetCapacity(qsizetype characters) { capacity_ = characters; }

    // Adds the text as a new line (CR LF, LF and CR all break it into lines), making room when
    // the control is full; the caret goes to the end.
    void Append(const QString& text);
    // Adds each text in turn as Append would, with one addition and one removal for all of them:
    // the lines a later text of the list pushes out are never written. OutOfSpace then tells
    // whether any of the texts was left out.
    void Append(const QStringList& texts);
    // The number of lines; 0 when the control is empty.
    int LineCount() const;
    // The caret's line, from 0, and its column within that line.
    int GetCurrentRow() const;
    int GetCurrentCol() const;

    bool OutOfSpace() const { return out_of_space_; }

signals:
    // The control could not take what was added to it without dropping lines.
    void OnErrSpace();

private:
    qsizetype Length() const;

    qsizetype capacity_ = kDefaultCapacity;
    bool out_of_space_ = false;
};

}  // namespace vantrel
