#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

class QNetworkAccessManager;

namespace taskhaul {

// The list of news of a newer version, shown in the question whether to update.
class NewsSource {
public:
    virtual ~NewsSource() = default;
    // The news text, or an empty text when it could not be had.
    virtual QString fetchNews() = 0;
};

// Fetches the news text with one plain HTTP GET: no proxy, no redirections,
// no authentication. Any failure gives an empty text; texts over 1 MiB fail
// and texts over 64 KiB are cut.
class HttpNewsSource : public NewsSource {
public:
    static constexpr qint64 kSizeLimit = 1024 * 1024;
    static constexpr qsizetype kShownLimit = 64 * 1024;

    explicit HttpNewsSource(const QUrl& url);
    ~HttpNewsSource() override;

    QString fetchNews() override;
    void setStallTimeout(std::chrono::milliseconds timeout) { stallTimeout_ = timeout; }
    const QUrl& url() const { return url_; }

private:
    QUrl url_;
    std::unique_ptr<QNetworkAccessManager> network_;
    std::chrono::milliseconds stallTimeout_ { 60'000 };
};

// The body as text (UTF-8), cut to at most `limit` bytes without splitting a character.
QString newsText(const QByteArray& body, qsizetype limit = HttpNewsSource::kShownLimit);

} // namespace taskhaul
