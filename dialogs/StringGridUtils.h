// STAND-IN: replaced by the real unit at merge.
#pragma once

#include <QString>
#include <vector>

namespace vantrel {
class VStringGrid;

void SetGridScrollPage(VStringGrid& grid);
void DeleteGridRow(VStringGrid& grid, int row, bool with_objects);
int GetGridColsWidth(const VStringGrid& grid);
int GetColumnTextWidth(const VStringGrid& grid, int col);
void FitGridColumns(VStringGrid& grid, const std::vector<int>& grow);
void FitGridRowHeight(VStringGrid& grid, int row);
int FindGridRow(const VStringGrid& grid, int col, const QString& text);
void SelectGridRow(VStringGrid& grid, int row);
}  // namespace vantrel
