#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One program per user desktop (TSingleInstance): the first start listens on a local socket;
// a later one finds it there, asks it to bring its window forward and ends.
namespace vantrel {

class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    // The user's private temporary folder + "Vantrel-" + the user id + "-" + the display (or the
    // session where there is none).
    static QString DefaultName();

    explicit TSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this is the first instance, now listening; false when another instance runs
    // (it has been asked to raise its window). A socket left by an instance that died is
    // removed and taken over.
    bool Claim();

signals:
    // A later start asked the running instance to come forward.
    void RaiseRequested();

private:
    bool AskRunningInstance() const;

    const QString name_;
    QLocalServer* server_ = nullptr;
    // The lock of the instance that runs, held for its life.
    int lock_fd_ = -1;
};

}  // namespace vantrel
