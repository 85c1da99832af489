// STAND-IN: replaced by the real unit at merge.
#include "dialogs/QVRPropertiesU.h"

namespace vantrel {
TQVRPropertiesForm::TQVRPropertiesForm(QWidget* parent)
    : VDialog(parent)
{
    setObjectName("TQVRPropertiesForm");
    setWindowTitle("Vantrel - Properties");
}

void TQVRPropertiesForm::Execute(TQVRProperties&)
{
    exec();
}
}  // namespace vantrel
