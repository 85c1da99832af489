#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "dialogs/VStringGrid.h"

class QKeyEvent;

// TControlStringGrid, a string grid that hosts one control per data cell (the "Change ..."
// buttons of the permission grid), and TObjectControl, the cell object that links a cell to its
// control.
namespace vantrel {

// The cell object of a cell that hosts (or hosted) a control. The grid owns it; it never owns
// the control.
class TObjectControl : public GridCellObject
{
public:
    // The hosted control; null when none is, or once it has been freed.
    QWidget* Control() const { return control_; }

private:
    friend class TControlStringGrid;

    QPointer<QWidget> control_;
    // The control's parent when it was handed over, when that is neither the grid nor a window
    // holding it: the control goes back to it when the grid is destroyed.
    QPointer<QWidget> owner_;
};

// A string grid whose data cells may each host a control laid over the cell (the table's cell
// widget). A hosting cell holds the text col.row (e.g. "2.3"), which is never shown, and cannot
// be edited. Selecting a hosting cell, by keyboard or mouse, focuses its control; Tab (and
// Shift+Tab) on the control of the current cell moves the grid to the next (previous) cell and
// leaves the focus in the grid, also when that cell hosts a control too.
//
// Ownership: a control handed over with a parent outside the grid keeps that parent as its
// owner: destroying the grid frees the cell objects and gives such controls back, hidden, to
// their owner. A control handed over with no parent, with the grid as parent, or with a window
// that holds the grid as parent goes with the grid (such an owner frees the grid with it). A
// control taken out of its cell (replaced, cleared, its row removed) is freed later by
// the table (deleteLater), so a control may clear its own cell or remove its own row in its
// click handler; keep a QPointer to a control that may go. A control is hosted by one cell at a
// time. GUI thread only.
class TControlStringGrid : public VStringGrid
{
    Q_OBJECT

public:
    // The user's select-cell handler: the cell about to become current; clearing can_select
    // keeps the current cell where it was.
    using SelectCellHandler = std::function<void(int col, int row, bool& can_select)>;

    explicit TControlStringGrid(QWidget* parent = nullptr);
    ~TControlStringGrid() override;

    // When `key` is Tab or Shift+Tab and `active_control` is the control hosted by the current
    // cell, the grid takes the focus and the key, which moves it to the next (previous) cell
    // without focusing that cell's control or calling OnSelectCell; returns true. Otherwise
    // returns false and does nothing. The grid calls it itself for the keys of its controls.
    bool ForwardTabKey(QWidget* active_control, const QKeyEvent& key);

    // Frees the cell object of every cell; with free_controls each hosted control is first
    // hidden, taken out of the grid and freed (later, so that it may be the caller).
    void FreeCellObjects(bool free_controls);
    // The last cell, scanning rows and then columns from the end, whose hosted control is
    // `control`; false, and col and row left alone, when there is none.
    bool FindControlCell(const QWidget* control, int& col, int& row) const;
    void FreeCellControls() { FreeCellObjects(true); }

    // Hosts `control` in the data cell (null clears the cell's link, keeping its object) and
    // writes the col.row text. The header row and cells outside the grid are refused.
    void SetCellControl(QWidget* control, int col, int row);
    // The cell's TObjectControl, made when the cell has no object; null for a cell outside the
    // grid or one holding an object of another kind.
    TObjectControl* GetCellObject(int col, int row);
    QWidget* GetCellControl(int col, int row) const;
    // Shows and focuses the current cell's control, if it hosts one.
    void FocusCurrentControl();

    SelectCellHandler OnSelectCell;

protected:
    using VStringGrid::edit;
    // The table would focus a cell's control whenever the cell becomes current; here
    // GridSelectCell decides, so that a forwarded Tab leaves the focus in the grid.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void GridSelectCell(int col, int row, bool& can_select);
    void MarkHostingCell(int col, int row, bool hosting);

    // Set while a forwarded Tab moves the current cell.
    bool forwarding_tab_ = false;
    // Set while a refused selection is undone.
    bool restoring_cell_ = false;
};

}  // namespace vantrel
