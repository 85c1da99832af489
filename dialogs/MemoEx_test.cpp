#include "dialogs/MemoEx.h"

#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

QString OldLine(int i)
{
    return QStringLiteral("line %1").arg(i, 4, 10, QLatin1Char('0'));
}

QStringList Numbered(const QString& prefix, int from, int to)
{
    QStringList lines;
    for (int i = from; i < to; ++i) {
        lines.append(prefix + QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0')));
    }
    return lines;
}

}  // namespace

class TMemoExTest : public QObject
{
    Q_OBJECT

private slots:
    void AFullMemoDropsItsOldestLinesAndKeepsTen_data()
    {
        // Fifty old lines of nine characters fill the memo exactly; each dropped line frees
        // ten characters with its line break, and a new line needs its length plus one.
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("first_old_kept");
        QTest::addColumn<QStringList>("new_kept");
        QTest::addColumn<bool>("left_out");

        const QString x399(399, QLatin1Char('x'));
        const QString x400(400, QLatin1Char('x'));
        QTest::newRow("an empty line needs its line break")
            << QStringList{QString()} << 1 << QStringList{QString()} << false;
        QTest::newRow("a short line drops the oldest")
            << QStringList{"12345"} << 1 << QStringList{"12345"} << false;
        QTest::newRow("a longer one drops three")
            << QStringList{QString(25, 'y')} << 3 << QStringList{QString(25, 'y')} << false;
        QTest::newRow("fits once ten old lines remain")
            << QStringList{x399} << 40 << QStringList{x399} << false;
        QTest::newRow("too long: gives up at ten")
            << QStringList{x400} << 40 << QStringList{} << true;
        QTest::newRow("lines of one text go as lines")
            << QStringList{"a\r\nb\nc"} << 1 << QStringList{"a", "b", "c"} << false;
        // Sixty lines of eight characters: the newest 55 fill the memo, the old lines all go.
        QTest::newRow("a batch beyond the capacity keeps its newest lines")
            << Numbered("new ", 0, 60) << 50 << Numbered("new ", 5, 60) << false;
        QTest::newRow("a huge text in a batch is left out, the rest goes in order")
            << QStringList{"a", QString(420, 'x'), "b"} << 41 << QStringList{"a", "b"} << true;
    }

    void AFullMemoDropsItsOldestLinesAndKeepsTen()
    {
        QFETCH(QStringList, texts);
        QFETCH(int, first_old_kept);
        QFETCH(QStringList, new_kept);
        QFETCH(bool, left_out);

        TMemoEx memo;
        memo.resize(300, 200);
        memo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&memo));
        QStringList old;
        for (int i = 0; i < 50; ++i) {
            old.append(OldLine(i));
            memo.Append(old.last());
        }
        memo.SetCapacity(memo.toPlainText().size());
        QSignalSpy spy(&memo, &TMemoEx::OnErrSpace);
        QSignalSpy edits(memo.document(), &QTextDocument::contentsChange);

        if (texts.size() == 1) {
            memo.Append(texts.first());
        } else {
            memo.Append(texts);
        }

        QCOMPARE(spy.count(), 1);
        // The new lines go in before the old ones go: the other way round a full pane copied
        // its whole text on most appends.
        QVERIFY(!edits.isEmpty());
        QCOMPARE(edits.first().at(0).toInt() > 0, !new_kept.isEmpty());
        QCOMPARE(memo.OutOfSpace(), left_out);
        QCOMPARE(memo.toPlainText(), (old.mid(first_old_kept) + new_kept).join('\n'));
        QCOMPARE(memo.LineCount(), 50 - first_old_kept + new_kept.size());
        QVERIFY(memo.toPlainText().size() <= memo.Capacity());
        // The caret ends on the last line, and the last line is in view.
        QCOMPARE(memo.GetCurrentRow(), memo.LineCount() - 1);
        QVERIFY(memo.viewport()->rect().contains(memo.cursorRect()));
        QVERIFY(!memo.document()->isUndoAvailable());
    }

    void LineBreaksInAnAppendedTextMakeLinesOfTheirOwn()
    {
        TMemoEx memo;
        memo.Append(QStringLiteral("first"));
        memo.Append(QStringLiteral("Error code: 5\r\nDescription: denied\rthen") +
                    QChar::ParagraphSeparator + QStringLiteral("last"));

        QCOMPARE(memo.LineCount(), 5);
        QCOMPARE(memo.toPlainText(),
                 QStringLiteral("first\nError code: 5\nDescription: denied\nthen\nlast"));
        QCOMPARE(memo.GetCurrentRow(), 4);
        QCOMPARE(memo.GetCurrentCol(), 4);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TMemoExTest)
#include "MemoEx_test.moc"
