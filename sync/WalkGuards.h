#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "storage/QelDirectoryListUnit.h"

namespace vantrel {

// Where two trees meet: the source and destination roots lie as `roots` says, or, where that is
// kApart, a folder below them is one of both, at `source_path` below the source root and at
// `destination_path` below the destination root.
struct TreeOverlap
{
    platform::FolderRelation roots = platform::FolderRelation::kApart;
    std::string source_path;
    std::string destination_path;
};

// What one run's walk knows to keep it inside the site: the two roots and the folders above the
// source root by identity, the source folders from the root down to the one being passed, and
// every folder of the source tree. It answers from listings alone, whatever device gave them; an
// identity with a file number of 0 is unknown and matches nothing.
class WalkGuards
{
public:
    using IdentityOf = std::function<std::optional<platform::FolderIdentity>(const std::string&)>;

    // Forgets the last run.
    void Reset();

    // Learns the folders above the source root: those above it as named (through its links),
    // then those above it as it lies on disk, up to the file system root. `identity` gives the
    // identity of a folder by its path ("\" separated; "\.." one level up), none when unknown.
    void FindSourceAncestors(const std::string& source_root, const IdentityOf& identity);
    // The folder lies above the source root, the file system root included.
    bool AboveSourceRoot(const platform::FolderIdentity& id) const;

    // Every folder of the source tree, with its path below the root, gathered before the walk.
    void KeepSourceFolders(platform::FolderTree folders) { source_folders_ = std::move(folders); }
    // Of the folders the destination tree and the source tree both hold, the one nearest the
    // roots (the others lie in it).
    std::optional<TreeOverlap> NearestSharedFolder(const platform::FolderTree& destination) const;

    // Takes the source folder at `folder` ("" for the root) onto the walk's path by its own
    // listing. Refused (false, not taken) where the folder links back into the path or above the
    // root, or, unless its parent listed it as a link (`listed_as_link`), where its listing's
    // ".." is another folder of the path: a folder on the way was swapped for a link since its
    // parent was listed.
    bool Enter(const std::string& folder, const QelDirectoryList& listing, bool listed_as_link);
    // Takes the folder entered last off the path.
    void Leave() { path_.pop_back(); }
    // The folder being passed.
    const platform::FolderIdentity& Passing() const { return path_.back(); }
    // A source folder entry that is the root, a folder above it (the file system root included)
    // or a folder on the path: following it would publish without end, or publish what lies
    // around the site.
    bool LinksBackIntoItsPath(const QelDirectoryEntry& s) const;

    // Whether the folder being passed at `folder` is one folder with the other tree's root, the
    // destination one holds the source root, or is one of the source's folders. `source` is the
    // identity of the source folder (or subfolder), `destination` that of the destination
    // folder; either may be unknown. The destination root's identity is learnt at folder "".
    std::optional<TreeOverlap> MeetsOtherRoot(const std::string& folder,
                                              const platform::FolderIdentity& source,
                                              const platform::FolderIdentity& destination);
    // A real folder of a destination listing that is the source root or lies above it.
    bool HoldsSourceRoot(const QelDirectoryEntry& d) const;

    // Whether the run must end: once `root_replaced` said so or End was called, it is not asked
    // again.
    bool MustEnd(const std::function<bool()>& root_replaced);
    void End() { must_end_ = true; }

    // A source root listing nothing beside a destination holding an entry the run would delete
    // (`deleted`): most likely a share that is not mounted.
    static bool EmptySourceWouldEmpty(const QelDirectoryList& src,
                                      const QelDirectoryList& dst,
                                      const std::function<bool(const QelDirectoryEntry&)>& deleted);
    // The run has met a source file it publishes; until then no deletion runs. True the first
    // time only.
    bool NotePublishedFile();
    bool PublishedAFile() const { return publishes_a_file_; }

    // The identity a listing gives its own folder ("."); unknown without one.
    static platform::FolderIdentity OwnIdentity(const QelDirectoryList* listing);

private:
    bool HoldsFolderBeingPassed(const platform::FolderIdentity& id) const;

    platform::FolderIdentity source_root_id_;
    platform::FolderIdentity destination_root_id_;
    std::vector<platform::FolderIdentity> source_ancestor_ids_;
    // Source folders from the root down to the one being passed.
    std::vector<platform::FolderIdentity> path_;
    // Empty where a device cannot tell identities.
    platform::FolderTree source_folders_;
    bool must_end_ = false;
    bool publishes_a_file_ = false;
};

}  // namespace vantrel
