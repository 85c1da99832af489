#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sync/QelSyncBaseOutput.h"

// Sinks that pass a call on to the sink they wrap only when their filter lets it through: the
// generic filter (TGenericFilteredOutput), the filter by message class
// (TQelSyncFilterOutputByClass) and the filter by message type (TQelSyncFilterOutputByType).
namespace vantrel {

// Passes Write on when Accepts(type), UpdateStatus when AcceptsUpdateStatus, and Finished always,
// so the wrapped sink always learns that the run has ended. Report is the base rule, so both of
// its steps go through the filter. Owns the wrapped sink; a missing one is replaced by a sink
// that drops everything. Called by whichever thread calls the wrapped sink.
class TGenericFilteredOutput : public QelSyncBaseOutput
{
public:
    explicit TGenericFilteredOutput(std::unique_ptr<QelSyncBaseOutput> sink);
    TGenericFilteredOutput(const TGenericFilteredOutput&) = delete;
    TGenericFilteredOutput& operator=(const TGenericFilteredOutput&) = delete;

    void UpdateStatus(const QelSyncStatus& status) override;
    void Finished(const QelSyncStatus& status) override;
    void Write(QelSyncMessageType type, const std::string& text) override;
    virtual bool AcceptsUpdateStatus();

private:
    std::unique_ptr<QelSyncBaseOutput> sink_;
};

// Drops whole classes of messages by the bits of Flags.
class TQelSyncFilterOutputByClass : public TGenericFilteredOutput
{
public:
    static constexpr int32_t kDropActions = 1;   // types 13 to 21
    static constexpr int32_t kDropScanning = 2;  // types 1 to 10
    static constexpr int32_t kDropStatus = 4;    // status updates

    TQelSyncFilterOutputByClass(std::unique_ptr<QelSyncBaseOutput> sink, int32_t flags);

    bool Accepts(QelSyncMessageType type) override;
    bool AcceptsUpdateStatus() override;

    int32_t Flags() const { return flags_; }

private:
    const int32_t flags_;
};

// Drops the message types 0 to 31 whose bit is set in DroppedTypes; higher types always pass.
class TQelSyncFilterOutputByType : public TGenericFilteredOutput
{
public:
    TQelSyncFilterOutputByType(std::unique_ptr<QelSyncBaseOutput> sink, uint32_t dropped_types);

    bool Accepts(QelSyncMessageType type) override;

    uint32_t DroppedTypes() const { return dropped_types_; }

private:
    const uint32_t dropped_types_;
};

}  // namespace vantrel
