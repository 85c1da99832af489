#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <fcntl.h>
#include <unistd.h>

#include <sys/file.h>

#include "platform/Files.h"

namespace vantrel {
namespace {
constexpr char kRaise[] = "raise\n";
constexpr int kConnectWaitMs = 1000;
// How long a second start waits, in tenths of a second, for a first one that is still starting.
constexpr int kStartingInstanceAttempts = 30;
}  // namespace

QString TSingleInstance::DefaultName()
{
    // In the user's own temporary folder (mode 0700), where no other user can put a socket of
    // that name first; not in the shared /tmp, where one could.
    std::string folder;
    platform::GetTempPath(&folder);
    const QString base = QString::fromStdString(platform::ToPosixPath(folder));
    QString where = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (where.isEmpty()) {
        where = qEnvironmentVariable("DISPLAY");
    }
    if (where.isEmpty()) {
        where = qEnvironmentVariable("XDG_SESSION_ID", "console");
    }
    where.replace('/', '_');
    return base + QString("Vantrel-%1-%2").arg(getuid()).arg(where);
}

TSingleInstance::TSingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , name_(std::move(name))
{}

bool TSingleInstance::AskRunningInstance() const
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectWaitMs)) {
        return false;
    }
    socket.write(kRaise);
    socket.waitForBytesWritten(kConnectWaitMs);
    socket.disconnectFromServer();
    return true;
}

TSingleInstance::~TSingleInstance()
{
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);
    }
}

bool TSingleInstance::Claim()
{
    // The lock beside the socket decides who runs: two starts at the same moment cannot both
    // take it, and a socket is only ever removed by the holder, so never under a live instance.
    const QByteArray lock_path = QFile::encodeName(
        (name_.startsWith('/') ? name_ : QDir::tempPath() + "/" + name_) + ".lock");
    lock_fd_ = ::open(lock_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_fd_ >= 0 && ::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd_);
        lock_fd_ = -1;
        // Another instance runs, or is starting: it is asked to come forward once it listens.
        for (int attempt = 0; attempt < kStartingInstanceAttempts && !AskRunningInstance();
             ++attempt) {
            QThread::msleep(100);
        }
        return false;
    }
    if (lock_fd_ < 0 && AskRunningInstance()) {
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Nobody holds the lock: an instance that died left its socket behind.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) {
            qWarning("Single-instance socket %s: %s", qPrintable(name_),
                     qPrintable(server_->errorString()));
            return true;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains("raise")) {
                    emit RaiseRequested();
                }
            });
        }
    });
    return true;
}

}  // namespace vantrel
