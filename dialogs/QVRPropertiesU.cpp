#include "dialogs/QVRPropertiesU.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialogs/VSpinEdit.h"

namespace vantrel {
namespace {

// Checks one of a pair of exclusive radio buttons: Qt will not uncheck the checked one itself.
void CheckEither(bool first, QRadioButton* first_button, QRadioButton* second_button)
{
    (first ? first_button : second_button)->setChecked(true);
}

}  // namespace

TQVRPropertiesForm::TQVRPropertiesForm(QWidget* parent)
    : VDialog(parent)
{
    setWindowTitle(QStringLiteral("Vantrel - Properties"));

    auto* intro = new QLabel(
        QStringLiteral("This dialog allows you to configure global settings for Vantrel. These "
                       "are settings which are not specific to any individual website but which "
                       "are common to all."),
        this);
    intro->setWordWrap(true);

    PageControl = Named(new QTabWidget(this), "PageControl");
    TabSheet1 = Named(new QWidget, "TabSheet1");
    TabSheet2 = Named(new QWidget, "TabSheet2");
    PageControl->addTab(TabSheet1, QStringLiteral("When Publishing Completes"));
    PageControl->addTab(TabSheet2, QStringLiteral("Log"));

    rbCompletedDisplay =
        Named(new QRadioButton(QStringLiteral("Display Completed Message with summary (default)"),
                               TabSheet1),
              "rbCompletedDisplay");
    SetHint(rbCompletedDisplay,
            QStringLiteral("This is the default behaviour. A message box will be displayed when "
                           "publishing finishes, showing a summary of the number of files "
                           "copied."));
    gbDisplayMessage = Named(new QGroupBox(TabSheet1), "gbDisplayMessage");
    chkAttractAttention =
        Named(new QCheckBox(QStringLiteral("Attract users attention"), gbDisplayMessage),
              "chkAttractAttention");
    rbDisplayNormal = Named(
        new QRadioButton(QStringLiteral("Display message until OK pressed"), gbDisplayMessage),
        "rbDisplayNormal");
    rbDisplayTimeout =
        Named(new QRadioButton(QStringLiteral("Display message until OK pressed or timeout"),
                               gbDisplayMessage),
              "rbDisplayTimeout");
    lblTimeout =
        Named(new QLabel(QStringLiteral("Timeout (seconds):"), gbDisplayMessage), "lblTimeout");
    seTimeout = Named(new VSpinEdit(gbDisplayMessage), "seTimeout");
    seTimeout->setRange(10, 600);
    lblTimeout->setBuddy(seTimeout);
    rbCompletedSilent =
        Named(new QRadioButton(QStringLiteral("Do not display completed message."), TabSheet1),
              "rbCompletedSilent");
    SetHint(rbCompletedSilent,
            QStringLiteral("When publishing finishes do not display a summary status box. The "
                           "summary information will still be displayed if an error is reported "
                           "or if the website settings are to ask to hang up a dialled "
                           "connection."));

    auto* timeout_row = new QHBoxLayout;
    timeout_row->addSpacing(20);
    timeout_row->addWidget(lblTimeout);
    timeout_row->addWidget(seTimeout);
    timeout_row->addStretch(1);
    auto* group_layout = new QVBoxLayout(gbDisplayMessage);
    group_layout->addWidget(chkAttractAttention);
    group_layout->addWidget(rbDisplayNormal);
    group_layout->addWidget(rbDisplayTimeout);
    group_layout->addLayout(timeout_row);

    auto* page1 = new QVBoxLayout(TabSheet1);
    page1->addWidget(rbCompletedDisplay);
    page1->addWidget(gbDisplayMessage);
    page1->addWidget(rbCompletedSilent);
    page1->addStretch(1);

    chkShowPublicationLog = Named(new QCheckBox(QStringLiteral("Show publication log"), TabSheet2),
                                  "chkShowPublicationLog");
    auto* page2 = new QVBoxLayout(TabSheet2);
    page2->addWidget(chkShowPublicationLog);
    page2->addStretch(1);

    btnOk = Named(new QPushButton(QStringLiteral("OK"), this), "btnOk");
    btnCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel");
    btnDefaults = Named(new QPushButton(QStringLiteral("Defaults"), this), "btnDefaults");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDefaults);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);

    // A dialog of fixed size, at least as large as its client area was drawn.
    auto* client = new QWidget(this);
    client->setMinimumSize(321, 322);
    auto* layout = new QVBoxLayout(client);
    layout->addWidget(intro);
    layout->addWidget(PageControl, 1);
    layout->addLayout(buttons);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(client);

    connect(rbCompletedDisplay, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    connect(rbDisplayNormal, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    connect(rbDisplayTimeout, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnDefaults, &QPushButton::clicked, this, [this] { btnDefaultsClick(); });
}

void TQVRPropertiesForm::Execute(TQVRProperties& options)
{
    options_ = &options;
    working_.Assign(options);
    ShowValues();
    PageControl->setCurrentIndex(0);
    exec();
    options_ = nullptr;
}

void TQVRPropertiesForm::ShowValues()
{
    chkShowPublicationLog->setChecked(working_.OpenLog);
    CheckEither(working_.DisplayCompletedMessage, rbCompletedDisplay, rbCompletedSilent);
    chkAttractAttention->setChecked(working_.CompletedMessageGrabsAttention);
    CheckEither(!working_.CompletedMessageTimesout, rbDisplayNormal, rbDisplayTimeout);
    seTimeout->setValue(working_.CompletedMessageTimeout);
    UpdateEnabling();
}

void TQVRPropertiesForm::UpdateEnabling()
{
    gbDisplayMessage->setEnabled(rbCompletedDisplay->isChecked());
    seTimeout->setEnabled(rbDisplayTimeout->isChecked());
}

void TQVRPropertiesForm::btnOkClick()
{
    if (options_ == nullptr) {
        return;
    }
    seTimeout->interpretText();
    options_->OpenLog = chkShowPublicationLog->isChecked();
    options_->DisplayCompletedMessage = rbCompletedDisplay->isChecked();
    options_->CompletedMessageGrabsAttention = chkAttractAttention->isChecked();
    options_->CompletedMessageTimesout = rbDisplayTimeout->isChecked();
    options_->CompletedMessageTimeout = seTimeout->value();
    accept();
}

void TQVRPropertiesForm::btnDefaultsClick()
{
    working_.SetDefaults();
    ShowValues();
}

}  // namespace vantrel
