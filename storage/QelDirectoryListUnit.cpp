#include "storage/QelDirectoryListUnit.h"

#include <algorithm>

#include "foundation/QelStringFunctions.h"

namespace vantrel {
namespace {

constexpr size_t kMaxFindName = 260;

}  // namespace

std::unique_ptr<QelDirectoryEntry> QelDirectoryEntry::Create()
{
    return std::make_unique<QelDirectoryEntry>();
}

std::unique_ptr<QelDirectoryEntry> QelDirectoryEntry::CreateFromFindData(
    const platform::FindData& data)
{
    auto entry = Create();
    entry->Name = data.file_name.substr(0, std::min(data.file_name.find('\0'), kMaxFindName));
    entry->SizeLow = data.size_low;
    entry->SizeHigh = data.size_high;
    entry->Attributes = data.attributes;
    entry->FileTime = data.last_write_time.Value() == 0 ? data.creation_time : data.last_write_time;
    entry->Date = FileTimeToLocalDateTime(entry->FileTime);
    entry->Date2 = entry->Date;
    entry->VolumeId = data.volume_id;
    entry->FileId = data.file_id;
    return entry;
}

std::unique_ptr<QelDirectoryEntry> QelDirectoryEntry::CreateCopy(const QelDirectoryEntry& other)
{
    return std::make_unique<QelDirectoryEntry>(other);
}

std::unique_ptr<QelDirectoryList> QelDirectoryList::Create()
{
    return std::make_unique<QelDirectoryList>();
}

std::unique_ptr<QelDirectoryList> QelDirectoryList::CreateFromFolder(const std::string& folder,
                                                                     const std::string& mask,
                                                                     const platform::Within& within)
{
    auto list = Create();
    const std::string pattern = folder + "\\" + (mask.empty() ? std::string("*") : mask);
    platform::FindData data;
    std::unique_ptr<platform::FindSearch> search = platform::FindFirstFile(pattern, &data, within);
    if (search == nullptr) {
        return list;
    }
    list->Unlisted = search->Unlisted();
    do {
        list->Add(QelDirectoryEntry::CreateFromFindData(data));
    } while (platform::FindNextFile(*search, &data));
    platform::FindClose(search);
    return list;
}

QelDirectoryEntry* QelDirectoryList::Items(int32_t position) const
{
    if (position < 1 || position > Count()) {
        return nullptr;
    }
    return entries_[static_cast<size_t>(position) - 1].get();
}

void QelDirectoryList::Add(std::unique_ptr<QelDirectoryEntry> entry)
{
    if (entry != nullptr) {
        entries_.push_back(std::move(entry));
    }
}

bool QelDirectoryList::Delete(int32_t position)
{
    if (position < 1 || position > Count()) {
        return false;
    }
    entries_.erase(entries_.begin() + (position - 1));
    return true;
}

QelDirectoryEntry* QelDirectoryList::Find(std::string_view name, bool case_sensitive) const
{
    if (case_sensitive) {
        for (const auto& entry : entries_) {
            if (entry->Name == name) {
                return entry.get();
            }
        }
        return nullptr;
    }
    const std::string folded = AsciiLowerCase(name);
    for (const auto& entry : entries_) {
        if (AsciiLowerCase(entry->Name) == folded) {
            return entry.get();
        }
    }
    return nullptr;
}

QelDirectoryEntry* QelDirectoryList::FindLast(std::string_view name, int32_t* count) const
{
    const std::string folded = AsciiLowerCase(name);
    QelDirectoryEntry* last = nullptr;
    *count = 0;
    for (const auto& entry : entries_) {
        if (AsciiLowerCase(entry->Name) == folded) {
            ++*count;
            last = entry.get();
        }
    }
    return last;
}

}  // namespace vantrel
