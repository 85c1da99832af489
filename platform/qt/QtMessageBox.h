#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QMessageBox;

// Message boxes of the platform layer (platform/Ui.h) shown as QMessageBox.
namespace vantrel::platform {

// Box type bit that raises and activates the box.
inline constexpr uint32_t kMbSetForeground = 0x10000;

// Shows a box of the given type bits (buttons, icon, default button) and returns the id of the
// button chosen (kIdOk, kIdCancel, kIdYes, ...). On the GUI thread it shows the box at once; from
// another thread the box is shown on the GUI thread through a synchronised call while the caller
// waits. Esc and the title bar's close answer Cancel where the box has one and OK in a box of OK
// alone; otherwise they do nothing. Without a QApplication, or once shut-down has begun, the
// box's default button answers at once.
int32_t ShowQtMessageBox(const std::string& text, const std::string& caption, uint32_t type);

// While one lives, the next box ShowQtMessageBox builds on the GUI thread is handed to `attach`
// once its buttons, default and escape button are set, just before it is shown; later boxes are
// left alone, and when boxes go elsewhere (a test's scripted answers) nothing is attached. The
// self-closing box hangs its count-down on its own box this way. GUI thread only; made and
// destroyed around the one box it is meant for.
class QtMessageBoxAttachment
{
public:
    explicit QtMessageBoxAttachment(std::function<void(QMessageBox& box)> attach);
    ~QtMessageBoxAttachment();
    QtMessageBoxAttachment(const QtMessageBoxAttachment&) = delete;
    QtMessageBoxAttachment& operator=(const QtMessageBoxAttachment&) = delete;

    // Hands the box to the attachment in force, once; called by the box's builder.
    static void AttachTo(QMessageBox& box);

private:
    std::function<void(QMessageBox& box)> attach_;
    QtMessageBoxAttachment* previous_;
};

}  // namespace vantrel::platform
