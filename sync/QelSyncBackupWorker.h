#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/Files.h"
#include "storage/QelDirectoryListUnit.h"
#include "storage/QelStorage.h"
#include "sync/QelSyncBaseOutput.h"
#include "sync/QelSyncFlags.h"
#include "sync/WalkGuards.h"

namespace vantrel {

// Brings a destination folder tree up to date with a source folder tree, seeing both only
// through their storage devices. The publishing session makes one worker and reuses it; each run
// is one Synchronise call on the publisher thread. The sink is borrowed unless the worker was
// given it to own; the devices stay the caller's unless the run's options ask the worker to free
// them, in which case the worker resets the caller's variables.
class QelSyncBackupWorker
{
public:
    explicit QelSyncBackupWorker(QelSyncBaseOutput* output);
    explicit QelSyncBackupWorker(std::unique_ptr<QelSyncBaseOutput> output);
    QelSyncBackupWorker(const QelSyncBackupWorker&) = delete;
    QelSyncBackupWorker& operator=(const QelSyncBackupWorker&) = delete;

    // One run; the outcome is in options.Failed, options.StopRequested and the status given to
    // the sink's Finished. The options are read through the reference for the whole run.
    void Synchronise(const std::string& source_root,
                     std::unique_ptr<QelStorageDevice>& source_device,
                     const std::string& destination_root,
                     std::unique_ptr<QelStorageDevice>& destination_device,
                     QelSyncFlags& options);

    // One folder pass, recursive; folder is a relative path ("" for the root, "\sub" below).
    // `listed_as_link`: its parent's listing showed the folder as a link.
    SyncResult SyncFolder(const std::string& folder, bool listed_as_link = false);

    bool FileIncluded(const std::string& path) const;
    bool FolderIncluded(const std::string& path) const;
    // Whether a run with these options publishes the source file or folder at `path`, a
    // relative path ("\sub\page.html"); letter case counts unless `ignore_case` (a source that
    // is not a local folder). The status check counts a source by the same rule, so that a
    // published, unchanged site stays published.
    static bool FileIncludedBy(const QelSyncFlags& flags,
                               const std::string& path,
                               bool ignore_case);
    static bool FolderIncludedBy(const QelSyncFlags& flags,
                                 const std::string& path,
                                 bool ignore_case);
    bool IsTextFile(const std::string& name) const;
    // The line ends of a source text file; all 0 and not read when its copy cannot be read.
    struct LineEnds
    {
        bool read = false;
        uint64_t crlf = 0;     // CR LF pairs
        uint64_t bare_lf = 0;  // LFs without a CR before them
        uint64_t cr = 0;       // every CR, paired or not
    };
    LineEnds SourceLineEnds(const std::string& folder, const std::string& name);
    // A text file that already has the destination's line ends goes byte for byte.
    bool SendsAsBinary(const LineEnds& ends);
    bool MatchesExcludeFiles(const std::string& path) const;
    bool MatchesIgnoreFiles(const std::string& path) const;
    bool MatchesExcludeFolders(const std::string& path) const;
    bool MatchesIgnoreFolders(const std::string& path) const;
    // The permission for an uploaded file; empty for none.
    std::string PermissionFor(const std::string& name) const;
    // A name for uploading s beside the entries of dst that no entry there holds yet.
    std::string UniqueTempName(const QelDirectoryEntry& s, const QelDirectoryList& dst) const;

    bool DeleteRemoteFile(const std::string& folder, const std::string& name, bool report_errors);
    SyncResult DeleteMarkedFiles();
    SyncResult DeleteFolderTree(const std::string& path);
    SyncResult DeleteMarked();

    bool CopyFile(const std::string& folder,
                  const QelDirectoryEntry& s,
                  const std::string& destination_root,
                  QelDirectoryEntry* d,
                  const QelDirectoryList& dst);
    void FixNameCase(const std::string& folder,
                     const QelDirectoryEntry& s,
                     QelDirectoryEntry& d,
                     const QelDirectoryList& dst);
    bool CreateRemoteFolder(const std::string& folder_path, const std::string& name);
    void Finish();

    const QelSyncStatus& Status() const { return status_; }

