#include "sync/QelSyncBaseOutput.h"

#include <algorithm>
#include <cstddef>

namespace vantrel {
namespace {

// The template of each type with a text of its own; "%s" stands for the message text.
const char* TemplateFor(QelSyncMessageType type)
{
    switch (type) {
        case kMsgScanSourceFolder:
            return "Scanning source folder: %s";
        case kMsgScanTargetFolder:
            return "Scanning target folder: %s";
        case kMsgScanFolder:
            return "Scanning folder: %s";
        case kMsgScanFolderBeforeDelete:
            return "Scanning folder: %s prior to deleting it";
        case kMsgNoCopyNeeded:
            return "File %s does not need copying.";
        case kMsgMarkFolderForDeletion:
            return "Marking folder %s for later deletion.";
        case kMsgMarkFileForDeletion:
            return "Marking file %s for later deletion.";
        case kMsgIgnoringFolder:
            return "Ignoring folder %s";
        case kMsgObsoleteFolder:
            return "Obsolete folder %s";
        case kMsgObsoleteFile:
            return "Obsolete file %s";
        case kMsgConnectionEstablished:
            return "Connection established.";
        case kMsgCopyingFile:
            return "Copying file %s";
        case kMsgRenaming:
            return "Renaming %s";
        case kMsgRenamingTo:
            return "Renaming to %s";
        case kMsgCreatingFolder:
            return "Creating folder %s";
        case kMsgDeletingFile:
            return "Deleting file %s";
        case kMsgDeletingFolder:
            return "Deleting folder %s";
        default:
            return "%s";
    }
}

class DropAllOutput : public QelSyncBaseOutput
{
public:
    bool Accepts(QelSyncMessageType) override { return false; }
};

}  // namespace

void QelSyncBaseOutput::UpdateStatus(const QelSyncStatus&) {}

void QelSyncBaseOutput::Finished(const QelSyncStatus&) {}

void QelSyncBaseOutput::Report(const QelSyncStatus& status,
                               QelSyncMessageType type,
                               const std::string& text)
{
    if (Accepts(type)) {
        UpdateStatus(status);
        Write(type, text);
    }
}

void QelSyncBaseOutput::Write(QelSyncMessageType, const std::string&) {}

bool QelSyncBaseOutput::Accepts(QelSyncMessageType)
{
    return true;
}

void QelSyncBaseOutput::WriteEvent(QelSyncMessageType type)
{
    Write(type, std::string());
}

bool QelSyncBaseOutput::IsScanMessage(QelSyncMessageType type)
{
    return type >= 1 && type <= 10;
}

bool QelSyncBaseOutput::IsActionMessage(QelSyncMessageType type)
{
    return type >= 13 && type <= 21;
}

bool QelSyncBaseOutput::IsWarningMessage(QelSyncMessageType type)
{
    return type == kMsgWarning;
}

bool QelSyncBaseOutput::IsErrorMessage(QelSyncMessageType type)
{
    return type == kMsgError;
}

std::string QelSyncBaseOutput::FormatMessage(QelSyncMessageType type, std::string_view text)
{
    if (type == kMsgScanFolder && text.empty()) {
        return "Scanning folder: .";
    }
    const std::string_view format = TemplateFor(type);
    const size_t slot = format.find("%s");
    if (slot == std::string_view::npos) {
        return std::string(format);
    }
    // Paths travel inside the system with "\"; a reader here knows them with "/", and an FTP
    // address as ftp://host/folder.
    std::string line;
    line.reserve(format.size() + text.size());
    line.append(format.substr(0, slot));
    const size_t start = line.size();
    line.append(text);
    std::replace(line.begin() + static_cast<std::ptrdiff_t>(start), line.end(), '\\', '/');
    line.append(format.substr(slot + 2));
    return line;
}

std::unique_ptr<QelSyncBaseOutput> SinkOrDropAll(std::unique_ptr<QelSyncBaseOutput> sink)
{
    if (sink == nullptr) {
        return std::make_unique<DropAllOutput>();
    }
    return sink;
}

}  // namespace vantrel
