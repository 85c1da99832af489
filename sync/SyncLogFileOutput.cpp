#include "sync/SyncLogFileOutput.h"

#include <utility>

#include "platform/DateTime.h"
#include "platform/Files.h"

namespace vantrel {
namespace {

std::string TimeStamp()
{
    return platform::FormatDateTime("c ", NowDateTime());
}

}  // namespace

QelSyncLogFileOutput::QelSyncLogFileOutput(std::string file_name, uint8_t options)
    : file_name_(std::move(file_name))
    , options_(options)
{}

QelSyncLogFileOutput::~QelSyncLogFileOutput()
{
    Close();
}

// The devices freed after the run write their last lines to the same file.
void QelSyncLogFileOutput::Finished(const QelSyncStatus&)
{
    std::lock_guard<std::mutex> lock(lock_);
    CloseLocked();
}

void QelSyncLogFileOutput::StartRun()
{
    std::lock_guard<std::mutex> lock(lock_);
    CloseLocked();
    fresh_ = true;
    heading_.clear();
}

void QelSyncLogFileOutput::StartSection(std::string heading)
{
    std::lock_guard<std::mutex> lock(lock_);
    heading_ = std::move(heading);
}

bool QelSyncLogFileOutput::EnsureOpen()
{
    std::lock_guard<std::mutex> lock(lock_);
    return EnsureOpenLocked();
}

// The platform's last error is left alone throughout: a device writes its error message before
// it returns, and its caller reads the code afterwards.
bool QelSyncLogFileOutput::EnsureOpenLocked()
{
    if (file_ != nullptr) {
        return true;
    }
    const bool append = (options_ & kAppend) != 0 || !fresh_;
    // Appending creates a missing file, so no second attempt is needed.
    file_ = std::fopen(platform::ToPosixPath(file_name_).c_str(), append ? "ab" : "wb");
    if (file_ != nullptr) {
        fresh_ = false;
    }
    return file_ != nullptr;
}

std::string QelSyncLogFileOutput::FormatLine(QelSyncMessageType type, const std::string& text)
{
    if (IsWarningMessage(type)) {
        return "!! Warning: " + FormatMessage(type, text);
    }
    if (IsErrorMessage(type)) {
        return "!! Error: " + FormatMessage(type, text);
    }
    return FormatMessage(type, text);
}

void QelSyncLogFileOutput::Write(QelSyncMessageType type, const std::string& text)
{
    std::lock_guard<std::mutex> lock(lock_);
    if (!EnsureOpenLocked()) {
        return;
    }
    if (!heading_.empty()) {
        if (!WriteLineLocked(heading_)) {
            return;
        }
        heading_.clear();
    }
    WriteLineLocked(FormatLine(type, text));
}

bool QelSyncLogFileOutput::WriteLineLocked(const std::string& text)
{
    std::string line;
    if ((options_ & kTimeStamps) != 0) {
        line = TimeStamp();
    }
    line.append(text);
    line.append("\r\n");
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
        Abandon();
        return false;
    }
    return true;
}

void QelSyncLogFileOutput::Flush()
{
    std::lock_guard<std::mutex> lock(lock_);
    if (file_ != nullptr && std::fflush(file_) != 0) {
        Abandon();
    }
}

void QelSyncLogFileOutput::Close()
{
    std::lock_guard<std::mutex> lock(lock_);
    CloseLocked();
}

void QelSyncLogFileOutput::CloseLocked()
{
    if (file_ != nullptr) {
        // A failure here loses only buffered lines; there is no one to tell.
        std::fclose(file_);
        file_ = nullptr;
    }
}

void QelSyncLogFileOutput::Abandon()
{
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace vantrel
