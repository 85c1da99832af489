#pragma once

#include <QSpinBox>

namespace vantrel {

// A spin edit as the system's dialogs have it: any number may be typed, and when the text is
// read a number outside the range is brought to the nearer bound, and a text that is no number
// (an empty one) counts as the minimum. QSpinBox alone would keep its old value for a typed
// number outside the range. Read it after interpretText(), or a text still being typed is lost.
// GUI thread only.
class VSpinEdit : public QSpinBox
{
    Q_OBJECT

public:
    explicit VSpinEdit(QWidget* parent = nullptr);

    // The arrows keep within lowest to highest, but a typed number stays as typed (up to nine
    // digits; none reads as 0), for the caller to refuse and say why.
    void KeepTypedValue(int lowest, int highest);

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;

private:
    bool keeps_typed_ = false;
    int lowest_ = 0;
    int highest_ = 0;
};

}  // namespace vantrel
