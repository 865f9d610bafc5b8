#include "update/http_get.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

#include <memory>

namespace taskhaul {

class HttpGet::Sink {
public:
    virtual ~Sink() = default;
    virtual bool begin() = 0;
    virtual bool write(const QByteArray& block) = 0;
    // Keeps the body when `success`, discards it otherwise; false when keeping failed.
    virtual bool finish(bool success) = 0;
};

namespace {

constexpr std::chrono::milliseconds kPumpInterval { 50 };

class MemorySink : public HttpGet::Sink {
public:
    explicit MemorySink(QByteArray& body)
        : body_(body)
    {
        body_.clear();
    }
    bool begin() override { return true; }
    bool write(const QByteArray& block) override
    {
        body_.append(block);
        return true;
    }
    bool finish(bool success) override
    {
        if (!success)
            body_.clear();
        return true;
    }

private:
    QByteArray& body_;
};

// Writes beside the target and renames into place only when complete, so a
// cut transfer never leaves a truncated file under the target's name.
class FileSink : public HttpGet::Sink {
public:
    explicit FileSink(const QString& path)
        : path_(path)
        , file_(path)
    {
    }
    ~FileSink() override
    {
        if (file_.isOpen())
            file_.cancelWriting();
    }
    bool begin() override { return file_.open(QIODevice::WriteOnly); }
    bool write(const QByteArray& block) override { return file_.write(block) == block.size(); }
    bool finish(bool success) override
    {
        if (success && file_.isOpen() && file_.commit())
            return true;
        if (file_.isOpen())
            file_.cancelWriting();
        // What lay at the path was given up for this download; an older file
        // of the same name must not pass for the one that failed.
        QFile::remove(path_);
        return false;
    }

private:
    QString path_;
    QSaveFile file_;
};

bool parseContentLength(const QByteArray& raw, qint64& length)
{
    bool ok = false;
    length = raw.trimmed().toLongLong(&ok);
    return ok && length >= 0;
}

// What Qt is asked for: no redirection, no cache, HTTP/1.1, no content encoding.
QNetworkRequest networkRequest(const HttpGet::Request& request)
{
    QNetworkRequest netRequest(request.url);
    netRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    netRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    netRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    netRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    for (const auto& [name, value] : request.headers)
        netRequest.setRawHeader(name, value);
    // Without a content encoding, Content-Length counts the bytes we receive.
    netRequest.setRawHeader("Accept-Encoding", "identity");
    return netRequest;
}

} // namespace

// One running request: the reply's signals come here while run() waits.
struct HttpGet::Transfer {
    Transfer(HttpGet& owner, const Request& request, Sink& sink, const Progress& progress)
        : owner(owner)
        , request(request)
        , sink(sink)
        , progress(progress)
    {
    }

    HttpGet& owner;
    const Request& request;
    Sink& sink;
    const Progress& progress;
    QEventLoop loop;
    QTimer stall;
    std::unique_ptr<QNetworkReply> reply;
    bool done = false;
    Result result = Result::Failed;
    bool headersChecked = false;
    bool hasLength = false;
    qint64 total = 0;
    qint64 received = 0;

    // Ends the wait. The reply is aborted only once the wait is over, never
    // from inside one of its own signals.
    void finish(Result outcome)
    {
        done = true;
        result = outcome;
        stall.stop();
        reply->disconnect(&loop);
        loop.quit();
    }

    void fail(const QString& why)
    {
        if (done)
            return;
        owner.failure_ = why;
        finish(Result::Failed);
    }

    // The status and headers, once: whether the body may be taken.
    bool checkHeaders()
    {
        if (headersChecked)
            return true;
        headersChecked = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 200 || status > 299) {
            fail(QStringLiteral("HTTP status %1").arg(status));
            return false;
        }
        qint64 length = 0;
        hasLength = reply->hasRawHeader("Content-Length")
            && parseContentLength(reply->rawHeader("Content-Length"), length);
        if (!hasLength && request.requireContentLength) {
            fail(QStringLiteral("no Content-Length"));
            return false;
        }
        if (hasLength && request.sizeLimit >= 0 && length > request.sizeLimit) {
            fail(QStringLiteral("announced size %1 over the limit").arg(length));
            return false;
        }
        total = hasLength ? length : 0;
        if (!sink.begin()) {
            fail(QStringLiteral("cannot create the local file"));
            return false;
        }
        return true;
    }

