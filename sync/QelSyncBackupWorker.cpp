#include "sync/QelSyncBackupWorker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

#include "foundation/QelStringFunctions.h"
#include "foundation/StringMatches.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "storage/DiskStorage.h"

namespace vantrel {
namespace {

constexpr uint32_t kFoldersListedAtMost = 2000;

// Entries of one listing by ASCII-folded name, each bucket in listing order, so that pairing a
// folder of thousands of entries takes linear time. Renames during a pass change only letter
// case, so an entry never leaves its bucket.
class NameIndex
{
public:
    explicit NameIndex(const QelDirectoryList& list)
    {
        for (int32_t i = 1; i <= list.Count(); ++i) {
            QelDirectoryEntry* entry = list.Items(i);
            buckets_[AsciiLowerCase(entry->Name)].push_back(entry);
        }
    }

    const std::vector<QelDirectoryEntry*>* Bucket(const std::string& name) const
    {
        const auto it = buckets_.find(AsciiLowerCase(name));
        return it == buckets_.end() ? nullptr : &it->second;
    }

    QelDirectoryEntry* Exact(const std::string& name) const
    {
        if (const auto* bucket = Bucket(name)) {
            for (QelDirectoryEntry* entry : *bucket) {
                if (entry->Name == name) {
                    return entry;
                }
            }
        }
        return nullptr;
    }

private:
    std::unordered_map<std::string, std::vector<QelDirectoryEntry*>> buckets_;
};

// The destination entry a source entry stands for: the one of exactly its name, else the first
// equal ignoring case that no source entry names exactly. Folders on this platform can hold
// names that differ only in case; pairing by case alone would upload page.html again on every
// run beside Page.html, or merge A.txt and a.txt into one file by a case rename.
QelDirectoryEntry* PairFor(const QelDirectoryEntry& s, const NameIndex& dst, const NameIndex& src)
{
    const auto* bucket = dst.Bucket(s.Name);
    if (bucket == nullptr) {
        return nullptr;
    }
    if (QelDirectoryEntry* exact = dst.Exact(s.Name)) {
        return exact;
    }
    for (QelDirectoryEntry* entry : *bucket) {
        if (src.Exact(entry->Name) == nullptr) {
            return entry;
        }
    }
    return nullptr;
}

bool SizeKnown(const QelDirectoryEntry& e)
{
    return e.SizeHigh != kSizeMissing && e.SizeLow != kSizeMissing;
}

uint64_t Size(const QelDirectoryEntry& e)
{
    return (uint64_t{e.SizeHigh} << 32) | e.SizeLow;
}

std::string SizeText(const char* format, const QelDirectoryEntry& s, const QelDirectoryEntry& d)
{
    char text[160];
    std::snprintf(text, sizeof text, format, s.SizeHigh, s.SizeLow, d.SizeHigh, d.SizeLow);
    return text;
}

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates or code points above
// U+10FFFF.
bool IsUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

// The name as a log line can show it: line breaks, NUL and bytes that are not UTF-8 as "?".
std::string Printable(const std::string& name)
{
    std::string shown;
    for (size_t i = 0; i < name.size();) {
        size_t length = 1;
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0xC0) {
            length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        }
        const std::string_view piece = std::string_view(name).substr(i, length);
        const bool plain = c >= 0x20 && c != 0x7F && piece.size() == length && IsUtf8(piece);
        shown += plain ? std::string(piece) : std::string("?");
        i += plain ? length : 1;
    }
    return shown;
}

std::string NormaliseRoot(const std::string& root)
{
    std::string normal = ReplaceAll(root, "/", "\\");
    if (!normal.empty() && normal.back() == '\\') {
        normal.pop_back();
    }
    return normal;
}

}  // namespace

QelSyncBackupWorker::QelSyncBackupWorker(QelSyncBaseOutput* output)
    : Output(output)
{}

QelSyncBackupWorker::QelSyncBackupWorker(std::unique_ptr<QelSyncBaseOutput> output)
    : Output(output.get())
    , owned_output_(std::move(output))
{}

void QelSyncBackupWorker::Report(QelSyncMessageType type, const std::string& text)
{
    if (Output != nullptr) {
        Output->Report(status_, type, text);
    }
}

void QelSyncBackupWorker::UpdateStatus()
{
    if (Output != nullptr) {
        Output->UpdateStatus(status_);
    }
}

bool QelSyncBackupWorker::Matches(const std::vector<std::string>& patterns,
                                  const std::string& path) const
{
    return FindMatchingPattern(path, patterns, ignore_case_) >= 0;
}

bool QelSyncBackupWorker::MatchesExcludeFiles(const std::string& path) const
{
    return Matches(Flags->ExcludeFiles, path);
}

bool QelSyncBackupWorker::MatchesIgnoreFiles(const std::string& path) const
{
    return Matches(Flags->IgnoreFiles, path);
}

bool QelSyncBackupWorker::MatchesExcludeFolders(const std::string& path) const
{
    return Matches(Flags->ExcludeFolders, path);
}

bool QelSyncBackupWorker::MatchesIgnoreFolders(const std::string& path) const
{
    return Matches(Flags->IgnoreFolders, path);
}

bool QelSyncBackupWorker::FolderIncluded(const std::string& path) const
{
    return FolderIncludedBy(*Flags, path, ignore_case_);
}

bool QelSyncBackupWorker::FileIncluded(const std::string& path) const
{
    return FileIncludedBy(*Flags, path, ignore_case_);
}

bool QelSyncBackupWorker::FolderIncludedBy(const QelSyncFlags& flags,
                                           const std::string& path,
                                           bool ignore_case)
{
    return FindMatchingPattern(path, flags.ExcludeFolders, ignore_case) < 0 &&
           FindMatchingPattern(path, flags.IgnoreFolders, ignore_case) < 0;
}

bool QelSyncBackupWorker::FileIncludedBy(const QelSyncFlags& flags,
                                         const std::string& path,
                                         bool ignore_case)
{
    if (!flags.IncludeFiles.empty() &&
        FindMatchingPattern(path, flags.IncludeFiles, ignore_case) < 0) {
        return false;
    }
    return FindMatchingPattern(path, flags.ExcludeFiles, ignore_case) < 0 &&
           FindMatchingPattern(path, flags.IgnoreFiles, ignore_case) < 0;
}

QelSyncBackupWorker::LineEnds QelSyncBackupWorker::SourceLineEnds(const std::string& folder,
                                                                  const std::string& name)
{
    const std::string key = folder + "\\" + name;
    if (line_ends_of_ == key) {
        return line_ends_;
    }
    LineEnds ends;
    const std::string local = SourceDevice->GetFile(SourceRoot + folder, name);
    if (!local.empty()) {
        char previous = 0;
        ends.read = platform::ReadWholeFile(local, [&](std::string_view piece) {
            for (const char c : piece) {
                if (c == '\n') {
                    ++(previous == '\r' ? ends.crlf : ends.bare_lf);
                } else if (c == '\r') {
                    ++ends.cr;
                }
                previous = c;
            }
        });
        SourceDevice->ReleaseFile(local);
    }
    line_ends_ = ends;
    line_ends_of_ = key;
    return ends;
}

