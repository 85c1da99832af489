#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "foundation/QelRegistryU.h"

namespace vantrel {

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

QRect KeepOnDesktop(QRect outer)
{
    QRect desktop;
    for (QScreen* screen : QGuiApplication::screens()) {
        desktop = desktop.united(screen->geometry());
    }
    if (desktop.isEmpty()) {
        return outer;
    }
    if (outer.left() < desktop.left()) {
        outer.moveLeft(desktop.left());
    }
    if (outer.top() < desktop.top()) {
        outer.moveTop(desktop.top());
    }
    if (outer.right() > desktop.right()) {
        outer.moveRight(desktop.right());
    }
    if (outer.bottom() > desktop.bottom()) {
        outer.moveBottom(desktop.bottom());
    }
    return outer;
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

}  // namespace vantrel
