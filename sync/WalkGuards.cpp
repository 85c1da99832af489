#include "sync/WalkGuards.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace vantrel {
namespace {

platform::FolderIdentity EntryIdentity(const QelDirectoryEntry& e)
{
    return {e.VolumeId, e.FileId};
}

}  // namespace

void WalkGuards::Reset()
{
    *this = WalkGuards{};
}

void WalkGuards::FindSourceAncestors(const std::string& source_root, const IdentityOf& identity)
{
    source_ancestor_ids_.clear();
    // The folders above the root as the user named it, through its links...
    for (std::string path = source_root;
         path.rfind('\\') != std::string::npos && path.rfind('\\') > 0;) {
        path.resize(path.rfind('\\'));
        if (const auto id = identity(path)) {
            source_ancestor_ids_.push_back(*id);
        }
    }
    // ...and as they lie on disk, up to the file system root.
    if (const auto root = identity(source_root)) {
        std::string path = source_root;
        const std::vector<platform::FolderIdentity> chain = platform::FoldersUpToRoot(*root, [&] {
            path += "\\..";
            return identity(path);
        });
        source_ancestor_ids_.insert(source_ancestor_ids_.end(), chain.begin() + 1, chain.end());
    }
}

bool WalkGuards::AboveSourceRoot(const platform::FolderIdentity& id) const
{
    return std::find(source_ancestor_ids_.begin(), source_ancestor_ids_.end(), id) !=
           source_ancestor_ids_.end();
}

bool WalkGuards::HoldsFolderBeingPassed(const platform::FolderIdentity& id) const
{
    return std::find(path_.begin(), path_.end(), id) != path_.end() || AboveSourceRoot(id);
}

std::optional<TreeOverlap> WalkGuards::NearestSharedFolder(
    const platform::FolderTree& destination) const
{
    std::optional<std::tuple<size_t, std::string, std::string>> nearest;
    for (const auto& [id, destination_path] : destination) {
        const auto shared = source_folders_.find(id);
        if (shared == source_folders_.end()) {
            continue;
        }
        const auto depth =
            static_cast<size_t>(std::count(shared->second.begin(), shared->second.end(), '\\') +
                                std::count(destination_path.begin(), destination_path.end(), '\\'));
        auto found = std::make_tuple(depth, shared->second, destination_path);
        if (!nearest || found < *nearest) {
            nearest = std::move(found);
        }
    }
    if (!nearest) {
        return std::nullopt;
    }
    return TreeOverlap{platform::FolderRelation::kApart, std::get<1>(*nearest),
                       std::get<2>(*nearest)};
}

bool WalkGuards::Enter(const std::string& folder,
                       const QelDirectoryList& listing,
                       bool listed_as_link)
{
    const platform::FolderIdentity id = OwnIdentity(&listing);
    // The folder listed is judged, not the entry its parent listed: the path may have been
    // swapped for a link since.
    if (folder.empty()) {
        source_root_id_ = id;
    } else if (id.second != 0 && HoldsFolderBeingPassed(id)) {
        return false;
    } else if (const QelDirectoryEntry* parent = listing.Find("..", true);
               !listed_as_link && parent != nullptr && parent->FileId != 0 && !path_.empty()) {
        // A real folder's ".." is the folder the walk came from (also below a mount point); any
        // other folder is only judged when it holds the site, so that numbers a file system does
        // not keep from one look to the next refuse nothing.
        const platform::FolderIdentity up = EntryIdentity(*parent);
        if (up != path_.back() && HoldsFolderBeingPassed(up)) {
            return false;
        }
    }
    path_.push_back(id);
    return true;
}

bool WalkGuards::LinksBackIntoItsPath(const QelDirectoryEntry& s) const
{
    return s.FileId != 0 && HoldsFolderBeingPassed(EntryIdentity(s));
}

std::optional<TreeOverlap> WalkGuards::MeetsOtherRoot(const std::string& folder,
                                                      const platform::FolderIdentity& source,
                                                      const platform::FolderIdentity& destination)
{
    using platform::FolderRelation;
    if (folder.empty() && destination.second != 0) {
        destination_root_id_ = destination;
    }
    TreeOverlap overlap;
    if (source.second != 0 && source == destination_root_id_) {
        overlap.roots = folder.empty() ? FolderRelation::kSame : FolderRelation::kSecondInsideFirst;
    } else if (destination.second != 0 && destination == source_root_id_) {
        overlap.roots = folder.empty() ? FolderRelation::kSame : FolderRelation::kFirstInsideSecond;
    } else if (destination.second != 0 && AboveSourceRoot(destination)) {
        overlap.roots = FolderRelation::kFirstInsideSecond;
    }
    if (overlap.roots != FolderRelation::kApart) {
        return overlap;
    }
    const auto shared =
        destination.second != 0 ? source_folders_.find(destination) : source_folders_.end();
    if (shared == source_folders_.end()) {
        return std::nullopt;
    }
    overlap.source_path = shared->second;
    overlap.destination_path = folder;
    return overlap;
}

bool WalkGuards::HoldsSourceRoot(const QelDirectoryEntry& d) const
{
    const platform::FolderIdentity id = EntryIdentity(d);
    return id.second != 0 && d.IsDirectory() && !d.IsLink() && !d.IsDotEntry() &&
           (id == source_root_id_ || AboveSourceRoot(id));
}

bool WalkGuards::MustEnd(const std::function<bool()>& root_replaced)
{
    if (!must_end_ && root_replaced()) {
        must_end_ = true;
    }
    return must_end_;
}

bool WalkGuards::EmptySourceWouldEmpty(const QelDirectoryList& src,
                                       const QelDirectoryList& dst,
                                       const std::function<bool(const QelDirectoryEntry&)>& deleted)
{
    if (!src.Unlisted.empty()) {
        return false;
    }
    for (int32_t i = 1; i <= src.Count(); ++i) {
        if (!src.Items(i)->IsDotEntry()) {
            return false;
        }
    }
    for (int32_t i = 1; i <= dst.Count(); ++i) {
        const QelDirectoryEntry& d = *dst.Items(i);
        if (!d.IsDotEntry() && deleted(d)) {
            return true;
        }
    }
    return false;
}

bool WalkGuards::NotePublishedFile()
{
    const bool first = !publishes_a_file_;
    publishes_a_file_ = true;
    return first;
}

platform::FolderIdentity WalkGuards::OwnIdentity(const QelDirectoryList* listing)
{
    const QelDirectoryEntry* self = listing != nullptr ? listing->Find(".", true) : nullptr;
    return self != nullptr ? EntryIdentity(*self) : platform::FolderIdentity{};
}

}  // namespace vantrel
