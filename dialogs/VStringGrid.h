#pragma once

#include <QTableWidget>
#include <memory>
#include <vector>

namespace vantrel {

// What a grid keeps in a cell's object slot; the grid owns it.
class GridCellObject
{
public:
    virtual ~GridCellObject() = default;
};

// A rectangle of cells in the grid's numbering, corners included.
struct GridRect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A string grid over QTableWidget, numbered as the system's grids are: row 0 is the one fixed
// header row, shown as the horizontal header, so the grid's row r is the table's row r - 1;
// columns count from 0 and there is no fixed column. RowCount and ColCount count the header row.
// A column of width 0 is hidden. Every cell, the header's included, has an object slot owned by
// the grid, whose objects move with their rows and columns when the table inserts or removes
// them. Calls with a cell outside the grid do nothing and read as empty. A click on the current
// cell of an editable grid opens its editor at once, so keys typed straight after the click reach
// the editor. GUI thread only.
class VStringGrid : public QTableWidget
{
    Q_OBJECT

public:
    explicit VStringGrid(QWidget* parent = nullptr);
    ~VStringGrid() override;

    using QTableWidget::edit;

    static int TableRow(int row) { return row - 1; }
    static int GridRow(int table_row) { return table_row + 1; }

    // At least 1: the header row.
    int RowCount() const { return rowCount() + 1; }
    void SetRowCount(int rows);
    int ColCount() const { return columnCount(); }
    void SetColCount(int cols);
    int FixedRows() const { return 1; }

    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);

    int ColWidth(int col) const;
    // 0 hides the column; any other width shows it again.
    void SetColWidth(int col, int width);
    // Row 0 is the header's height.
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    // Qt draws grid lines inside the cells, so they add no width of their own to a row.
    int GridLineWidth() const { return 0; }
    int ClientWidth() const;

    // The first data row in view (1 when the grid has none) and how many data rows are wholly
    // in view.
    int TopRow() const;
    int VisibleRowCount() const;

    // The current cell; row 0 when the grid has no data row.
    int Col() const;
    int Row() const;
    void SetCurrentCell(int col, int row);
    // The selected cells, or the current cell alone when nothing is selected. Setting it
    // selects the data rows of the rectangle and makes its top-left cell current.
    GridRect Selection() const;
    void SetSelection(const GridRect& rect);

    GridCellObject* CellObject(int col, int row) const;
    // Replaces (and frees) the cell's object.
    void SetCellObject(int col, int row, std::unique_ptr<GridCellObject> object);
    std::unique_ptr<GridCellObject> TakeCellObject(int col, int row);

    // A control shown over a data cell (QTableWidget::setCellWidget: the table frees a replaced
    // or removed control later, so a control may remove its own row in its click handler).
    QWidget* CellWidget(int col, int row) const;
    void SetCellWidget(int col, int row, QWidget* widget);

    // Closes the current cell's editor, if one is open, without writing its text to the cell.
    void CancelEdit();

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    bool Contains(int col, int row) const;
    void ObjectRowsInserted(int first, int last);
    void ObjectRowsRemoved(int first, int last);
    void ObjectColumnsInserted(int first, int last);
    void ObjectColumnsRemoved(int first, int last);

    // Indexed [row][col] in the grid's numbering; row 0 is the header's.
    std::vector<std::vector<std::unique_ptr<GridCellObject>>> objects_;
};

}  // namespace vantrel
