#include "dialogs/VDialog.h"

#include <QKeyEvent>
#include <QPushButton>

namespace vantrel {

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

void VDialog::setVisible(bool visible)
{
    if (visible) {
        SettleDefaultButtons();
    }
    QDialog::setVisible(visible);
    if (visible) {
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
