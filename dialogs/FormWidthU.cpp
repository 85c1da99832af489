// STAND-IN: replaced by the real unit at merge.
#include "dialogs/FormWidthU.h"

namespace vantrel {
QString PadLeftToPixelWidth(const QFontMetrics& canvas,
                            const QString& text,
                            int width,
                            const QString& pad)
{
    QString result = text;
    while (!pad.isEmpty() && canvas.horizontalAdvance(result) < width &&
           canvas.horizontalAdvance(pad + result) > canvas.horizontalAdvance(result)) {
        result = pad + result;
    }
    return result;
}

QString PadLeftToTextWidth(const QFontMetrics& canvas,
                           const QString& text,
                           const QString& sample,
                           int count,
                           const QString& pad)
{
    return PadLeftToPixelWidth(canvas, text, count * canvas.horizontalAdvance(sample), pad);
}
}  // namespace vantrel
