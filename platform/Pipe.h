#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// The anonymous pipe that carries a run's messages from the threads that write them to the one
// thread that reads them.
namespace vantrel::platform {

// What a write does when the bytes do not fit in the pipe's capacity now.
enum class PipeWriteMode : uint8_t
{
    // Waits until they fit (or the pipe is empty, for a write larger than the whole capacity).
    kWait,
    // Never waits: the pipe holds more than its capacity until the reader catches up. For the
    // main thread, which the reader itself waits for.
    kNoWait,
    // Writes nothing and fails with 231.
    kOnlyIfRoom,
};

// A pipe inside the process with the calls of an anonymous pipe: write, read, peek, close. A
// kernel pipe would make a write from the main thread wait while the pipe is full, and the
// reader waits for the main thread; this one lets such a write grow the pipe instead. Each
// write goes in whole, so the bytes of two writers never interleave. Any thread may write; one
// thread at a time reads. Closing either end wakes every thread waiting on the pipe: writers
// fail with 109, and the reader gets what is left and then the end of the data.
class AnonymousPipe
{
public:
    explicit AnonymousPipe(uint32_t capacity);
    AnonymousPipe(const AnonymousPipe&) = delete;
    AnonymousPipe& operator=(const AnonymousPipe&) = delete;

    uint32_t Capacity() const { return capacity_; }

    // False with last error 109 once an end is closed, or 231 (kOnlyIfRoom) when there is no
    // room now.
    bool Write(const void* data, size_t size, PipeWriteMode mode);
    // Waits until size bytes would fit, as kWait does, without writing; false with 109 once an
    // end is closed.
    bool WaitForRoom(size_t size);
    // Reads exactly size bytes, waiting until they have been written. Fewer only at the end of
    // the data (write end closed and everything read) or once the read end is closed: *read
    // then tells how many, and the result is false with last error 109.
    bool Read(void* buffer, size_t size, size_t* read);
    // Waits until at least one byte is waiting, then takes up to size of them (*read tells how
    // many). False with 109 where Read would end: nothing left once an end is closed.
    bool ReadSome(void* buffer, size_t size, size_t* read);
    // Copies up to size waiting bytes without taking them; *available is the number of all
    // waiting bytes. False with 109 once the read end is closed.
    bool Peek(void* buffer, size_t size, size_t* copied, size_t* available);
    void CloseWriteEnd();
    void CloseReadEnd();

private:
    // Takes up to size waiting bytes into out; requires lock_.
    size_t Take(char* out, size_t size);
    size_t Waiting() const { return bytes_.size() - head_; }       // Requires lock_.
    bool Fits(size_t size) const;                                  // Requires lock_.
    bool Broken() const { return write_closed_ || read_closed_; }  // Requires lock_.

    const uint32_t capacity_;
    std::mutex lock_;
    std::condition_variable data_written_;
    std::condition_variable data_read_;
    // The waiting bytes are bytes_[head_..]; the front is dropped as the reader moves on.
    std::string bytes_;          // Guarded by lock_.
    size_t head_ = 0;            // Guarded by lock_.
    bool write_closed_ = false;  // Guarded by lock_.
    bool read_closed_ = false;   // Guarded by lock_.
};

}  // namespace vantrel::platform
