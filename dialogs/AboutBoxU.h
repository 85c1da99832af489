// STAND-IN: replaced by the real unit at merge.
#pragma once

#include "dialogs/VDialog.h"

namespace vantrel {
class TAboutBox : public VDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    void Execute();
};
}  // namespace vantrel
