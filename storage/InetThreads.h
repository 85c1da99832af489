#pragma once

#include <functional>
#include <thread>

// The threads of the connection watchdog and of the connect attempts with a time-out: a small
// wrapper of our own over std::thread, so that they can move onto the platform's thread layer.
namespace vantrel {

enum class ThreadPriority
{
    kNormal,
    // Below the threads that do the publishing (best effort: a higher nice value).
    kLower,
};

// A joinable thread running body.
std::thread StartThread(std::function<void()> body, ThreadPriority priority);

}  // namespace vantrel
