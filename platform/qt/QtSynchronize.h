#pragma once

#include <memory>

// The Qt side of the synchronised call: the GUI thread's event loop serves the calls that other
// threads queue with platform::Synchronize.
namespace vantrel::platform {

// While it lives, every synchronised call queued by another thread wakes the GUI thread through
// a queued invocation in its event loop (nested loops of modal windows included), which then runs
// the waiting calls. Made and destroyed on the GUI thread while the QApplication exists; its
// destruction begins the shut-down of synchronised calls, so no thread waits for a loop that is
// gone.
class QtSynchronizeDispatcher
{
public:
    QtSynchronizeDispatcher();
    ~QtSynchronizeDispatcher();
    QtSynchronizeDispatcher(const QtSynchronizeDispatcher&) = delete;
    QtSynchronizeDispatcher& operator=(const QtSynchronizeDispatcher&) = delete;

private:
    struct Target;
    std::shared_ptr<Target> target_;
};

}  // namespace vantrel::platform
