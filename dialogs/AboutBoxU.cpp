// STAND-IN: replaced by the real unit at merge.
#include "dialogs/AboutBoxU.h"

namespace vantrel {
TAboutBox::TAboutBox(QWidget* parent)
    : VDialog(parent)
{
    setObjectName("TAboutBox");
}

void TAboutBox::Execute()
{
    setWindowTitle("About Vantrel");
    exec();
}
}  // namespace vantrel
