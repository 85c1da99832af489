#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sync/QelSyncFlags.h"

// The output sink through which every message of a run travels (QelSyncBaseOutput), and the
// message types that class each message and choose its template (QelSyncMessageType).
namespace vantrel {

// One byte; values without a name below (0, 11, 12, 22, 23, 25, 26, above 27) have no class and
// print their text as it stands.
enum QelSyncMessageType : uint8_t
{
    kMsgScanSourceFolder = 1,
    kMsgScanTargetFolder = 2,
    kMsgScanFolder = 3,
    kMsgScanFolderBeforeDelete = 4,
    kMsgNoCopyNeeded = 5,
    kMsgMarkFolderForDeletion = 6,
    kMsgMarkFileForDeletion = 7,
    kMsgIgnoringFolder = 8,
    kMsgObsoleteFolder = 9,
    kMsgObsoleteFile = 10,
    kMsgConnectionEstablished = 13,
    kMsgCopyingFile = 14,
    kMsgRenaming = 15,
    kMsgRenamingTo = 16,
    kMsgCreatingFolder = 17,
    kMsgDeletingFile = 18,
    kMsgDeletingFolder = 19,
    kMsgInformation = 20,
    kMsgVerbose = 21,
    kMsgWarning = 24,
    kMsgError = 27,
};

// The base sink: it drops everything, accepts every type, and gives the classification and the
// templates. The worker calls Report, UpdateStatus and Finished on the publisher thread; the
// storage devices call Write directly, without a status block. A sink is used by one thread at a
// time.
class QelSyncBaseOutput
{
public:
    virtual ~QelSyncBaseOutput() = default;

    virtual void UpdateStatus(const QelSyncStatus& status);
    virtual void Finished(const QelSyncStatus& status);
    // When Accepts(type): UpdateStatus(status), then Write(type, text), so a sink that turns
    // status updates into progress sends the progress before the text.
    virtual void Report(const QelSyncStatus& status,
                        QelSyncMessageType type,
                        const std::string& text);
    virtual void Write(QelSyncMessageType type, const std::string& text);
    virtual bool Accepts(QelSyncMessageType type);

    // Write(type, empty text), for a message that needs no text.
    void WriteEvent(QelSyncMessageType type);

    static bool IsScanMessage(QelSyncMessageType type);
    static bool IsActionMessage(QelSyncMessageType type);
    static bool IsWarningMessage(QelSyncMessageType type);
    static bool IsErrorMessage(QelSyncMessageType type);

    // The type's template with the text as its one argument; the text is never read as a
    // template, so a "%" in a file name prints as it stands.
    static std::string FormatMessage(QelSyncMessageType type, std::string_view text);
};

// The sink itself, or in place of a missing one a sink that accepts no type and drops every
// call, so that a composed sink never calls through a null pointer.
std::unique_ptr<QelSyncBaseOutput> SinkOrDropAll(std::unique_ptr<QelSyncBaseOutput> sink);

}  // namespace vantrel
