#include "dialogs/VStringGrid.h"

#include <QHeaderView>
#include <QTest>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

// Counts its copies alive, to see when the grid frees it.
class CountedObject : public GridCellObject
{
public:
    explicit CountedObject(int tag, int* alive)
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

}  // namespace

class VStringGridTest : public QObject
{
    Q_OBJECT

private slots:
    void RowZeroIsTheHeaderAndRowRIsTheTablesRowRMinusOne()
    {
        VStringGrid grid;
        grid.SetColCount(3);
        grid.SetRowCount(3);
        QCOMPARE(grid.RowCount(), 3);
        QCOMPARE(grid.rowCount(), 2);
        QCOMPARE(grid.ColCount(), 3);

        grid.SetCell(0, 0, QStringLiteral("Name"));
        grid.SetCell(2, 1, QStringLiteral("first"));
        grid.SetCell(1, 2, QStringLiteral("second"));
        grid.SetCell(1, 3, QStringLiteral("outside"));
        QCOMPARE(grid.horizontalHeaderItem(0)->text(), QStringLiteral("Name"));
        QCOMPARE(grid.item(0, 2)->text(), QStringLiteral("first"));
        QCOMPARE(grid.item(1, 1)->text(), QStringLiteral("second"));
        QCOMPARE(grid.Cell(0, 0), QStringLiteral("Name"));
        QCOMPARE(grid.Cell(2, 1), QStringLiteral("first"));
        QCOMPARE(grid.Cell(0, 1), QString());
        QCOMPARE(grid.Cell(1, 3), QString());
        QCOMPARE(grid.Cell(-1, 1), QString());

        grid.SetRowCount(0);
        QCOMPARE(grid.RowCount(), 1);
        QCOMPARE(grid.Cell(0, 0), QStringLiteral("Name"));

        grid.SetRowCount(2);
        grid.SetCurrentCell(2, 1);
        QCOMPARE(grid.currentRow(), 0);
        QCOMPARE(grid.Row(), 1);
        QCOMPARE(grid.Col(), 2);
        grid.SetRowHeight(0, 30);
        QCOMPARE(grid.RowHeight(0), 30);
        grid.SetRowHeight(1, 30);
        QCOMPARE(grid.rowHeight(0), 30);
    }

    void AColumnOfWidthZeroIsHiddenUntilGivenAWidth()
    {
        VStringGrid grid;
        grid.SetColCount(2);
        grid.SetColWidth(0, 5);
        QCOMPARE(grid.ColWidth(0), 5);
        grid.SetColWidth(1, 0);
        QVERIFY(grid.isColumnHidden(1));
        QCOMPARE(grid.ColWidth(1), 0);
        grid.SetColWidth(1, 40);
        QVERIFY(!grid.isColumnHidden(1));
        QCOMPARE(grid.ColWidth(1), 40);
    }

    void SelectionAndVisibleRowsUseTheGridsRows()
    {
        VStringGrid grid;
        grid.SetColCount(3);
        grid.SetRowCount(4);
        grid.resize(300, 200);
        grid.show();
        grid.SetSelection({0, 2, 2, 2});
        QCOMPARE(grid.Row(), 2);
        const GridRect selected = grid.Selection();
        QCOMPARE(selected.top, 2);
        QCOMPARE(selected.bottom, 2);
        QCOMPARE(selected.left, 0);
        QCOMPARE(selected.right, 2);
        QCOMPARE(grid.selectedRanges().size(), 1);
        QCOMPARE(grid.selectedRanges().first().topRow(), 1);
        QCOMPARE(grid.TopRow(), 1);
        QCOMPARE(grid.VisibleRowCount(), 3);
    }

    void CellObjectsMoveWithTheirRowsAndGoWithTheGrid()
    {
        int alive = 0;
        {
            VStringGrid grid;
            grid.SetColCount(2);
            grid.SetRowCount(4);
            grid.SetCellObject(1, 0, std::make_unique<CountedObject>(10, &alive));
            grid.SetCellObject(1, 1, std::make_unique<CountedObject>(11, &alive));
            grid.SetCellObject(1, 3, std::make_unique<CountedObject>(13, &alive));
            QCOMPARE(alive, 3);

            grid.removeRow(grid.TableRow(1));
            QCOMPARE(alive, 2);
            QCOMPARE(TagAt(grid, 1, 0), 10);
            QCOMPARE(TagAt(grid, 1, 2), 13);
            grid.insertRow(0);
            QCOMPARE(TagAt(grid, 1, 3), 13);
            grid.insertColumn(0);
            QCOMPARE(TagAt(grid, 2, 3), 13);
            grid.removeColumn(0);
            QCOMPARE(TagAt(grid, 1, 3), 13);
            QCOMPARE(alive, 2);

            std::unique_ptr<GridCellObject> taken = grid.TakeCellObject(1, 0);
            QCOMPARE(static_cast<CountedObject*>(taken.get())->Tag(), 10);
            QVERIFY(grid.CellObject(1, 0) == nullptr);
            taken.reset();
            grid.SetCellObject(0, 1, std::make_unique<CountedObject>(21, &alive));
            QCOMPARE(alive, 2);
            grid.SetCellObject(0, 1, nullptr);
            QCOMPARE(alive, 1);
        }
        QCOMPARE(alive, 0);
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::VStringGridTest)
#include "VStringGrid_test.moc"
