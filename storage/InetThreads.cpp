#include "storage/InetThreads.h"

#include <unistd.h>

#include <sys/resource.h>

namespace vantrel {

std::thread StartThread(std::function<void()> body, ThreadPriority priority)
{
    return std::thread([body = std::move(body), priority] {
        if (priority == ThreadPriority::kLower) {
            const id_t self = static_cast<id_t>(gettid());
            setpriority(PRIO_PROCESS, self, getpriority(PRIO_PROCESS, self) + 1);
        }
        body();
    });
}

}  // namespace vantrel
