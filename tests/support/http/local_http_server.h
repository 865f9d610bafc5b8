#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>

#include <memory>
#include <utility>

class QThread;

namespace taskhaul::test {

// What the server answers for one path. By default: 200 with the body and a
// Content-Length that matches it, then the connection is closed.
struct HttpReply {
    int status = 200;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    bool sendContentLength = true;
    qint64 announcedLength = -1; // Content-Length to announce; -1: the body's size
    qint64 cutAfter = -1; // close the connection after this many body bytes
    int delayBodyMs = 0; // pause between the headers and the body
    int chunkSize = 0; // send the body in pieces of this many bytes...
    int chunkDelayMs = 0; // ...with this pause between them
};

struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QByteArray version;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

// A small HTTP/1.x server on 127.0.0.1 and a free port, running in a thread of
// its own so that it answers while the code under test waits. Paths without a
// reply get 404. Every request is recorded.
class LocalHttpServer {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    quint16 port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString& path = {}) const;

    void serve(const QByteArray& path, const HttpReply& reply);
    void serveBody(const QByteArray& path, const QByteArray& body);
    void redirect(const QByteArray& path, const QByteArray& location, int status = 302);

    QList<RecordedRequest> requests() const;
    int hits(const QByteArray& path) const;

    // A port on 127.0.0.1 where nothing listens (at the moment of the call).
    static quint16 unusedPort();

    // Used by the server thread.
    struct Shared {
        mutable QMutex mutex;
        QMap<QByteArray, HttpReply> replies;
        QList<RecordedRequest> requests;
    };

private:
    class Worker;
    Shared shared_;
    std::unique_ptr<QThread> thread_;
    Worker* worker_ = nullptr;
    quint16 port_ = 0;
};

} // namespace taskhaul::test
