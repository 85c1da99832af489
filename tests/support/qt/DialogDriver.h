#pragma once

#include <functional>

class QWidget;

// Drives modal windows in tests (and in the screenshots tool).
namespace vantrel::testing {

struct ModalRun
{
    bool script_ran = false;  // A modal window was shown and the script ran on it.
    bool left_open = false;   // The script returned with the window still open (it was closed).
};

// Calls execute, which shows a modal window and returns once it is closed (a dialog's Execute),
// and runs script on that window as soon as its loop runs. The script looks, types and clicks;
// it should close the window. A window the script leaves open is rejected, so the test ends
// rather than hangs, and the result says so. Assert after RunModal returns: a failed QVERIFY
// inside the script only leaves the script. GUI thread only.
ModalRun RunModal(const std::function<void(QWidget* modal)>& script,
                  const std::function<void()>& execute);

}  // namespace vantrel::testing
