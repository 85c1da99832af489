#pragma once

#include <QRect>
#include <optional>

class QWidget;

// The main window's own values in the settings store, beside the web sites: its outer bounds and
// the height of its web site list ("Top", "Left", "Width", "Height", "PHeight"), and the Turbo
// button ("TurboOn"); placing a window at saved outer bounds.
namespace vantrel {

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

// The outer bounds moved inside the desktop (every screen together), right and bottom last, so
// that a window larger than the desktop lies against its right and bottom edges.
QRect KeepOnDesktop(QRect outer);
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

}  // namespace vantrel
