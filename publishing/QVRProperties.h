#pragma once

#include <cstdint>

// The program's global options (TQVRProperties): whether the publication log is shown and how
// the completion message of a publish behaves. The options dialog edits them; the main window
// owns the one object of the program and keeps it in the web site list's settings store.
namespace vantrel {

class TQelRegistry;

// Plain values, used on the main thread. Stored directly in the store's base key.
class TQVRProperties
{
public:
    // The defaults.
    TQVRProperties() = default;

    void SetDefaults() { *this = TQVRProperties(); }
    void Assign(const TQVRProperties& other) { *this = other; }

    // A missing or unreadable value gives its default; a time-out below 10 seconds gives 60,
    // a larger one is kept whatever its size.
    void LoadFromRegistry(TQelRegistry& store);
    // Writes "OpenLog" and "CompletedMessageTimeout" always and the three other values only
    // away from their defaults, deleting them otherwise. Every value is tried; false when the
    // store refused a write, and its LastErrorText() says why.
    [[nodiscard]] bool SaveToRegistry(TQelRegistry& store) const;

    bool OpenLog = false;
    bool DisplayCompletedMessage = true;
    bool CompletedMessageTimesout = false;
    int32_t CompletedMessageTimeout = 60;  // seconds
    bool CompletedMessageGrabsAttention = true;
};

}  // namespace vantrel
