#include "sync/QelSyncFlags.h"

namespace vantrel {

QelSyncFlags::QelSyncFlags()
{
    Reset();
}

void QelSyncFlags::Reset()
{
    CreateDestinationRoot = false;
    ContinueAfterErrors = false;
    DeleteObsolete = false;
    DeleteImmediately = false;
    ListObsoleteOnly = false;
    DeleteAfterFailure = false;
    Recurse = true;
    DateFloor = 0;
    KeepIgnoredOldFiles = true;
    DatesOnly = true;
    ExplainCopy = false;
    FilePermissions.clear();
    TextFiles.clear();
    IncludeFiles.clear();
    ExcludeFiles.clear();
    IgnoreFiles.clear();
    ExcludeFolders.clear();
    IgnoreFolders.clear();
    ClearReadOnly = false;
    StopRequested = false;
    Failed = false;
    FreeSourceDevice = false;
    FreeDestinationDevice = false;
    FreeOutput = false;
    TurboFolderDate = 0;
    TurboEntryDate = 0;
    LastPublishStart = 0;
    TempNameTag.clear();
}

}  // namespace vantrel
