#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Dial-up networking entries. Linux has no remote-access phone book: the system's book lists no
// entries and dialling fails with 623. Tests install a phone book of their own.
namespace vantrel::platform {

inline constexpr uint32_t kRasMaxEntryName = 256;

// One record of an entry listing, laid out as the remote-access records are (264 bytes).
struct RasEntryName
{
    uint32_t size = 0;  // the caller sets the first record's to sizeof(RasEntryName)
    char entry_name[kRasMaxEntryName + 1] = {};
};
static_assert(sizeof(RasEntryName) == 264);

// The entries an enumeration lists, in order. Called on the thread that enumerates.
class RasPhoneBook
{
public:
    virtual ~RasPhoneBook() = default;
    virtual std::vector<std::string> EntryNames() = 0;
};

// Installs the phone book that every later call uses (borrowed; null puts back the system's,
// which is empty) and returns the one it replaces.
RasPhoneBook* SetRasPhoneBook(RasPhoneBook* phone_book);

// Fills `entries` with the phone book's entries: 0 and *entry_count the number listed; 603 when
// *byte_count is too small for them all (then *byte_count is the size needed and nothing is
// listed); 632 when the first record's size field is not 264. Names longer than 256 characters
// are cut to 256.
uint32_t RasEnumEntries(RasEntryName* entries, uint32_t* byte_count, uint32_t* entry_count);

// Dials an entry; the result is the remote-access error: always 623 (no such entry) here.
uint32_t RasDialEntry(const std::string& entry_name);

}  // namespace vantrel::platform