bool QelSyncBackupWorker::SendsAsBinary(const LineEnds& ends)
{
    return ends.read && ends.cr == 0 && DestinationDevice->StoresTextWithLineFeeds();
}

bool QelSyncBackupWorker::IsTextFile(const std::string& name) const
{
    return FindMatchingPattern(name, Flags->TextFiles, true) >= 0;
}

std::string QelSyncBackupWorker::PermissionFor(const std::string& name) const
{
    const auto& lines = Flags->FilePermissions;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (MatchesWildcard(name, Before(*line, "="), false)) {
            return After(*line, "=");
        }
    }
    return Flags->DefaultFilePermission;
}

std::string QelSyncBackupWorker::UniqueTempName(const QelDirectoryEntry& s,
                                                const QelDirectoryList& dst) const
{
    std::string candidate = Flags->TempNameTag + "_" + s.Name;
    for (int n = 1; dst.Find(candidate, false) != nullptr; ++n) {
        candidate = Flags->TempNameTag + "_" + std::to_string(n) + "_" + s.Name;
    }
    return candidate;
}

void QelSyncBackupWorker::Synchronise(const std::string& source_root,
                                      std::unique_ptr<QelStorageDevice>& source_device,
                                      const std::string& destination_root,
                                      std::unique_ptr<QelStorageDevice>& destination_device,
                                      QelSyncFlags& options)
{
    FoldersToDelete.clear();
    FilesToDelete.clear();
    linked_folders_.clear();
    guards_.Reset();
    Flags = &options;
    Flags->StopRequested = false;
    Flags->Failed = false;

    status_ = QelSyncStatus{};
    status_.FoldersTotal = 1;

    SourceRoot = NormaliseRoot(source_root);
    DestinationRoot = NormaliseRoot(destination_root);
    source_var_ = &source_device;
    destination_var_ = &destination_device;
    SourceDevice = source_device.get();
    DestinationDevice = destination_device.get();
    CaseRenameState = 2;

    if (SourceDevice == nullptr || DestinationDevice == nullptr) {
        Report(kMsgError, "No source or destination device to publish with");
        Flags->Failed = true;
        Finish();
        return;
    }
    // With a local source the patterns compare letter case, as its file names do.
    ignore_case_ = SourceDevice->GetDeviceType() != kDeviceLocalDisk;
    // Held before anything else: every check below judges the folder the run writes into, should
    // its path be swapped meanwhile.
    DestinationDevice->KeepWithin(DestinationRoot);

    if (!SourceDevice->ChangeDirectory(SourceRoot)) {
        Report(kMsgError, "Source directory " + source_root + " does not exist");
        Flags->Failed = true;
        Finish();
        return;
    }
    // A source link to the root or to a folder above it would publish the root's surroundings
    // (a home folder, the whole file system): such links are never followed.
    guards_.FindSourceAncestors(
        SourceRoot, [this](const std::string& path) -> std::optional<platform::FolderIdentity> {
            // Each reached through the source device, whatever device that is.
            const auto list = SourceDevice->ListDirectory(path, ".", false);
            const QelDirectoryEntry* self = list != nullptr ? list->Find(".", true) : nullptr;
            if (self == nullptr || self->FileId == 0) {
                return std::nullopt;
            }
            return platform::FolderIdentity{self->VolumeId, self->FileId};
        });
    const bool root_exists = DestinationDevice->ChangeDirectory(DestinationRoot);
    if (DestinationDevice->RootReplaced()) {
        // Swapped since it was held: the device has said so, and nothing is made in its place.
        Flags->Failed = true;
        Finish();
        return;
    }
    // Checked before the destination is made or listed: a run into its own source would copy the
    // site into itself without end, or delete the master copy as obsolete.
    if (RefusesOverlap(source_root, destination_root)) {
        return;
    }
    if (!root_exists) {
        if (!Flags->CreateDestinationRoot) {
            Report(kMsgError, "Destination directory " + destination_root + " does not exist");
            Flags->Failed = true;
            Finish();
            return;
        }
        Report(kMsgCreatingFolder, destination_root);
        if (!CreateRemoteFolder(DestinationRoot, ".")) {
            Report(kMsgError, "Failed to create destination directory " + destination_root);
            Flags->Failed = true;
            Finish();
            return;
        }
        DestinationDevice->KeepWithin(DestinationRoot);
        if (RefusesOverlap(source_root, destination_root)) {
            return;
        }
    }
    if (RefusesSharedFolder()) {
        return;
    }

    const SyncResult r = SyncFolder("");
    if (r == SyncOk && Flags->DeleteObsolete &&
        (!status_.ErrorOccurred || Flags->DeleteAfterFailure)) {
        if (!guards_.PublishedAFile() && (!FilesToDelete.empty() || !FoldersToDelete.empty())) {
            ReportEmptySource();
        } else {
            DeleteMarked();
        }
    }
    MustEnd();
    Flags->Failed = status_.ErrorOccurred || status_.DeleteErrorOccurred;
    Finish();
}

bool QelSyncBackupWorker::RefusesOverlap(const std::string& source_root,
                                         const std::string& destination_root)
{
    const auto* destination = dynamic_cast<const DiskStorageDevice*>(DestinationDevice);
    if (destination == nullptr || SourceDevice->GetDeviceType() != kDeviceLocalDisk) {
        return false;
    }
    const std::string overlap = DiskStorageDevice::OverlapText(
        destination->RelationToRoot(SourceRoot), source_root, destination_root);
    if (overlap.empty()) {
        return false;
    }
    Report(kMsgError, overlap);
    Flags->Failed = true;
    Finish();
    return true;
}

bool QelSyncBackupWorker::RefusesSharedFolder()
{
    guards_.KeepSourceFolders({});
    auto* source = dynamic_cast<DiskStorageDevice*>(SourceDevice);
    auto* destination = dynamic_cast<DiskStorageDevice*>(DestinationDevice);
    if (source == nullptr || destination == nullptr) {
        return false;
    }
    // The source's folders are those of its tree and those its links lead to where the walk
    // follows them; the destination's links are never followed.
    const auto followed = [this](const std::string& path, const platform::FolderIdentity& id) {
        return Flags->Recurse && FolderIncluded(path) && !guards_.AboveSourceRoot(id);
    };
    bool crossed = false;
    platform::FolderTree source_folders;
    if (!source->GatherFolders(SourceRoot, followed, &source_folders, &crossed)) {
        // The walk reports a root it cannot read.
        return false;
    }
    guards_.KeepSourceFolders(std::move(source_folders));
    if (!crossed) {
        // All of the source lies below its root, on one mount: a folder the destination shares
        // with it is a source folder the walk meets at the destination, where it is refused
        // before anything in it changes (MeetsOtherRoot).
        return false;
    }
    // Through a link or a mount the source may list a folder of the destination, which the walk
    // could meet as source before it meets it as destination, or never at the destination.
    platform::FolderTree destination_folders;
    if (!destination->GatherFolders(DestinationRoot, nullptr, &destination_folders, nullptr)) {
        return false;
    }
    // Of the folders both trees hold, the one nearest the roots is named: the others lie in it.
    const std::optional<TreeOverlap> nearest = guards_.NearestSharedFolder(destination_folders);
    if (!nearest) {
        return false;
    }
    Report(kMsgError, OverlapError(*nearest));
    Flags->Failed = true;
    Finish();
    return true;
}

