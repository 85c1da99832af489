#include "publishing/QVRProperties.h"

#include "foundation/QelRegistryU.h"

namespace vantrel {
namespace {

constexpr char kOpenLog[] = "OpenLog";
constexpr char kDisplayCompletedMessage[] = "DisplayCompletedMessage";
constexpr char kCompletedMessageTimesout[] = "CompletedMessageTimesout";
constexpr char kCompletedMessageTimeout[] = "CompletedMessageTimeout";
constexpr char kCompletedMessageGrabsAttention[] = "CompletedMessageGrabsAttention";

constexpr int32_t kShortestTimeout = 10;
constexpr int32_t kDefaultTimeout = 60;

// Writes the value when it differs from its default, else deletes it, so that the default
// reads back.
bool WriteUnlessDefault(TQelRegistry& store, const char* name, bool value, bool default_value)
{
    if (value == default_value) {
        store.DeleteValue("", name);
        return true;
    }
    return store.WriteRootBool(name, value);
}

}  // namespace

void TQVRProperties::LoadFromRegistry(TQelRegistry& store)
{
    OpenLog = store.ReadRootBool(kOpenLog, false);
    DisplayCompletedMessage = store.ReadRootBool(kDisplayCompletedMessage, true);
    CompletedMessageTimesout = store.ReadRootBool(kCompletedMessageTimesout, false);
    CompletedMessageTimeout = store.ReadRootInteger(kCompletedMessageTimeout);
    if (CompletedMessageTimeout < kShortestTimeout) {
        CompletedMessageTimeout = kDefaultTimeout;
    }
    CompletedMessageGrabsAttention = store.ReadRootBool(kCompletedMessageGrabsAttention, true);
}

bool TQVRProperties::SaveToRegistry(TQelRegistry& store) const
{
    bool ok = store.WriteRootBool(kOpenLog, OpenLog);
    ok = WriteUnlessDefault(store, kDisplayCompletedMessage, DisplayCompletedMessage, true) && ok;
    ok =
        WriteUnlessDefault(store, kCompletedMessageTimesout, CompletedMessageTimesout, false) && ok;
    ok = store.WriteRootInteger(kCompletedMessageTimeout, CompletedMessageTimeout) && ok;
    ok = WriteUnlessDefault(store, kCompletedMessageGrabsAttention, CompletedMessageGrabsAttention,
                            true) &&
         ok;
    return ok;
}

}  // namespace vantrel
