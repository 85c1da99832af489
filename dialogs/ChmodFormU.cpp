#include "dialogs/ChmodFormU.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {
namespace {

bool IsPermissionDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('7');
}

}  // namespace

TChmodForm::TChmodForm(QWidget* parent)
    : VDialog(parent)
{
    setObjectName(QStringLiteral("ChmodForm"));
    setWindowTitle(QStringLiteral("File Permissions"));
    // A dialog frame with a title but no title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Owner, group and world, each one hexadecimal place of the value; read, write, execute
    // the bits 4, 2 and 1 of that place.
    const char* const groups[3] = {"Owner", "Group", "World"};
    const char* const rights[3] = {"Read", "Write", "Execute"};
    for (int g = 0; g < 3; ++g) {
        const QString who = QLatin1String(groups[g]);
        auto* group = new QGroupBox(who + QStringLiteral(" Permissions"), this);
        auto* row = new QHBoxLayout(group);
        for (int r = 0; r < 3; ++r) {
            const QString right = QLatin1String(rights[r]);
            auto* box = new QCheckBox(right, group);
            box->setObjectName(QStringLiteral("chk") + who + right);
            row->addWidget(box);
            boxes_[g * 3 + r] = {box, (0x4u >> r) << (4 * (2 - g))};
        }
        layout->addWidget(group);
    }

    auto* numeric = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Numeric representation:"), this);
    numeric->addWidget(label);
    edtChmod_ = new QLineEdit(this);
    edtChmod_->setObjectName(QStringLiteral("edtChmod"));
    edtChmod_->setFixedWidth(edtChmod_->fontMetrics().horizontalAdvance(QStringLiteral("0000")) +
                             16);
    edtChmod_->installEventFilter(this);
    label->setBuddy(edtChmod_);
    numeric->addWidget(edtChmod_);
    numeric->addStretch();
    layout->addLayout(numeric);

    auto* buttons = new QHBoxLayout;
    btnOk_ = new QPushButton(QStringLiteral("OK"), this);
    btnOk_->setObjectName(QStringLiteral("btnOk"));
    btnCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnDelete_ = new QPushButton(QStringLiteral("Delete"), this);
    btnDelete_->setObjectName(QStringLiteral("btnDelete"));
    buttons->addWidget(btnOk_);
    buttons->addWidget(btnCancel_);
    buttons->addWidget(btnDelete_);
    layout->addLayout(buttons);
    SetDefaultButton(btnOk_);

    connect(edtChmod_, &QLineEdit::textChanged, this, [this] { EdtChmodOnChange(); });
    for (const Box& entry : boxes_) {
        connect(entry.box, &QCheckBox::toggled, this,
                [this, entry] { ToggleBit(entry.box, entry.bit); });
    }
    connect(btnOk_, &QPushButton::clicked, this, [this] {
        result_ = edtChmod_->text();
        accept();
    });
    // Cancel, Esc and the window manager's close keep the text Execute was given.
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnDelete_, &QPushButton::clicked, this, [this] {
        result_.clear();
        accept();
    });
}

QString TChmodForm::Execute(const QString& text)
{
    result_ = text;
    if (edtChmod_->text() == text) {
        EdtChmodOnChange();
    } else {
        edtChmod_->setText(text);
    }
    edtChmod_->setFocus();
    edtChmod_->selectAll();
    exec();
    return result_;
}

bool TChmodForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edtChmod_ && event->type() == QEvent::KeyPress) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (!typed.isEmpty() && !EdtChmodOnKeyPress(typed.front())) {
            return true;
        }
    }
    return VDialog::eventFilter(watched, event);
}

bool TChmodForm::EdtChmodOnKeyPress(QChar key)
{
    // Other control characters are the edit's own shortcuts (copy, paste, undo); what they
    // bring in is filtered by the change rule.
    return IsPermissionDigit(key) || key == QLatin1Char('\b') ||
           key.category() == QChar::Other_Control;
}

void TChmodForm::EdtChmodOnChange()
{
    QString text = edtChmod_->text();
    // A pasted text, or one from the settings, may hold more than digits; the value must not.
    qsizetype caret = edtChmod_->cursorPosition();
    QString digits;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsPermissionDigit(text[i])) {
            digits += text[i];
        } else if (i < caret) {
            --caret;
        }
    }
    if (digits != text) {
        edtChmod_->setText(digits);
        edtChmod_->setCursorPosition(static_cast<int>(caret));
        return;
    }
    if (text.size() > 3) {
        edtChmod_->setText(text.right(3));
        edtChmod_->setCursorPosition(3);
        return;
    }
    const unsigned value = EditValue();
    for (const Box& entry : boxes_) {
        entry.box->setChecked((value & entry.bit) != 0);
    }
}

void TChmodForm::ToggleBit(QCheckBox* box, unsigned bit)
{
    unsigned value = EditValue();
    if (box->isChecked()) {
        value |= bit;
    } else {
        value &= ~bit;
    }
    if (value == 0) {
        edtChmod_->clear();
    } else {
        edtChmod_->setText(QStringLiteral("%1").arg(value, 3, 16, QLatin1Char('0')));
    }
}

unsigned TChmodForm::EditValue() const
{
    return edtChmod_->text().isEmpty() ? 0 : edtChmod_->text().toUInt(nullptr, 16);
}

}  // namespace vantrel
