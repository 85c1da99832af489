#include "app/WindowPlacement.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "dialogs/VDialog.h"
#include "foundation/QelRegistryU.h"
#include "publishing/PublicationInfo.h"

namespace vantrel {
namespace {

// How long a restored window waits for the window manager's frame.
constexpr int kFrameWaitMs = 2000;
// How long the window's bounds rest before they are stored.
constexpr int kSaveDelayMs = 300;
// The list keeps its header and this many rows in view.
constexpr int kLeastRows = 3;

}  // namespace

bool SaveWindowPlacement(TQelRegistry& store, const WindowPlacement& placement)
{
    const QRect& outer = placement.outer;
    return store.WriteRootInteger("Top", outer.top()) &&
           store.WriteRootInteger("Left", outer.left()) &&
           store.WriteRootInteger("Width", outer.width()) &&
           store.WriteRootInteger("Height", outer.height()) &&
           store.WriteRootInteger("PHeight", placement.panel_height);
}

std::optional<WindowPlacement> LoadWindowPlacement(TQelRegistry& store)
{
    const int top = store.ReadRootInteger("Top");
    const int left = store.ReadRootInteger("Left");
    const int width = store.ReadRootInteger("Width");
    const int height = store.ReadRootInteger("Height");
    const int panel_height = store.ReadRootInteger("PHeight");
    if (width <= 100 || height <= 100) {
        return std::nullopt;
    }
    return WindowPlacement{QRect(left, top, width, height), panel_height};
}

QRect ScreenRoomFor(const QRect& outer)
{
    QScreen* best = QGuiApplication::screenAt(outer.center());
    int best_area = 0;
    if (best == nullptr) {
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect common = screen->geometry().intersected(outer);
            if (common.width() * common.height() > best_area) {
                best = screen;
                best_area = common.width() * common.height();
            }
        }
    }
    if (best == nullptr) {
        best = QGuiApplication::primaryScreen();
    }
    return best != nullptr ? best->availableGeometry() : QRect();
}

namespace {

QSize FrameExtra(const QWidget& window)
{
    return window.frameGeometry().size() - window.geometry().size();
}

}  // namespace

void PlaceWindow(QWidget& window, const QRect& outer)
{
    window.resize(outer.size() - FrameExtra(window));
    if (QGuiApplication::platformName() != "wayland") {
        // A top-level window's position is its frame's.
        window.move(outer.topLeft());
    }
}

bool FitFrame(QWidget& window, const QRect& outer)
{
    const QSize extra = FrameExtra(window);
    if (extra.isNull()) {
        return false;
    }
    if (window.frameGeometry().size() != outer.size()) {
        window.resize(outer.size() - extra);
    }
    return true;
}

bool ReadTurboOn(TQelRegistry& store)
{
    return store.ReadRootBool("TurboOn", false);
}

bool WriteTurboOn(TQelRegistry& store, bool on)
{
    return store.WriteRootBool("TurboOn", on);
}

MainWindowLayout::MainWindowLayout(QWidget& window,
                                   QSplitter& splitter,
                                   QTableWidget& grid,
                                   QelPublicationList& publications)
    : window_(window)
    , splitter_(splitter)
    , grid_(grid)
    , publications_(publications)
{
    // A least height in pixels would cut the list's pane short with Linux fonts: it keeps its
    // header and three rows in view beside its texts, whatever the font.
    grid_.setMinimumHeight(GridHeightForRows(kLeastRows));
    Panel().setMinimumHeight(std::max(Panel().minimumHeight(), Panel().minimumSizeHint().height()));
    connect(&splitter_, &QSplitter::splitterMoved, this, [this] { ScheduleSave(); });
    // A drag moves and sizes the window many times a second: it is stored once it rests.
    save_timer_ = new QTimer(this);
    save_timer_->setSingleShot(true);
    save_timer_->setInterval(kSaveDelayMs);
    connect(save_timer_, &QTimer::timeout, this, [this] { Save(); });
}

QWidget& MainWindowLayout::Panel() const
{
    return *splitter_.widget(0);
}

QWidget& MainWindowLayout::LogFrame() const
{
    return *splitter_.widget(1);
}

