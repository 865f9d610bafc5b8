#include "update/news_source.h"

#include "update/http_get.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>

namespace taskhaul {

HttpNewsSource::HttpNewsSource(const QUrl& url)
    : url_(url)
    , network_(std::make_unique<QNetworkAccessManager>())
{
    network_->setProxy(QNetworkProxy::NoProxy);
}

HttpNewsSource::~HttpNewsSource() = default;

QString HttpNewsSource::fetchNews()
{
    HttpGet http(*network_);
    HttpGet::Request request;
    request.url = url_;
    request.headers
        = { { "Accept", "text/html, */*" }, { "User-Agent", "Mozilla/3.0 (compatible; Taskhaul)" } };
    request.sizeLimit = kSizeLimit;
    request.stallTimeout = stallTimeout_;
    QByteArray body;
    if (http.fetch(request, body) != HttpGet::Result::Succeeded)
        return {};
    return newsText(body);
}

QString newsText(const QByteArray& body, qsizetype limit)
{
    if (body.size() <= limit)
        return QString::fromUtf8(body);
    qsizetype end = limit;
    // Step back over continuation bytes so the cut falls between characters.
    while (end > 0 && (static_cast<unsigned char>(body.at(end)) & 0xC0) == 0x80)
        --end;
    return QString::fromUtf8(body.left(end));
}

} // namespace taskhaul
