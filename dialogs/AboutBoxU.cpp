#include "dialogs/AboutBoxU.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "foundation/ApplicationVersion.h"
#include "platform/Version.h"

// The resources live in a static library: nothing would pull them into the program unless they
// are asked for by name. Outside the namespace, as the macro requires.
static void InitVantrelResources()
{
    Q_INIT_RESOURCE(vantrel);
}

namespace vantrel {

QIcon ApplicationIcon()
{
    static const bool initialised = [] {
        InitVantrelResources();
        return true;
    }();
    (void)initialised;
    return QIcon(QStringLiteral(":/vantrel/vantrel.png"));
}

std::string AboutVersionLine()
{
    std::string product_version = "?";
    platform::VersionInfo info;
    std::vector<platform::VersionTranslation> translations;
    if (platform::GetProgramVersionInfo(&info) &&
        platform::VerQueryTranslations(info, &translations)) {
        for (const platform::VersionTranslation& translation : translations) {
            char key[64];
            std::snprintf(key, sizeof key, "\\StringFileInfo\\%04X%04X\\ProductVersion",
                          static_cast<unsigned>(translation.language),
                          static_cast<unsigned>(translation.code_page));
            if (platform::VerQueryString(info, key, &product_version)) {
                break;
            }
        }
    }
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t release = 0;
    uint16_t build = 0;
    GetApplicationVersion(&major, &minor, &release, &build);
    return "Version: " + product_version + " - Build " + std::to_string(build);
}

TAboutBox::TAboutBox(QWidget* parent)
    : VDialog(parent)
{
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setAlignment(Qt::AlignCenter);
    ProgramIcon->setPixmap(ApplicationIcon().pixmap(64, 64));

    lbl_title = new QLabel(QApplication::applicationName(), Panel1);
    lbl_title->setObjectName(QStringLiteral("lbl_title"));
    lbl_title->setAlignment(Qt::AlignCenter);
    QFont title_font = lbl_title->font();
    title_font.setPixelSize(15);
    lbl_title->setFont(title_font);

    lbl_version = new QLabel(QString::fromStdString(AboutVersionLine()), Panel1);
    lbl_version->setObjectName(QStringLiteral("lbl_version"));
    lbl_version->setAlignment(Qt::AlignCenter);

    auto* panel_layout = new QVBoxLayout(Panel1);
    panel_layout->addStretch(1);
    panel_layout->addWidget(ProgramIcon);
    panel_layout->addSpacing(8);
    panel_layout->addWidget(lbl_title);
    panel_layout->addWidget(lbl_version);
    panel_layout->addStretch(1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    SetDefaultButton(OKButton);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addStretch(1);
    // A dialog of fixed size, at least as large as its client area was drawn.
    auto* client = new QWidget(this);
    client->setMinimumSize(298, 256);
    auto* layout = new QVBoxLayout(client);
    layout->addWidget(Panel1, 1);
    layout->addLayout(buttons);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->addWidget(client);
}

void TAboutBox::Execute()
{
    OKButton->setVisible(true);
    setWindowTitle(QStringLiteral("About ") + QApplication::applicationName());
    exec();
}

}  // namespace vantrel