void MainWindowLayout::Restore()
{
    if (const auto placement = LoadWindowPlacement(*publications_.Store())) {
        // Saved on another screen, or at another scale: the window comes up whole on the
        // screen it opens on.
        const QRect outer = KeepOnScreen(placement->outer, ScreenRoomFor(placement->outer));
        PlaceWindow(window_, outer);
        if (window_.frameGeometry() == window_.geometry()) {
            pending_outer_ = outer;
        }
        panel_height_ = placement->panel_height;
    } else {
        // The layout's size, where the screen has room for it and its frame.
        const QRect room = WindowRoom(window_);
        if (!room.isEmpty()) {
            window_.resize(window_.size().boundedTo(room.size()));
        }
    }
    restored_ = true;
}

void MainWindowLayout::Save()
{
    if (pending_outer_) {
        return;
    }
    // With the log hidden the pane fills the window: its height beside the log is kept.
    if (LogFrame().isVisible()) {
        panel_height_ = Panel().height();
    }
    TQelRegistry& store = *publications_.Store();
    if (!SaveWindowPlacement(store, {window_.frameGeometry(), panel_height_})) {
        qWarning("The window position could not be saved: %s", store.LastErrorText().c_str());
    }
}

void MainWindowLayout::GeometryChanged()
{
    if (pending_outer_) {
        // Framed at last: the saved outer bounds are met once the frame's share comes off.
        if (!FitFrame(window_, *pending_outer_)) {
            return;
        }
        pending_outer_.reset();
    }
    ScheduleSave();
}

void MainWindowLayout::ScheduleSave()
{
    if (restored_) {
        save_timer_->start();
    }
}

void MainWindowLayout::SaveNow()
{
    if (save_timer_->isActive()) {
        save_timer_->stop();
        Save();
    }
}

void MainWindowLayout::FirstShown()
{
    if (pending_outer_) {
        // A window manager that never frames the window: its outer bounds are its own.
        QTimer::singleShot(kFrameWaitMs, this, [this] {
            pending_outer_.reset();
            Save();
        });
    }
    if (!LogFrame().isVisible()) {
        return;
    }
    if (panel_height_ > 0) {
        SetPanelHeight(panel_height_);
    } else {
        ShowEveryRow();
    }
}

void MainWindowLayout::ShowLog(bool shown)
{
    if (!shown) {
        LogFrame().hide();
        return;
    }
    // The list shows every web site where there is room, keeping the log its least height; the
    // window grows when the two would not fit.
    const int needed =
        Panel().minimumHeight() + splitter_.handleWidth() + LogFrame().minimumHeight();
    if (splitter_.height() < needed && window_.isVisible()) {
        window_.resize(window_.width(), window_.height() + needed - splitter_.height());
    }
    LogFrame().show();
    ShowEveryRow();
}

void MainWindowLayout::ShowEveryRow()
{
    const int total = splitter_.height();
    const int room =
        std::max(total / 2, total - splitter_.handleWidth() - LogFrame().minimumHeight());
    SetPanelHeight(std::min(room, PanelHeightForRows(grid_.rowCount())));
}

int MainWindowLayout::ListRowHeight() const
{
    // As the rows are fitted to their texts.
    return QFontMetrics(grid_.font()).height() + 4;
}

int MainWindowLayout::GridHeightForRows(int rows) const
{
    return grid_.horizontalHeader()->sizeHint().height() + rows * ListRowHeight() +
           2 * grid_.frameWidth();
}

int MainWindowLayout::PanelHeightForRows(int rows) const
{
    // The grid's least height holds its header and three rows; the rest of the pane is its texts.
    const int others = Panel().minimumSizeHint().height() - grid_.minimumHeight();
    return others + GridHeightForRows(std::max(rows, kLeastRows));
}

void MainWindowLayout::SetPanelHeight(int height)
{
    // Whole rows only, so no row of the list is cut in half, and never below the least height.
    const int rows =
        kLeastRows + std::max(0, height - PanelHeightForRows(kLeastRows)) / ListRowHeight();
    const int panel = std::max(Panel().minimumHeight(), PanelHeightForRows(rows));
    const int total = splitter_.height();
    splitter_.setSizes({panel, std::max(LogFrame().minimumHeight(), total - panel)});
    // Kept as a drag of the splitter would be.
    ScheduleSave();
}

}  // namespace vantrel
