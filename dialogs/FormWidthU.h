// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QFontMetrics>
#include <QString>

namespace vantrel {
QString PadLeftToPixelWidth(const QFontMetrics& canvas,
                            const QString& text,
                            int width,
                            const QString& pad);
QString PadLeftToTextWidth(const QFontMetrics& canvas,
                           const QString& text,
                           const QString& sample,
                           int count,
                           const QString& pad);
}  // namespace vantrel
