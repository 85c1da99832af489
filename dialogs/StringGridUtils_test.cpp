#include "dialogs/StringGridUtils.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>

#include "dialogs/VStringGrid.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

// Counts its copies alive, to see when a row's objects are freed.
class CountedObject : public GridCellObject
{
public:
    CountedObject(int tag, int* alive)
        : tag_(tag)
        , alive_(alive)
    {
        ++*alive_;
    }
    ~CountedObject() override { --*alive_; }
    int Tag() const { return tag_; }

private:
    int tag_;
    int* alive_;
};

int TagAt(const VStringGrid& grid, int col, int row)
{
    const auto* object = dynamic_cast<const CountedObject*>(grid.CellObject(col, row));
    return object != nullptr ? object->Tag() : 0;
}

// Column 0 of each data row holds its text; header "Name".
void FillRows(VStringGrid& grid, const QStringList& names)
{
    grid.SetColCount(2);
    grid.SetRowCount(static_cast<int>(names.size()) + 1);
    grid.SetCell(0, 0, QStringLiteral("Name"));
    for (int i = 0; i < names.size(); ++i) {
        grid.SetCell(0, i + 1, names[i]);
    }
}

}  // namespace

class StringGridUtilsTest : public QObject
{
    Q_OBJECT

private slots:
    void FitGridColumnsHandsTheSpareWidthToTheListedColumns_data()
    {
        QTest::addColumn<std::vector<int>>("grow");
        QTest::addColumn<int>("spare");
        QTest::addColumn<int>("hidden");
        QTest::addColumn<std::vector<int>>("gains");

        QTest::newRow("(0) takes every spare pixel")
            << std::vector<int>{0} << 7 << -1 << std::vector<int>{7, 0, 0};
        QTest::newRow("(0, 1, 2) share 7 pixels as 3, 2, 2")
            << std::vector<int>{0, 1, 2} << 7 << -1 << std::vector<int>{3, 2, 2};
        QTest::newRow("a hidden column stays hidden and takes no pixel")
            << std::vector<int>{0, 1, 2} << 7 << 1 << std::vector<int>{4, 0, 3};
        QTest::newRow("an empty list leaves the spare width unused")
            << std::vector<int>{} << 7 << -1 << std::vector<int>{0, 0, 0};
        QTest::newRow("no spare width: text widths")
            << std::vector<int>{0} << 0 << -1 << std::vector<int>{0, 0, 0};
        QTest::newRow("too narrow: text widths, wider than the grid")
            << std::vector<int>{0, 1} << -25 << 2 << std::vector<int>{0, 0, 0};
    }

    void FitGridColumnsHandsTheSpareWidthToTheListedColumns()
    {
        QFETCH(std::vector<int>, grow);
        QFETCH(int, spare);
        QFETCH(int, hidden);
        QFETCH(std::vector<int>, gains);

        VStringGrid grid;
        grid.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        grid.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        grid.SetColCount(3);
        grid.SetRowCount(3);
        const QStringList header = {"File", "Permission", "X"};
        for (int col = 0; col < 3; ++col) {
            grid.SetCell(col, 0, header[col]);
            grid.SetColWidth(col, col == hidden ? 0 : 300);
        }
        grid.SetCell(0, 1, QStringLiteral("*.a-rather-long-file-name.htm"));
        grid.SetCell(2, 2, QStringLiteral("Change ..."));
        grid.show();

        std::vector<int> text_widths;
        int sum = 0;
        for (int col = 0; col < 3; ++col) {
            text_widths.push_back(col == hidden ? 0 : GetColumnTextWidth(grid, col));
            sum += text_widths.back();
        }
        QVERIFY(GetColumnTextWidth(grid, 1) >
                QFontMetrics(grid.font()).horizontalAdvance(header[1]));
        const int frame = grid.width() - grid.ClientWidth();
        grid.resize(sum + spare + frame, 120);
        QCOMPARE(grid.ClientWidth(), sum + spare);

        FitGridColumns(grid, grow);
        for (int col = 0; col < 3; ++col) {
            QCOMPARE(grid.ColWidth(col), text_widths[col] + gains[col]);
        }
        QCOMPARE(grid.isColumnHidden(1), hidden == 1);
        QCOMPARE(GetGridColsWidth(grid), sum + std::max(spare, 0) * (grow.empty() ? 0 : 1));
    }

