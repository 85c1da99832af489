#pragma once

#include <QString>

#include "dialogs/VDialog.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

// TChmodForm, the "File Permissions" dialog: a UNIX file permission as three octal digits, typed
// or chosen with nine check boxes.
namespace vantrel {

// Made once and reused. The digits are handled as hexadecimal digits, one group of three bits per
// digit (owner 0x400 0x200 0x100, group 0x40 0x20 0x10, world 0x4 0x2 0x1), so each check box is
// one bit of the value. The edit holds nothing but the digits 0 to 7, whatever way they come;
// more than three keep the last three. GUI thread only.
class TChmodForm : public VDialog
{
    Q_OBJECT

public:
    explicit TChmodForm(QWidget* parent = nullptr);

    // Shows the dialog with `text` and returns the edit's text after "OK", `text` after
    // "Cancel" (or Esc), and an empty text after "Delete".
    QString Execute(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Box
    {
        QCheckBox* box;
        unsigned bit;
    };

    // Whether a typed character may reach the edit: the digits 0 to 7, and backspace.
    static bool EdtChmodOnKeyPress(QChar key);
    void EdtChmodOnChange();
    void ToggleBit(QCheckBox* box, unsigned bit);
    unsigned EditValue() const;

    QLineEdit* edtChmod_;
    QPushButton* btnOk_;
    QPushButton* btnCancel_;
    QPushButton* btnDelete_;
    // chkOwnerRead to chkWorldExecute, in that order.
    Box boxes_[9];

    QString result_;
};

}  // namespace vantrel
