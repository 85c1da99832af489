#include "platform/Threads.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <unistd.h>
#include <utility>

#include <sys/resource.h>

#include "platform/Errors.h"

namespace vantrel::platform {
namespace {

// One priority level is this many nice steps.
constexpr int kNicePerLevel = 4;

// Read during static initialisation, which runs on the thread that starts the program.
const std::thread::id kMainThreadId = std::this_thread::get_id();

struct PendingCall
{
    const std::function<void()>* fn;
    bool done = false;
};

struct SyncState
{
    std::mutex lock;
    // The main thread waits on it for calls and wake-ups, callers for their call to have run.
    std::condition_variable main_wake;
    std::condition_variable call_done;
    std::deque<PendingCall*> calls;    // Guarded by lock.
    uint64_t generation = 0;           // Guarded by lock. Moves on with every call and wake-up.
    std::function<void()> dispatcher;  // Guarded by lock.
    bool shut_down = false;            // Guarded by lock.
};

// Never destroyed: a self-releasing thread may still wake the main thread while the program's
// static objects go.
SyncState& State()
{
    static SyncState* state = new SyncState;
    return *state;
}

void ApplyPriority(int priority)
{
    if (priority == kThreadPriorityNormal) {
        return;
    }
    // On Linux the nice value of a thread id is that thread's alone; a new thread starts with
    // its creator's.
    const pid_t tid = gettid();
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno != 0) {
        return;
    }
    const int nice = std::clamp(base - priority * kNicePerLevel, -20, 19);
    // Best effort: refused (raising needs privileges), the thread runs at its creator's level.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

// A synchronised call is a boundary of its own: whatever it throws ends there.
void RunCaught(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Synchronised call failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Synchronised call failed with an unknown exception\n");
    }
}

}  // namespace

bool IsMainThread()
{
    return std::this_thread::get_id() == kMainThreadId;
}

void Synchronize(const std::function<void()>& fn)
{
    SyncState& s = State();
    if (IsMainThread()) {
        {
            std::lock_guard<std::mutex> lock(s.lock);
            if (s.shut_down) {
                return;
            }
        }
        RunCaught(fn);
        return;
    }
    PendingCall call{&fn};
    std::function<void()> dispatcher;
    {
        std::lock_guard<std::mutex> lock(s.lock);
        if (s.shut_down) {
            return;
        }
        s.calls.push_back(&call);
        ++s.generation;
        dispatcher = s.dispatcher;
    }
    s.main_wake.notify_all();
    if (dispatcher) {
        dispatcher();
    }
    std::unique_lock<std::mutex> lock(s.lock);
    s.call_done.wait(lock, [&] { return call.done || s.shut_down; });
    if (call.done) {
        return;
    }
    // Still queued: it will never run now. Already taken by the main thread: it is running or
    // about to be dropped, and the call record must outlive that.
    const auto queued = std::find(s.calls.begin(), s.calls.end(), &call);
    if (queued != s.calls.end()) {
        s.calls.erase(queued);
        return;
    }
    s.call_done.wait(lock, [&] { return call.done; });
}

void SetSynchronizeShutdown(bool begun)
{
    SyncState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.lock);
        s.shut_down = begun;
        ++s.generation;
    }
    s.call_done.notify_all();
    s.main_wake.notify_all();
}

bool SynchronizeShutdownBegun()
{
    SyncState& s = State();
    std::lock_guard<std::mutex> lock(s.lock);
    return s.shut_down;
}

bool CheckSynchronize()
{
    if (!IsMainThread()) {
        return false;
    }
    SyncState& s = State();
    std::deque<PendingCall*> calls;
    bool shut_down;
    {
        std::lock_guard<std::mutex> lock(s.lock);
        calls.swap(s.calls);
        shut_down = s.shut_down;
    }
    for (PendingCall* call : calls) {
        if (!shut_down) {
            RunCaught(*call->fn);
        }
        {
            std::lock_guard<std::mutex> lock(s.lock);
            call->done = true;
        }
        s.call_done.notify_all();
    }
    return !calls.empty();
}

void InstallSynchronizeDispatcher(std::function<void()> wake_main_thread)
{
    SyncState& s = State();
    std::lock_guard<std::mutex> lock(s.lock);
    s.dispatcher = std::move(wake_main_thread);
}

bool ServeSynchronizeUntil(const std::function<bool()>& done,
                           std::optional<std::chrono::milliseconds> timeout)
{
    SyncState& s = State();
    const auto deadline =
        std::chrono::steady_clock::now() + timeout.value_or(std::chrono::hours(0));
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(s.lock);
            seen = s.generation;
        }
        CheckSynchronize();
        if (done()) {
            return true;
        }
        std::unique_lock<std::mutex> lock(s.lock);
        const auto moved_on = [&] { return s.generation != seen; };
        if (!timeout) {
            s.main_wake.wait(lock, moved_on);
        } else if (!s.main_wake.wait_until(lock, deadline, moved_on)) {
            lock.unlock();
            return done();
        }
    }
}

void WakeMainThread()
{
    SyncState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.lock);
        ++s.generation;
    }
    s.main_wake.notify_all();
}

Thread::~Thread()
{
    // A derived class waits for its thread in its own destructor; this only keeps a forgotten
    // one from ending the program.
    if (thread_.joinable()) {
        thread_.join();
    }
}

namespace {
std::atomic<int> failing_thread_starts{0};
}  // namespace

void FailNextThreadStarts(int count)
{
    failing_thread_starts = count;
}

bool Thread::Start(int priority, bool self_releasing)
{
    if (failing_thread_starts > 0) {
        --failing_thread_starts;
        SetLastError(kErrorNotEnoughMemory);
        return false;
    }
    try {
        std::thread thread(Run, this, priority, self_releasing);
        if (self_releasing) {
            // The object may be gone already: nothing of it is touched from here.
            thread.detach();
        } else {
            thread_ = std::move(thread);
        }
    } catch (const std::system_error&) {
        SetLastError(kErrorNotEnoughMemory);
        return false;
    }
    return true;
}

bool Thread::WaitFor(std::optional<std::chrono::milliseconds> timeout)
{
    if (!thread_.joinable()) {
        return true;
    }
    if (!ServeSynchronizeUntil([this] { return ended_.load(); }, timeout)) {
        return false;
    }
    thread_.join();
    return true;
}

void Thread::Run(Thread* self, int priority, bool self_releasing)
{
    ApplyPriority(priority);
    self->Execute();
    if (self_releasing) {
        delete self;
    } else {
        self->ended_ = true;
    }
    WakeMainThread();
}

}  // namespace vantrel::platform
