// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QString>

#include "dialogs/VDialog.h"

namespace vantrel {
class TChmodForm : public VDialog
{
    Q_OBJECT
public:
    explicit TChmodForm(QWidget* parent = nullptr)
        : VDialog(parent)
    {}
    QString Execute(const QString& permission) { return permission; }
};
}  // namespace vantrel
