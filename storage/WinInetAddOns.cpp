#include "storage/WinInetAddOns.h"

#include <atomic>

#include "platform/Errors.h"
#include "storage/InetThreads.h"

namespace vantrel {
namespace {

// The attempt whose thread this is, while it runs.
thread_local InternetConnectThread* current_attempt = nullptr;

// Never destroyed: an abandoned attempt's thread may still end while the program exits.
std::mutex& running_lock = *new std::mutex;
std::condition_variable& running_changed = *new std::condition_variable;
int running = 0;  // Guarded by running_lock.

}  // namespace

InternetConnectThread::InternetConnectThread(InternetConnectArguments arguments)
    : arguments_(std::move(arguments))
{}

InternetConnectThread::~InternetConnectThread()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    {
        std::lock_guard<std::mutex> lock(running_lock);
        --running;
    }
    running_changed.notify_all();
}

std::shared_ptr<InternetConnectThread> InternetConnectThread::Start(
    InternetConnectArguments arguments)
{
    {
        std::lock_guard<std::mutex> lock(running_lock);
        ++running;
    }
    std::shared_ptr<InternetConnectThread> attempt(new InternetConnectThread(std::move(arguments)));
    // The thread keeps the attempt alive, so an abandoned one frees itself when it ends.
    attempt->thread_ = StartThread([attempt] { attempt->Run(); }, ThreadPriority::kNormal);
    return attempt;
}

void InternetConnectThread::Run()
{
    current_attempt = this;
    const InternetConnectArguments& a = arguments_;
    const platform::InternetHandle handle = platform::InternetConnect(
        a.session, a.server, a.port, a.user_name, a.password, a.service, a.flags, a.context);
    const uint32_t error = handle ? 0 : platform::GetLastError();
    bool abandoned = false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        ended_ = true;
        abandoned = abandoned_;
        handle_ = handle;
        error_ = error;
        response_ = platform::InternetGetLastResponseInfo();
    }
    ended_changed_.notify_all();
    if (abandoned) {
        // Nobody takes this handle any more.
        platform::InternetCloseHandle(handle);
    }
    current_attempt = nullptr;
}

bool InternetConnectThread::WaitFor(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(lock_);
    return ended_changed_.wait_for(lock, limit, [this] { return ended_; });
}

bool InternetConnectThread::Abandon()
{
    std::lock_guard<std::mutex> lock(lock_);
    if (ended_) {
        return false;
    }
    abandoned_ = true;
    thread_.detach();
    return true;
}

platform::InternetHandle InternetConnectThread::GetHandle()
{
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (abandoned_) {
        return platform::InternetHandle{};
    }
    if (!handle_) {
        platform::InternetSetLastResponseInfo(response_);
        platform::SetLastError(error_);
    }
    return handle_;
}

bool InternetConnectThread::WaitUntilNoneRuns(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(running_lock);
    return running_changed.wait_for(lock, limit, [] { return running == 0; });
}

ConnectCallbackGate::ConnectCallbackGate()
{
    if (current_attempt != nullptr) {
        lock_ = std::unique_lock<std::mutex>(current_attempt->lock_);
        open_ = !current_attempt->abandoned_;
    }
}

platform::InternetHandle InternetConnectWithTimeout(platform::InternetHandle session,
                                                    const std::string& server,
                                                    uint16_t port,
                                                    const std::string& user_name,
                                                    const std::string& password,
                                                    uint32_t service,
                                                    uint32_t flags,
                                                    uintptr_t context,
                                                    uint32_t timeout_seconds,
                                                    const std::atomic<bool>* stop)
{
    if (timeout_seconds == 0 && stop == nullptr) {
        return platform::InternetConnect(session, server, port, user_name, password, service, flags,
                                         context);
    }
    const auto attempt = InternetConnectThread::Start(
        {session, server, port, user_name, password, service, flags, context});
    const auto deadline = timeout_seconds == 0 ? std::chrono::steady_clock::time_point::max()
                                               : std::chrono::steady_clock::now() +
                                                     std::chrono::seconds(timeout_seconds);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto wait = std::min<std::chrono::steady_clock::duration>(
            deadline - now, std::chrono::milliseconds(100));
        if (attempt->WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(wait))) {
            break;
        }
        const bool stopped = stop != nullptr && stop->load();
        if ((stopped || std::chrono::steady_clock::now() >= deadline) && attempt->Abandon()) {
            platform::SetLastError(stopped ? platform::kErrorInternetOperationCancelled
                                           : platform::kErrorInternetTimeout);
            return {};
        }
    }
    return attempt->GetHandle();
}

}  // namespace vantrel
