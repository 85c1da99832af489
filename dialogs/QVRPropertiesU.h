#pragma once

#include "dialogs/VDialog.h"
#include "publishing/QVRProperties.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace vantrel {

class VSpinEdit;

// The global options dialog ("Vantrel - Properties"). It edits a working copy; OK writes the
// controls into the caller's object, which the caller saves; Cancel leaves it alone. Made once
// and reused. GUI thread only.
class TQVRPropertiesForm : public VDialog
{
    Q_OBJECT

public:
    explicit TQVRPropertiesForm(QWidget* parent = nullptr);

    // Shows the dialog modally for the caller's object and returns when it closes.
    void Execute(TQVRProperties& options);

private:
    void ShowValues();
    void UpdateEnabling();
    void btnOkClick();
    void btnDefaultsClick();

    TQVRProperties working_;
    TQVRProperties* options_ = nullptr;  // The caller's, during Execute.

    QTabWidget* PageControl;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QRadioButton* rbCompletedDisplay;
    QGroupBox* gbDisplayMessage;
    QCheckBox* chkAttractAttention;
    QRadioButton* rbDisplayNormal;
    QRadioButton* rbDisplayTimeout;
    QLabel* lblTimeout;
    VSpinEdit* seTimeout;
    QRadioButton* rbCompletedSilent;
    QCheckBox* chkShowPublicationLog;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QPushButton* btnDefaults;
};

}  // namespace vantrel
