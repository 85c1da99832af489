#include "dialogs/FormWidthU.h"

#include <QFontMetrics>

namespace vantrel {

QString PadLeftToPixelWidth(const QFontMetrics& canvas,
                            const QString& text,
                            int width,
                            const QString& pad)
{
    QString result = text;
    int result_width = canvas.horizontalAdvance(result);
    while (result_width < width) {
        const QString longer = pad + result;
        const int longer_width = canvas.horizontalAdvance(longer);
        if (longer_width <= result_width) {
            return text;
        }
        result = longer;
        result_width = longer_width;
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
