#pragma once

#include <memory>
#include <string>

#include "sync/QelSyncBaseOutput.h"

// The sink that hands every call to two sinks (QelSyncDualOutput).
namespace vantrel {

// Passes every call to the first sink, then to the second. Owns both and frees them in that
// order; a missing sink is replaced by one that accepts nothing and drops everything. Called by
// whichever thread calls the sinks it wraps.
class QelSyncDualOutput : public QelSyncBaseOutput
{
public:
    QelSyncDualOutput(std::unique_ptr<QelSyncBaseOutput> first,
                      std::unique_ptr<QelSyncBaseOutput> second);
    ~QelSyncDualOutput() override;
    QelSyncDualOutput(const QelSyncDualOutput&) = delete;
    QelSyncDualOutput& operator=(const QelSyncDualOutput&) = delete;

    void UpdateStatus(const QelSyncStatus& status) override;
    void Finished(const QelSyncStatus& status) override;
    // Each sink's own Report, so each applies its own filter to the status and the text.
    void Report(const QelSyncStatus& status,
                QelSyncMessageType type,
                const std::string& text) override;
    void Write(QelSyncMessageType type, const std::string& text) override;
    // The second sink is asked only when the first refuses.
    bool Accepts(QelSyncMessageType type) override;

private:
    std::unique_ptr<QelSyncBaseOutput> first_;
    std::unique_ptr<QelSyncBaseOutput> second_;
};

}  // namespace vantrel
