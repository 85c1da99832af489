#pragma once

#include <QDialog>
#include <QPointer>
#include <QPushButton>

namespace vantrel {

// The base of every dialog: Enter and Esc as in the system's dialogs. Qt would press the first
// auto-default button on Enter in a line edit, after the edit's own returnPressed handler has
// already run; here no button is auto-default, and Enter presses the focused push button when it
// is enabled, else the dialog's documented default button when it is visible and enabled, else
// nothing. Esc rejects, unless the dialog swallows it (a dialog without Cancel); the title bar's
// close still rejects. Derived dialogs never override reject(). A dialog is made once and reused.
// GUI thread only.
class VDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VDialog(QWidget* parent = nullptr);

    // The button Enter presses when no push button has the focus; null for none.
    void SetDefaultButton(QPushButton* button);
    QPushButton* DefaultButton() const { return default_button_; }

    // Whether Esc is swallowed instead of rejecting the dialog.
    void SetSwallowEscape(bool swallow) { swallow_escape_ = swallow; }
    bool SwallowEscape() const { return swallow_escape_; }

    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // No button may become the default behind the dialog's back (Qt's auto-default rule, or a
    // button box marking its accept button); only the documented one is drawn as default.
    void SettleDefaultButtons();

    QPointer<QPushButton> default_button_;
    bool swallow_escape_ = false;
};

// Gives a control its documented name, so tests and screenshots find it, and returns it.
template <typename T>
T* Named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A control's hint, shown for ten seconds as the system's hints are.
inline void SetHint(QWidget* widget, const QString& hint)
{
    widget->setToolTip(hint);
    widget->setToolTipDuration(10000);
}

}  // namespace vantrel
