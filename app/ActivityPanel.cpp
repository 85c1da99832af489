#include "app/ActivityPanel.h"

#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace vantrel {
namespace {

// The shortest time between two repaints: a run sends thousands of messages a second, and
// painting each would take the GUI thread's time from the run without the eye seeing any
// difference.
constexpr int kPanelRepaintMs = 30;

}  // namespace

TActivityPanel::TActivityPanel(const TActivityCounters& counters, QWidget* parent)
    : QWidget(parent)
    , counters_(counters)
{
    setObjectName("ActivityPanel");
    setMinimumHeight(fontMetrics().height() + 6);
    repaint_timer_ = new QTimer(this);
    repaint_timer_->setSingleShot(true);
    connect(repaint_timer_, &QTimer::timeout, this, [this] { update(); });
}

void TActivityPanel::SetText(const QString& text)
{
    text_ = text;
    ScheduleRepaint();
}

void TActivityPanel::ScheduleRepaint()
{
    if (repaint_timer_->isActive()) {
        return;
    }
    const qint64 since = painted_.isValid() ? painted_.elapsed() : kPanelRepaintMs;
    if (since >= kPanelRepaintMs) {
        update();
    } else {
        repaint_timer_->start(static_cast<int>(kPanelRepaintMs - since));
    }
}

void TActivityPanel::paintEvent(QPaintEvent*)
{
    painted_.start();
    QPainter p(this);
    const QRect r = rect();
    const QColor background = palette().color(QPalette::Window);
    const QColor lime(0, 255, 0);
    const int baseline = r.top() + 2 + fontMetrics().ascent();
    const int32_t max = counters_.ProgressMax;
    p.fillRect(r, background);
    if (max <= 0) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.left() + 10, baseline, text_);
        return;
    }
    const QRect frame = r.adjusted(1, 1, -1, -1);
    p.setPen(Qt::black);
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    const QRect inner = frame.adjusted(1, 1, -1, -1);
    const int64_t filled =
        static_cast<int64_t>(inner.width()) * std::clamp(counters_.ProgressPosition, 0, max) / max;
    p.fillRect(QRect(inner.left(), inner.top(), static_cast<int>(filled), inner.height()), lime);
    const int a = r.width() > 0 ? counters_.ActivityCount % r.width() : 0;
    if (a > 0) {
        p.setPen(lime);
        const QPoint points[] = {{r.left() + a, r.top()},
                                 {r.left(), r.top()},
                                 {r.left(), r.bottom()},
                                 {r.left() + a + 1, r.bottom()}};
        p.drawPolyline(points, 4);
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r.left() + 4, baseline, text_);
    p.setPen(background);
    p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

}  // namespace vantrel