std::string QelSyncBackupWorker::OverlapError(const TreeOverlap& overlap) const
{
    if (overlap.roots != platform::FolderRelation::kApart) {
        return DiskStorageDevice::OverlapText(overlap.roots, SourceRoot, DestinationRoot);
    }
    const std::string& source_path = overlap.source_path;
    const std::string& destination_path = overlap.destination_path;
    // A root is named as given; a folder below the roots by its place in its tree.
    if (source_path.empty() || destination_path.empty()) {
        const auto relation = source_path == destination_path ? platform::FolderRelation::kSame
                              : source_path.empty() ? platform::FolderRelation::kFirstInsideSecond
                                                    : platform::FolderRelation::kSecondInsideFirst;
        return DiskStorageDevice::OverlapText(relation, SourceRoot, DestinationRoot);
    }
    return DiskStorageDevice::OverlapText(platform::FolderRelation::kSame, SourceRoot + source_path,
                                          DestinationRoot + destination_path);
}

void QelSyncBackupWorker::ReportEmptySource()
{
    status_.ErrorOccurred = true;
    Report(kMsgError,
           "Source directory " + SourceRoot + " is empty; nothing is deleted at the destination.");
}

void QelSyncBackupWorker::Finish()
{
    // Once the final status is out, the session may refill the options for its next run
    // (Publish All), so what to free is read before it goes.
    const bool free_destination = Flags != nullptr && Flags->FreeDestinationDevice;
    const bool free_source = Flags != nullptr && Flags->FreeSourceDevice;
    const bool free_output = Flags != nullptr && Flags->FreeOutput;
    if (Output != nullptr) {
        Output->Finished(status_);
    }
    if (free_destination && destination_var_ != nullptr) {
        destination_var_->reset();
        DestinationDevice = nullptr;
    }
    if (free_source && source_var_ != nullptr) {
        source_var_->reset();
        SourceDevice = nullptr;
    }
    if (free_output) {
        // Only a sink handed over to the worker is freed; a borrowed one is just forgotten.
        owned_output_.reset();
        Output = nullptr;
    }
}

bool QelSyncBackupWorker::ListSourceFolder(const std::string& folder,
                                           std::unique_ptr<QelDirectoryList>* src)
{
    *src = SourceDevice->ListDirectory(SourceRoot + folder, "", false);
    if (*src != nullptr && (*src)->Find(".", true) != nullptr) {
        return true;
    }
    // Every readable local folder lists its "." entry. Without it the folder could not be read
    // (permissions, a vanished mount), and taking it as empty would delete its whole published
    // copy as obsolete.
    status_.ErrorOccurred = true;
    const std::string text = "Failed to read source folder " + SourceRoot + folder + ".";
    if (Flags->ContinueAfterErrors) {
        Report(kMsgWarning, text + " Continuing");
    } else {
        Report(kMsgError, text + " Stopping");
    }
    return false;
}

bool QelSyncBackupWorker::ListDestinationFolder(const std::string& path,
                                                std::unique_ptr<QelDirectoryList>* dst,
                                                bool deleting)
{
    DestinationDevice->TakeListingFailure();
    *dst = DestinationDevice->ListDirectory(path, "", false);
    if (*dst == nullptr) {
        *dst = QelDirectoryList::Create();
    }
    if (!DestinationDevice->TakeListingFailure()) {
        return true;
    }
    if (Flags->StopRequested) {
        // The stop ended the listing.
        Report(kMsgWarning, "Stopped");
        return false;
    }
    const std::string text =
        "Failed to read destination folder " + path + ". " + DestinationDevice->GetLastErrorText();
    if (deleting) {
        status_.DeleteErrorOccurred = true;
        Report(kMsgError, text);
    } else {
        status_.ErrorOccurred = true;
        Report(Flags->ContinueAfterErrors ? kMsgWarning : kMsgError,
               text + (Flags->ContinueAfterErrors ? " Continuing" : " Stopping"));
    }
    return false;
}

bool QelSyncBackupWorker::ScanDestination(const QelDirectoryList& src) const
{
    if (Flags->TurboFolderDate == 0 && Flags->TurboEntryDate == 0) {
        return true;
    }
    bool scan = true;
    if (const QelDirectoryEntry* self = src.Find(".", true)) {
        scan = self->Date >
               (Flags->TurboFolderDate != 0 ? Flags->TurboFolderDate : Flags->TurboEntryDate);
    }
    if (!scan && Flags->TurboEntryDate != 0) {
        for (int32_t i = 1; i <= src.Count() && !scan; ++i) {
            scan = src.Items(i)->Date > Flags->TurboEntryDate;
        }
    }
    return scan;
}

std::unique_ptr<QelDirectoryList> QelSyncBackupWorker::TurboDestination(
    const std::string& folder, const QelDirectoryList& src) const
{
    const TDateTime threshold =
        Flags->TurboEntryDate != 0 ? Flags->TurboEntryDate : Flags->TurboFolderDate;
    auto dst = QelDirectoryList::Create();
    for (int32_t i = 1; i <= src.Count(); ++i) {
        auto copy = QelDirectoryEntry::CreateCopy(*src.Items(i));
        if (copy->Date > threshold) {
            copy->Date = threshold;
        }
        // Entries the options delete on the server are left out: unlisted, the destination may
        // not hold them, so nothing is deleted on a guess.
        const std::string path = folder + "\\" + copy->Name;
        const bool deleted_on_server =
            copy->IsDirectory() ? MatchesExcludeFolders(path) && !MatchesIgnoreFolders(path)
                                : MatchesExcludeFiles(path) && !MatchesIgnoreFiles(path);
        if (!deleted_on_server) {
            dst->Add(std::move(copy));
        }
    }
    return dst;
}

platform::FolderIdentity QelSyncBackupWorker::DestinationIdentity(const std::string& path,
                                                                  const QelDirectoryList* listing)
{
    std::unique_ptr<QelDirectoryList> own;
    if (listing == nullptr) {
        // Only a local destination beside a local source can be the source's own folder; no
        // other is asked anything more.
        if (DestinationDevice->GetDeviceType() != kDeviceLocalDisk ||
            SourceDevice->GetDeviceType() != kDeviceLocalDisk) {
            return {};
        }
        own = DestinationDevice->ListDirectory(path, ".", false);
        listing = own.get();
    }
    return WalkGuards::OwnIdentity(listing);
}

