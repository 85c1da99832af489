#include "platform/Ras.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/Errors.h"

namespace vantrel::platform {
namespace {

std::atomic<RasPhoneBook*> installed_phone_book{nullptr};

}  // namespace

RasPhoneBook* SetRasPhoneBook(RasPhoneBook* phone_book)
{
    return installed_phone_book.exchange(phone_book);
}

uint32_t RasEnumEntries(RasEntryName* entries, uint32_t* byte_count, uint32_t* entry_count)
{
    *entry_count = 0;
    if (entries != nullptr && entries[0].size != sizeof(RasEntryName)) {
        return kErrorInvalidSize;
    }
    RasPhoneBook* phone_book = installed_phone_book.load();
    const std::vector<std::string> names =
        phone_book != nullptr ? phone_book->EntryNames() : std::vector<std::string>();
    const uint64_t needed = uint64_t{names.size()} * sizeof(RasEntryName);
    if (entries == nullptr || needed > *byte_count) {
        *byte_count = static_cast<uint32_t>(needed);
        return kErrorBufferTooSmall;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        RasEntryName& record = entries[i];
        record = RasEntryName{};
        record.size = sizeof(RasEntryName);
        const size_t length = std::min<size_t>(names[i].size(), kRasMaxEntryName);
        std::memcpy(record.entry_name, names[i].data(), length);
        record.entry_name[length] = '\0';
    }
    *entry_count = static_cast<uint32_t>(names.size());
    return 0;
}

uint32_t RasDialEntry(const std::string&)
{
    return kErrorCannotFindPhonebookEntry;
}

}  // namespace vantrel::platform
