#pragma once

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QRect>

class QScrollArea;

namespace vantrel {

// The base of every dialog: Enter and Esc as in the system's dialogs. Qt would press the first
// auto-default button on Enter in a line edit, after the edit's own returnPressed handler has
// already run; here no button is auto-default, and Enter presses the focused push button when it
// is enabled, else the dialog's default button (SetDefaultButton) when it is visible and enabled,
// else nothing. Esc rejects, unless the dialog swallows it (a dialog without Cancel); the title
// bar's close still rejects. Derived dialogs never override reject(). A control may keep Enter for
// itself (KeepEnter). Each time it is shown the dialog takes its natural size where the screen it
// opens on has room for it, and no more than that room where it has not (FitOnScreen). A dialog
// is made once and reused. GUI thread only.
class VDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VDialog(QWidget* parent = nullptr);

    // The button Enter presses when no push button has the focus; null for none.
    void SetDefaultButton(QPushButton* button);

    // Whether Esc is swallowed instead of rejecting the dialog.
    void SetSwallowEscape(bool swallow) { swallow_escape_ = swallow; }

    // Enter in `control` is the control's own: its handler runs (an edit's Enter that moves on
    // to the next field or page) and the default button is not pressed after it.
    void KeepEnter(QWidget* control);

    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // No button may become the default behind the dialog's back (Qt's auto-default rule, or a
    // button box marking its accept button); only the one given to SetDefaultButton is drawn as
    // default.
    void SettleDefaultButtons();

    QPointer<QPushButton> default_button_;
    bool swallow_escape_ = false;
};

// The room a top-level window has on the screen it opens on (its parent's, else its own, else
// the primary screen): the screen's area without the desktop's panels, less the frame the window
// manager adds (the window's own once it has one, else an allowance).
QRect WindowRoom(const QWidget& window);
// Gives a top-level window whose layout lets it shrink its natural size (or the size the user
// gave it), but no more than its room on the screen.
void FitOnScreen(QWidget& window);
// The outer bounds made no larger than the available area of a screen and moved inside it, left
// and top last, so that the title bar and the menus are always on the screen.
QRect KeepOnScreen(QRect outer, const QRect& available);
// Moves a shown top-level window inside the available area of its screen, its title bar last.
void KeepInsideScreen(QWidget& window);
// Wraps a dialog's page: it asks for its whole size, and scrolls where the screen is too small
// to give it.
QScrollArea* ScrollingPage(QWidget* page);

// Gives a control its control name (tbnPublish, edtChmod, ...) as object name, so tests and
// screenshots find it, and returns it.
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