bool QelSyncBackupWorker::MeetsOtherRoot(const std::string& folder,
                                         const platform::FolderIdentity& source,
                                         const platform::FolderIdentity& destination)
{
    const std::optional<TreeOverlap> overlap = guards_.MeetsOtherRoot(folder, source, destination);
    if (!overlap) {
        return false;
    }
    Report(kMsgError, OverlapError(*overlap));
    guards_.End();
    status_.ErrorOccurred = true;
    return true;
}

bool QelSyncBackupWorker::HoldsSourceRoot(const std::string& folder,
                                          const QelDirectoryList& dst,
                                          bool deleting)
{
    for (int32_t i = 1; i <= dst.Count(); ++i) {
        const QelDirectoryEntry& d = *dst.Items(i);
        if (!guards_.HoldsSourceRoot(d)) {
            continue;
        }
        // A folder the run never enters nor deletes is no danger.
        const std::string path = folder + "\\" + d.Name;
        if ((deleting || (Flags->Recurse && !MatchesIgnoreFolders(path))) &&
            MeetsOtherRoot(path, {}, {d.VolumeId, d.FileId})) {
            return true;
        }
    }
    return false;
}

bool QelSyncBackupWorker::MustEnd()
{
    if (!guards_.MustEnd([this] { return DestinationDevice->RootReplaced(); })) {
        return false;
    }
    status_.ErrorOccurred = true;
    return true;
}

std::optional<SyncResult> QelSyncBackupWorker::ReadDestination(
    const std::string& folder, const QelDirectoryList& src, std::unique_ptr<QelDirectoryList>* dst)
{
    const platform::FolderIdentity source_id = guards_.Passing();
    if (ScanDestination(src)) {
        Report(kMsgScanTargetFolder, DestinationRoot + folder);
        if (!ListDestinationFolder(DestinationRoot + folder, dst, false)) {
            // What the folder holds is unknown: uploading into it blind could never find its
            // obsolete entries, and the run must not end as a success.
            return Flags->StopRequested         ? SyncStopped
                   : Flags->ContinueAfterErrors ? SyncOk
                                                : SyncCopyFailed;
        }
        if (MeetsOtherRoot(folder, source_id,
                           DestinationIdentity(DestinationRoot + folder, dst->get())) ||
            HoldsSourceRoot(folder, **dst, false) || MustEnd()) {
            return SyncCopyFailed;
        }
        RemoveLeftovers(folder, src, dst->get());
        if ((*dst)->Count() == static_cast<int32_t>(kFoldersListedAtMost) &&
            src.Count() > static_cast<int32_t>(kFoldersListedAtMost) + 2) {
            Report(kMsgWarning,
                   "FTP server may not be listing all files. Recommend reducing the number of "
                   "files in this folder to less than 2000.");
        }
    } else {
        if (MeetsOtherRoot(folder, source_id,
                           DestinationIdentity(DestinationRoot + folder, nullptr))) {
            return SyncCopyFailed;
        }
        *dst = TurboDestination(folder, src);
    }
    return std::nullopt;
}

void QelSyncBackupWorker::CountSource(const std::string& folder, const QelDirectoryList& src)
{
    for (int32_t i = 1; i <= src.Count(); ++i) {
        const QelDirectoryEntry& s = *src.Items(i);
        // The source counts (what the web site records) take only what the run publishes, as
        // the status check counts.
        if (s.IsDirectory()) {
            if (!s.IsDotEntry()) {
                ++status_.FoldersTotal;
                status_.SourceFolders += FolderIncluded(folder + "\\" + s.Name) ? 1 : 0;
            }
        } else {
            ++status_.FilesTotal;
            status_.SourceFiles +=
                !s.IsSpecialFile() && FileIncluded(folder + "\\" + s.Name) ? 1 : 0;
        }
    }
}

SyncResult QelSyncBackupWorker::SyncEntries(const std::string& folder,
                                            const QelDirectoryList& src,
                                            const QelDirectoryList& dst)
{
    const int32_t count = src.Count();
    const NameIndex src_index(src);
    const NameIndex dst_index(dst);
    for (int32_t i = 1; i <= count; ++i) {
        if (MustEnd()) {
            return SyncCopyFailed;
        }
        if (Flags->StopRequested) {
            Report(kMsgWarning, "Stopped");
            return SyncStopped;
        }
        const QelDirectoryEntry& s = *src.Items(i);
        if (!s.IsDotEntry() && !NameCanTravel(s.Name)) {
            ReportUntravelled(folder + "\\" + s.Name);
            if (!s.IsDirectory()) {
                ++status_.FilesProcessed;
            }
            continue;
        }
        QelDirectoryEntry* d = PairFor(s, dst_index, src_index);
        const SyncResult r = s.IsDirectory() ? HandleSourceFolder(folder, s, d, dst)
                                             : HandleSourceFile(folder, s, d, dst);
        if (r != SyncOk) {
            return r;
        }
    }
    return SyncOk;
}

SyncResult QelSyncBackupWorker::SyncFolder(const std::string& folder, bool listed_as_link)
{
    UpdateStatus();
    Report(kMsgScanFolder, folder);
    Report(kMsgScanSourceFolder, SourceRoot + folder);

    std::unique_ptr<QelDirectoryList> src;
    if (!ListSourceFolder(folder, &src)) {
        return Flags->ContinueAfterErrors ? SyncOk : SyncCopyFailed;
    }
    if (!guards_.Enter(folder, *src, listed_as_link)) {
        Report(kMsgWarning, "Folder " + SourceRoot + folder +
                                " links back to a folder that holds it; it is not published.");
        return SyncOk;
    }
    struct PathGuard
    {
        WalkGuards& guards;
        ~PathGuard() { guards.Leave(); }
    } path_guard{guards_};

    for (const std::string& name : src->Unlisted) {
        ReportUntravelled(folder + "\\" + name);
    }

    std::unique_ptr<QelDirectoryList> dst;
    if (const std::optional<SyncResult> ended = ReadDestination(folder, *src, &dst)) {
        return *ended;
    }
    CountSource(folder, *src);
    if (const SyncResult r = SyncEntries(folder, *src, *dst); r != SyncOk) {
        return r;
    }
    UpdateStatus();
    if (MustEnd()) {
        return SyncCopyFailed;
    }
    if (folder.empty() && EmptySourceWouldEmptyDestination(*src, *dst)) {
        ReportEmptySource();
        return SyncCopyFailed;
    }
    if (Flags->DeleteObsolete || Flags->ListObsoleteOnly) {
        ObsoletePass(folder, *src, *dst);
    }
    ++status_.FoldersProcessed;
    UpdateStatus();
    return SyncOk;
}

