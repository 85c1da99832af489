#include "dialogs/VDialog.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>
#include <algorithm>

namespace vantrel {
namespace {

// The frame a window manager adds, for a window not yet framed: room for a title bar and borders.
constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 48;
// The property that marks a control whose Enter is its own.
constexpr char kKeepsEnter[] = "vantrelKeepsEnter";

bool IsPlainEnter(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// Asks for the whole page, where QScrollArea would cap its wish at a few dozen lines; its least
// size is that of a few lines, so the dialog can shrink to its screen.
class PageScrollArea : public QScrollArea
{
public:
    QSize sizeHint() const override
    {
        if (widget() == nullptr) {
            return QScrollArea::sizeHint();
        }
        const int frame = 2 * frameWidth();
        return widget()->sizeHint() + QSize(frame, frame);
    }
    QSize minimumSizeHint() const override
    {
        const int line = fontMetrics().height();
        return {8 * line, 6 * line};
    }
};

// Whether the widget is (inside) the editor of an item view's cell.
bool InCellEditor(const QWidget* widget)
{
    for (const QWidget* w = widget; w != nullptr && !w->isWindow(); w = w->parentWidget()) {
        const auto* view = qobject_cast<const QAbstractItemView*>(w->parentWidget());
        if (view != nullptr && w == view->viewport() && widget != view) {
            return true;
        }
    }
    return false;
}

}  // namespace

QRect WindowRoom(const QWidget& window)
{
    const QWidget* anchor =
        window.parentWidget() != nullptr ? window.parentWidget()->window() : &window;
    QScreen* screen = anchor->screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return {};
    }
    QSize frame = window.frameGeometry().size() - window.geometry().size();
    if (frame.isNull()) {
        frame = anchor->frameGeometry().size() - anchor->geometry().size();
    }
    if (frame.isNull()) {
        frame = QSize(kFrameAllowanceWidth, kFrameAllowanceHeight);
    }
    const QRect available = screen->availableGeometry();
    return {available.topLeft(), available.size() - frame};
}

void FitOnScreen(QWidget& window)
{
    QLayout* layout = window.layout();
    if (layout == nullptr || layout->sizeConstraint() == QLayout::SetFixedSize) {
        return;
    }
    const QRect room = WindowRoom(window);
    if (room.isEmpty()) {
        return;
    }
    window.ensurePolished();
    layout->activate();
    QSize wanted = window.testAttribute(Qt::WA_Resized) ? window.size() : window.sizeHint();
    wanted = wanted.expandedTo(window.minimumSize()).boundedTo(room.size());
    if (window.hasHeightForWidth()) {
        wanted.setHeight(std::min(
            room.height(), std::max(wanted.height(), window.heightForWidth(wanted.width()))));
    }
    window.resize(wanted);
}

QRect KeepOnScreen(QRect outer, const QRect& available)
{
    if (available.isEmpty()) {
        return outer;
    }
    outer.setSize(outer.size().boundedTo(available.size()));
    if (outer.right() > available.right()) {
        outer.moveRight(available.right());
    }
    if (outer.bottom() > available.bottom()) {
        outer.moveBottom(available.bottom());
    }
    // Left and top last: the title bar and the menus stay on the screen.
    if (outer.left() < available.left()) {
        outer.moveLeft(available.left());
    }
    if (outer.top() < available.top()) {
        outer.moveTop(available.top());
    }
    return outer;
}

void KeepInsideScreen(QWidget& window)
{
    QScreen* screen = window.screen();
    if (screen == nullptr) {
        return;
    }
    // Only moved: the window's size is its layout's business.
    const QRect outer = window.frameGeometry();
    const QPoint inside = KeepOnScreen(outer, screen->availableGeometry()).topLeft();
    if (inside != outer.topLeft()) {
        window.move(inside);
    }
}

QScrollArea* ScrollingPage(QWidget* page)
{
    auto* area = new PageScrollArea;
    area->setObjectName(
        page->objectName().isEmpty() ? QString() : page->objectName() + QStringLiteral("Scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setWidget(page);
    // The page's own background, not the scroll area's base colour.
    area->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    return area;
}

VDialog::VDialog(QWidget* parent)
    : QDialog(parent)
{}

void VDialog::SetDefaultButton(QPushButton* button)
{
    default_button_ = button;
    if (isVisible()) {
        SettleDefaultButtons();
    }
}

void VDialog::KeepEnter(QWidget* control)
{
    // Marked on the control itself, which may go before the dialog or after it.
    if (!control->property(kKeepsEnter).toBool()) {
        control->setProperty(kKeepsEnter, true);
        control->installEventFilter(this);
    }
}

bool VDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (IsPlainEnter(event) && watched->property(kKeepsEnter).toBool()) {
        // The control handles the key; it goes no further, to this dialog least of all.
        watched->event(event);
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void VDialog::setVisible(bool visible)
{
    if (visible) {
        SettleDefaultButtons();
        FitOnScreen(*this);
    }
    QDialog::setVisible(visible);
    if (visible) {
        KeepInsideScreen(*this);
        // Showing lets a button box mark its accept button as default again.
        SettleDefaultButtons();
    }
}

void VDialog::SettleDefaultButtons()
{
    const QList<QPushButton*> buttons = findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        button->setAutoDefault(false);
        if (button != default_button_) {
            button->setDefault(false);
        }
    }
    if (default_button_ != nullptr) {
        default_button_->setDefault(true);
    }
}

void VDialog::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && modifiers == Qt::NoModifier) {
        event->accept();
        // Enter ends the edit of a grid cell, and is a new line in a multi-line text.
        if (InCellEditor(focusWidget()) || qobject_cast<QPlainTextEdit*>(focusWidget()) ||
            qobject_cast<QTextEdit*>(focusWidget())) {
            return;
        }
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused != nullptr) {
            if (focused->isEnabled()) {
                focused->click();
            }
            return;
        }
        if (default_button_ != nullptr && default_button_->isVisible() &&
            default_button_->isEnabled()) {
            default_button_->click();
        }
        return;
    }
    if (swallow_escape_ && event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vantrel
