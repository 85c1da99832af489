#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace vantrel {
namespace {
constexpr char kRaise[] = "raise\n";
constexpr int kConnectWaitMs = 1000;
}  // namespace

QString TSingleInstance::DefaultName()
{
    QString where = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (where.isEmpty()) {
        where = qEnvironmentVariable("DISPLAY");
    }
    if (where.isEmpty()) {
        where = qEnvironmentVariable("XDG_SESSION_ID", "console");
    }
    where.replace('/', '_');
    return QString("Vantrel-%1-%2").arg(getuid()).arg(where);
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

bool TSingleInstance::Claim()
{
    if (AskRunningInstance()) {
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Nobody answered on the socket: an instance that died left it behind.
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