    void DeleteGridRowMovesTheRowsBelowUpAndKeepsTheLastDataRow()
    {
        int alive = 0;
        VStringGrid grid;
        FillRows(grid, {"one", "two", "three"});
        for (int row = 1; row <= 3; ++row) {
            grid.SetCellObject(1, row, std::make_unique<CountedObject>(row, &alive));
        }

        DeleteGridRow(grid, 0, true);
        DeleteGridRow(grid, 4, true);
        QCOMPARE(grid.RowCount(), 4);
        QCOMPARE(alive, 3);

        DeleteGridRow(grid, 2, true);
        QCOMPARE(grid.RowCount(), 3);
        QCOMPARE(grid.Cell(0, 2), QStringLiteral("three"));
        QCOMPARE(TagAt(grid, 1, 2), 3);
        QCOMPARE(alive, 2);

        DeleteGridRow(grid, 1, false);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.Cell(0, 1), QStringLiteral("three"));
        QCOMPARE(TagAt(grid, 1, 1), 3);

        // The only data row stays, emptied; its objects go only when asked.
        DeleteGridRow(grid, 1, false);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(grid.Cell(0, 1), QString());
        QCOMPARE(grid.Cell(0, 0), QStringLiteral("Name"));
        QCOMPARE(alive, 1);
        DeleteGridRow(grid, 1, true);
        QCOMPARE(grid.RowCount(), 2);
        QCOMPARE(alive, 0);
    }

    void FindGridRowSearchesTheDataRowsOnly()
    {
        VStringGrid grid;
        FillRows(grid, {});
        QCOMPARE(grid.RowCount(), 1);
        QCOMPARE(FindGridRow(grid, 0, QStringLiteral("Name")), -1);
        QCOMPARE(FindGridRow(grid, 0, QString()), -1);

        FillRows(grid, {"alpha", "Beta", "beta", "beta"});
        QCOMPARE(FindGridRow(grid, 0, QStringLiteral("beta")), 3);
        QCOMPARE(FindGridRow(grid, 0, QStringLiteral("BETA")), -1);
        QCOMPARE(FindGridRow(grid, 0, QStringLiteral("Name")), -1);
        QCOMPARE(FindGridRow(grid, 1, QString()), 1);
        QCOMPARE(FindGridRow(grid, 2, QString()), -1);
    }

    void SelectGridRowSelectsAWholeDataRowAndIgnoresAnyOther()
    {
        VStringGrid grid;
        FillRows(grid, {"alpha", "beta", "gamma"});
        grid.show();
        SelectGridRow(grid, 2);
        QCOMPARE(grid.Row(), 2);
        QCOMPARE(grid.Col(), 0);
        const GridRect selected = grid.Selection();
        QCOMPARE(selected.left, 0);
        QCOMPARE(selected.right, 1);
        QCOMPARE(selected.top, 2);
        QCOMPARE(selected.bottom, 2);

        for (int row : {-1, 0, 4}) {
            SelectGridRow(grid, row);
            QCOMPARE(grid.Row(), 2);
            QCOMPARE(grid.selectedRanges().size(), 1);
            QCOMPARE(grid.selectedRanges().first().topRow(), 1);
        }
    }

    void FitGridRowHeightGivesTheTallestTextRoom()
    {
        VStringGrid grid;
        FillRows(grid, {"plain", "big"});
        QFont big = grid.font();
        big.setPointSize(big.pointSize() * 3);
        grid.SetCell(1, 2, QStringLiteral("X"));
        grid.item(grid.TableRow(2), 1)->setFont(big);
        grid.show();
        for (int row = 0; row < 3; ++row) {
            FitGridRowHeight(grid, row);
        }
        QVERIFY(grid.RowHeight(0) >= grid.horizontalHeader()->sizeHint().height());
        QCOMPARE(grid.RowHeight(1), grid.RowHeight(0));
        QVERIFY(grid.RowHeight(2) > QFontMetrics(big).height());
    }

    void SetGridScrollPageMakesTheThumbTheShareOfRowsInView()
    {
        VStringGrid grid;
        FillRows(grid, QStringList(40, QStringLiteral("row")));
        grid.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        grid.resize(200, 200);
        grid.show();
        QScrollBar* bar = grid.verticalScrollBar();
        bar->setPageStep(1);
        const int visible = grid.VisibleRowCount();
        QVERIFY(visible > 0 && visible < 40);

        SetGridScrollPage(grid);
        const double thumb = double(bar->pageStep()) / (bar->maximum() + bar->pageStep());
        QVERIFY2(qAbs(thumb - visible / 40.0) < 1.0 / 40, qPrintable(QString::number(thumb)));

        // No whole row in view: the page is left alone.
        grid.resize(200, grid.horizontalHeader()->height() + 4);
        QCOMPARE(grid.VisibleRowCount(), 0);
        bar->setPageStep(1);
        SetGridScrollPage(grid);
        QCOMPARE(bar->pageStep(), 1);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::StringGridUtilsTest)
#include "StringGridUtils_test.moc"
