// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QWidget>
#include <string>

namespace vantrel {
class TDebugOutputForm : public QWidget
{
    Q_OBJECT
public:
    explicit TDebugOutputForm(QWidget* parent = nullptr)
        : QWidget(parent)
    {}
    void Report(const std::string&) {}
    void ReportImmediate(const std::string&) {}
};
}  // namespace vantrel
