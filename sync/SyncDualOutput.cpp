#include "sync/SyncDualOutput.h"

#include <utility>

namespace vantrel {

QelSyncDualOutput::QelSyncDualOutput(std::unique_ptr<QelSyncBaseOutput> first,
                                     std::unique_ptr<QelSyncBaseOutput> second)
    : first_(SinkOrDropAll(std::move(first)))
    , second_(SinkOrDropAll(std::move(second)))
{}

QelSyncDualOutput::~QelSyncDualOutput()
{
    // Members would go in reverse order; the first sink (the log file) is closed first.
    first_.reset();
    second_.reset();
}

void QelSyncDualOutput::UpdateStatus(const QelSyncStatus& status)
{
    first_->UpdateStatus(status);
    second_->UpdateStatus(status);
}

void QelSyncDualOutput::Finished(const QelSyncStatus& status)
{
    first_->Finished(status);
    second_->Finished(status);
}

void QelSyncDualOutput::Report(const QelSyncStatus& status,
                               QelSyncMessageType type,
                               const std::string& text)
{
    first_->Report(status, type, text);
    second_->Report(status, type, text);
}

void QelSyncDualOutput::Write(QelSyncMessageType type, const std::string& text)
{
    first_->Write(type, text);
    second_->Write(type, text);
}

bool QelSyncDualOutput::Accepts(QelSyncMessageType type)
{
    return first_->Accepts(type) || second_->Accepts(type);
}

}  // namespace vantrel