bool QelSyncBackupWorker::NameCanTravel(const std::string& name) const
{
    if (DestinationDevice->GetDeviceType() != kDeviceFtp) {
        return true;
    }
    // A line break or NUL would end the command that names the file; a server stores bytes that
    // are not UTF-8 under another name, which the next run would take for an obsolete file.
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos && IsUtf8(name);
}

void QelSyncBackupWorker::ReportUntravelled(const std::string& path)
{
    Report(kMsgWarning, "The name of " + SourceRoot + Printable(path) +
                            " cannot be used at the destination; it is not published.");
}

std::string QelSyncBackupWorker::LeftoverTarget(const std::string& name,
                                                const QelDirectoryList& src) const
{
    std::vector<std::string> targets;
    const std::string tag = Flags->TempNameTag.empty() ? "" : Flags->TempNameTag + "_";
    if (!tag.empty() && name.compare(0, tag.size(), tag) == 0) {
        // tag_name, or tag_<n>_name when tag_name was taken (UniqueTempName).
        const std::string rest = name.substr(tag.size());
        targets.push_back(rest);
        const size_t digits = rest.find_first_not_of("0123456789");
        if (digits != std::string::npos && digits > 0 && rest[digits] == '_') {
            targets.push_back(rest.substr(digits + 1));
        }
    }
    if (DestinationDevice->GetDeviceType() == kDeviceLocalDisk) {
        targets.push_back(platform::TemporaryCopyTarget(name));
    }
    // Only names of those forms are looked up, so a large folder costs no search per entry.
    std::erase(targets, std::string());
    if (targets.empty() || src.Find(name, true) != nullptr) {
        return "";
    }
    for (const std::string& target : targets) {
        const QelDirectoryEntry* s = src.Find(target, true);
        if (s != nullptr && !s->IsDirectory()) {
            return target;
        }
    }
    return "";
}

void QelSyncBackupWorker::RemoveLeftovers(const std::string& folder,
                                          const QelDirectoryList& src,
                                          QelDirectoryList* dst)
{
    for (int32_t i = 1; i <= dst->Count();) {
        const QelDirectoryEntry& d = *dst->Items(i);
        if (d.IsDirectory() || LeftoverTarget(d.Name, src).empty()) {
            ++i;
            continue;
        }
        const std::string path = DestinationRoot + folder + "\\" + d.Name;
        Report(kMsgDeletingFile, path);
        if (DestinationDevice->DeleteFile(DestinationRoot + folder, d.Name, false)) {
            dst->Delete(i);
        } else {
            Report(kMsgWarning, "Failed to delete the temporary file " + path);
            ++i;
        }
    }
}

SyncResult QelSyncBackupWorker::HandleSourceFolder(const std::string& folder,
                                                   const QelDirectoryEntry& s,
                                                   QelDirectoryEntry* d,
                                                   const QelDirectoryList& dst)
{
    const std::string path = folder + "\\" + s.Name;
    if (s.IsDotEntry() || !FolderIncluded(path) || !Flags->Recurse) {
        return SyncOk;
    }
    if (guards_.LinksBackIntoItsPath(s)) {
        Report(kMsgWarning, "Folder " + SourceRoot + path +
                                " links back to a folder that holds it; it is not published.");
        return SyncOk;
    }
    // Checked before the folder is made at the destination, which would be inside it.
    if (MeetsOtherRoot(path, {s.VolumeId, s.FileId}, {})) {
        return SyncCopyFailed;
    }
    const std::string target = DestinationRoot + folder + "\\" + s.Name;
    if (d != nullptr && d->IsLink()) {
        // The server's link leads out of the published copy: it is never entered, but replaced
        // by a real folder.
        Report(kMsgDeletingFile, target);
        if (!RemoveLink(folder + "\\" + d->Name)) {
            status_.ErrorOccurred = true;
            const std::string text = "Failed to delete link " + target + ".";
            if (!Flags->ContinueAfterErrors) {
                Report(kMsgError, text + " Stopping");
                return SyncCopyFailed;
            }
            Report(kMsgWarning, text + " Continuing");
            return SyncOk;
        }
        d = nullptr;
    } else if (d != nullptr && !d->IsDirectory()) {
        // A destination file of the folder's name would stand in the way of every upload into
        // the folder, on every run.
        Report(kMsgDeletingFile, DestinationRoot + folder + "\\" + d->Name);
        if (DeleteRemoteFile(DestinationRoot + folder, d->Name, true)) {
            d = nullptr;
        }
    }
    if (d == nullptr) {
        if (CreateRemoteFolder(DestinationRoot + folder, s.Name)) {
            ++status_.FoldersCreated;
        } else if (Flags->StopRequested) {
            Report(kMsgWarning, "Stopped");
            return SyncStopped;
        } else {
            status_.ErrorOccurred = true;
            if (!Flags->ContinueAfterErrors) {
                Report(kMsgError, "Failed to create directory: " + target + ". Stopping");
                return SyncCopyFailed;
            }
            Report(kMsgWarning, "Failed to create directory: " + target + ". Continuing");
        }
    } else {
        FixNameCase(folder, s, *d, dst);
    }
    return SyncFolder(path, s.IsLink());
}

bool QelSyncBackupWorker::NeedsCopy(const std::string& folder,
                                    const QelDirectoryEntry& s,
                                    const QelDirectoryEntry* d)
{
    bool copy = false;
    if (d == nullptr || d->IsDirectory() || d->IsLink()) {
        // A folder of the file's name is never a copy of it, whatever its date and size; nor is
        // a link, which lists its own date and size.
        copy = true;
        if (Flags->ExplainCopy) {
            Report(kMsgInformation, "File does not exist at server");
        }
    } else if (NewerThanServerCopy(folder, s, *d)) {
        copy = true;
        if (Flags->ExplainCopy) {
            Report(kMsgInformation, "File (" + platform::FormatDateTime("c", s.Date) +
                                        ") is newer than at server (" +
                                        platform::FormatDateTime("c", d->Date2) + ")");
        }
    } else if (Flags->DatesOnly) {
        copy = false;
    } else if (DestinationDevice->SupportsTransferModes() && IsTextFile(s.Name)) {
        // A text upload may change line ends, so a copy of another size can still be whole,
        // but only at a size a whole transfer gives: the source's own (a server that stores
        // what travels), one LF for each CR LF (a server that converts), no CR at all (a server
        // that strips every CR, a lone one too), or one CR LF for each bare LF (our text upload,
        // stored as sent). Any other size is a changed or broken copy, one cut short included.
        // Equal sizes need no reading of the file; one that cannot be read is only known wrong
        // when larger.
        if (SizeKnown(s) && SizeKnown(*d) && Size(*d) != Size(s)) {
            const LineEnds ends = SourceLineEnds(folder, s.Name);
            const bool larger = Size(*d) > Size(s) + ends.bare_lf;
            const bool whole_size = Size(*d) + ends.crlf == Size(s) ||
                                    Size(*d) + ends.cr == Size(s) ||
                                    Size(*d) == Size(s) + ends.bare_lf;
            copy = SendsAsBinary(ends) || larger || (ends.read && !whole_size);
            if (copy && Flags->ExplainCopy) {
                Report(kMsgInformation,
                       SizeText(larger ? "File size (0x%x%.8x) less than server size (0x%x%.8x)"
                                       : "File size (0x%x%.8x) different to server size "
                                         "(0x%x%.8x)",
                                s, *d));
            }
        }
    } else {
        copy = SizeKnown(s) && SizeKnown(*d) && Size(s) != Size(*d);
        if (copy && Flags->ExplainCopy) {
            Report(kMsgInformation,
                   SizeText("File size (0x%x%.8x) different to server size (0x%x%.8x)", s, *d));
        }
    }
    return copy;
}

