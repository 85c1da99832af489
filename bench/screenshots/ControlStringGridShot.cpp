// A grid hosting "Change ..." buttons, laid out as the permission grid of the configuration
// dialog lays out its rows: header texts, patterns and permissions, a button per filled row and
// an empty last row.
#include <QPushButton>
#include <QVBoxLayout>

#include "bench/screenshots/WindowShots.h"
#include "dialogs/ControlStringGrid.h"
#include "dialogs/StringGridUtils.h"

namespace {

void ShootControlStringGrid(vantrel::bench::ShotSession& session)
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("Hosted controls"));
    auto* layout = new QVBoxLayout(&window);
    auto* grid = new vantrel::TControlStringGrid(&window);
    layout->addWidget(grid);
    const QStringList patterns = {"*.cgi", "*.pl", "*\\private\\*.htm"};
    const QStringList permissions = {"755", "755", "600"};
    grid->SetColCount(3);
    grid->SetRowCount(static_cast<int>(patterns.size()) + 2);
    grid->SetCell(0, 0, QStringLiteral("File"));
    grid->SetCell(1, 0, QStringLiteral("Permission"));
    grid->SetCell(2, 0, QStringLiteral(" Change ... "));
    vantrel::FitGridRowHeight(*grid, 0);
    for (int row = 1; row < grid->RowCount(); ++row) {
        grid->SetRowHeight(row, grid->RowHeight(0));
    }
    for (int i = 0; i < patterns.size(); ++i) {
        grid->SetCell(0, i + 1, patterns[i]);
        grid->SetCell(1, i + 1, permissions[i]);
        grid->SetCellControl(new QPushButton(QStringLiteral("Change ..."), grid), 2, i + 1);
    }
    window.resize(320, 160);
    window.show();
    vantrel::FitGridColumns(*grid, {0});
    grid->SetCurrentCell(0, 1);
    session.Save(&window, QStringLiteral("TControlStringGrid"));
}

}  // namespace

VANTREL_WINDOW_SHOT(ShootControlStringGrid)
