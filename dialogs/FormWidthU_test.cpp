#include "dialogs/FormWidthU.h"

#include <QFont>
#include <QFontMetrics>
#include <QTest>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {

class FormWidthTest : public QObject
{
    Q_OBJECT

private slots:
    void PadLeftToTextWidthFillsToSixZeros_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pad");
        QTest::addColumn<bool>("padded");

        QTest::newRow("short number") << "12"
                                      << " " << true;
        QTest::newRow("empty text") << ""
                                    << " " << true;
        QTest::newRow("eight digits stay unpadded") << "12345678"
                                                    << " " << false;
        QTest::newRow("empty pad") << "12"
                                   << "" << false;
        QTest::newRow("a pad without width") << "12" << QString(QChar(0x200B)) << false;
    }

    void PadLeftToTextWidthFillsToSixZeros()
    {
        QFETCH(QString, text);
        QFETCH(QString, pad);
        QFETCH(bool, padded);

        const QFontMetrics canvas(QFont(QStringLiteral("DejaVu Sans"), 9));
        const int target = 6 * canvas.horizontalAdvance(QStringLiteral("0"));

        const QString result = PadLeftToTextWidth(canvas, text, QStringLiteral("0"), 6, pad);

        QVERIFY(result.endsWith(text));
        if (!padded) {
            QCOMPARE(result, text);
            return;
        }
        const QString padding = result.left(result.size() - text.size());
        QVERIFY(!padding.isEmpty());
        QCOMPARE(padding, QString(padding.size(), pad.at(0)));
        QVERIFY(canvas.horizontalAdvance(result) >= target);
        // One blank fewer would fall short: the least padding that reaches the width.
        QVERIFY(canvas.horizontalAdvance(result.mid(pad.size())) < target);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::FormWidthTest)
#include "FormWidthU_test.moc"
