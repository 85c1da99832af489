// STAND-IN: replaced by the real unit at merge.
#include "dialogs/StringGridUtils.h"

#include <QHeaderView>

#include "dialogs/VStringGrid.h"

namespace vantrel {
void SetGridScrollPage(VStringGrid&) {}
void DeleteGridRow(VStringGrid& grid, int row, bool)
{
    grid.removeRow(VStringGrid::TableRow(row));
}
int GetGridColsWidth(const VStringGrid& grid)
{
    int sum = 0;
    for (int c = 0; c < grid.ColCount(); ++c) sum += grid.ColWidth(c);
    return sum;
}
int GetColumnTextWidth(const VStringGrid& grid, int col)
{
    int widest = 0;
    for (int r = 0; r < grid.RowCount(); ++r)
        widest = std::max(widest, grid.fontMetrics().horizontalAdvance(grid.Cell(col, r)));
    return widest + 6;
}
void FitGridColumns(VStringGrid& grid, const std::vector<int>& grow)
{
    int sum = 0;
    for (int c = 0; c < grid.ColCount(); ++c) sum += GetColumnTextWidth(grid, c);
    int spare = grid.ClientWidth() - sum;
    for (int c = 0; c < grid.ColCount(); ++c) {
        int extra = 0;
        if (spare > 0 && !grow.empty() && c == grow.back())
            extra = spare;
        grid.SetColWidth(c, GetColumnTextWidth(grid, c) + extra);
    }
}
void FitGridRowHeight(VStringGrid& grid, int row)
{
    grid.SetRowHeight(row, grid.fontMetrics().height() + 4);
}
int FindGridRow(const VStringGrid& grid, int col, const QString& text)
{
    for (int r = 1; r < grid.RowCount(); ++r)
        if (grid.Cell(col, r) == text)
            return r;
    return -1;
}
void SelectGridRow(VStringGrid& grid, int row)
{
    if (row >= 1 && row < grid.RowCount())
        grid.SetCurrentCell(0, row);
}
}  // namespace vantrel
