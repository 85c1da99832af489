#include "dialogs/ControlStringGrid.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "dialogs/StringGridUtils.h"
#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {

// A window holding a grid of two columns and three data rows; buttons are hosted on demand.
class TControlStringGridTest : public QObject
{
    Q_OBJECT

private:
    struct Selected
    {
        int col;
        int row;
    };

    void MakeWindow()
    {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        grid_ = new TControlStringGrid(window_.get());
        layout->addWidget(grid_);
        grid_->SetColCount(2);
        grid_->SetRowCount(4);
        for (int row = 1; row < 4; ++row) {
            grid_->SetCell(0, row, QStringLiteral("file%1").arg(row));
        }
        window_->resize(300, 200);
        window_->show();
        selected_.clear();
        grid_->OnSelectCell = [this](int col, int row, bool& can_select) {
            selected_.push_back({col, row});
            can_select = row != refused_row_;
        };
    }

    QPushButton* Host(int col, int row)
    {
        auto* button = new QPushButton(QStringLiteral("Change ..."), grid_);
        grid_->SetCellControl(button, col, row);
        return button;
    }

    std::unique_ptr<QWidget> window_;
    TControlStringGrid* grid_ = nullptr;
    std::vector<Selected> selected_;
    int refused_row_ = -1;

private slots:
    void TabOnAHostedButtonMovesTheGridOnAndKeepsTheFocusInIt()
    {
        MakeWindow();
        QPushButton* first = Host(1, 1);
        QPushButton* next = Host(0, 2);

        grid_->SetCurrentCell(1, 1);
        QCOMPARE(window_->focusWidget(), first);
        QCOMPARE(selected_.size(), size_t{1});
        selected_.clear();

        QTest::keyClick(first, Qt::Key_Tab);
        QCOMPARE(grid_->Col(), 0);
        QCOMPARE(grid_->Row(), 2);
        QCOMPARE(window_->focusWidget(), grid_);
        QVERIFY(selected_.empty());

        grid_->FocusCurrentControl();
        QCOMPARE(window_->focusWidget(), next);
        QTest::keyClick(next, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(grid_->Col(), 1);
        QCOMPARE(grid_->Row(), 1);
        QCOMPARE(window_->focusWidget(), grid_);
        QVERIFY(selected_.empty());

        // Tab in the grid itself selects as usual: onto a button, which takes the focus.
        grid_->SetCurrentCell(1, 2);
        QTest::keyClick(grid_, Qt::Key_Tab);
        QCOMPARE(grid_->Row(), 3);
        selected_.clear();
        grid_->SetCurrentCell(0, 2);
        QCOMPARE(window_->focusWidget(), next);
        QCOMPARE(selected_.size(), size_t{1});
        QCOMPARE(selected_[0].col, 0);
        QCOMPARE(selected_[0].row, 2);

        // The user's handler may refuse a cell.
        refused_row_ = 3;
        grid_->SetCurrentCell(1, 3);
        QCOMPARE(grid_->Row(), 2);
        QCOMPARE(grid_->Col(), 0);
    }

    void AHostedButtonClicksAndMayRemoveItsOwnRow()
    {
        MakeWindow();
        QPointer<QPushButton> doomed = Host(1, 1);
        QPointer<QPushButton> below = Host(1, 2);
        int clicks = 0;
        connect(doomed, &QPushButton::clicked, this, [&] {
            ++clicks;
            int col = -1;
            int row = -1;
            if (grid_->FindControlCell(doomed, col, row)) {
                grid_->SetCellControl(nullptr, col, row);
                DeleteGridRow(*grid_, row, true);
            }
        });

        QTest::mouseClick(doomed, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(doomed == nullptr);
        QCOMPARE(grid_->RowCount(), 3);
        QCOMPARE(grid_->Cell(0, 1), QStringLiteral("file2"));
        int col = -1;
        int row = -1;
        QVERIFY(grid_->FindControlCell(below, col, row));
        QCOMPARE(col, 1);
        QCOMPARE(row, 1);
        QCOMPARE(grid_->CellWidget(1, 1), below.data());
        QCOMPARE(grid_->Cell(1, 1), QStringLiteral("1.2"));
    }

    void CellLinksAndWhoFreesTheControls()
    {
        MakeWindow();
        QWidget owner;
        QPointer<QPushButton> owned = new QPushButton(QStringLiteral("Change ..."), &owner);
        grid_->SetCellControl(owned, 1, 3);
        QPointer<QPushButton> gridded = Host(1, 1);

        QPushButton stranger;
        int col = 7;
        int row = 9;
        QVERIFY(!grid_->FindControlCell(&stranger, col, row));
        QCOMPARE(col, 7);
        QCOMPARE(row, 9);
        QVERIFY(!grid_->FindControlCell(nullptr, col, row));

        // Clearing the link keeps the cell's object and writes its col.row text.
        grid_->SetCellControl(nullptr, 0, 2);
        QVERIFY(grid_->CellObject(0, 2) != nullptr);
        QVERIFY(grid_->GetCellControl(0, 2) == nullptr);
        QCOMPARE(grid_->Cell(0, 2), QStringLiteral("0.2"));
        grid_->SetCellControl(&stranger, 0, 0);
        QVERIFY(grid_->GetCellControl(0, 0) == nullptr);

        // The grid goes with its cell objects; a control with an owner of its own stays with it.
        window_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(gridded == nullptr);
        QVERIFY(owned != nullptr);
        QCOMPARE(owned->parentWidget(), &owner);
        QVERIFY(owned->isHidden());

        MakeWindow();
        grid_->SetCellControl(owned, 1, 3);
        gridded = Host(1, 1);
        grid_->FreeCellControls();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(owned == nullptr);
        QVERIFY(gridded == nullptr);
        QVERIFY(grid_->CellObject(1, 1) == nullptr);
        QVERIFY(grid_->CellObject(1, 3) == nullptr);
        QVERIFY(grid_->item(grid_->TableRow(1), 1)->flags().testFlag(Qt::ItemIsEditable));
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::TControlStringGridTest)
#include "ControlStringGrid_test.moc"
