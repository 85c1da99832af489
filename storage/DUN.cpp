#include "storage/DUN.h"

#include <cstring>

#include "platform/Errors.h"

namespace vantrel {
namespace {

// No phone book comes near this; a library that kept asking for more would otherwise exhaust
// memory.
constexpr size_t kMaxRecords = 65536;

}  // namespace

int32_t EnumDialUpEntries(std::vector<platform::RasEntryName>* buffer)
{
    for (size_t records = 8; records <= kMaxRecords; records *= 2) {
        buffer->assign(records, platform::RasEntryName{});
        (*buffer)[0].size = sizeof(platform::RasEntryName);
        auto byte_count = static_cast<uint32_t>(records * sizeof(platform::RasEntryName));
        uint32_t entry_count = 0;
        const uint32_t result = platform::RasEnumEntries(buffer->data(), &byte_count, &entry_count);
        // The size the library asks for is not used: the buffer only doubles.
        if (result == platform::kErrorBufferTooSmall) {
            continue;
        }
        if (result != 0) {
            return 0;
        }
        return static_cast<int32_t>(entry_count);
    }
    return 0;
}

std::optional<std::vector<std::string>> GetDialUpEntryNames()
{
    std::vector<platform::RasEntryName> buffer;
    const int32_t count = EnumDialUpEntries(&buffer);
    if (count == 0) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i) {
        const char* field = buffer[i].entry_name;
        names.emplace_back(field, strnlen(field, sizeof buffer[i].entry_name));
    }
    return names;
}

}  // namespace vantrel
