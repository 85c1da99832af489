// STAND-IN: replaced by the real unit at merge.
#pragma once

#include "dialogs/VDialog.h"

namespace vantrel {
class TQVRProperties;

class TQVRPropertiesForm : public VDialog
{
    Q_OBJECT
public:
    explicit TQVRPropertiesForm(QWidget* parent = nullptr);
    void Execute(TQVRProperties& options);
};
}  // namespace vantrel
