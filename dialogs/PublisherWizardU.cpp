// STAND-IN: replaced by the real unit at merge.
#include "dialogs/PublisherWizardU.h"

namespace vantrel {
TPublisherWizard::TPublisherWizard(QWidget* parent)
    : VDialog(parent)
{
    setObjectName("TPublisherWizard");
    setWindowTitle("Web Site Wizard");
    resize(400, 300);
}

void TPublisherWizard::Execute(QelPublicationList&, bool)
{
    exec();
}
}  // namespace vantrel
