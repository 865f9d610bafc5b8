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

} // namespace

struct HttpGet::Transfer {
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

    QNetworkRequest netRequest(request.url);
    netRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    netRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    netRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    netRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    for (const auto& [name, value] : request.headers)
        netRequest.setRawHeader(name, value);
    // Without a content encoding, Content-Length counts the bytes we receive.
    netRequest.setRawHeader("Accept-Encoding", "identity");

    Transfer t;
    Transfer* const tp = &t;
    active_ = tp;

    auto fail = [this, tp](const QString& why) {
        if (tp->done)
            return;
        failure_ = why;
        tp->finish(Result::Failed);
    };

    auto checkHeaders = [&request, &sink, tp, fail]() {
        if (tp->headersChecked)
            return true;
        tp->headersChecked = true;
        const int status = tp->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 200 || status > 299) {
            fail(QStringLiteral("HTTP status %1").arg(status));
            return false;
        }
        qint64 length = 0;
        tp->hasLength = tp->reply->hasRawHeader("Content-Length")
            && parseContentLength(tp->reply->rawHeader("Content-Length"), length);
        if (!tp->hasLength && request.requireContentLength) {
            fail(QStringLiteral("no Content-Length"));
            return false;
        }
        if (tp->hasLength && request.sizeLimit >= 0 && length > request.sizeLimit) {
            fail(QStringLiteral("announced size %1 over the limit").arg(length));
            return false;
        }
        tp->total = tp->hasLength ? length : 0;
        if (!sink.begin()) {
            fail(QStringLiteral("cannot create the local file"));
            return false;
        }
        return true;
    };

    auto takeBlock = [&request, &sink, &progress, tp, fail, checkHeaders]() {
        if (tp->done || !checkHeaders())
            return;
        const QByteArray block = tp->reply->readAll();
        if (block.isEmpty())
            return;
        tp->stall.start();
        if (request.sizeLimit >= 0 && tp->received + block.size() > request.sizeLimit) {
            fail(QStringLiteral("body over the limit of %1 bytes").arg(request.sizeLimit));
            return;
        }
        if (tp->hasLength && tp->received + block.size() > tp->total) {
            fail(QStringLiteral("more bytes than announced"));
            return;
        }
        if (!sink.write(block)) {
            fail(QStringLiteral("cannot write the local file"));
            return;
        }
        tp->received += block.size();
        if (progress)
            progress(tp->total, tp->received);
    };

    t.stall.setSingleShot(true);
    t.stall.setInterval(request.stallTimeout);
    t.reply.reset(network_.get(netRequest));
    QObject::connect(&t.stall, &QTimer::timeout, &t.loop,
        [fail, &request] { fail(QStringLiteral("no data for %1 ms").arg(request.stallTimeout.count())); });
    QObject::connect(t.reply.get(), &QNetworkReply::metaDataChanged, &t.loop, [tp] { tp->stall.start(); });
    QObject::connect(t.reply.get(), &QNetworkReply::readyRead, &t.loop, takeBlock);
    QObject::connect(t.reply.get(), &QNetworkReply::finished, &t.loop, [tp, fail, takeBlock] {
        if (tp->done)
            return;
        if (tp->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
            // No HTTP response at all: no connection, refused, reset, timed out.
            fail(tp->reply->errorString());
            return;
        }
        takeBlock(); // checks the status and headers, and takes what is left
        if (tp->done)
            return;
        if (tp->reply->error() != QNetworkReply::NoError) {
            fail(tp->reply->errorString());
            return;
        }
        if (tp->received == 0) {
            fail(QStringLiteral("empty body"));
            return;
        }
        if (tp->hasLength && tp->received != tp->total) {
            fail(QStringLiteral("%1 of %2 bytes received").arg(tp->received).arg(tp->total));
            return;
        }
        tp->finish(Result::Succeeded);
    });
    t.stall.start();

    // The longest single wait; then the events are processed again, as the
    // FTP client does while it waits for the network.
    QTimer pumpTick;
    pumpTick.setInterval(kPumpInterval);
    bool ticked = false;
    QObject::connect(&pumpTick, &QTimer::timeout, &t.loop, [&t, &ticked] {
        ticked = true;
        t.loop.quit();
    });
    pumpTick.start();
    while (!t.done) {
        ticked = false;
        t.loop.exec();
        if (!t.done && !ticked) {
            // The event loop was told to end (the application is quitting).
            cancel();
        }
    }
    if (!t.reply->isFinished())
        t.reply->abort();
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
