#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "platform/Files.h"

// One file or folder of a listing (QelDirectoryEntry) and the owning list of them that every
// storage device returns (QelDirectoryList). A list and its entries are used by one thread at a
// time.
namespace vantrel {

inline constexpr uint32_t kSizeMissing = 0xFFFFFFFF;

class QelDirectoryEntry
{
public:
    // Every field zero, the name empty.
    static std::unique_ptr<QelDirectoryEntry> Create();
    // A local file or folder; a last-write time of zero is replaced by the creation time.
    static std::unique_ptr<QelDirectoryEntry> CreateFromFindData(const platform::FindData& data);
    static std::unique_ptr<QelDirectoryEntry> CreateCopy(const QelDirectoryEntry& other);

    bool IsDirectory() const { return (Attributes & platform::kFileAttributeDirectory) != 0; }
    bool IsReadOnly() const { return (Attributes & platform::kFileAttributeReadOnly) != 0; }
    bool IsHidden() const { return (Attributes & platform::kFileAttributeHidden) != 0; }
    bool IsDotEntry() const { return Name == "." || Name == ".."; }
    bool IsLink() const { return (Attributes & platform::kFileAttributeReparsePoint) != 0; }
    // A pipe, socket or device (see platform::kFileAttributeDevice): never read, never published.
    bool IsSpecialFile() const { return (Attributes & platform::kFileAttributeDevice) != 0; }

    void SetDirectory(bool on) { SetBit(platform::kFileAttributeDirectory, on); }
    void SetReadOnly(bool on) { SetBit(platform::kFileAttributeReadOnly, on); }
    void SetHidden(bool on) { SetBit(platform::kFileAttributeHidden, on); }

    uint32_t Attributes = 0;
    // As the local file system lists it; devices without one leave it 0.
    platform::FileTime FileTime;
    // The time the worker compares.
    TDateTime Date = 0;
    // The time as listed, given to the destination after a copy.
    TDateTime Date2 = 0;
    // A half of kSizeMissing means the device could not give the size.
    uint32_t SizeHigh = 0;
    uint32_t SizeLow = 0;
    std::string Name;
    // Which local file or folder this is, links followed (see platform::FindData); 0 when the
    // device cannot tell, as for FTP.
    uint64_t VolumeId = 0;
    uint64_t FileId = 0;

private:
    void SetBit(uint32_t bit, bool on)
    {
        Attributes = on ? (Attributes | bit) : (Attributes & ~bit);
    }
};

// Entries in the order they were added, numbered from 1 to Count(); the list owns them.
class QelDirectoryList
{
public:
    QelDirectoryList() = default;
    QelDirectoryList(const QelDirectoryList&) = delete;
    QelDirectoryList& operator=(const QelDirectoryList&) = delete;

    static std::unique_ptr<QelDirectoryList> Create();
    // The local folder (given without a trailing "\") narrowed by mask, "." and ".." included.
    // A folder that is missing or unreadable, or a mask that matches nothing, gives an empty list.
    // within: see platform::FindFirstFile.
    static std::unique_ptr<QelDirectoryList> CreateFromFolder(const std::string& folder,
                                                              const std::string& mask,
                                                              const platform::Within& within = {});

    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
    // The entry at a position from 1 to Count(); null for any other position (a caller error).
    QelDirectoryEntry* Items(int32_t position) const;
    void Add(std::unique_ptr<QelDirectoryEntry> entry);
    // Frees the entry at the position; false, and nothing changes, outside 1 to Count().
    bool Delete(int32_t position);

    // The first entry whose name equals name, letter case compared or ASCII-folded; null if none.
    QelDirectoryEntry* Find(std::string_view name, bool case_sensitive) const;
    // The last entry whose name equals name ignoring ASCII case, and how many do; null if none.
    QelDirectoryEntry* FindLast(std::string_view name, int32_t* count) const;

    // Names the listed folder holds that no entry can stand for (a local name holding "\"); a
    // device that lists every name leaves it empty.
    std::vector<std::string> Unlisted;

private:
    std::vector<std::unique_ptr<QelDirectoryEntry>> entries_;
};

}  // namespace vantrel
