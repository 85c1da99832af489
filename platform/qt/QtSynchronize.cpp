#include "platform/qt/QtSynchronize.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <cstdio>
#include <mutex>

#include "platform/Threads.h"

namespace vantrel::platform {

// The object whose event queue receives the wake-ups. A caller on another thread may be about
// to post to it while the GUI thread destroys the dispatcher, so it is reached under a lock.
struct QtSynchronizeDispatcher::Target
{
    std::mutex lock;
    QObject* receiver = nullptr;  // Guarded by lock.

    void Wake()
    {
        std::lock_guard<std::mutex> guard(lock);
        if (receiver != nullptr) {
            QMetaObject::invokeMethod(
                receiver, [] { CheckSynchronize(); }, Qt::QueuedConnection);
        }
    }
};

QtSynchronizeDispatcher::QtSynchronizeDispatcher()
    : target_(std::make_shared<Target>())
{
    if (!IsMainThread() || QCoreApplication::instance() == nullptr) {
        // Synchronised calls run on the thread that started the program: the event loop that
        // serves them must be that thread's.
        std::fprintf(stderr, "The synchronised-call dispatcher must be made on the GUI thread\n");
        return;
    }
    target_->receiver = new QObject();
    InstallSynchronizeDispatcher([target = target_] { target->Wake(); });
    // Calls queued before the loop could hear of them.
    target_->Wake();
}

QtSynchronizeDispatcher::~QtSynchronizeDispatcher()
{
    QObject* receiver;
    {
        std::lock_guard<std::mutex> guard(target_->lock);
        receiver = target_->receiver;
        target_->receiver = nullptr;
    }
    if (receiver == nullptr) {
        return;
    }
    SetSynchronizeShutdown(true);
    InstallSynchronizeDispatcher({});
    // Wake-ups still queued for it are dropped with it.
    delete receiver;
}

}  // namespace vantrel::platform
