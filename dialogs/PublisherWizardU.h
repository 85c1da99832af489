// STAND-IN: replaced by the real unit at merge.
#pragma once

#include "dialogs/VDialog.h"

namespace vantrel {
class QelPublicationList;

class TPublisherWizard : public VDialog
{
    Q_OBJECT
public:
    explicit TPublisherWizard(QWidget* parent = nullptr);
    void Execute(QelPublicationList& list, bool show_import);
};
}  // namespace vantrel
