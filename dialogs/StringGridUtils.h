#pragma once

#include <QString>
#include <vector>

// Free routines over the string grid (VStringGrid), in the grid's numbering: row 0 is the fixed
// header row, data rows count from 1, columns from 0. GUI thread only.
namespace vantrel {
class VStringGrid;

// Sizes the vertical scroll bar's page so that its thumb shows the share of the data rows in
// view. Nothing happens while the grid shows no whole row or has nothing to scroll.
void SetGridScrollPage(VStringGrid& grid);

// Removes data row `row` (1 to RowCount() - 1; any other row does nothing): the rows below move
// up with their texts, cell objects and hosted controls (the table frees a removed row's
// controls later, so a control may remove its own row). When it is the only data row, the grid
// keeps it and empties its cells instead. With `with_objects` the row's cell objects are freed
// first, and an emptied only row loses its hosted controls too.
void DeleteGridRow(VStringGrid& grid, int row, bool with_objects);

// The sum of every column's width (hidden columns count 0).
int GetGridColsWidth(const VStringGrid& grid);

// The widest text of the column, the header's included, in the font it is drawn with, plus 6
// pixels: what the cell needs to show the text whole.
int GetColumnTextWidth(const VStringGrid& grid, int col);

// Sizes every shown column to its texts and hands the grid's spare width, a pixel at a time, to
// the listed columns in list order, cycling through the list. Hidden columns stay hidden and
// take no spare pixels; columns outside the grid are ignored. When the texts need more than the
// grid's width nothing is taken away: the columns together get wider than the grid.
void FitGridColumns(VStringGrid& grid, const std::vector<int>& grow_columns);

// Row height := the tallest text of the row + 4 pixels (row 0 is the header).
void FitGridRowHeight(VStringGrid& grid, int row);

// The first data row whose cell in column `col` equals `text` exactly (case-sensitive); -1 when
// none does or the column is outside the grid. The header row never matches.
int FindGridRow(const VStringGrid& grid, int col, const QString& text);

// Selects the whole data row and makes its first cell current; any other row (-1 as
// FindGridRow gives, the header row, a row past the end) changes nothing.
void SelectGridRow(VStringGrid& grid, int row);

}  // namespace vantrel
