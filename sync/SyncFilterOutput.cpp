#include "sync/SyncFilterOutput.h"

#include <utility>

namespace vantrel {

TGenericFilteredOutput::TGenericFilteredOutput(std::unique_ptr<QelSyncBaseOutput> sink)
    : sink_(SinkOrDropAll(std::move(sink)))
{}

void TGenericFilteredOutput::UpdateStatus(const QelSyncStatus& status)
{
    if (AcceptsUpdateStatus()) {
        sink_->UpdateStatus(status);
    }
}

void TGenericFilteredOutput::Finished(const QelSyncStatus& status)
{
    sink_->Finished(status);
}

void TGenericFilteredOutput::Write(QelSyncMessageType type, const std::string& text)
{
    // Devices call Write directly, without Report, so the filter is applied here too.
    if (Accepts(type)) {
        sink_->Write(type, text);
    }
}

bool TGenericFilteredOutput::AcceptsUpdateStatus()
{
    return true;
}

TQelSyncFilterOutputByClass::TQelSyncFilterOutputByClass(std::unique_ptr<QelSyncBaseOutput> sink,
                                                         int32_t flags)
    : TGenericFilteredOutput(std::move(sink))
    , flags_(flags)
{}

bool TQelSyncFilterOutputByClass::Accepts(QelSyncMessageType type)
{
    if (IsScanMessage(type)) {
        return (flags_ & kDropScanning) == 0;
    }
    if (IsActionMessage(type)) {
        return (flags_ & kDropActions) == 0;
    }
    return true;
}

bool TQelSyncFilterOutputByClass::AcceptsUpdateStatus()
{
    return (flags_ & kDropStatus) == 0;
}

TQelSyncFilterOutputByType::TQelSyncFilterOutputByType(std::unique_ptr<QelSyncBaseOutput> sink,
                                                       uint32_t dropped_types)
    : TGenericFilteredOutput(std::move(sink))
    , dropped_types_(dropped_types)
{}

bool TQelSyncFilterOutputByType::Accepts(QelSyncMessageType type)
{
    return type > 31 || ((dropped_types_ >> type) & 1u) == 0;
}

}  // namespace vantrel
