#include "platform/Pipe.h"

#include <algorithm>
#include <cstring>

#include "platform/Errors.h"

namespace vantrel::platform {

AnonymousPipe::AnonymousPipe(uint32_t capacity)
    : capacity_(capacity)
{}

bool AnonymousPipe::Fits(size_t size) const
{
    return Waiting() == 0 || Waiting() + size <= capacity_;
}

bool AnonymousPipe::WaitForRoom(size_t size)
{
    std::unique_lock<std::mutex> lock(lock_);
    data_read_.wait(lock, [&] { return Broken() || Fits(size); });
    if (Broken()) {
        SetLastError(kErrorBrokenPipe);
        return false;
    }
    return true;
}

bool AnonymousPipe::Write(const void* data, size_t size, PipeWriteMode mode)
{
    {
        std::unique_lock<std::mutex> lock(lock_);
        if (mode == PipeWriteMode::kWait) {
            data_read_.wait(lock, [&] { return Broken() || Fits(size); });
        }
        if (Broken()) {
            SetLastError(kErrorBrokenPipe);
            return false;
        }
        if (mode == PipeWriteMode::kOnlyIfRoom && !Fits(size)) {
            SetLastError(kErrorPipeBusy);
            return false;
        }
        bytes_.append(static_cast<const char*>(data), size);
    }
    data_written_.notify_all();
    return true;
}

size_t AnonymousPipe::Take(char* out, size_t size)
{
    const size_t n = std::min(size, Waiting());
    std::memcpy(out, bytes_.data() + head_, n);
    head_ += n;
    // Drop the read front now and then rather than on every read, so reading stays linear.
    if (head_ == bytes_.size()) {
        bytes_.clear();
        head_ = 0;
    } else if (head_ >= 4096 && head_ * 2 >= bytes_.size()) {
        bytes_.erase(0, head_);
        head_ = 0;
    }
    // A waiting writer hears of room once half the pipe is free, not at every item the reader
    // takes: woken for a few bytes, it would only go back to sleep.
    if (Waiting() <= capacity_ / 2) {
        data_read_.notify_all();
    }
    return n;
}

bool AnonymousPipe::Read(void* buffer, size_t size, size_t* read)
{
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    std::unique_lock<std::mutex> lock(lock_);
    while (done < size) {
        data_written_.wait(lock, [&] { return read_closed_ || write_closed_ || Waiting() > 0; });
        if (read_closed_ || Waiting() == 0) {
            break;
        }
        done += Take(out + done, size - done);
    }
    *read = done;
    if (done < size) {
        SetLastError(kErrorBrokenPipe);
        return false;
    }
    return true;
}

bool AnonymousPipe::ReadSome(void* buffer, size_t size, size_t* read)
{
    std::unique_lock<std::mutex> lock(lock_);
    data_written_.wait(lock, [&] { return read_closed_ || write_closed_ || Waiting() > 0; });
    *read = read_closed_ ? 0 : Take(static_cast<char*>(buffer), size);
    if (*read == 0 && size > 0) {
        SetLastError(kErrorBrokenPipe);
        return false;
    }
    return true;
}

bool AnonymousPipe::Peek(void* buffer, size_t size, size_t* copied, size_t* available)
{
    std::lock_guard<std::mutex> lock(lock_);
    *copied = 0;
    *available = 0;
    if (read_closed_) {
        SetLastError(kErrorBrokenPipe);
        return false;
    }
    *available = Waiting();
    *copied = std::min(size, Waiting());
    if (*copied > 0) {
        std::memcpy(buffer, bytes_.data() + head_, *copied);
    }
    return true;
}

void AnonymousPipe::CloseWriteEnd()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        write_closed_ = true;
    }
    data_written_.notify_all();
    data_read_.notify_all();
}

void AnonymousPipe::CloseReadEnd()
{
    {
        std::lock_guard<std::mutex> lock(lock_);
        read_closed_ = true;
        bytes_.clear();
        head_ = 0;
    }
    data_written_.notify_all();
    data_read_.notify_all();
}

}  // namespace vantrel::platform