SyncResult QelSyncBackupWorker::UploadFile(const std::string& folder,
                                           const QelDirectoryEntry& s,
                                           QelDirectoryEntry* d,
                                           const QelDirectoryList& dst)
{
    const std::string path = folder + "\\" + s.Name;
    // An upload over a link would write into what it points to: the link goes first, and
    // while it stands nothing is uploaded.
    bool link_stands = false;
    if (d != nullptr && d->IsLink() && !d->IsDirectory()) {
        Report(kMsgDeletingFile, DestinationRoot + folder + "\\" + d->Name);
        link_stands = !RemoveLink(folder + "\\" + d->Name);
        if (!link_stands) {
            d = nullptr;
        }
    }
    if (d != nullptr && d->IsDirectory()) {
        // Only this folder's tree goes now; the rest of the deletion queue waits for its turn.
        const std::string blocking = folder + "\\" + d->Name;
        Report(kMsgMarkFolderForDeletion, blocking);
        if (d->IsLink()) {
            linked_folders_.insert(blocking);
        }
        DeleteFolderTree(blocking);
        d->SetDirectory(false);
    }
    Report(kMsgCopyingFile, s.Name);
    if (!link_stands && CopyFile(folder, s, DestinationRoot, d, dst)) {
        ++status_.FilesCopied;
        PublishesAFile();
        if (d != nullptr && d->Name != s.Name) {
            d->Name = s.Name;
        }
    } else if (Flags->StopRequested) {
        // The stop ended the upload (the device gives up its waits at once): a stop, not a
        // failure.
        Report(kMsgWarning, "Stopped");
        return SyncStopped;
    } else {
        status_.ErrorOccurred = true;
        const std::string text = "Failed to copy file " + SourceRoot + path + ". " +
                                 DestinationDevice->GetLastErrorText();
        if (!Flags->ContinueAfterErrors) {
            Report(kMsgError, text + " Stopping");
            return SyncCopyFailed;
        }
        Report(kMsgWarning, text + " Continuing");
    }
    return SyncOk;
}

SyncResult QelSyncBackupWorker::HandleSourceFile(const std::string& folder,
                                                 const QelDirectoryEntry& s,
                                                 QelDirectoryEntry* d,
                                                 const QelDirectoryList& dst)
{
    const std::string path = folder + "\\" + s.Name;
    if (s.IsSpecialFile()) {
        // Reading a pipe waits for a writer and a device may never end: neither is opened.
        if (FileIncluded(path)) {
            Report(kMsgWarning, "File " + SourceRoot + Printable(path) +
                                    " is not a regular file (it is a pipe, socket or device); "
                                    "it is not published.");
        }
        ++status_.FilesProcessed;
        return SyncOk;
    }
    line_ends_of_.clear();
    bool included = true;
    bool copy = false;
    if (s.Date < Flags->DateFloor || !FileIncluded(path)) {
        included = false;
    } else {
        copy = NeedsCopy(folder, s, d);
    }

    if (copy) {
        if (const SyncResult r = UploadFile(folder, s, d, dst); r != SyncOk) {
            return r;
        }
    } else {
        if (included && d != nullptr) {
            FixNameCase(folder, s, *d, dst);
        }
        Report(kMsgNoCopyNeeded, s.Name);
        if (included) {
            PublishesAFile();
        }
    }
    ++status_.FilesProcessed;
    return SyncOk;
}

bool QelSyncBackupWorker::NewerThanServerCopy(const std::string& folder,
                                              const QelDirectoryEntry& s,
                                              const QelDirectoryEntry& d)
{
    constexpr double kMinute = 1.0 / (24 * 60);
    // Turbo's stand-in for a folder it did not list carries the source's own times: there is
    // no server copy to ask about.
    const bool stand_in = d.Date2 == s.Date2;
    if (s.Date <= d.Date - (stand_in ? 0 : DestinationDevice->ListedTimeError())) {
        return false;
    }
    if (stand_in) {
        return s.Date > d.Date;
    }
    // Within the error of the listed time, or inside its minute, the order of the edit and the
    // upload is not known yet.
    const double seconds = std::fmod(d.Date2 * 24 * 60 * 60, 60.0);
    const bool whole_minute = seconds < 0.001 || seconds > 59.999;
    if (s.Date > d.Date && (!whole_minute || s.Date >= d.Date + kMinute)) {
        return true;
    }
    const bool sizes_differ = SizeKnown(s) && SizeKnown(d) && Size(s) != Size(d);
    if (sizes_differ && !Flags->DatesOnly &&
        !(DestinationDevice->SupportsTransferModes() && IsTextFile(s.Name))) {
        return true;
    }
    if (!ChangedSinceLastPublish(s)) {
        return false;
    }
    // The earliest the server copy can have been written: a source time at or after it may be
    // an edit made after the upload.
    TDateTime earliest = 0;
    return !DestinationDevice->GetExactFileDate(DestinationRoot + folder, d, &earliest) ||
           s.Date >= earliest;
}

bool QelSyncBackupWorker::ChangedSinceLastPublish(const QelDirectoryEntry& s) const
{
    constexpr double kSecondsPerDay = 24 * 60 * 60;
    if (Flags->LastPublishStart == 0) {
        return true;
    }
    // A file's time comes from a clock that may run a few milliseconds behind the one that
    // dated the run; a time in whole seconds may come from a file system that keeps two.
    const double fraction = std::fmod(s.Date * kSecondsPerDay, 1.0);
    const double slack = fraction < 0.0005 || fraction > 0.9995 ? 2.0 : 0.05;
    return s.Date + slack / kSecondsPerDay >= Flags->LastPublishStart;
}