    std::string SourceRoot;
    std::string DestinationRoot;
    // Relative destination paths queued for deletion, taken from the front.
    std::deque<std::string> FoldersToDelete;
    std::deque<std::string> FilesToDelete;
    QelSyncFlags* Flags = nullptr;
    QelSyncBaseOutput* Output;
    QelStorageDevice* SourceDevice = nullptr;
    QelStorageDevice* DestinationDevice = nullptr;
    // 2 not yet known, 1 the destination keeps a change of letter case, 0 do not change case.
    uint8_t CaseRenameState = 2;

private:
    bool ListSourceFolder(const std::string& folder, std::unique_ptr<QelDirectoryList>* src);
    bool ScanDestination(const QelDirectoryList& src) const;
    std::unique_ptr<QelDirectoryList> TurboDestination(const std::string& folder,
                                                       const QelDirectoryList& src) const;
    // Lists the destination folder for the source folder being passed (Turbo: stands in for it
    // by the source listing) and checks it is no folder of the source; a result where the
    // folder's pass ends there.
    std::optional<SyncResult> ReadDestination(const std::string& folder,
                                              const QelDirectoryList& src,
                                              std::unique_ptr<QelDirectoryList>* dst);
    // Counts the source entries, and those the run publishes, into the status.
    void CountSource(const std::string& folder, const QelDirectoryList& src);
    // Publishes each entry of the source folder, paired with its destination entry.
    SyncResult SyncEntries(const std::string& folder,
                           const QelDirectoryList& src,
                           const QelDirectoryList& dst);
    SyncResult HandleSourceFolder(const std::string& folder,
                                  const QelDirectoryEntry& s,
                                  QelDirectoryEntry* d,
                                  const QelDirectoryList& dst);
    SyncResult HandleSourceFile(const std::string& folder,
                                const QelDirectoryEntry& s,
                                QelDirectoryEntry* d,
                                const QelDirectoryList& dst);
    // Whether the source file s, which the run publishes, differs from its destination entry d
    // (none when null) so that it must be uploaded; says why where the options ask.
    bool NeedsCopy(const std::string& folder,
                   const QelDirectoryEntry& s,
                   const QelDirectoryEntry* d);
    // Uploads the source file s over its destination entry d, removing a link or a folder that
    // stands in its place first; a failure the run goes on after is SyncOk.
    SyncResult UploadFile(const std::string& folder,
                          const QelDirectoryEntry& s,
                          QelDirectoryEntry* d,
                          const QelDirectoryList& dst);
    // A source root that holds nothing beside a destination that holds what the run would
    // delete: most likely a share that is not mounted, which must not empty the published site.
    bool EmptySourceWouldEmptyDestination(const QelDirectoryList& src,
                                          const QelDirectoryList& dst) const;
    // Fails the run for a source that publishes no file while the destination holds what the
    // run would delete; nothing is deleted.
    void ReportEmptySource();
    // A source folder met with a file to publish: deletions held back so far may go now.
    void PublishesAFile();
    // Whether the source and the destination root (as held) are one folder, or one holds the
    // other; refused, the run ends with the overlap error. Local roots only.
    bool RefusesOverlap(const std::string& source_root, const std::string& destination_root);
    // A folder of the destination tree that is one of the source tree's, wherever each lies (a
    // bind mount, a share mounted twice, a source link): writing into it, emptying or deleting
    // it would change the master copy, and listing it as source would publish the published
    // copy. Gathers the source's folders for the walk, which refuses such a folder where it
    // meets it at the destination (MeetsOtherRoot); where the source reaches past its own mount
    // or through a link, the destination's folders too, and one of both fails the run here,
    // before anything changes. Local roots only.
    bool RefusesSharedFolder();
    // The overlap error for where the two trees meet.
    std::string OverlapError(const TreeOverlap& overlap) const;
    // The source file is newer than the server's copy d. A listing that gives its times to the
    // minute puts a copy uploaded in that minute at its start: a source time inside the listed
    // minute is newer only by the copy's exact time, where the device gives one and the sizes
    // do not tell the copy apart anyway; a source file unchanged since the last successful run
    // began was judged by that run, and the server is not asked about it again.
    bool NewerThanServerCopy(const std::string& folder,
                             const QelDirectoryEntry& s,
                             const QelDirectoryEntry& d);
    // The source file may have been written since the last successful run began.
    bool ChangedSinceLastPublish(const QelDirectoryEntry& s) const;
    void ObsoletePass(const std::string& folder,
                      const QelDirectoryList& src,
                      const QelDirectoryList& dst);
    // Whether the folders being passed are one folder with the other tree's root, the
    // destination one holds the source root, or it is one of the source's folders: a bind mount
    // or a share mounted twice hides that from the check before the run. Met, the run ends with
    // the overlap error. `source` is the
    // identity of the source folder being passed (or of a source subfolder), `destination` that
    // of the destination folder; either may be unknown (0).
    bool MeetsOtherRoot(const std::string& folder,
                        const platform::FolderIdentity& source,
                        const platform::FolderIdentity& destination);
    // Whether a folder of a destination listing is the source root or holds it, where the run
    // could enter or delete it (`deleting`: a folder tree being deleted); met, as above.
    bool HoldsSourceRoot(const std::string& folder, const QelDirectoryList& dst, bool deleting);
    // The identity a destination folder lists for itself; unknown (0) where the device cannot
    // tell. `listing` is the folder's own listing, or null when Turbo did not list it.
    platform::FolderIdentity DestinationIdentity(const std::string& path,
                                                 const QelDirectoryList* listing);
    // The run met a state in which no further step is safe (the destination root replaced, or
    // the two trees overlapping): it fails, and ends at the next step.
    bool MustEnd();
    // A name that the destination could never hold as it is (a line break or NUL, or bytes that
    // are not UTF-8, for an FTP server); a name holding "\" never reaches the worker.
    bool NameCanTravel(const std::string& name) const;
    // Warns of a source entry that cannot be published; the run goes on without it.
    void ReportUntravelled(const std::string& path);
    // The source file that a destination file is a temporary upload of: a run cut short left it.
    // Empty for any other name.
    std::string LeftoverTarget(const std::string& name, const QelDirectoryList& src) const;
    // Deletes the leftovers of a run cut short from the folder and from dst, whatever the
    // deletion choice: they would stay on the web site for good, and push the next temporary
    // name aside.
    void RemoveLeftovers(const std::string& folder,
                         const QelDirectoryList& src,
                         QelDirectoryList* dst);
    // Removes a queued destination link to a folder as itself.
    SyncResult DeleteLinkedFolder(const std::string& r);
    // Lists the destination folder r being deleted: its folders are deleted, its files queued
    // for deletion, and each folder tree that kept a protected file counted in `kept`. SyncOk
    // where the deletion of r goes on.
    SyncResult QueueTreeContent(const std::string& r, int* kept);
    // Removes a destination folder whose content has gone (or a link to a folder).
    SyncResult RemoveEmptiedFolder(const std::string& path);
    // Removes a destination link as itself (r: relative path of the link).
    bool RemoveLink(const std::string& r);
    // Lists a destination folder; false (reported) when the listing could not read it whole.
    bool ListDestinationFolder(const std::string& path,
                               std::unique_ptr<QelDirectoryList>* dst,
                               bool deleting);

    bool Matches(const std::vector<std::string>& patterns, const std::string& path) const;
    void Report(QelSyncMessageType type, const std::string& text);
    void UpdateStatus();

    QelSyncStatus status_;
    std::unique_ptr<QelSyncBaseOutput> owned_output_;
    std::unique_ptr<QelStorageDevice>* source_var_ = nullptr;
    std::unique_ptr<QelStorageDevice>* destination_var_ = nullptr;
    bool ignore_case_ = false;
    // The line ends of the source file being handled, once read for its size test, so that
    // its upload need not read them again.
    LineEnds line_ends_;
    std::string line_ends_of_;
    // Queued destination folders that are links: removed as links, never listed through.
    std::unordered_set<std::string> linked_folders_;
    // The roots, the walk's path and the source's folders by identity, so that the walk never
    // leaves the site nor writes into the master copy. A source folder met through a link back
    // into its own path is never entered. The run has met a source file it publishes once
    // guards_.PublishedAFile(): until then no deletion runs, as a source that publishes nothing
    // (only an empty folder, ignored or unreadable entries, an unmounted share with a stray
    // file) must not empty the site.
    WalkGuards guards_;
};

}  // namespace vantrel
