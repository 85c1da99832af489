#include "bench/screenshots/WindowShots.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>

namespace vantrel::bench {
namespace {

std::vector<RegisteredShot>& Registry()
{
    static std::vector<RegisteredShot> shots;
    return shots;
}

QString PageName(QString title)
{
    return title.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
}

}  // namespace

bool RegisterWindowShot(const char* name, WindowMaker maker, bool scaled)
{
    Registry().push_back({name, std::move(maker), scaled});
    return true;
}

const std::vector<RegisteredShot>& RegisteredWindowShots()
{
    return Registry();
}

ShotSession::ShotSession(const QDir& folder)
    : folder_(folder)
{}

void ShotSession::Grab(QWidget* window, const QString& file_name)
{
    const QString path = folder_.filePath(file_name);
    // Layouts and deferred resizes settle over a few rounds of events.
    for (int round = 0; round < 3; ++round) {
        QApplication::processEvents();
    }
    // Offscreen windows have no frame: the title is drawn above the window's picture, so the
    // review sees it too.
    const QPixmap client = window->grab();
    const QFontMetrics metrics = window->fontMetrics();
    const int title_height = metrics.height() + 8;
    QPixmap picture(std::max(client.width(), metrics.horizontalAdvance(window->windowTitle()) + 16),
                    client.height() + title_height);
    picture.fill(window->palette().color(QPalette::Mid));
    {
        QPainter painter(&picture);
        painter.setFont(window->font());
        painter.setPen(window->palette().color(QPalette::BrightText));
        painter.drawText(QRect(8, 0, picture.width() - 16, title_height),
                         Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
        painter.drawPixmap(0, title_height, client);
    }
    if (picture.save(path, "PNG")) {
        written_ << path;
    } else {
        failed_ << path;
    }
}

void ShotSession::Expect(bool holds, const QString& what)
{
    if (!holds) {
        failed_ << what;
    }
}

void ShotSession::ExpectInsideScreen(QWidget* window, const QString& name)
{
    QApplication::processEvents();
    QScreen* screen = window->screen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    const QRect outer = window->frameGeometry();
    Expect(available.contains(outer),
           QStringLiteral("%1: the window (%2,%3 %4x%5) lies outside the screen (%6x%7)")
               .arg(name)
               .arg(outer.x())
               .arg(outer.y())
               .arg(outer.width())
               .arg(outer.height())
               .arg(available.width())
               .arg(available.height()));
}

void ShotSession::Save(QWidget* window, const QString& name)
{
    const bool was_visible = window->isVisible();
    window->show();
    Grab(window, name + QStringLiteral(".png"));
    if (!was_visible) {
        window->hide();
    }
}

void ShotSession::SavePages(QWidget* window, QTabWidget* pages, const QString& name)
{
    const bool was_visible = window->isVisible();
    const int shown = pages->currentIndex();
    window->show();
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        Grab(window,
             QStringLiteral("%1-%2-%3.png").arg(name).arg(i + 1).arg(PageName(pages->tabText(i))));
    }
    pages->setCurrentIndex(shown);
    if (!was_visible) {
        window->hide();
    }
}

void ShotSession::SavePages(QWidget* window, QStackedWidget* pages, const QString& name)
{
    const bool was_visible = window->isVisible();
    const int shown = pages->currentIndex();
    window->show();
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        Grab(window, QStringLiteral("%1-%2-%3.png")
                         .arg(name)
                         .arg(i + 1)
                         .arg(PageName(pages->widget(i)->objectName())));
    }
    pages->setCurrentIndex(shown);
    if (!was_visible) {
        window->hide();
    }
}

}  // namespace vantrel::bench
