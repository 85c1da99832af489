#pragma once

#include <QObject>
#include <QRect>
#include <optional>

class QSplitter;
class QTableWidget;
class QTimer;
class QWidget;

// The main window's own values in the settings store, beside the web sites: its outer bounds and
// the height of its web site list ("Top", "Left", "Width", "Height", "PHeight"), and the Turbo
// button ("TurboOn"); placing a window at saved outer bounds; keeping the main window where the
// user left it (MainWindowLayout).
namespace vantrel {

class QelPublicationList;
class TQelRegistry;

struct WindowPlacement
{
    // The window's bounds with the frame the window manager adds.
    QRect outer;
    // The web site list's height above the log.
    int panel_height = 0;
};

// False, with the store's last error, when a value could not be written.
[[nodiscard]] bool SaveWindowPlacement(TQelRegistry& store, const WindowPlacement& placement);
// The saved placement, when it has a size worth restoring: both sides beyond 100 pixels.
std::optional<WindowPlacement> LoadWindowPlacement(TQelRegistry& store);

// The available area (without the desktop's panels) of the screen that holds the centre of the
// outer bounds, else the most of them, else of the primary screen.
QRect ScreenRoomFor(const QRect& outer);
// Gives the top-level window the outer bounds. Before the window manager has framed the window
// its frame is not known: the window then takes the whole outer size, and its corner is given as
// the frame's (the window manager puts the frame there); `FitFrame` takes the frame's share off
// once it is known. Wayland lets a program neither set nor read its window's position: there
// only the size.
void PlaceWindow(QWidget& window, const QRect& outer);
// Once the window has its frame: the size that makes the outer bounds `outer` again. False while
// the window has no frame yet (nothing changed).
bool FitFrame(QWidget& window, const QRect& outer);

bool ReadTurboOn(TQelRegistry& store);
[[nodiscard]] bool WriteTurboOn(TQelRegistry& store, bool on);

// Keeps the main window where the user left it. The saved outer bounds and list height are
// restored before the window is first shown and met once the window manager has framed it; they
// are saved once a move, a resize or a drag of the splitter rests. The splitter holds the web
// site list's pane above the log's frame; the list's pane shows whole rows of its grid, at least
// its header and three rows. GUI thread only; the window, its widgets and the web site list (for
// its settings store) are borrowed and must outlive the placement.
class MainWindowLayout : public QObject
{
public:
    MainWindowLayout(QWidget& window,
                     QSplitter& splitter,
                     QTableWidget& grid,
                     QelPublicationList& publications);

    // The saved bounds and list height, when there are any worth restoring; from now on changes
    // are saved.
    void Restore();
    void Save();
    // A move or a resize of the window.
    void GeometryChanged();
    // A change about to be saved is saved at once.
    void SaveNow();
    // The first show: the list height restored, or every row shown.
    void FirstShown();
    // Shows or hides the log below the list; the window grows when both would not fit.
    void ShowLog(bool shown);

private:
    void ScheduleSave();
    // With the log shown: the list's pane shows every web site where the log keeps its room.
    void ShowEveryRow();
    void SetPanelHeight(int height);
    // The list's pane when its grid shows `rows` whole rows below its header.
    int PanelHeightForRows(int rows) const;
    int GridHeightForRows(int rows) const;
    int ListRowHeight() const;
    QWidget& Panel() const;
    QWidget& LogFrame() const;

    QWidget& window_;
    QSplitter& splitter_;
    QTableWidget& grid_;
    QelPublicationList& publications_;
    bool restored_ = false;
    // Outer bounds restored before the window had its frame; met once it has one.
    std::optional<QRect> pending_outer_;
    // The list's height above the log, as restored or last saved.
    int panel_height_ = 0;
    QTimer* save_timer_ = nullptr;
};

}  // namespace vantrel
