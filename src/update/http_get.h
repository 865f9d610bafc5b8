#pragma once

#include "base/taskhaul_error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <utility>

class QNetworkAccessManager;

namespace taskhaul {

// A request started while another one of the same HttpGet waits:
// "Another HTTP request is in progress.".
class HttpGetBusy : public TaskhaulError {
public:
    HttpGetBusy()
        : TaskhaulError("Another HTTP request is in progress.")
    {
    }
};

// One HTTP GET that the caller waits for. It waits as the FTP client does: no
// single wait is longer than 50 ms, and the application's events are processed
// after each (the window, its timers and its commands stay alive), so the
// progress callback and anything else may run in between. Starting another
// request on the same object while one waits throws HttpGetBusy.
// Redirections are not followed, the body is asked for without any content
// encoding, and any status other than 2xx fails the transfer.
class HttpGet {
public:
    enum class Result {
        Succeeded,
        Failed, // network error, bad status, bounds exceeded, short body, local file error
        Cancelled, // cancel() or the application quitting while it waited
    };

    struct Request {
        QUrl url;
        QList<std::pair<QByteArray, QByteArray>> headers;
        bool requireContentLength = false;
        // Bodies longer than this fail; negative means no limit.
        qint64 sizeLimit = -1;
        // A transfer that brings no byte for this long fails.
        std::chrono::milliseconds stallTimeout { 60'000 };
    };

    // After every received block: the size announced by Content-Length (0 when
    // it was not given) and the bytes received so far.
    using Progress = std::function<void(qint64 total, qint64 received)>;

    explicit HttpGet(QNetworkAccessManager& network);
    ~HttpGet();
    HttpGet(const HttpGet&) = delete;
    HttpGet& operator=(const HttpGet&) = delete;

    // The body into memory; succeeds when at least one byte came.
    Result fetch(const Request& request, QByteArray& body, const Progress& progress = {});
    // The body into the file at `path`, which is only replaced once the whole
    // body has arrived: it must match Content-Length and hold at least one
    // byte. After a failure no file is left at `path`.
    Result download(const Request& request, const QString& path, const Progress& progress = {});

    // Stops the running transfer at once; it ends as Cancelled.
    void cancel();
    bool isRunning() const { return active_ != nullptr; }

    // What went wrong in the last transfer, for diagnostics.
    const QString& failure() const { return failure_; }

    class Sink;

private:
    struct Transfer;
    Result run(const Request& request, Sink& sink, const Progress& progress);

    QNetworkAccessManager& network_;
    Transfer* active_ = nullptr;
    QString failure_;
};

// True for an absolute http or https address with a host.
bool isHttpUrl(const QUrl& url);

} // namespace taskhaul
