#include "tests/support/MemoryStorageDevice.h"

#include <algorithm>
#include <mutex>

#include "foundation/QelStringFunctions.h"
#include "foundation/StringMatches.h"
#include "platform/Errors.h"

namespace vantrel::testing {
namespace {

// Devices by label. Threaded tests make a run's devices on the main thread while the previous
// run frees its own on the publisher thread, so the registry has a lock, and a device removes
// only its own entry, never a newer device's of the same label.
std::mutex registry_lock;
std::map<std::string, MemoryStorageDevice*> registry;  // Guarded by registry_lock.

MemoryStorageDevice* Registered(const std::string& label)
{
    std::lock_guard<std::mutex> lock(registry_lock);
    const auto it = registry.find(label);
    return it == registry.end() ? nullptr : it->second;
}

std::string Join(const std::string& folder, const std::string& name)
{
    return name.empty() ? folder : folder + "\\" + name;
}

std::string ToCrLf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

}  // namespace

MemoryStorageDevice::MemoryStorageDevice(std::string label, EventLog* log)
    : label_(std::move(label))
    , log_(log)
{
    std::lock_guard<std::mutex> lock(registry_lock);
    registry[label_] = this;
}

MemoryStorageDevice::~MemoryStorageDevice()
{
    {
        std::lock_guard<std::mutex> lock(registry_lock);
        const auto it = registry.find(label_);
        if (it != registry.end() && it->second == this) {
            registry.erase(it);
        }
    }
    if (log_ != nullptr) {
        log_->push_back(label_ + ".freed");
    }
}

std::string MemoryStorageDevice::Canonical(const std::string& path) const
{
    std::string canonical = ReplaceAll(path, "\\\\", "\\");
    if (canonical.size() > 1 && canonical.back() == '\\') {
        canonical.pop_back();
    }
    return canonical;
}

std::string MemoryStorageDevice::Key(const std::string& path) const
{
    const std::string canonical = Canonical(path);
    return case_sensitive ? canonical : AsciiLowerCase(canonical);
}

void MemoryStorageDevice::AddFolder(const std::string& path, TDateTime date)
{
    MemoryNode node;
    node.folder = true;
    node.date = date;
    nodes_[Key(path)] = {Canonical(path), node};
}

void MemoryStorageDevice::AddFile(const std::string& path,
                                  const std::string& content,
                                  TDateTime date)
{
    MemoryNode node;
    node.content = content;
    node.date = date;
    nodes_[Key(path)] = {Canonical(path), node};
}

MemoryNode* MemoryStorageDevice::Node(const std::string& path)
{
    const auto it = nodes_.find(Key(path));
    return it == nodes_.end() ? nullptr : &it->second.second;
}

std::vector<std::string> MemoryStorageDevice::Tree(const std::string& root)
{
    const std::string prefix = Key(root) + "\\";
    std::vector<std::string> names;
    for (const auto& [key, value] : nodes_) {
        if (key.compare(0, prefix.size(), prefix) == 0) {
            names.push_back(value.first.substr(prefix.size()) + (value.second.folder ? "\\" : ""));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool MemoryStorageDevice::Call(const std::string& line)
{
    const std::string logged = label_ + "." + line;
    if (on_call) {
        on_call(logged);
    }
    if (log_ != nullptr) {
        log_->push_back(logged);
    }
    if (fail_when && fail_when(logged)) {
        last_error_ = platform::kErrorAccessDenied;
        return false;
    }
    return true;
}

uint8_t MemoryStorageDevice::GetDeviceType()
{
    return device_type;
}

bool MemoryStorageDevice::SupportsTransferModes()
{
    return transfer_modes;
}

bool MemoryStorageDevice::KeepsFileDates()
{
    return keeps_file_dates;
}

bool MemoryStorageDevice::SupportsPermissions()
{
    return permissions;
}

uint32_t MemoryStorageDevice::GetLastError()
{
    return last_error_;
}

std::string MemoryStorageDevice::GetLastErrorText()
{
    return "Memory device error " + std::to_string(last_error_) + ".";
}

bool MemoryStorageDevice::Open(const std::string& address,
                               const std::string&,
                               const std::string&,
                               const std::string&)
{
    return Call("Open(" + address + ")");
}

bool MemoryStorageDevice::SetPermissions(const std::string& folder,
                                         const std::string& name,
                                         const std::string& permission)
{
    if (!Call("SetPermissions(" + folder + ", " + name + ", " + permission + ")")) {
        return false;
    }
    MemoryNode* node = name == "." ? Node(folder) : Node(Join(folder, name));
    if (node == nullptr) {
        last_error_ = platform::kErrorFileNotFound;
        return false;
    }
    node->permission = permission;
    return true;
}

bool MemoryStorageDevice::PutFile(const std::string& local_path,
                                  const std::string& folder,
                                  const std::string& name,
                                  bool binary)
{
    if (!Call("PutFile(" + local_path + ", " + folder + ", " + name + ", " +
              (binary ? "binary" : "text") + ")")) {
        return false;
    }
    // "mem:" + label + ":" + path names a file of any memory device.
    const std::string rest = After(local_path, "mem:");
    MemoryStorageDevice* source = Registered(Before(rest, ":"));
    MemoryNode* from = source == nullptr ? nullptr : source->Node(After(rest, ":"));
    const MemoryNode* parent = Node(folder);
    if (from == nullptr || from->folder) {
        last_error_ = platform::kErrorFileNotFound;
        return false;
    }
    if (parent == nullptr || !parent->folder) {
        last_error_ = platform::kErrorPathNotFound;
        return false;
    }
    const std::string path = Join(folder, name);
    MemoryNode* existing = Node(path);
    if (existing != nullptr && (existing->folder || existing->read_only)) {
        last_error_ = platform::kErrorAccessDenied;
        return false;
    }
    MemoryNode node;
    node.content = binary ? from->content : ToCrLf(from->content);
    node.date = upload_date != 0 ? upload_date : from->date;
    const std::string written = existing != nullptr ? nodes_[Key(path)].first : Canonical(path);
    nodes_[Key(path)] = {written, node};
    return true;
}

bool MemoryStorageDevice::CreateDirectory(const std::string& path)
{
    if (!Call("CreateDirectory(" + path + ")")) {
        return false;
    }
    const MemoryNode* parent = Node(BeforeLast(Canonical(path), '\\'));
    if (Exists(path)) {
        last_error_ = platform::kErrorAlreadyExists;
        return false;
    }
    if (parent == nullptr || !parent->folder) {
        last_error_ = platform::kErrorPathNotFound;
        return false;
    }
    AddFolder(path);
    return true;
}

bool MemoryStorageDevice::DeleteFile(const std::string& folder,
                                     const std::string& name,
                                     bool report_errors)
{
    if (!Call("DeleteFile(" + folder + ", " + name + ", " + (report_errors ? "report" : "quiet") +
              ")")) {
        return false;
    }
    const MemoryNode* node = Node(Join(folder, name));
    if (node == nullptr || node->folder) {
        last_error_ = platform::kErrorFileNotFound;
        return false;
    }
    if (node->read_only) {
        last_error_ = platform::kErrorAccessDenied;
        return false;
    }
    nodes_.erase(Key(Join(folder, name)));
    return true;
}

bool MemoryStorageDevice::RemoveDirectory(const std::string& path)
{
    if (!Call("RemoveDirectory(" + path + ")")) {
        return false;
    }
    const MemoryNode* node = Node(path);
    if (node == nullptr || !node->folder) {
        last_error_ = platform::kErrorPathNotFound;
        return false;
    }
    if (!Tree(path).empty()) {
        last_error_ = platform::kErrorDirNotEmpty;
        return false;
    }
    nodes_.erase(Key(path));
    return true;
}

bool MemoryStorageDevice::ChangeDirectory(const std::string& path)
{
    if (!Call("ChangeDirectory(" + path + ")")) {
        return false;
    }
    const MemoryNode* node = Node(path);
    return node != nullptr && node->folder;
}

bool MemoryStorageDevice::ReleaseFile(const std::string& local_path)
{
    return Call("ReleaseFile(" + local_path + ")");
}

std::string MemoryStorageDevice::GetFile(const std::string& folder, const std::string& name)
{
    if (!Call("GetFile(" + folder + ", " + name + ")")) {
        return std::string();
    }
    return "mem:" + label_ + ":" + Join(folder, name);
}

std::unique_ptr<QelDirectoryEntry> MemoryStorageDevice::EntryFor(const std::string& path,
                                                                 const std::string& name)
{
    const MemoryNode* node = Node(path);
    auto entry = QelDirectoryEntry::Create();
    entry->Name = name;
    entry->SetDirectory(node->folder);
    entry->SetReadOnly(node->read_only);
    entry->Date = entry->Date2 = node->date;
    if (node->size_unknown) {
        entry->SizeHigh = entry->SizeLow = kSizeMissing;
    } else if (!node->folder) {
        entry->SizeLow = static_cast<uint32_t>(node->content.size());
    }
    return entry;
}

bool MemoryStorageDevice::TakeListingFailure()
{
    const bool failed = listing_failed_;
    listing_failed_ = false;
    return failed;
}

std::unique_ptr<QelDirectoryList> MemoryStorageDevice::ListDirectory(const std::string& folder,
                                                                     const std::string& mask,
                                                                     bool cache_allowed)
{
    auto list = QelDirectoryList::Create();
    if (!Call("ListDirectory(" + folder + ", " + mask + ", " +
              (cache_allowed ? "cached" : "fresh") + ")")) {
        listing_failed_ = true;
        return list;
    }
    const MemoryNode* self = Node(folder);
    if (self == nullptr || !self->folder) {
        return list;
    }
    const std::string parent_key = Key(folder);
    std::vector<std::pair<std::string, std::string>> children;  // folded name, name
    for (const auto& [key, value] : nodes_) {
        if (BeforeLast(key, '\\') == parent_key && key != parent_key) {
            const std::string name = AfterLast(value.first, '\\');
            if (mask.empty() || MatchesWildcard(name, mask, !case_sensitive)) {
                children.emplace_back(AsciiLowerCase(name), name);
            }
        }
    }
    std::sort(children.begin(), children.end());
    if (lists_dot_entries && mask.empty()) {
        auto dot = EntryFor(folder, ".");
        list->Add(std::move(dot));
        auto dot_dot = QelDirectoryEntry::Create();
        dot_dot->Name = "..";
        dot_dot->SetDirectory(true);
        list->Add(std::move(dot_dot));
    }
    for (const auto& [folded, name] : children) {
        list->Add(EntryFor(Join(folder, name), name));
    }
    return list;
}

bool MemoryStorageDevice::RenameFile(const std::string& folder,
                                     const std::string& old_name,
                                     const std::string& new_name)
{
    if (!Call("RenameFile(" + folder + ", " + old_name + ", " + new_name + ")")) {
        return false;
    }
    const std::string from = Canonical(Join(folder, old_name));
    const std::string to = Canonical(Join(folder, new_name));
    if (!Exists(from)) {
        last_error_ = platform::kErrorFileNotFound;
        return false;
    }
    const bool same_file = Key(from) == Key(to);
    if (same_file && !keeps_case) {
        return true;
    }
    if (Exists(to) && !same_file) {
        last_error_ = platform::kErrorAlreadyExists;
        return false;
    }
    // Move the node and everything below it.
    std::map<std::string, std::pair<std::string, MemoryNode>> moved;
    const std::string from_key = Key(from);
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        if (it->first == from_key ||
            it->first.compare(0, from_key.size() + 1, from_key + "\\") == 0) {
            const std::string written = to + it->second.first.substr(from.size());
            moved[Key(written)] = {written, it->second.second};
            it = nodes_.erase(it);
        } else {
            ++it;
        }
    }
    nodes_.insert(moved.begin(), moved.end());
    return true;
}

bool MemoryStorageDevice::SetReadOnly(const std::string& folder,
                                      const std::string& name,
                                      bool read_only,
                                      bool force)
{
    Call("SetReadOnly(" + folder + ", " + name + ", " + (read_only ? "on" : "off") + ", " +
         (force ? "force" : "normal") + ")");
    if (MemoryNode* node = Node(Join(folder, name))) {
        node->read_only = read_only;
    }
    return true;
}

bool MemoryStorageDevice::GetExactFileDate(const std::string& folder,
                                           const QelDirectoryEntry& listed,
                                           TDateTime* date)
{
    if (!Call("GetExactFileDate(" + folder + ", " + listed.Name + ")")) {
        return false;
    }
    const MemoryNode* node = Node(Join(folder, listed.Name));
    if (node == nullptr || node->exact_date == 0) {
        return false;
    }
    *date = node->exact_date;
    return true;
}

bool MemoryStorageDevice::SetFileDate(const std::string& folder,
                                      const std::string& name,
                                      TDateTime date)
{
    if (!Call("SetFileDate(" + folder + ", " + name + ")")) {
        return false;
    }
    MemoryNode* node = Node(Join(folder, name));
    if (node == nullptr) {
        last_error_ = platform::kErrorFileNotFound;
        return false;
    }
    node->date = date;
    return true;
}

}  // namespace vantrel::testing
