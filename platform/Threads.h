#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

// Threads of the system with their priorities, and the synchronised call that runs a piece of
// work on the main thread for a thread that must not touch the windows itself.
namespace vantrel::platform {

// Priority levels relative to normal, as the system names them. Linux gives them as nice values
// of the thread alone; a level the process may not take (raising needs privileges) is left at
// normal, and a thread never fails to start because of its priority.
inline constexpr int kThreadPriorityLowest = -2;
inline constexpr int kThreadPriorityBelowNormal = -1;
inline constexpr int kThreadPriorityNormal = 0;
inline constexpr int kThreadPriorityAboveNormal = 1;
inline constexpr int kThreadPriorityHighest = 2;

// The main thread is the one that started the program.
bool IsMainThread();

// Runs fn on the main thread and waits until it has run; on the main thread itself fn runs at
// once. The main thread runs waiting calls in CheckSynchronize, which the installed dispatcher
// (the GUI's) or ServeSynchronizeUntil (tests, headless runners) gets it to call. Once shut-down
// has begun it returns at once without running fn. An exception fn throws is reported on stderr
// and goes no further.
void Synchronize(const std::function<void()>& fn);

// Shut-down of the synchronised calls: from then on nothing is run for another thread any more,
// callers waiting for their turn return without their call running, and new calls return at
// once, so that a thread that reaches the main thread while the program ends never waits for
// ever. Programs only ever begin it; tests end it again.
void SetSynchronizeShutdown(bool begun);
bool SynchronizeShutdownBegun();

// Main thread: runs the synchronised calls that are waiting now, oldest first (calls queued
// while they run wait for the next time); true when it ran one. Elsewhere it does nothing.
bool CheckSynchronize();

// The GUI's dispatcher: called, on the thread that queues it, for every synchronised call, and
// must make the main thread call CheckSynchronize soon (a queued invocation in its event loop).
// An empty function removes it.
void InstallSynchronizeDispatcher(std::function<void()> wake_main_thread);

// The main-thread loop of tests and headless runners: runs synchronised calls as they come until
// done() answers true, which it asks after each round of calls and after every WakeMainThread.
// False when the time-out passed first; without one it waits as long as it takes. On another
// thread it only waits for done().
bool ServeSynchronizeUntil(const std::function<bool()>& done,
                           std::optional<std::chrono::milliseconds> timeout);

// Makes a waiting ServeSynchronizeUntil ask its done() again.
void WakeMainThread();

// A thread of the system: Start runs Execute on a new thread at its priority. A self-releasing
// thread deletes itself when Execute returns (it must have been made with new, and nobody may
// touch it once Start has succeeded); any other must be ended and waited for by its owner
// (Terminate, whatever makes Execute return, WaitFor) in the derived class's destructor, before
// the object goes.
// Tests: the next `count` thread starts fail as a system without threads to give makes them
// fail.
void FailNextThreadStarts(int count);

class Thread
{
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False, with last error 8, when the system gives no thread; the object then stays the
    // caller's, whatever self_releasing says.
    bool Start(int priority, bool self_releasing);
    // Asks Execute to end; Execute tests Terminated where it can stop.
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits until Execute has returned, serving synchronised calls meanwhile when called on the
    // main thread, so a thread that waits in Synchronize can end. Not for self-releasing
    // threads. False when the time-out passed first.
    bool WaitFor(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

protected:
    virtual void Execute() = 0;

private:
    static void Run(Thread* self, int priority, bool self_releasing);

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> ended_{false};
};

}  // namespace vantrel::platform
