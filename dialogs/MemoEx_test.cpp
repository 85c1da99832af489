#include "dialogs/MemoEx.h"

#include <QSignalSpy>
#include <QTest>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {

class TMemoExTest : public QObject
{
    Q_OBJECT

private slots:
    void AFullMemoDropsItsOldestLinesAndGivesUpAtTen_data()
    {
        // Fifty old lines of nine characters fill the memo exactly; each dropped line frees
        // ten characters with its line break, and the new line needs its length plus one.
        QTest::addColumn<int>("new_length");
        QTest::addColumn<int>("old_lines_kept");
        QTest::addColumn<bool>("added");
        QTest::addColumn<int>("notices");

        QTest::newRow("an empty line needs its line break") << 0 << 49 << true << 1;
        QTest::newRow("a short line drops the oldest") << 5 << 49 << true << 1;
        QTest::newRow("a longer one drops three") << 25 << 47 << true << 3;
        QTest::newRow("fits once ten old lines remain") << 399 << 10 << true << 40;
        QTest::newRow("too long: gives up at ten") << 400 << 10 << false << 41;
    }

    void AFullMemoDropsItsOldestLinesAndGivesUpAtTen()
    {
        QFETCH(int, new_length);
        QFETCH(int, old_lines_kept);
        QFETCH(bool, added);
        QFETCH(int, notices);

        TMemoEx memo;
        for (int i = 0; i < 50; ++i) {
            memo.Append(QStringLiteral("line %1").arg(i, 4, 10, QLatin1Char('0')));
        }
        memo.SetCapacity(memo.toPlainText().size());
        QSignalSpy spy(&memo, &TMemoEx::OnErrSpace);
        const QString text = new_length == 0 ? QString() : QString(new_length, QLatin1Char('x'));

        memo.Append(text);

        QCOMPARE(spy.count(), notices);
        QCOMPARE(memo.OutOfSpace(), !added);
        const QStringList lines = memo.toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), old_lines_kept + (added ? 1 : 0));
        QCOMPARE(lines.first(),
                 QStringLiteral("line %1").arg(50 - old_lines_kept, 4, 10, QLatin1Char('0')));
        QCOMPARE(lines.last() == text, added);
        QVERIFY(memo.toPlainText().size() <= memo.Capacity());
    }

    void LineBreaksInAnAppendedTextMakeLinesOfTheirOwn()
    {
        TMemoEx memo;
        memo.Append(QStringLiteral("first"));
        memo.Append(QStringLiteral("Error code: 5\r\nDescription: denied"));

        QCOMPARE(memo.LineCount(), 3);
        QCOMPARE(memo.toPlainText(), QStringLiteral("first\nError code: 5\nDescription: denied"));
        QCOMPARE(memo.GetCurrentRow(), 2);
        QCOMPARE(memo.GetCurrentCol(), 19);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TMemoExTest)
#include "MemoEx_test.moc"
