#include "dialogs/VSpinEdit.h"

#include <algorithm>

namespace vantrel {
namespace {

// The digits the user typed, without the spin box's prefix, suffix and blanks.
QString TypedDigits(const QSpinBox& box, const QString& text)
{
    QString digits = text;
    if (!box.prefix().isEmpty() && digits.startsWith(box.prefix())) {
        digits.remove(0, box.prefix().size());
    }
    if (!box.suffix().isEmpty() && digits.endsWith(box.suffix())) {
        digits.chop(box.suffix().size());
    }
    return digits.trimmed();
}

}  // namespace

VSpinEdit::VSpinEdit(QWidget* parent)
    : QSpinBox(parent)
{}

void VSpinEdit::KeepTypedValue(int lowest, int highest)
{
    keeps_typed_ = true;
    lowest_ = lowest;
    highest_ = highest;
    setRange(0, 999999999);
}

void VSpinEdit::stepBy(int steps)
{
    if (!keeps_typed_) {
        QSpinBox::stepBy(steps);
        return;
    }
    const qlonglong next = static_cast<qlonglong>(value()) + qlonglong{steps} * singleStep();
    setValue(static_cast<int>(std::clamp<qlonglong>(next, lowest_, highest_)));
    selectAll();
}

QAbstractSpinBox::StepEnabled VSpinEdit::stepEnabled() const
{
    if (!keeps_typed_) {
        return QSpinBox::stepEnabled();
    }
    StepEnabled enabled = StepNone;
    if (value() < highest_) {
        enabled |= StepUpEnabled;
    }
    if (value() > lowest_) {
        enabled |= StepDownEnabled;
    }
    return enabled;
}

QValidator::State VSpinEdit::validate(QString& text, int& /*pos*/) const
{
    const QString digits = TypedDigits(*this, text);
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const QChar c = digits.at(i);
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digit && !(i == 0 && c == QLatin1Char('-') && minimum() < 0)) {
            return QValidator::Invalid;
        }
    }
    return QValidator::Acceptable;
}

int VSpinEdit::valueFromText(const QString& text) const
{
    const QString digits = TypedDigits(*this, text);
    bool ok = false;
    const qlonglong typed = digits.toLongLong(&ok);
    if (!ok) {
        // Too many digits to hold lies beyond a bound too.
        const bool has_digits = digits.size() > (digits.startsWith(QLatin1Char('-')) ? 1 : 0);
        if (!has_digits || digits.startsWith(QLatin1Char('-'))) {
            return minimum();
        }
        return maximum();
    }
    return static_cast<int>(std::clamp<qlonglong>(typed, minimum(), maximum()));
}

}  // namespace vantrel
