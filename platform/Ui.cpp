#include "platform/Ui.h"

#include <cstdio>
#include <mutex>

namespace vantrel::platform {
namespace {

std::mutex handler_mutex;
MessageBoxHandler* installed_handler = nullptr;  // Guarded by handler_mutex.

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(handler_mutex);
    if (installed_handler == nullptr) {
        // Never destroyed, so a box asked for during shut-down still finds a handler slot.
        installed_handler = new MessageBoxHandler();
    }
    MessageBoxHandler previous = std::move(*installed_handler);
    *installed_handler = std::move(handler);
    return previous;
}

int32_t MessageBox(const std::string& text, const std::string& caption, uint32_t type)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(handler_mutex);
        if (installed_handler != nullptr) {
            handler = *installed_handler;
        }
    }
    if (handler) {
        return handler(text, caption, type);
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return DefaultMessageBoxButton(type);
}

int32_t DefaultMessageBoxButton(uint32_t type)
{
    struct Buttons
    {
        int32_t ids[3];
        int count;
    };
    static constexpr Buttons kButtons[] = {
        {{kIdOk}, 1},
        {{kIdOk, kIdCancel}, 2},
        {{kIdAbort, kIdRetry, kIdIgnore}, 3},
        {{kIdYes, kIdNo, kIdCancel}, 3},
        {{kIdYes, kIdNo}, 2},
        {{kIdRetry, kIdCancel}, 2},
    };
    const uint32_t kind = type & 0xF;
    const Buttons& buttons = kind < std::size(kButtons) ? kButtons[kind] : kButtons[0];
    const uint32_t wanted = (type >> 8) & 0xF;
    // A default beyond the box's buttons falls back to the first, as the system does.
    return buttons.ids[wanted < static_cast<uint32_t>(buttons.count) ? wanted : 0];
}

}  // namespace vantrel::platform
