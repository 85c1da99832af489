#include "dialogs/ControlStringGrid.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace vantrel {

TControlStringGrid::TControlStringGrid(QWidget* parent)
    : VStringGrid(parent)
{}

TControlStringGrid::~TControlStringGrid()
{
    // The cell objects go with the grid; a control with an owner of its own goes back to it
    // instead of going down with the table's viewport.
    for (int row = 1; row < RowCount(); ++row) {
        for (int col = 0; col < ColCount(); ++col) {
            const auto* object = dynamic_cast<const TObjectControl*>(CellObject(col, row));
            if (object == nullptr || object->control_ == nullptr || object->owner_ == nullptr) {
                continue;
            }
            QWidget* control = object->control_;
            control->removeEventFilter(this);
            control->hide();
            control->setParent(object->owner_);
        }
    }
}

bool TControlStringGrid::ForwardTabKey(QWidget* active_control, const QKeyEvent& key)
{
    const bool tab = key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab;
    if (!tab || (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0 ||
        active_control == nullptr || active_control != GetCellControl(Col(), Row())) {
        return false;
    }
    forwarding_tab_ = true;
    setFocus(Qt::TabFocusReason);
    QKeyEvent forwarded(QEvent::KeyPress, key.key(), key.modifiers(), key.text(),
                        key.isAutoRepeat(), static_cast<quint16>(key.count()));
    QCoreApplication::sendEvent(this, &forwarded);
    // A Tab that moved nothing must not swallow the next selection.
    forwarding_tab_ = false;
    return true;
}

void TControlStringGrid::FreeCellObjects(bool free_controls)
{
    for (int row = 0; row < RowCount(); ++row) {
        for (int col = 0; col < ColCount(); ++col) {
            GridCellObject* object = CellObject(col, row);
            if (object == nullptr) {
                continue;
            }
            auto* link = dynamic_cast<TObjectControl*>(object);
            QWidget* control = link != nullptr ? link->control_.data() : nullptr;
            if (free_controls && control != nullptr) {
                control->removeEventFilter(this);
                control->hide();
                if (CellWidget(col, row) == control) {
                    SetCellWidget(col, row, nullptr);
                } else {
                    control->setParent(nullptr);
                    control->deleteLater();
                }
                MarkHostingCell(col, row, false);
            }
            SetCellObject(col, row, nullptr);
        }
    }
}

bool TControlStringGrid::FindControlCell(const QWidget* control, int& col, int& row) const
{
    if (control == nullptr) {
        return false;
    }
    for (int r = RowCount() - 1; r >= 0; --r) {
        for (int c = ColCount() - 1; c >= 0; --c) {
            if (GetCellControl(c, r) == control) {
                col = c;
                row = r;
                return true;
            }
        }
    }
    return false;
}

void TControlStringGrid::SetCellControl(QWidget* control, int col, int row)
{
    if (row < 1 || row >= RowCount() || col < 0 || col >= ColCount()) {
        return;
    }
    TObjectControl* object = GetCellObject(col, row);
    if (object == nullptr) {
        return;
    }
    if (control != nullptr && control != object->control_) {
        QWidget* parent = control->parentWidget();
        object->owner_ = parent != nullptr && parent != this && !parent->isAncestorOf(this) &&
                                 !isAncestorOf(parent)
                             ? parent
                             : nullptr;
    } else if (control == nullptr) {
        object->owner_ = nullptr;
    }
    object->control_ = control;
    if (CellWidget(col, row) != control) {
        SetCellWidget(col, row, control);
    }
    if (control != nullptr) {
        // The table already watches its cell widgets through this grid; the filter is set
        // again so that Tab reaches ForwardTabKey whatever the table does.
        control->installEventFilter(this);
    }
    SetCell(col, row, QStringLiteral("%1.%2").arg(col).arg(row));
    MarkHostingCell(col, row, control != nullptr);
}

TObjectControl* TControlStringGrid::GetCellObject(int col, int row)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount()) {
        return nullptr;
    }
    GridCellObject* object = CellObject(col, row);
    if (object == nullptr) {
        auto made = std::make_unique<TObjectControl>();
        TObjectControl* link = made.get();
        SetCellObject(col, row, std::move(made));
        return link;
    }
    return dynamic_cast<TObjectControl*>(object);
}

QWidget* TControlStringGrid::GetCellControl(int col, int row) const
{
    const auto* link = dynamic_cast<const TObjectControl*>(CellObject(col, row));
    return link != nullptr ? link->Control() : nullptr;
}

void TControlStringGrid::FocusCurrentControl()
{
    if (QWidget* control = GetCellControl(Col(), Row())) {
        control->show();
        control->setFocus();
    }
}

bool TControlStringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    if (trigger == CurrentChanged && index.isValid() &&
        GetCellControl(index.column(), GridRow(index.row())) != nullptr) {
        return false;
    }
    return VStringGrid::edit(index, trigger, event);
}

void TControlStringGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    VStringGrid::currentChanged(current, previous);
    if (restoring_cell_ || !current.isValid()) {
        return;
    }
    bool can_select = true;
    GridSelectCell(current.column(), GridRow(current.row()), can_select);
    if (!can_select && previous.isValid()) {
        restoring_cell_ = true;
        setCurrentIndex(previous);
        restoring_cell_ = false;
    }
}

bool TControlStringGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        ForwardTabKey(static_cast<QWidget*>(watched), *static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return VStringGrid::eventFilter(watched, event);
}

void TControlStringGrid::GridSelectCell(int col, int row, bool& can_select)
{
    if (forwarding_tab_) {
        forwarding_tab_ = false;
        return;
    }
    if (QWidget* control = GetCellControl(col, row)) {
        control->show();
        control->setFocus();
    }
    if (OnSelectCell) {
        OnSelectCell(col, row, can_select);
    }
}

void TControlStringGrid::MarkHostingCell(int col, int row, bool hosting)
{
    QTableWidgetItem* cell = item(TableRow(row), col);
    if (cell == nullptr) {
        return;
    }
    // The col.row text is a link, not something to read or edit under the control.
    if (hosting) {
        cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);
        cell->setForeground(QColor(Qt::transparent));
    } else {
        cell->setFlags(cell->flags() | Qt::ItemIsEditable);
        cell->setData(Qt::ForegroundRole, QVariant());
    }
}

}  // namespace vantrel