bool QelSyncBackupWorker::CopyFile(const std::string& folder,
                                   const QelDirectoryEntry& s,
                                   const std::string& destination_root,
                                   QelDirectoryEntry* d,
                                   const QelDirectoryList& dst)
{
    const std::string path = destination_root + folder;
    // The old file is addressed by its own name: where letter case counts, the source's name
    // may be another file, or none.
    if (d != nullptr && d->IsReadOnly()) {
        if (!Flags->ClearReadOnly) {
            return false;
        }
        DestinationDevice->SetReadOnly(path, d->Name, false, false);
    }
    const bool binary = !(DestinationDevice->SupportsTransferModes() && IsTextFile(s.Name)) ||
                        (DestinationDevice->StoresTextWithLineFeeds() &&
                         SendsAsBinary(SourceLineEnds(folder, s.Name)));
    bool ok;
    if (Flags->TempNameTag.empty() || d == nullptr) {
        if (d != nullptr && d->Name != s.Name && !DeleteRemoteFile(path, d->Name, true)) {
            return false;
        }
        const std::string local = SourceDevice->GetFile(SourceRoot + folder, s.Name);
        ok = DestinationDevice->PutFile(local, path, s.Name, binary);
    } else {
        const std::string tmp = UniqueTempName(s, dst);
        const std::string local = SourceDevice->GetFile(SourceRoot + folder, s.Name);
        if (!DestinationDevice->PutFile(local, path, tmp, binary)) {
            return false;
        }
        // A Turbo run that did not list the destination may hold an entry that is not there.
        const bool report_errors = Flags->TurboFolderDate == 0 && Flags->TurboEntryDate == 0;
        if (DeleteRemoteFile(path, d->Name, report_errors)) {
            ok = DestinationDevice->RenameFile(path, tmp, s.Name);
        } else if (Flags->TurboFolderDate == 0) {
            return false;
        } else {
            ok = DestinationDevice->RenameFile(path, tmp, s.Name);
            if (!ok) {
                if (DeleteRemoteFile(path, d->Name, true)) {
                    ok = DestinationDevice->RenameFile(path, tmp, s.Name);
                } else {
                    // The old file still stands: the upload under the temporary name is junk.
                    DestinationDevice->DeleteFile(path, tmp, false);
                }
            }
        }
        // The copy never counts as done while the new content lies under the temporary name.
        if (!ok) {
            return false;
        }
    }
    if (ok && !SourceDevice->KeepsFileDates()) {
        ok = DestinationDevice->SetFileDate(path, s.Name, s.Date2);
    }
    if (ok && DestinationDevice->SupportsPermissions()) {
        const std::string permission = PermissionFor(s.Name);
        if (!permission.empty()) {
            ok = DestinationDevice->SetPermissions(path, s.Name, permission);
        }
    }
    return ok;
}

void QelSyncBackupWorker::FixNameCase(const std::string& folder,
                                      const QelDirectoryEntry& s,
                                      QelDirectoryEntry& d,
                                      const QelDirectoryList& dst)
{
    if (d.Name == s.Name) {
        return;
    }
    if (CaseRenameState == 0) {
        d.Name = s.Name;
        return;
    }
    const std::string path = DestinationRoot + folder;
    if (!DestinationDevice->RenameFile(path, d.Name, s.Name)) {
        const std::string tmp = UniqueTempName(s, dst);
        if (!DestinationDevice->RenameFile(path, d.Name, tmp)) {
            CaseRenameState = 0;
        } else {
            DestinationDevice->RenameFile(path, tmp, s.Name);
        }
    }
    if (CaseRenameState == 2) {
        // The first case change of a run learns whether the destination keeps letter case.
        const auto list = DestinationDevice->ListDirectory(path, s.Name, false);
        CaseRenameState =
            list != nullptr && list->Count() == 1 && list->Items(1)->Name == s.Name ? 1 : 0;
    }
    if (CaseRenameState == 1) {
        Report(kMsgRenaming, d.Name);
        Report(kMsgRenamingTo, s.Name);
    }
    d.Name = s.Name;
}

bool QelSyncBackupWorker::CreateRemoteFolder(const std::string& folder_path,
                                             const std::string& name)
{
    bool ok =
        DestinationDevice->CreateDirectory(name == "." ? folder_path : folder_path + "\\" + name);
    if (ok && DestinationDevice->SupportsPermissions() && !Flags->FolderPermission.empty()) {
        ok = DestinationDevice->SetPermissions(folder_path, name, Flags->FolderPermission);
    }
    return ok;
}

bool QelSyncBackupWorker::EmptySourceWouldEmptyDestination(const QelDirectoryList& src,
                                                           const QelDirectoryList& dst) const
{
    // Against an empty source every destination entry is obsolete, unless a pattern protects
    // it or, for a folder, the run does not recurse.
    return Flags->DeleteObsolete &&
           WalkGuards::EmptySourceWouldEmpty(src, dst, [this](const QelDirectoryEntry& d) {
               const std::string path = "\\" + d.Name;
               return d.IsDirectory() ? Flags->Recurse && !MatchesIgnoreFolders(path)
                                      : !MatchesIgnoreFiles(path);
           });
}

void QelSyncBackupWorker::ObsoletePass(const std::string& folder,
                                       const QelDirectoryList& src,
                                       const QelDirectoryList& dst)
{
    const NameIndex src_index(src);
    for (int32_t i = 1; i <= dst.Count(); ++i) {
        const QelDirectoryEntry& d = *dst.Items(i);
        if (d.IsDotEntry()) {
            continue;
        }
        const std::string path = folder + "\\" + d.Name;
        const QelDirectoryEntry* s = src_index.Exact(d.Name);
        bool obsolete;
        if (s == nullptr) {
            obsolete = d.IsDirectory() ? !MatchesIgnoreFolders(path) : !MatchesIgnoreFiles(path);
        } else if (s->IsDirectory()) {
            obsolete = MatchesExcludeFolders(path) && !MatchesIgnoreFolders(path);
        } else {
            obsolete = MatchesExcludeFiles(path) &&
                       (!MatchesIgnoreFiles(path) ||
                        (s->Date < Flags->DateFloor && !Flags->KeepIgnoredOldFiles));
        }
        if (!obsolete) {
            continue;
        }
        if (d.IsDirectory()) {
            ++status_.FoldersTotal;
            if (!Flags->Recurse) {
                Report(kMsgIgnoringFolder, path);
            } else {
                if (Flags->ListObsoleteOnly) {
                    Report(kMsgObsoleteFolder, path);
                }
                if (Flags->DeleteObsolete) {
                    Report(kMsgMarkFolderForDeletion, path);
                    if (d.IsLink()) {
                        linked_folders_.insert(path);
                    }
                    FoldersToDelete.push_back(path);
                }
            }
        } else {
            ++status_.FilesTotal;
            if (Flags->ListObsoleteOnly) {
                Report(kMsgObsoleteFile, path);
            }
            if (Flags->DeleteObsolete) {
                Report(kMsgMarkFileForDeletion, path);
                FilesToDelete.push_back(path);
            }
        }
        if (Flags->DeleteImmediately && Flags->DeleteObsolete && guards_.PublishedAFile()) {
            DeleteMarked();
        }
    }
}

void QelSyncBackupWorker::PublishesAFile()
{
    if (guards_.NotePublishedFile() && Flags->DeleteImmediately && Flags->DeleteObsolete &&
        (!FilesToDelete.empty() || !FoldersToDelete.empty())) {
        DeleteMarked();
    }
}

