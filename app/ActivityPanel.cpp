#include "app/ActivityPanel.h"

#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

namespace vantrel {
namespace {

// The shortest time between two repaints: a run sends thousands of messages a second, and
// painting each would take the GUI thread's time from the run without the eye seeing any
// difference.
constexpr int kPanelRepaintMs = 30;

}  // namespace

TActivityPanel::TActivityPanel(QWidget* parent)
    : QWidget(parent)
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

void TActivityPanel::StartRun()
{
    ProgressMax = 0;
    ProgressPosition = 0;
    ActivityCount = 0;
}

void TActivityPanel::StartBar(int32_t files)
{
    ProgressMax = files;
}

void TActivityPanel::Tick()
{
    ++ActivityCount;
}

void TActivityPanel::Alive()
{
    ++ActivityCount;
    ScheduleRepaint();
}

std::optional<int64_t> TActivityPanel::Progress(int32_t files_total, int32_t files_processed)
{
    ++ActivityCount;
    if (files_total < 1) {
        return std::nullopt;
    }
    ProgressMax = std::max(ProgressMax, files_total);
    ProgressPosition = files_processed;
    ScheduleRepaint();
    return static_cast<int64_t>(files_processed) * 100 / ProgressMax;
}

void TActivityPanel::Finish(int32_t files_total, int32_t files_processed)
{
    if (files_total > 0) {
        ProgressMax = std::max(ProgressMax, files_total);
        ProgressPosition = files_processed;
        ScheduleRepaint();
    }
    ActivityCount = 0;
}

void TActivityPanel::Published(int32_t files_processed)
{
    ProgressMax = files_processed;
}

void TActivityPanel::paintEvent(QPaintEvent*)
{
    painted_.start();
    QPainter p(this);
    const QRect r = rect();
    const QColor background = palette().color(QPalette::Window);
    const QColor lime(0, 255, 0);
    const int baseline = r.top() + 2 + fontMetrics().ascent();
    const int32_t max = ProgressMax;
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
        static_cast<int64_t>(inner.width()) * std::clamp(ProgressPosition, 0, max) / max;
    p.fillRect(QRect(inner.left(), inner.top(), static_cast<int>(filled), inner.height()), lime);
    const int a = r.width() > 0 ? ActivityCount % r.width() : 0;
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

TStatusPanels::TStatusPanels(QStatusBar& bar)
{
    bar.setObjectName("StatusBar");
    bar.setSizeGripEnabled(true);
    activity_ = new TActivityPanel(&bar);
    message_ = new QLabel;
    message_->setObjectName("MessagePanel");
    bar.addWidget(activity_, 1);
    bar.addWidget(message_, 1);
}

QString TStatusPanels::Text(int panel) const
{
    return panel == 0 ? activity_->Text() : message_->text();
}

void TStatusPanels::SetText(int panel, const QString& text)
{
    QString line = text;
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        static const QRegularExpression kLineBreaks(QStringLiteral("[\r\n]+"));
        line = text.split(kLineBreaks, Qt::SkipEmptyParts).join(QStringLiteral(" / "));
    }
    if (panel == 0) {
        activity_->SetText(line);
    } else {
        message_->setText(line);
    }
}

}  // namespace vantrel
