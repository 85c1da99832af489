// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QString>
#include <cstdint>

class QWidget;

namespace vantrel {
int ShowTimedMessageBox(
    QWidget* owner, const QString& text, const QString& caption, int seconds, uint32_t type);
}  // namespace vantrel
