#pragma once

#include <QIcon>
#include <string>

#include "dialogs/VDialog.h"

class QFrame;
class QLabel;
class QPushButton;

namespace vantrel {

// The icon the program's windows carry, from the program's resources.
QIcon ApplicationIcon();

// "Version: " + the program's product version + " - Build " + its build number; the product
// version is "?" when the version information holds none in any of its translations.
std::string AboutVersionLine();

// The about box: the program's title, icon and version. Made once at start, when the version
// line is read; shown modally by Execute. GUI thread only.
class TAboutBox : public VDialog
{
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    void Execute();

private:
    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* lbl_title;
    QLabel* lbl_version;
    QPushButton* OKButton;
};

}  // namespace vantrel
