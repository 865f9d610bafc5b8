#include "app/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>

namespace taskhaul {

SingleInstance::SingleInstance(const QString& lockPath)
    : lock_(std::make_unique<QLockFile>(lockPath))
{
    // A running copy keeps its lock however old it is; only a lock whose
    // process is gone counts as stale (QLockFile checks the process id).
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QLatin1String(lockName);
}

WakeServer::WakeServer(const QString& path, std::function<void()> show, std::function<bool()> shown)
    : server_(new QLocalServer(this))
    , show_(std::move(show))
    , shown_(std::move(shown))
{
    // Whoever holds the lock owns the place: a socket left there by a copy
    // that was killed is stale.
    QLocalServer::removeServer(path);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(path);
    connect(server_, &QLocalServer::newConnection, this, &WakeServer::answer);
}

WakeServer::~WakeServer() = default;

bool WakeServer::listening() const
{
    return server_->isListening();
}

void WakeServer::answer()
{
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                if (client->bytesAvailable() > 64)
                    client->abort(); // not one of ours
                return;
            }
            const QByteArray request = client->readLine(64).trimmed();
            if (request == "show" && show_)
                show_();
            else if (request != "state") {
                client->abort();
                return;
            }
            client->write(shown_ && shown_() ? "shown\n" : "hidden\n");
            client->disconnectFromServer();
        });
    }
}

QString askRunningCopy(const QString& path, const QByteArray& request, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return {};
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return {};
    }
    return QString::fromUtf8(socket.readLine()).trimmed();
}

} // namespace taskhaul
