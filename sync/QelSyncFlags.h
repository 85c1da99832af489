#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/QelDateFunctions.h"

// The options and result of one synchronisation run (QelSyncFlags), the run's status block
// (QelSyncStatus) and the result codes of the worker's operations (SyncResult).
namespace vantrel {

// Options of one run, filled by the publishing session before each run and read by the worker.
// The session owns one record and reuses it. StopRequested is written by the main thread while
// the publisher thread reads it, and Failed the other way round, so both are atomic; every other
// field is written only while no run is active.
class QelSyncFlags
{
public:
    QelSyncFlags();
    QelSyncFlags(const QelSyncFlags&) = delete;
    QelSyncFlags& operator=(const QelSyncFlags&) = delete;

    // Every field back to its reset value, except the two permission texts, which keep theirs.
    void Reset();

    bool CreateDestinationRoot;
    bool ContinueAfterErrors;
    bool DeleteObsolete;
    bool DeleteImmediately;
    bool ListObsoleteOnly;
    bool DeleteAfterFailure;
    bool Recurse;
    TDateTime DateFloor;
    bool KeepIgnoredOldFiles;
    bool DatesOnly;
    bool ExplainCopy;
    std::string DefaultFilePermission;
    std::string FolderPermission;
    std::vector<std::string> FilePermissions;  // lines "pattern=permission"
    std::vector<std::string> TextFiles;
    std::vector<std::string> IncludeFiles;
    std::vector<std::string> ExcludeFiles;
    std::vector<std::string> IgnoreFiles;
    std::vector<std::string> ExcludeFolders;
    std::vector<std::string> IgnoreFolders;
    bool ClearReadOnly;
    std::atomic<bool> StopRequested;
    std::atomic<bool> Failed;
    bool FreeSourceDevice;
    bool FreeDestinationDevice;
    bool FreeOutput;
    TDateTime TurboFolderDate;
    TDateTime TurboEntryDate;
    // When the last run that ended in success began (0: none is known). A source file dated
    // before it was compared with its server copy by that run, as it is now.
    TDateTime LastPublishStart;
    std::string TempNameTag;
};

// Progress and final counters of a run, kept by the worker and handed to every sink call.
struct QelSyncStatus
{
    bool ErrorOccurred = false;
    bool DeleteErrorOccurred = false;
    int32_t FilesTotal = 0;
    int32_t FilesDeleted = 0;
    int32_t FilesProcessed = 0;
    int32_t FilesCopied = 0;
    int32_t SourceFiles = 0;
    int32_t SourceFolders = 0;
    int32_t FoldersTotal = 0;
    int32_t FoldersDeleted = 0;
    int32_t FoldersCreated = 0;
    int32_t FoldersProcessed = 0;
};

// A folder pass returns the first non-zero code of the work below it; codes never combine.
enum SyncResult : uint8_t
{
    SyncOk = 0,
    SyncCopyFailed = 1,
    SyncDeleteFailed = 2,
    SyncKept = 3,
    SyncStopped = 4,
};

}  // namespace vantrel
