#include "publishing/SimplePipeU.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/Threads.h"

namespace vantrel {
namespace {

// Where a walk over the items takes its bytes from: the pipe itself (waiting for them), or a
// copy of what is waiting now (ending where the copy ends).
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    virtual bool Take(void* buffer, size_t size) = 0;
    virtual bool Skip(size_t size) = 0;
};

class CopySource : public ByteSource
{
public:
    explicit CopySource(std::string_view bytes)
        : bytes_(bytes)
    {}
    bool Take(void* buffer, size_t size) override
    {
        if (bytes_.size() - pos_ < size) {
            return false;
        }
        std::memcpy(buffer, bytes_.data() + pos_, size);
        pos_ += size;
        return true;
    }
    bool Skip(size_t size) override
    {
        if (bytes_.size() - pos_ < size) {
            return false;
        }
        pos_ += size;
        return true;
    }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

int32_t DecodeInt(const uint8_t bytes[4])
{
    return static_cast<int32_t>(uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                                uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24);
}

void AppendLittleEndian(std::string* items, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        items->push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

bool SkipText(ByteSource& in)
{
    uint8_t length[4];
    if (!in.Take(length, 4)) {
        return false;
    }
    const int32_t n = DecodeInt(length);
    return n <= 0 || in.Skip(static_cast<size_t>(n));
}

// SkipToMessage from the reader state *state; false where the bytes end first.
bool WalkToMessage(ByteSource& in, uint8_t* state)
{
    if (*state == TSimplePipe::kReadAtMessage) {
        return true;
    }
    if (*state == TSimplePipe::kTagInt && !in.Skip(4)) {
        return false;
    }
    if (*state == TSimplePipe::kTagText && !SkipText(in)) {
        return false;
    }
    if (*state != TSimplePipe::kReadAfterSeparator) {
        for (;;) {
            uint8_t tag;
            if (!in.Take(&tag, 1)) {
                return false;
            }
            if (tag == TSimplePipe::kTagSeparator) {
                break;
            }
            if (tag == TSimplePipe::kTagInt && !in.Skip(4)) {
                return false;
            }
            if (tag == TSimplePipe::kTagText && !SkipText(in)) {
                return false;
            }
        }
    }
    *state = TSimplePipe::kReadAtMessage;
    return true;
}

}  // namespace

// The pipe as a byte source for the reader's own walk.
class TSimplePipe::PipeSource : public ByteSource
{
public:
    explicit PipeSource(TSimplePipe* pipe)
        : pipe_(pipe)
    {}
    bool Take(void* buffer, size_t size) override { return pipe_->ReadBytes(buffer, size); }
    bool Skip(size_t size) override
    {
        char scratch[4096];
        while (size > 0) {
            const size_t n = std::min(size, sizeof scratch);
            if (!pipe_->ReadBytes(scratch, n)) {
                return false;
            }
            size -= n;
        }
        return true;
    }

private:
    TSimplePipe* pipe_;
};

TSimplePipe::TSimplePipe(uint32_t capacity)
    : pipe_(capacity)
{}

TSimplePipe::~TSimplePipe()
{
    Close();
}

void TSimplePipe::AppendInt(std::string* items, int32_t value)
{
    items->push_back(static_cast<char>(kTagInt));
    AppendLittleEndian(items, static_cast<uint32_t>(value));
}

void TSimplePipe::AppendString(std::string* items, const std::string& text)
{
    if (text.empty()) {
        items->push_back(static_cast<char>(kTagEmptyText));
        return;
    }
    // The length field is signed 32-bit; a longer text would garble everything after it.
    const size_t n = std::min<size_t>(text.size(), std::numeric_limits<int32_t>::max());
    items->push_back(static_cast<char>(kTagText));
    AppendLittleEndian(items, static_cast<uint32_t>(n));
    items->append(text, 0, n);
}

bool TSimplePipe::WriteUnit(bool begin_message, const std::string& items, bool droppable)
{
    std::unique_lock<std::mutex> lock(write_lock_, std::defer_lock);
    platform::PipeWriteMode mode = platform::PipeWriteMode::kNoWait;
    if (droppable) {
        if (!lock.try_lock()) {
            return false;
        }
        mode = platform::PipeWriteMode::kOnlyIfRoom;
    } else {
        // Wait for room before taking the lock. Another writer may take that room first; the
        // pipe then holds one message more than its capacity rather than keep the lock (and so
        // the main thread) waiting.
        if (!platform::IsMainThread() && !pipe_.WaitForRoom(items.size() + 1)) {
            return false;
        }
        lock.lock();
    }
    std::string unit;
    if (begin_message && !separator_done_) {
        unit.push_back(static_cast<char>(kTagSeparator));
    }
    unit += items;
    if (!unit.empty() && !pipe_.Write(unit.data(), unit.size(), mode)) {
        return false;
    }
    if (begin_message) {
        separator_done_ = true;
    }
    if (!items.empty()) {
        separator_done_ = false;
    }
    return true;
}

void TSimplePipe::BeginMessage()
{
    WriteUnit(true, std::string(), false);
}

void TSimplePipe::WriteInt(int32_t value)
{
    std::string items;
    AppendInt(&items, value);
    WriteUnit(false, items, false);
}

void TSimplePipe::WriteString(const std::string& text)
{
    std::string items;
    AppendString(&items, text);
    WriteUnit(false, items, false);
}

bool TSimplePipe::ReadBytes(void* buffer, size_t size)
{
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size && !end_of_pipe_ && !read_closed_) {
        if (Buffered() == 0) {
            read_buffer_.resize(kReadChunk);
            size_t taken = 0;
            const bool got = pipe_.ReadSome(read_buffer_.data(), read_buffer_.size(), &taken);
            read_buffer_.resize(taken);
            read_pos_ = 0;
            if (!got) {
                break;
            }
        }
        const size_t n = std::min(size - done, Buffered());
        std::memcpy(out + done, read_buffer_.data() + read_pos_, n);
        read_pos_ += n;
        done += n;
    }
    if (done == size) {
        return true;
    }
    // Once the data has ended, it has ended for good: no read waits or returns stale bytes.
    end_of_pipe_ = true;
    std::memset(out + done, 0, size - done);
    return false;
}

void TSimplePipe::ReadTag()
{
    uint8_t tag;
    read_state_ = ReadBytes(&tag, 1) ? tag : kReadAfterSeparator;
}

void TSimplePipe::SkipToMessage()
{
    PipeSource in(this);
    WalkToMessage(in, &read_state_);
}

int32_t TSimplePipe::ReadInt()
{
    if (read_state_ == kReadItemDone || read_state_ == kReadAtMessage) {
        ReadTag();
    }
    if (read_state_ != kTagInt) {
        return 0;
    }
    read_state_ = kReadItemDone;
    uint8_t bytes[4];
    return ReadBytes(bytes, 4) ? DecodeInt(bytes) : 0;
}

std::string TSimplePipe::ReadString()
{
    if (read_state_ == kReadItemDone || read_state_ == kReadAtMessage) {
        ReadTag();
    }
    if (read_state_ == kTagEmptyText) {
        read_state_ = kReadItemDone;
        return std::string();
    }
    if (read_state_ != kTagText) {
        return std::string();
    }
    read_state_ = kReadItemDone;
    uint8_t length[4];
    if (!ReadBytes(length, 4)) {
        return std::string();
    }
    const int32_t n = DecodeInt(length);
    std::string text;
    // In pieces, so that a garbled length costs only the memory of the bytes that really come.
    while (static_cast<int64_t>(text.size()) < n) {
        const size_t old_size = text.size();
        const size_t piece = std::min<size_t>(static_cast<size_t>(n) - old_size, 65536);
        text.resize(old_size + piece);
        if (!ReadBytes(text.data() + old_size, piece)) {
            return std::string();
        }
    }
    return text;
}

uint32_t TSimplePipe::BytesAvailable()
{
    size_t copied = 0;
    size_t available = 0;
    if (!pipe_.Peek(nullptr, 0, &copied, &available)) {
        return 0;
    }
    return static_cast<uint32_t>(
        std::min<size_t>(Buffered() + available, std::numeric_limits<uint32_t>::max()));
}

bool TSimplePipe::MessageWaiting()
{
    if (end_of_pipe_ || read_closed_) {
        return false;
    }
    // As ReadKind would read: to the next separator, then the kind's tag and, for an integer,
    // its four bytes. The bytes taken already mostly suffice; the pipe is looked into only when
    // they end first.
    auto kind_within = [this](std::string_view bytes) {
        CopySource in(bytes);
        uint8_t state = read_state_;
        uint8_t tag;
        return WalkToMessage(in, &state) && in.Take(&tag, 1) && (tag != kTagInt || in.Skip(4));
    };
    const std::string_view buffered = std::string_view(read_buffer_).substr(read_pos_);
    if (kind_within(buffered)) {
        return true;
    }
    size_t copied = 0;
    size_t available = 0;
    if (!pipe_.Peek(nullptr, 0, &copied, &available) || available == 0) {
        return false;
    }
    std::string bytes(buffered);
    bytes.resize(buffered.size() + available);
    if (!pipe_.Peek(bytes.data() + buffered.size(), available, &copied, &available)) {
        return false;
    }
    bytes.resize(buffered.size() + copied);
    return kind_within(bytes);
}

void TSimplePipe::CloseWriteEnd()
{
    pipe_.CloseWriteEnd();
}

void TSimplePipe::Close()
{
    read_closed_ = true;
    pipe_.CloseWriteEnd();
    pipe_.CloseReadEnd();
}

}  // namespace vantrel
