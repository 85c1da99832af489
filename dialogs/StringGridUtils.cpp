#include "dialogs/StringGridUtils.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>

#include "dialogs/VStringGrid.h"

namespace vantrel {
namespace {

// The font a cell is drawn with: the header's for row 0, else the cell's own or the grid's.
QFont CellFont(const VStringGrid& grid, int col, int row)
{
    if (row == 0) {
        return grid.horizontalHeader()->font();
    }
    const QTableWidgetItem* cell = grid.item(VStringGrid::TableRow(row), col);
    if (cell != nullptr && cell->data(Qt::FontRole).isValid()) {
        return cell->font();
    }
    return grid.font();
}

}  // namespace

void SetGridScrollPage(VStringGrid& grid)
{
    const int visible = grid.VisibleRowCount();
    const int rows = grid.RowCount() - grid.FixedRows();
    if (visible <= 0) {
        return;
    }
    QScrollBar* bar = grid.verticalScrollBar();
    const int range = bar->maximum() - bar->minimum();
    if (range <= 0 || visible >= rows) {
        return;
    }
    // Qt's thumb is page / (range + page) of the groove, so this page makes it visible / rows.
    const long long page = static_cast<long long>(range) * visible / (rows - visible);
    bar->setPageStep(std::max(1, static_cast<int>(std::min<long long>(page, range))));
}

void DeleteGridRow(VStringGrid& grid, int row, bool with_objects)
{
    if (row < grid.FixedRows() || row >= grid.RowCount()) {
        return;
    }
    if (with_objects) {
        for (int col = 0; col < grid.ColCount(); ++col) {
            grid.SetCellObject(col, row, nullptr);
        }
    }
    if (grid.RowCount() - grid.FixedRows() > 1) {
        grid.removeRow(VStringGrid::TableRow(row));
        return;
    }
    for (int col = 0; col < grid.ColCount(); ++col) {
        grid.SetCell(col, row, QString());
        if (with_objects && grid.CellWidget(col, row) != nullptr) {
            grid.SetCellWidget(col, row, nullptr);
        }
    }
}

int GetGridColsWidth(const VStringGrid& grid)
{
    int sum = 0;
    for (int col = 0; col < grid.ColCount(); ++col) {
        sum += grid.ColWidth(col);
    }
    return sum;
}

int GetColumnTextWidth(const VStringGrid& grid, int col)
{
    int widest = 0;
    for (int row = 0; row < grid.RowCount(); ++row) {
        const QString text = grid.Cell(col, row);
        if (!text.isEmpty()) {
            widest =
                std::max(widest, QFontMetrics(CellFont(grid, col, row)).horizontalAdvance(text));
        }
    }
    return widest + 6;
}

void FitGridColumns(VStringGrid& grid, const std::vector<int>& grow_columns)
{
    const int cols = grid.ColCount();
    std::vector<int> wanted(static_cast<size_t>(cols));
    int sum = 0;
    for (int col = 0; col < cols; ++col) {
        wanted[col] = grid.ColWidth(col) == 0 ? 0 : GetColumnTextWidth(grid, col);
        sum += wanted[col];
    }
    int spare = grid.ClientWidth() - grid.GridLineWidth() * cols - sum;

    // A pixel given to a hidden column would show it.
    std::vector<int> growing;
    for (int col : grow_columns) {
        if (col >= 0 && col < cols && wanted[col] > 0) {
            growing.push_back(col);
        }
    }
    while (spare > 0 && !growing.empty()) {
        for (int col : growing) {
            if (spare == 0) {
                break;
            }
            ++wanted[col];
            --spare;
        }
    }
    if (spare == 0) {
        // Narrow first, so the grid never holds the old and the new widths together.
        for (int col = cols - 1; col >= 0; --col) {
            if (grid.ColWidth(col) > wanted[col]) {
                grid.SetColWidth(col, wanted[col]);
            }
        }
    }
    for (int col = cols - 1; col >= 0; --col) {
        grid.SetColWidth(col, wanted[col]);
    }
}

void FitGridRowHeight(VStringGrid& grid, int row)
{
    if (row < 0 || row >= grid.RowCount()) {
        return;
    }
    int tallest = 0;
    for (int col = 0; col < grid.ColCount(); ++col) {
        tallest = std::max(tallest, QFontMetrics(CellFont(grid, col, row)).height());
    }
    const int height = tallest + 4;
    if (grid.RowHeight(row) != height) {
        grid.SetRowHeight(row, height);
    }
}

int FindGridRow(const VStringGrid& grid, int col, const QString& text)
{
    if (col < 0 || col >= grid.ColCount()) {
        return -1;
    }
    for (int row = grid.FixedRows(); row < grid.RowCount(); ++row) {
        if (grid.Cell(col, row) == text) {
            return row;
        }
    }
    return -1;
}

void SelectGridRow(VStringGrid& grid, int row)
{
    if (row < grid.FixedRows() || row >= grid.RowCount() || grid.ColCount() == 0) {
        return;
    }
    grid.SetSelection({0, row, grid.ColCount() - 1, row});
}

}  // namespace vantrel
