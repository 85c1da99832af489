#include "dialogs/VStringGrid.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>

namespace vantrel {

VStringGrid::VStringGrid(QWidget* parent)
    : QTableWidget(parent)
{
    objects_.resize(1);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(1);
    setWordWrap(false);
    QAbstractItemModel* table = model();
    connect(table, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { ObjectRowsInserted(first, last); });
    connect(table, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { ObjectRowsRemoved(first, last); });
    connect(
        table, &QAbstractItemModel::columnsInserted, this,
        [this](const QModelIndex&, int first, int last) { ObjectColumnsInserted(first, last); });
    connect(table, &QAbstractItemModel::columnsRemoved, this,
            [this](const QModelIndex&, int first, int last) { ObjectColumnsRemoved(first, last); });
}

VStringGrid::~VStringGrid()
{
    // The objects go before the table's cell widgets, which they may name.
    objects_.clear();
}

void VStringGrid::SetRowCount(int rows)
{
    setRowCount(std::max(rows, 1) - 1);
}

void VStringGrid::SetColCount(int cols)
{
    setColumnCount(std::max(cols, 0));
}

bool VStringGrid::Contains(int col, int row) const
{
    return col >= 0 && col < ColCount() && row >= 0 && row < RowCount();
}

QString VStringGrid::Cell(int col, int row) const
{
    if (!Contains(col, row)) {
        return {};
    }
    const QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(col) : item(TableRow(row), col);
    return cell != nullptr ? cell->text() : QString();
}

void VStringGrid::SetCell(int col, int row, const QString& text)
{
    if (!Contains(col, row)) {
        return;
    }
    QTableWidgetItem* cell = row == 0 ? horizontalHeaderItem(col) : item(TableRow(row), col);
    if (cell != nullptr) {
        cell->setText(text);
    } else if (row == 0) {
        setHorizontalHeaderItem(col, new QTableWidgetItem(text));
    } else {
        setItem(TableRow(row), col, new QTableWidgetItem(text));
    }
}

int VStringGrid::ColWidth(int col) const
{
    if (col < 0 || col >= ColCount() || isColumnHidden(col)) {
        return 0;
    }
    return columnWidth(col);
}

void VStringGrid::SetColWidth(int col, int width)
{
    if (col < 0 || col >= ColCount()) {
        return;
    }
    if (width <= 0) {
        setColumnHidden(col, true);
        return;
    }
    setColumnHidden(col, false);
    setColumnWidth(col, width);
}

int VStringGrid::RowHeight(int row) const
{
    if (row == 0) {
        return horizontalHeader()->height();
    }
    return row > 0 && row < RowCount() ? rowHeight(TableRow(row)) : 0;
}

void VStringGrid::SetRowHeight(int row, int height)
{
    if (row == 0) {
        horizontalHeader()->setFixedHeight(height);
    } else if (row > 0 && row < RowCount()) {
        setRowHeight(TableRow(row), height);
    }
}

int VStringGrid::ClientWidth() const
{
    return viewport()->width();
}

int VStringGrid::TopRow() const
{
    const int table_row = rowAt(0);
    return table_row < 0 ? 1 : GridRow(table_row);
}

int VStringGrid::VisibleRowCount() const
{
    const int first = rowAt(0);
    if (first < 0) {
        return 0;
    }
    int count = 0;
    for (int r = first; r < rowCount(); ++r) {
        if (isRowHidden(r)) {
            continue;
        }
        if (rowViewportPosition(r) + rowHeight(r) > viewport()->height()) {
            break;
        }
        ++count;
    }
    return count;
}

int VStringGrid::Col() const
{
    return std::max(currentColumn(), 0);
}

int VStringGrid::Row() const
{
    return currentRow() < 0 ? 0 : GridRow(currentRow());
}

void VStringGrid::SetCurrentCell(int col, int row)
{
    if (Contains(col, row) && row > 0) {
        setCurrentCell(TableRow(row), col);
    }
}

GridRect VStringGrid::Selection() const
{
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty()) {
        return {Col(), Row(), Col(), Row()};
    }
    const QTableWidgetSelectionRange& range = ranges.first();
    return {range.leftColumn(), GridRow(range.topRow()), range.rightColumn(),
            GridRow(range.bottomRow())};
}

void VStringGrid::SetSelection(const GridRect& rect)
{
    const int top = std::max(rect.top, 1);
    if (!Contains(rect.left, top) || !Contains(rect.right, rect.bottom) || rect.left > rect.right ||
        top > rect.bottom) {
        return;
    }
    setCurrentCell(TableRow(top), rect.left, QItemSelectionModel::NoUpdate);
    clearSelection();
    setRangeSelected(
        QTableWidgetSelectionRange(TableRow(top), rect.left, TableRow(rect.bottom), rect.right),
        true);
}

GridCellObject* VStringGrid::CellObject(int col, int row) const
{
    return Contains(col, row) ? objects_[row][col].get() : nullptr;
}

void VStringGrid::SetCellObject(int col, int row, std::unique_ptr<GridCellObject> object)
{
    if (Contains(col, row)) {
        objects_[row][col] = std::move(object);
    }
}

std::unique_ptr<GridCellObject> VStringGrid::TakeCellObject(int col, int row)
{
    return Contains(col, row) ? std::move(objects_[row][col]) : nullptr;
}

QWidget* VStringGrid::CellWidget(int col, int row) const
{
    return Contains(col, row) && row > 0 ? cellWidget(TableRow(row), col) : nullptr;
}

void VStringGrid::SetCellWidget(int col, int row, QWidget* widget)
{
    if (!Contains(col, row) || row == 0) {
        return;
    }
    if (widget != nullptr) {
        setCellWidget(TableRow(row), col, widget);
    } else {
        removeCellWidget(TableRow(row), col);
    }
}

void VStringGrid::CancelEdit()
{
    if (QWidget* editor = indexWidget(currentIndex());
        editor != nullptr && state() == EditingState) {
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
}

bool VStringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // The table would wait for a double click before editing a clicked current cell, and send
    // the keys typed meanwhile to its keyboard search, which drops them.
    if (trigger == SelectedClicked && (editTriggers() & SelectedClicked) != 0) {
        return QTableWidget::edit(index, AllEditTriggers, nullptr);
    }
    return QTableWidget::edit(index, trigger, event);
}

void VStringGrid::ObjectRowsInserted(int first, int last)
{
    auto at = objects_.begin() + GridRow(first);
    for (int r = first; r <= last; ++r) {
        std::vector<std::unique_ptr<GridCellObject>> row(static_cast<size_t>(columnCount()));
        at = objects_.insert(at, std::move(row)) + 1;
    }
}

void VStringGrid::ObjectRowsRemoved(int first, int last)
{
    objects_.erase(objects_.begin() + GridRow(first), objects_.begin() + GridRow(last) + 1);
}

void VStringGrid::ObjectColumnsInserted(int first, int last)
{
    for (auto& row : objects_) {
        for (int c = first; c <= last; ++c) {
            row.insert(row.begin() + c, nullptr);
        }
    }
}

void VStringGrid::ObjectColumnsRemoved(int first, int last)
{
    for (auto& row : objects_) {
        row.erase(row.begin() + first, row.begin() + last + 1);
    }
}

}  // namespace vantrel
