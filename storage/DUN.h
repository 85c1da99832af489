#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Ras.h"

// The dial-up networking entries of the current user's default phone book, in the order the
// remote-access library lists them.
namespace vantrel {

// The number of entries, with `buffer` holding that many records; 0 when there are none or the
// listing fails. The buffer starts at 8 records and doubles while the library says it is too
// small.
int32_t EnumDialUpEntries(std::vector<platform::RasEntryName>* buffer);

// One name per entry; nothing (not an empty list) when there are no entries or the listing fails.
std::optional<std::vector<std::string>> GetDialUpEntryNames();

}  // namespace vantrel
