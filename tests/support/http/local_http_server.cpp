#include "http/local_http_server.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <functional>
#include <unordered_map>

namespace taskhaul::test {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool parseRequest(const QByteArray& head, RecordedRequest& request)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    if (first.size() != 3)
        return false;
    request.method = first.at(0);
    request.path = first.at(1);
    request.version = first.at(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return true;
}

} // namespace

class LocalHttpServer::Worker : public QObject {
public:
    explicit Worker(Shared& shared)
        : shared_(shared)
    {
    }

    quint16 listen()
    {
        server_ = new QTcpServer(this);
        if (!server_->listen(QHostAddress::LocalHost, 0))
            return 0;
        QObject::connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
        return server_->serverPort();
    }

    void shutdown()
    {
        for (auto& [socket, buffer] : buffers_) {
            socket->disconnect(this);
            socket->abort();
            delete socket;
        }
        buffers_.clear();
        delete server_;
        server_ = nullptr;
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            socket->setParent(nullptr);
            buffers_[socket] = {};
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                buffers_.erase(socket);
                socket->deleteLater();
            });
        }
    }

    void read(QTcpSocket* socket)
    {
        auto found = buffers_.find(socket);
        if (found == buffers_.end())
            return;
        QByteArray& buffer = found->second;
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        RecordedRequest request;
        const bool parsed = parseRequest(buffer.left(end), request);
        buffer.clear();
        HttpReply reply;
        {
            QMutexLocker lock(&shared_.mutex);
            shared_.requests << request;
            if (!parsed) {
                reply.status = 400;
            } else if (const auto route = shared_.replies.constFind(request.path);
                       route != shared_.replies.constEnd()) {
                reply = *route;
            } else {
                reply.status = 404;
                reply.body = "no such page";
            }
        }
        respond(socket, reply);
    }

    void respond(QTcpSocket* socket, const HttpReply& reply)
    {
        QByteArray head
            = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
        if (reply.sendContentLength) {
            const qint64 length = reply.announcedLength >= 0 ? reply.announcedLength : reply.body.size();
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        }
        for (const auto& [name, value] : reply.headers)
            head += name + ": " + value + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);

        QByteArray body = reply.body;
        if (reply.cutAfter >= 0)
            body.truncate(reply.cutAfter);
        const int chunk = reply.chunkSize > 0 ? reply.chunkSize : int(std::max<qsizetype>(body.size(), 1));
        const int pause = reply.chunkDelayMs;
        QPointer<QTcpSocket> guarded(socket);
        // Each pending timer owns the sender; the sender only knows itself weakly,
        // so it is freed with the last timer (also when the socket goes first).
        using Sender = std::function<void(qsizetype)>;
        auto sendFrom = std::make_shared<Sender>();
        std::weak_ptr<Sender> self = sendFrom;
        *sendFrom = [guarded, body, chunk, pause, self](qsizetype offset) {
            if (!guarded)
                return;
            if (offset < body.size())
                guarded->write(body.mid(offset, chunk));
            const qsizetype next = offset + chunk;
            if (next < body.size()) {
                QTimer::singleShot(pause, guarded.data(), [sender = self.lock(), next] { (*sender)(next); });
            } else {
                guarded->disconnectFromHost();
            }
        };
        if (reply.delayBodyMs > 0)
            QTimer::singleShot(reply.delayBodyMs, socket, [sendFrom] { (*sendFrom)(0); });
        else
            (*sendFrom)(0);
    }

    Shared& shared_;
    QTcpServer* server_ = nullptr;
    std::unordered_map<QTcpSocket*, QByteArray> buffers_;
};

LocalHttpServer::LocalHttpServer()
    : thread_(std::make_unique<QThread>())
{
    worker_ = new Worker(shared_);
    worker_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        worker_, [this] { port_ = worker_->listen(); }, Qt::BlockingQueuedConnection);
}

LocalHttpServer::~LocalHttpServer()
{
    QMetaObject::invokeMethod(
        worker_, [this] { worker_->shutdown(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
}

QString LocalHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port_) + path;
}

void LocalHttpServer::serve(const QByteArray& path, const HttpReply& reply)
{
    QMutexLocker lock(&shared_.mutex);
    shared_.replies.insert(path, reply);
}

void LocalHttpServer::serveBody(const QByteArray& path, const QByteArray& body)
{
    HttpReply reply;
    reply.body = body;
    serve(path, reply);
}

void LocalHttpServer::redirect(const QByteArray& path, const QByteArray& location, int status)
{
    HttpReply reply;
    reply.status = status;
    reply.body = "moved";
    reply.headers = { { "Location", location } };
    serve(path, reply);
}

QList<RecordedRequest> LocalHttpServer::requests() const
{
    QMutexLocker lock(&shared_.mutex);
    return shared_.requests;
}

int LocalHttpServer::hits(const QByteArray& path) const
{
    QMutexLocker lock(&shared_.mutex);
    int count = 0;
    for (const RecordedRequest& request : shared_.requests)
        count += request.path == path ? 1 : 0;
    return count;
}

quint16 LocalHttpServer::unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace taskhaul::test