    void takeBlock()
    {
        if (done || !checkHeaders())
            return;
        const QByteArray block = reply->readAll();
        if (block.isEmpty())
            return;
        stall.start();
        if (request.sizeLimit >= 0 && received + block.size() > request.sizeLimit) {
            fail(QStringLiteral("body over the limit of %1 bytes").arg(request.sizeLimit));
            return;
        }
        if (hasLength && received + block.size() > total) {
            fail(QStringLiteral("more bytes than announced"));
            return;
        }
        if (!sink.write(block)) {
            fail(QStringLiteral("cannot write the local file"));
            return;
        }
        received += block.size();
        if (progress)
            progress(total, received);
    }

    void replyFinished()
    {
        if (done)
            return;
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
            // No HTTP response at all: no connection, refused, reset, timed out.
            fail(reply->errorString());
            return;
        }
        takeBlock(); // checks the status and headers, and takes what is left
        if (done)
            return;
        if (reply->error() != QNetworkReply::NoError) {
            fail(reply->errorString());
            return;
        }
        if (received == 0) {
            fail(QStringLiteral("empty body"));
            return;
        }
        if (hasLength && received != total) {
            fail(QStringLiteral("%1 of %2 bytes received").arg(received).arg(total));
            return;
        }
        finish(Result::Succeeded);
    }

    // Sends the request and listens to its reply.
    void start(QNetworkAccessManager& network)
    {
        stall.setSingleShot(true);
        stall.setInterval(request.stallTimeout);
        reply.reset(network.get(networkRequest(request)));
        QObject::connect(&stall, &QTimer::timeout, &loop,
            [this] { fail(QStringLiteral("no data for %1 ms").arg(request.stallTimeout.count())); });
        QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [this] { stall.start(); });
        QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [this] { takeBlock(); });
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, [this] { replyFinished(); });
        stall.start();
    }

    // Waits until the transfer ends. The longest single wait is kPumpInterval;
    // then the events are processed again, as the FTP client does while it
    // waits for the network.
    void wait()
    {
        QTimer pumpTick;
        pumpTick.setInterval(kPumpInterval);
        bool ticked = false;
        QObject::connect(&pumpTick, &QTimer::timeout, &loop, [this, &ticked] {
            ticked = true;
            loop.quit();
        });
        pumpTick.start();
        while (!done) {
            ticked = false;
            loop.exec();
            if (!done && !ticked) {
                // The event loop was told to end (the application is quitting).
                owner.cancel();
            }
        }
        if (!reply->isFinished())
            reply->abort();
    }
};

bool isHttpUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

HttpGet::HttpGet(QNetworkAccessManager& network)
    : network_(network)
{
}

HttpGet::~HttpGet()
{
    cancel();
}

HttpGet::Result HttpGet::fetch(const Request& request, QByteArray& body, const Progress& progress)
{
    MemorySink sink(body);
    return run(request, sink, progress);
}

HttpGet::Result HttpGet::download(const Request& request, const QString& path, const Progress& progress)
{
    FileSink sink(path);
    return run(request, sink, progress);
}

void HttpGet::cancel()
{
    if (!active_ || active_->done)
        return;
    failure_ = QStringLiteral("cancelled");
    active_->finish(Result::Cancelled);
}

HttpGet::Result HttpGet::run(const Request& request, Sink& sink, const Progress& progress)
{
    if (active_)
        throw HttpGetBusy();
    failure_.clear();
    if (!isHttpUrl(request.url)) {
        failure_ = QStringLiteral("not an http or https address: ") + request.url.toString();
        sink.finish(false);
        return Result::Failed;
    }

    Transfer t(*this, request, sink, progress);
    active_ = &t;
    t.start(network_);
    t.wait();
    active_ = nullptr;

    if (t.result == Result::Succeeded && !sink.finish(true)) {
        failure_ = QStringLiteral("cannot store the local file");
        return Result::Failed;
    }
    if (t.result != Result::Succeeded)
        sink.finish(false);
    return t.result;
}

} // namespace taskhaul