bool QelSyncBackupWorker::DeleteRemoteFile(const std::string& folder,
                                           const std::string& name,
                                           bool report_errors)
{
    if (DestinationDevice->DeleteFile(folder, name, report_errors)) {
        return true;
    }
    if (!Flags->ClearReadOnly) {
        return false;
    }
    DestinationDevice->SetReadOnly(folder, name, false, false);
    return DestinationDevice->DeleteFile(folder, name, report_errors);
}

SyncResult QelSyncBackupWorker::DeleteMarkedFiles()
{
    int kept = 0;
    while (!FilesToDelete.empty()) {
        const std::string r = FilesToDelete.front();
        const std::string path = DestinationRoot + r;
        if (MustEnd()) {
            return SyncDeleteFailed;
        }
        if (Flags->StopRequested) {
            Report(kMsgWarning, "Stopped.");
            return SyncStopped;
        }
        if (MatchesIgnoreFiles(path)) {
            ++kept;
        } else {
            Report(kMsgDeletingFile, path);
            if (DeleteRemoteFile(DestinationRoot, r, true)) {
                ++status_.FilesDeleted;
            } else {
                status_.DeleteErrorOccurred = true;
                if (!Flags->ContinueAfterErrors) {
                    Report(kMsgError, "Failed to delete file: " + path + ". stopping");
                    return SyncDeleteFailed;
                }
                Report(kMsgWarning, "Failed to delete file: " + path + ". Continuing");
            }
        }
        ++status_.FilesProcessed;
        UpdateStatus();
        FilesToDelete.pop_front();
    }
    return kept > 0 ? SyncKept : SyncOk;
}

SyncResult QelSyncBackupWorker::DeleteLinkedFolder(const std::string& r)
{
    const std::string path = DestinationRoot + r;
    // A link is removed as itself: what it points to is not part of the published copy.
    Report(kMsgDeletingFolder, path);
    SyncResult result;
    if (RemoveLink(r)) {
        ++status_.FoldersDeleted;
        result = SyncOk;
    } else {
        Report(kMsgError, "Failed to delete directory: " + path);
        status_.DeleteErrorOccurred = true;
        result = SyncDeleteFailed;
    }
    UpdateStatus();
    return result;
}

SyncResult QelSyncBackupWorker::QueueTreeContent(const std::string& r, int* kept)
{
    const std::string path = DestinationRoot + r;
    Report(kMsgScanFolderBeforeDelete, path);
    std::unique_ptr<QelDirectoryList> list;
    if (!ListDestinationFolder(path, &list, true)) {
        return SyncDeleteFailed;
    }
    // Nothing of the master copy goes, whatever mount put it inside the published copy.
    if (MeetsOtherRoot(r, {}, DestinationIdentity(path, list.get())) ||
        HoldsSourceRoot(r, *list, true) || MustEnd()) {
        return SyncDeleteFailed;
    }
    for (int32_t i = 1; i <= list->Count(); ++i) {
        if (MustEnd()) {
            return SyncDeleteFailed;
        }
        if (Flags->StopRequested) {
            Report(kMsgWarning, "Stopped");
            return SyncStopped;
        }
        const QelDirectoryEntry& e = *list->Items(i);
        if (e.IsDotEntry()) {
            // nothing to delete
        } else if (e.IsDirectory()) {
            ++status_.FoldersTotal;
            const std::string sub = r + "\\" + e.Name;
            if (e.IsLink()) {
                linked_folders_.insert(sub);
            }
            const SyncResult c = DeleteFolderTree(sub);
            if (c == SyncKept) {
                ++*kept;
            } else if (c != SyncOk) {
                if (!Flags->ContinueAfterErrors) {
                    return c;
                }
                status_.DeleteErrorOccurred = true;
            }
        } else {
            ++status_.FilesTotal;
            FilesToDelete.push_back(r + "\\" + e.Name);
        }
        UpdateStatus();
    }
    return SyncOk;
}

SyncResult QelSyncBackupWorker::DeleteFolderTree(const std::string& r)
{
    const std::string path = DestinationRoot + r;
    if (MustEnd()) {
        return SyncDeleteFailed;
    }
    if (linked_folders_.count(r) != 0) {
        return DeleteLinkedFolder(r);
    }

    // Files queued before this tree wait: deleting one folder tree must not run the rest of the
    // deletion queue, which may not be due yet.
    std::deque<std::string> waiting;
    waiting.swap(FilesToDelete);
    struct QueueGuard
    {
        std::deque<std::string>& queue;
        std::deque<std::string>& waiting;
        ~QueueGuard()
        {
            waiting.insert(waiting.end(), queue.begin(), queue.end());
            queue.swap(waiting);
        }
    } queue_guard{FilesToDelete, waiting};

    int kept = 0;
    if (const SyncResult c = QueueTreeContent(r, &kept); c != SyncOk) {
        return c;
    }
    SyncResult result;
    const SyncResult c = DeleteMarkedFiles();
    if (c == SyncKept) {
        result = SyncKept;
    } else if (c != SyncOk) {
        return c;
    } else if (kept > 0) {
        result = SyncKept;
    } else {
        result = RemoveEmptiedFolder(path);
    }
    UpdateStatus();
    return result;
}

bool QelSyncBackupWorker::RemoveLink(const std::string& r)
{
    // FTP removes a link by its name, as a file; a local link to a folder may need the folder
    // call.
    return DestinationDevice->DeleteFile(DestinationRoot, r, false) ||
           DestinationDevice->RemoveDirectory(DestinationRoot + r);
}

SyncResult QelSyncBackupWorker::RemoveEmptiedFolder(const std::string& path)
{
    Report(kMsgDeletingFolder, path);
    if (DestinationDevice->RemoveDirectory(path)) {
        ++status_.FoldersDeleted;
        return SyncOk;
    }
    Report(kMsgError, "Failed to delete directory: " + path);
    status_.DeleteErrorOccurred = true;
    return SyncDeleteFailed;
}

SyncResult QelSyncBackupWorker::DeleteMarked()
{
    // A kept file is no failure: the queued folders still go.
    const SyncResult files = DeleteMarkedFiles();
    if (files != SyncOk && files != SyncKept) {
        return files;
    }
    while (!FoldersToDelete.empty()) {
        if (MustEnd()) {
            return SyncDeleteFailed;
        }
        if (Flags->StopRequested) {
            Report(kMsgWarning, "Stopped");
            return SyncStopped;
        }
        // A tree that kept a protected file stays, and leaves the queue like a deleted one.
        const SyncResult c = DeleteFolderTree(FoldersToDelete.front());
        if (c != SyncOk && c != SyncKept) {
            if (!Flags->ContinueAfterErrors) {
                return c;
            }
            status_.DeleteErrorOccurred = true;
        }
        FoldersToDelete.pop_front();
    }
    return SyncOk;
}

}  // namespace vantrel
