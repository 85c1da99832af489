#include "publishing/PublicationStatusHoundU.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "foundation/StringMatches.h"
#include "publishing/PublicationInfo.h"
#include "storage/QelDirectoryListUnit.h"
#include "sync/QelSyncBackupWorker.h"

namespace vantrel {
namespace {

// The checks whose thread has not yet released itself.
struct Hounds
{
    std::mutex lock;
    std::vector<TPublicationStatusHound*> running;  // Guarded by lock.
};

// Never destroyed: a check may still be ending while the program's static objects go.
Hounds& Live()
{
    static Hounds* hounds = new Hounds;
    return *hounds;
}

bool MatchesAny(const std::string& name, const std::vector<std::string>& patterns, bool ignore_case)
{
    return FindMatchingPattern(name, patterns, ignore_case) >= 0;
}

}  // namespace

TPublicationStatusHound::TScanJob::TScanJob(const QelPublication& definition)
    : Name(definition.GetName())
    , Source(definition.Source)
    , IgnoreFiles(definition.IgnoreFiles)
    , ExcludeFiles(definition.ExcludeFiles)
    , IgnoreFolders(definition.IgnoreFolders)
    , ExcludeFolders(definition.ExcludeFolders)
    , AsciiFiles(definition.AsciiFiles)
{
    Patterns.ExcludeFiles = ExcludeFiles;
    Patterns.IgnoreFiles = IgnoreFiles;
    Patterns.ExcludeFolders = ExcludeFolders;
    Patterns.IgnoreFolders = IgnoreFolders;
}

bool TPublicationStatusHound::TScanJob::ScannedAsDefined(const QelPublication& definition) const
{
    return Source == definition.Source && IgnoreFiles == definition.IgnoreFiles &&
           ExcludeFiles == definition.ExcludeFiles && IgnoreFolders == definition.IgnoreFolders &&
           ExcludeFolders == definition.ExcludeFolders && AsciiFiles == definition.AsciiFiles;
}

bool TPublicationStatusHound::Create(IStatusHoundOwner& owner, QelPublicationList& list)
{
    auto* hound = new TPublicationStatusHound(owner, list);
    // Started, the thread belongs to itself.
    if (hound->Start(platform::kThreadPriorityBelowNormal, true)) {
        return true;
    }
    delete hound;
    return false;
}

bool TPublicationStatusHound::Look(IStatusHoundOwner& owner,
                                   QelPublicationList& list,
                                   std::vector<std::string> names,
                                   std::function<void()> done)
{
    auto* look = new TPublicationStatusHound(owner, list);
    look->look_names_ = std::move(names);
    look->look_done_ = std::move(done);
    const auto mark = [look](bool checking) {
        for (const std::string& name : look->look_names_) {
            if (QelPublication* p = look->list_.FindByName(name)) {
                p->Checking = checking;
            }
        }
    };
    mark(true);
    // The user waits for it: not below the run's own priority.
    if (look->Start(platform::kThreadPriorityNormal, true)) {
        owner.RefreshPublicationsGrid();
        return true;
    }
    mark(false);
    delete look;
    return false;
}

void TPublicationStatusHound::CancelLooks(IStatusHoundOwner& owner)
{
    Hounds& live = Live();
    std::lock_guard<std::mutex> lock(live.lock);
    for (TPublicationStatusHound* hound : live.running) {
        if (&hound->owner_ == &owner && hound->look_done_) {
            hound->cancelled_ = true;
        }
    }
}

void TPublicationStatusHound::Stop(IStatusHoundOwner& owner)
{
    Hounds& live = Live();
    std::lock_guard<std::mutex> lock(live.lock);
    for (TPublicationStatusHound* hound : live.running) {
        if (&hound->owner_ == &owner) {
            hound->stopped_ = true;
        }
    }
}

int TPublicationStatusHound::Running()
{
    Hounds& live = Live();
    std::lock_guard<std::mutex> lock(live.lock);
    return static_cast<int>(live.running.size());
}

TPublicationStatusHound::TPublicationStatusHound(IStatusHoundOwner& owner, QelPublicationList& list)
    : owner_(owner)
    , list_(list)
{
    Hounds& live = Live();
    std::lock_guard<std::mutex> lock(live.lock);
    live.running.push_back(this);
}

TPublicationStatusHound::~TPublicationStatusHound()
{
    Hounds& live = Live();
    std::lock_guard<std::mutex> lock(live.lock);
    live.running.erase(std::find(live.running.begin(), live.running.end(), this));
}

void TPublicationStatusHound::Execute()
{
    if (look_done_) {
        ExecuteLook();
        return;
    }
    // Every web site is marked, disabled ones and those of any status included, so that the
    // grid shows at once which results are still to come.
    platform::Synchronize([this] {
        if (stopped_) {
            return;
        }
        NextIndex = 1;
        while (QelPublication* p = NextPublication()) {
            p->Checking = true;
        }
        owner_.RefreshPublicationsGrid();
    });
    for (;;) {
        // A synchronised call that does not run (the program is ending) leaves Current empty.
        Current.reset();
        platform::Synchronize([this] { PickNext(); });
        if (!Current || stopped_) {
            break;
        }
        ScanCurrent();
        platform::Synchronize([this] { ApplyResult(); });
    }
    platform::Synchronize([this] {
        if (!stopped_) {
            owner_.StatusHoundFinished();
        }
    });
}

void TPublicationStatusHound::ExecuteLook()
{
    for (const std::string& name : look_names_) {
        Current.reset();
        platform::Synchronize([this, &name] {
            const QelPublication* p = Halted() ? nullptr : list_.FindByName(name);
            if (p != nullptr) {
                Current.emplace(*p);
            }
        });
        if (Halted()) {
            break;
        }
        if (!Current) {
            continue;
        }
        ScanCurrent();
        if (Halted()) {
            break;
        }
        platform::Synchronize([this] { ApplyResult(); });
    }
    platform::Synchronize([this] {
        if (stopped_) {
            return;
        }
        // A cancelled look leaves the rest as they were.
        for (const std::string& name : look_names_) {
            if (QelPublication* p = list_.FindByName(name)) {
                p->Checking = false;
            }
        }
        owner_.RefreshPublicationsGrid();
        look_done_();
    });
}

void TPublicationStatusHound::ScanCurrent()
{
    FileCount = 0;
    DirCount = 0;
    PageCount = 0;
    Newest = 0;
    // An empty source would list the root of the file system.
    if (!Current->Source.empty()) {
        path_ids_.clear();
        FileCount = ScanFolder(Current->Source, "");
    }
}

QelPublication* TPublicationStatusHound::NextPublication()
{
    if (NextIndex > list_.Count()) {
        return nullptr;
    }
    return list_.Items(NextIndex++);
}

void TPublicationStatusHound::PickNext()
{
    if (stopped_) {
        return;
    }
    const QelPublication* kept = nullptr;
    NextIndex = 1;
    while (const QelPublication* p = NextPublication()) {
        if (p->Checking && (kept == nullptr || p->WebFileCount < kept->WebFileCount)) {
            kept = p;
        }
    }
    if (kept != nullptr) {
        Current.emplace(*kept);
    }
}

int32_t TPublicationStatusHound::ScanFolder(const std::string& path, const std::string& relative)
{
    const std::unique_ptr<QelDirectoryList> list = QelDirectoryList::CreateFromFolder(path, "");
    const QelDirectoryEntry* self = list->Find(".", true);
    if (self == nullptr) {
        return 0;
    }
    path_ids_.emplace_back(self->VolumeId, self->FileId);
    int32_t files = 0;
    for (int32_t i = list->Count(); i >= 1 && !Halted(); --i) {
        const QelDirectoryEntry& e = *list->Items(i);
        // The run's own rule, on the path relative to the source root (a local source: letter
        // case counts), so that the check counts exactly the files a run records.
        const std::string entry_path = relative + "\\" + e.Name;
        if (!e.IsDirectory()) {
            // A pipe, socket or device is never published, and its date is no page's.
            if (e.IsSpecialFile() ||
                !QelSyncBackupWorker::FileIncludedBy(Current->Patterns, entry_path, false)) {
                continue;
            }
            Newest = std::max(Newest, e.Date);
            ++files;
            if (MatchesAny(e.Name, Current->AsciiFiles, true)) {
                ++PageCount;
            }
        } else if (!e.IsDotEntry() &&
                   QelSyncBackupWorker::FolderIncludedBy(Current->Patterns, entry_path, false)) {
            // A link to a folder that holds it would be entered again and again.
            const bool on_path =
                e.FileId != 0 && std::find(path_ids_.begin(), path_ids_.end(),
                                           std::make_pair(e.VolumeId, e.FileId)) != path_ids_.end();
            if (on_path) {
                continue;
            }
            ++DirCount;
            files += ScanFolder(path + "\\" + e.Name, entry_path);
        }
    }
    path_ids_.pop_back();
    return files;
}

void TPublicationStatusHound::ApplyResult()
{
    if (stopped_) {
        return;
    }
    QelPublication* p = list_.FindByName(Current->Name);
    // Only the web site that was marked for this check gets the result, and only while it still
    // has the source and patterns that were scanned; an edited one stays marked and is picked
    // again. A look's result stands whoever cleared the mark: its count is the latest.
    if (p != nullptr && (p->Checking || look_done_) && Current->ScannedAsDefined(*p)) {
        p->Checking = false;
        p->SrcFileCount = FileCount;
        p->SrcDirsCount = DirCount;
        p->SrcPageCount = PageCount;
        p->SrcMostRecent = Newest;
        if (p->Status == StatusPublished &&
            (Newest > p->LastPublished || FileCount < p->WebFileCount)) {
            p->Status = StatusNeedsPublishing;
            (void)list_.Update(p->GetName(), *p);
        }
    }
    owner_.RefreshPublicationsGrid();
    owner_.UpdateConfigEnabled(0);
}

}  // namespace vantrel
