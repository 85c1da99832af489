#include "sync/QelSyncFlags.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

void SetEverything(QelSyncFlags& flags)
{
    flags.CreateDestinationRoot = flags.ContinueAfterErrors = flags.DeleteObsolete = true;
    flags.DeleteImmediately = flags.ListObsoleteOnly = flags.DeleteAfterFailure = true;
    flags.Recurse = flags.KeepIgnoredOldFiles = flags.DatesOnly = false;
    flags.ExplainCopy = flags.ClearReadOnly = true;
    flags.StopRequested = flags.Failed = true;
    flags.FreeSourceDevice = flags.FreeDestinationDevice = flags.FreeOutput = true;
    flags.DateFloor = flags.TurboFolderDate = flags.TurboEntryDate = 45000.5;
    flags.DefaultFilePermission = "644";
    flags.FolderPermission = "755";
    flags.TempNameTag = "qvr";
    for (auto* list :
         {&flags.FilePermissions, &flags.TextFiles, &flags.IncludeFiles, &flags.ExcludeFiles,
          &flags.IgnoreFiles, &flags.ExcludeFolders, &flags.IgnoreFolders}) {
        list->push_back("*.x");
    }
}

TEST(QelSyncFlagsTest, ResetRestoresEverySwitchButKeepsThePermissionTexts)
{
    QelSyncFlags flags;
    SetEverything(flags);
    flags.Reset();

    EXPECT_TRUE(flags.Recurse);
    EXPECT_TRUE(flags.DatesOnly);
    EXPECT_TRUE(flags.KeepIgnoredOldFiles);
    for (bool on :
         {flags.CreateDestinationRoot, flags.ContinueAfterErrors, flags.DeleteObsolete,
          flags.DeleteImmediately, flags.ListObsoleteOnly, flags.DeleteAfterFailure,
          flags.ExplainCopy, flags.ClearReadOnly, flags.StopRequested.load(), flags.Failed.load(),
          flags.FreeSourceDevice, flags.FreeDestinationDevice, flags.FreeOutput}) {
        EXPECT_FALSE(on);
    }
    EXPECT_EQ(0.0, flags.DateFloor);
    EXPECT_EQ(0.0, flags.TurboFolderDate);
    EXPECT_EQ(0.0, flags.TurboEntryDate);
    EXPECT_EQ("", flags.TempNameTag);
    for (const auto* list :
         {&flags.FilePermissions, &flags.TextFiles, &flags.IncludeFiles, &flags.ExcludeFiles,
          &flags.IgnoreFiles, &flags.ExcludeFolders, &flags.IgnoreFolders}) {
        EXPECT_TRUE(list->empty());
    }
    EXPECT_EQ("644", flags.DefaultFilePermission);
    EXPECT_EQ("755", flags.FolderPermission);
}

TEST(QelSyncFlagsTest, ANewRecordIsReset)
{
    QelSyncFlags flags;
    EXPECT_TRUE(flags.Recurse);
    EXPECT_FALSE(flags.StopRequested);
    EXPECT_EQ("", flags.DefaultFilePermission);
}

TEST(QelSyncFlagsTest, TheStatusBlockStartsAtZero)
{
    const QelSyncStatus status;
    EXPECT_FALSE(status.ErrorOccurred);
    EXPECT_FALSE(status.DeleteErrorOccurred);
    EXPECT_EQ(0, status.FilesTotal + status.FilesDeleted + status.FilesProcessed +
                     status.FilesCopied + status.SourceFiles + status.SourceFolders +
                     status.FoldersTotal + status.FoldersDeleted + status.FoldersCreated +
                     status.FoldersProcessed);
    EXPECT_EQ(4, SyncStopped);
}

}  // namespace
}  // namespace vantrel
