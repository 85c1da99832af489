// The plain dialog every window builds on, as a check that the pictures come out: a label, an
// edit, a check box and the usual buttons.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/VDialog.h"

namespace {

void ShootSampleDialog(vantrel::bench::ShotSession& session)
{
    vantrel::VDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Vantrel"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(QStringLiteral("Web site name:"), &dialog));
    auto* name = new QLineEdit(QStringLiteral("My web site"), &dialog);
    layout->addWidget(name);
    layout->addWidget(new QCheckBox(QStringLiteral("Publish when the program starts"), &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    dialog.SetDefaultButton(buttons->button(QDialogButtonBox::Ok));
    session.Save(&dialog, QStringLiteral("VDialog"));
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootSampleDialog)
