#pragma once

#include <memory>

#include "platform/Ui.h"

// Everything the platform layer needs from the running QApplication, installed in one go.
namespace vantrel::platform {

class QtSynchronizeDispatcher;

// While it lives, synchronised calls are served by the GUI thread's event loop and message boxes
// are QMessageBoxes (ShowQtMessageBox); the program and each GUI test make one on the GUI thread
// right after the QApplication and destroy it before. Its destruction begins the shut-down of
// synchronised calls and puts the previous message-box handler back.
class QtPlatform
{
public:
    QtPlatform();
    ~QtPlatform();
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

private:
    std::unique_ptr<QtSynchronizeDispatcher> dispatcher_;
    MessageBoxHandler previous_handler_;
};

}  // namespace vantrel::platform
