#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/Pipe.h"

// The pipe of tagged items that the message queue is made of (TSimplePipe).
namespace vantrel {

// An anonymous pipe (of kPipeSize bytes unless told otherwise) that carries tagged items: integers,
// texts and the separators that begin messages. On the wire (integers little-endian): 0x01
// separator; 0x03 and a signed 32-bit integer; 0x04, a signed 32-bit length n > 0 and n bytes of
// text; 0x05 the empty text. Every message but the first written begins with a separator; none is
// closed by one.
//
// Writers: any thread. A message goes into the pipe as one write, so two writers never interleave
// their items. A writer other than the main thread waits while the pipe is full; the main thread
// never waits (the reader hands its messages to the main thread and would wait for it), so the
// pipe holds more for a while. A message that may be dropped (SendAlive) never waits at all.
//
// Reader: one thread at a time (the listener, or the main thread inside the listener's
// synchronised call). Reads wait until their bytes have arrived. A read that meets the wrong tag
// returns 0 or the empty text and leaves the tag pending; SkipToMessage skips whatever of a
// message is left unread. Once the write end is closed and the data read, every read returns at
// once with 0 or the empty text and EndOfPipe is true.
class TSimplePipe
{
public:
    // Room for what a run writes while the main thread is busy for a while (a log flush, a
    // box): a writer that waits on a full pipe holds the whole run up.
    static constexpr uint32_t kPipeSize = 262144;
    // The most the reader takes from the pipe at once.
    static constexpr size_t kReadChunk = 16384;

    static constexpr uint8_t kTagSeparator = 0x01;
    static constexpr uint8_t kTagInt = 0x03;
    static constexpr uint8_t kTagText = 0x04;
    static constexpr uint8_t kTagEmptyText = 0x05;

    // Reader states besides the pending tags 3, 4 and 5.
    static constexpr uint8_t kReadItemDone = 0;
    static constexpr uint8_t kReadAfterSeparator = 1;
    static constexpr uint8_t kReadAtMessage = 2;

    explicit TSimplePipe(uint32_t capacity = kPipeSize);
    virtual ~TSimplePipe();
    TSimplePipe(const TSimplePipe&) = delete;
    TSimplePipe& operator=(const TSimplePipe&) = delete;

    // The separator, unless none is owed (nothing written since the last one, or at creation).
    void BeginMessage();
    void WriteInt(int32_t value);
    void WriteString(const std::string& text);

    void SkipToMessage();
    int32_t ReadInt();
    std::string ReadString();
    // Bytes waiting in the pipe; 0 when the peek fails.
    uint32_t BytesAvailable();
    // Whether the waiting bytes already hold the kind of a further message, so that ReadKind
    // will not wait. Counting waiting bytes is not enough: after a message read only in part,
    // they may all be its unread rest.
    bool MessageWaiting();

    // Program end: closing the write end lets the reader see the end of the data; closing both
    // also makes every waiting and later write fail at once.
    void CloseWriteEnd();
    void Close();

    bool EndOfPipe() const { return end_of_pipe_; }
    uint8_t ReadState() const { return read_state_; }

    // Test access to the raw pipe.
    platform::AnonymousPipe& Pipe() { return pipe_; }

    static void AppendInt(std::string* items, int32_t value);
    static void AppendString(std::string* items, const std::string& text);

protected:
    // Writes a separator when one is owed and begin_message asks for it, then the items, as one
    // write to the pipe. A droppable write gives up when another writer is busy or the pipe has
    // no room now; false when nothing was written.
    bool WriteUnit(bool begin_message, const std::string& items, bool droppable);

private:
    class PipeSource;

    bool ReadBytes(void* buffer, size_t size);
    void ReadTag();
    size_t Buffered() const { return read_buffer_.size() - read_pos_; }

    platform::AnonymousPipe pipe_;
    // Held only while a unit goes into the pipe, never while a writer waits for room, so the
    // main thread is never kept waiting by a writer that is itself waiting.
    std::mutex write_lock_;
    bool separator_done_ = true;  // Guarded by write_lock_.

    // The reader's; handed between the listener and the main thread by the synchronised call.
    uint8_t read_state_ = kReadAfterSeparator;
    bool end_of_pipe_ = false;
    // What the reader has taken from the pipe and not yet read: one take brings everything
    // waiting, so reading an item costs no trip to the pipe's lock. The reader's, as above.
    std::string read_buffer_;
    size_t read_pos_ = 0;
    // Closing ends reading at once, bytes taken already included.
    std::atomic<bool> read_closed_{false};
};

}  // namespace vantrel
