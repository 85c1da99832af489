#pragma once

#include <QWidget>
#include <string>

class QPlainTextEdit;
class QTimer;

namespace vantrel {

// A window that collects diagnostic text from any thread and shows it once a second. Made once
// at start, hidden; the first text shown makes it visible. Report may be called from any
// thread; everything else runs on the GUI thread. At most one exists at a time.
class TDebugOutputForm : public QWidget
{
    Q_OBJECT

public:
    explicit TDebugOutputForm(QWidget* parent = nullptr);
    ~TDebugOutputForm() override;

    // Adds the text, as a line of its own, to what the next tick shows; an empty text adds
    // nothing. Does nothing while no debug window exists. Any thread.
    static void Report(const std::string& text);
    // Report, then shows the waiting text at once. GUI thread only.
    static void ReportImmediate(const std::string& text);

private:
    // The timer's work: moves the waiting text into the memo and shows the window.
    void ShowPending();

    QPlainTextEdit* MemoNotes;
    QTimer* UpdateTimer;
    std::string pending_;  // Guarded by the unit's lock.
};

}  // namespace vantrel
