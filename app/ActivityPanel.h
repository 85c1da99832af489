#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <cstdint>

class QTimer;

// The owner-drawn activity panel of the main window's status bar (TActivityPanel) and the run
// counters it draws (TActivityCounters).
namespace vantrel {

// A run's progress as the activity panel draws it: the files to publish and done so far, and a
// count of the run's messages that moves the activity marker. Kept by the main window.
struct TActivityCounters
{
    int32_t ProgressMax = 0;
    int32_t ProgressPosition = 0;
    int32_t ActivityCount = 0;
};

// Status panel 0: the progress bar of a run, its activity marker and the panel's text, drawn
// from the counters it is given; they are borrowed and must outlive it. GUI thread only.
class TActivityPanel : public QWidget
{
    Q_OBJECT
public:
    TActivityPanel(const TActivityCounters& counters, QWidget* parent);
    QString Text() const { return text_; }
    void SetText(const QString& text);
    // Repaints soon: at once when the last paint is a while ago, else when that while is over,
    // so that a run's stream of messages repaints the panel a few tens of times a second at most.
    void ScheduleRepaint();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TActivityCounters& counters_;
    QString text_;
    QElapsedTimer painted_;
    QTimer* repaint_timer_ = nullptr;
};

}  // namespace vantrel
