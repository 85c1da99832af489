#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/QelDateFunctions.h"
#include "platform/Threads.h"
#include "sync/QelSyncFlags.h"

// The background status check (TPublicationStatusHound) and the side of the main window it
// reports to (IStatusHoundOwner).
namespace vantrel {

class QelPublication;
class QelPublicationList;

// What the main window offers the status check. Every operation is called on the main thread,
// inside a synchronised call from the check's thread.
class IStatusHoundOwner
{
public:
    virtual ~IStatusHoundOwner() = default;
    // The web sites' statuses or checking marks changed: rewrite the grid.
    virtual void RefreshPublicationsGrid() = 0;
    // Enable the configuration commands as the row allows; 0 for the selected row.
    virtual void UpdateConfigEnabled(int32_t row) = 0;
    // The check is over; no further call comes from it.
    virtual void StatusHoundFinished() = 0;
};

// A thread, one level below normal, that counts the files, folders and pages of every web
// site's source and marks a published web site "needs publishing" when a source file is newer
// than its last publish or the source holds fewer files than were published. Web sites are
// checked smallest published copy first; each shows its Checking mark until its result is in.
//
// The thread never touches a definition or the list: on the main thread it copies what one scan
// needs (name, source and patterns) and, once the scan is done, looks the web site up by name
// again, so the user may delete or edit web sites while the check runs. A web site deleted
// meanwhile gets nothing; one whose source or patterns were edited meanwhile is scanned again.
// The thread releases itself after calling StatusHoundFinished.
class TPublicationStatusHound : private platform::Thread
{
public:
    // Main thread. Starts one check of every web site of the list. The owner and the list are
    // borrowed: they must outlive the check, or the owner must call Stop before it goes. False,
    // with the last error, when no thread can be made: nothing is then marked or called.
    static bool Create(IStatusHoundOwner& owner, QelPublicationList& list);

    // Main thread, for an owner that goes away: the checks it started call it no more (not
    // even StatusHoundFinished), no longer touch the list and end soon by themselves.
    static void Stop(IStatusHoundOwner& owner);

    // Main thread. Looks again at the named web sites, one after the other on a thread of its
    // own, as the check does, for a Publish All that would leave out the published ones: each is
    // marked Checking until its result is in and gets its counts and status. Then `done` runs on
    // the main thread, also after CancelLooks, which leaves a web site not yet looked at as it
    // was; Stop ends a look without its `done`. Borrows as Create does. False, with the last
    // error, when no thread can be made: nothing is then marked or called.
    static bool Look(IStatusHoundOwner& owner,
                     QelPublicationList& list,
                     std::vector<std::string> names,
                     std::function<void()> done);
    // Main thread: the owner's looks end at the web site being looked at, whose part-counted
    // source gives no result.
    static void CancelLooks(IStatusHoundOwner& owner);

    // Checks and looks whose thread has not yet released itself.
    static int Running();

private:
    // What one scan needs of a definition, copied on the main thread.
    struct TScanJob
    {
        std::string Name;
        std::string Source;
        std::vector<std::string> IgnoreFiles;
        std::vector<std::string> ExcludeFiles;
        std::vector<std::string> IgnoreFolders;
        std::vector<std::string> ExcludeFolders;
        std::vector<std::string> AsciiFiles;
        // The four lists as a run's options hold them.
        QelSyncFlags Patterns;

        explicit TScanJob(const QelPublication& definition);
        // Whether the definition still has the source and patterns that were scanned.
        bool ScannedAsDefined(const QelPublication& definition) const;
    };

    TPublicationStatusHound(IStatusHoundOwner& owner, QelPublicationList& list);
    ~TPublicationStatusHound() override;

    void Execute() override;
    void ExecuteLook();
    bool Halted() const { return stopped_ || cancelled_; }
    // Thread: the counts of Current's source.
    void ScanCurrent();

    // Main thread: the definition at NextIndex, moving NextIndex on; null past the list's end.
    QelPublication* NextPublication();
    // Main thread: Current := the marked definition with the fewest published files.
    void PickNext();
    // Thread: counts the files of the folder tree below path, whose path relative to the source
    // root is `relative` ("" for the root), that a run publishes.
    int32_t ScanFolder(const std::string& path, const std::string& relative);
    // Main thread: gives Current's web site its counts and status.
    void ApplyResult();

    IStatusHoundOwner& owner_;
    QelPublicationList& list_;
    // Set on the main thread by Stop; also read by the thread to end a scan early.
    std::atomic<bool> stopped_{false};
    // A look: the web sites to look at, and what runs once it ends. Empty for the check.
    std::vector<std::string> look_names_;
    std::function<void()> look_done_;
    // Set on the main thread by CancelLooks; read as stopped_ is.
    std::atomic<bool> cancelled_{false};

    // Written in synchronised calls and read on the thread between them.
    std::optional<TScanJob> Current;
    int32_t NextIndex = 1;

    // The results of one scan, written on the thread and read in ApplyResult.
    int32_t FileCount = 0;
    int32_t DirCount = 0;
    int32_t PageCount = 0;
    TDateTime Newest = 0;
    // Folders from the source down to the one being scanned, by volume and file number, so
    // that a link back up the tree is not followed round for ever.
    std::vector<std::pair<uint64_t, uint64_t>> path_ids_;
};

}  // namespace vantrel
