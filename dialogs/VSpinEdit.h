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

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;
};

}  // namespace vantrel
