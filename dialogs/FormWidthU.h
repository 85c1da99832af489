#pragma once

#include <QString>

class QFontMetrics;

// Left padding of texts to a pixel width, for columns of numbers in a proportional font.
namespace vantrel {

// The text with pad put before it as often as needed until it is at least width pixels wide in
// the font; a text already that wide comes back unchanged, and so does any text when the pad
// adds no width (an empty pad).
QString PadLeftToPixelWidth(const QFontMetrics& canvas,
                            const QString& text,
                            int width,
                            const QString& pad);

// PadLeftToPixelWidth to count times the width of sample: with "0", 6 and " " a number is
// padded with blanks until it is as wide as six zeros.
QString PadLeftToTextWidth(const QFontMetrics& canvas,
                           const QString& text,
                           const QString& sample,
                           int count,
                           const QString& pad);

}  // namespace vantrel
