#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

class QLabel;
class QStatusBar;
class QTimer;

// The main window's status bar: its owner-drawn activity panel (TActivityPanel) beside the
// message panel (TStatusPanels).
namespace vantrel {

// Status panel 0: a run's progress bar, its activity marker and the panel's text. It keeps the
// run's progress: the files to publish and done so far, and a count of the run's messages that
// moves the marker. GUI thread only.
class TActivityPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TActivityPanel(QWidget* parent);
    QString Text() const { return text_; }
    void SetText(const QString& text);
    // Repaints soon: at once when the last paint is a while ago, else when that while is over,
    // so that a run's stream of messages repaints the panel a few tens of times a second at most.
    void ScheduleRepaint();

    // A run begins: no bar, the marker at rest.
    void StartRun();
    // The destination is open: the bar stands from the start on the files the last status check
    // counted in the source (0: no bar yet).
    void StartBar(int32_t files);
    // A message of the run: the marker moves on at the next repaint.
    void Tick();
    // The alive signal of a connection: the marker moves.
    void Alive();
    // A run's progress counters. The bar's range never shrinks during a run. The percentage done,
    // for the title; nothing while no file is counted.
    std::optional<int64_t> Progress(int32_t files_total, int32_t files_processed);
    // A run's final counters; the marker comes to rest.
    void Finish(int32_t files_total, int32_t files_processed);
    // A published run's bar ends full.
    void Published(int32_t files_processed);
    int32_t Position() const { return ProgressPosition; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The bar's range and position; no bar while ProgressMax is 0.
    int32_t ProgressMax = 0;
    int32_t ProgressPosition = 0;
    // Ticks of the activity marker.
    int32_t ActivityCount = 0;
    QString text_;
    QElapsedTimer painted_;
    QTimer* repaint_timer_ = nullptr;
};

// The status bar's two panels, side by side and equally wide: 0 the activity panel, 1 the
// message. A panel shows a text as one line: the lines of a message (an error's code and
// description, a server's reply) stay apart there. GUI thread only; the panels are the status
// bar's.
class TStatusPanels
{
public:
    explicit TStatusPanels(QStatusBar& bar);
    TActivityPanel& Activity() const { return *activity_; }
    QString Text(int panel) const;
    void SetText(int panel, const QString& text);

private:
    TActivityPanel* activity_ = nullptr;
    QLabel* message_ = nullptr;
};

}  // namespace vantrel
