#include "update/news_source.h"

#include "http/local_http_server.h"
#include "qstring_printer.h"

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

using test::HttpReply;
using test::LocalHttpServer;

TEST(NewsSource, FetchesTheTextWithItsOwnRequest)
{
    LocalHttpServer server;
    server.serveBody("/news.txt", "- Faster listings\r\n- 100% fewer bugs\r\n");
    HttpNewsSource news(QUrl(server.url(QStringLiteral("/news.txt"))));
    EXPECT_EQ(news.fetchNews(), QStringLiteral("- Faster listings\r\n- 100% fewer bugs\r\n"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_EQ(requests[0].header("Accept"), "text/html, */*");
    EXPECT_EQ(requests[0].header("User-Agent"), "Mozilla/3.0 (compatible; Taskhaul)");
}

TEST(NewsSource, AnyFailureGivesAnEmptyText)
{
    LocalHttpServer server;
    HttpReply error;
    error.status = 404;
    error.body = "Not found";
    server.serve("/error.txt", error);
    server.redirect("/moved.txt", server.url(QStringLiteral("/news.txt")).toLatin1());
    server.serveBody("/news.txt", "news");
    HttpReply huge;
    huge.body = QByteArray(HttpNewsSource::kSizeLimit + 1, 'x');
    server.serve("/huge.txt", huge);
    HttpReply stalled;
    stalled.body = "news";
    stalled.delayBodyMs = 5000;
    server.serve("/stalled.txt", stalled);

    for (const char* path : { "/error.txt", "/moved.txt", "/huge.txt", "/stalled.txt", "/missing.txt" }) {
        HttpNewsSource news(QUrl(server.url(QString::fromLatin1(path))));
        news.setStallTimeout(std::chrono::milliseconds(300));
        EXPECT_EQ(news.fetchNews(), QString()) << path;
    }
    HttpNewsSource unreachable(
        QUrl(QStringLiteral("http://127.0.0.1:%1/news.txt").arg(LocalHttpServer::unusedPort())));
    EXPECT_EQ(unreachable.fetchNews(), QString());
    EXPECT_EQ(server.hits("/news.txt"), 0);
}

TEST(NewsSource, LongTextIsCutBetweenCharacters)
{
    const QByteArray euro = "\xE2\x82\xAC"; // three bytes in UTF-8
    QByteArray body = QByteArray(HttpNewsSource::kShownLimit - 1, 'a') + euro + "tail";
    const QString cut = newsText(body);
    EXPECT_EQ(cut, QString(HttpNewsSource::kShownLimit - 1, QLatin1Char('a')));
    EXPECT_EQ(newsText("short \xE2\x82\xAC"), QString::fromUtf8("short \xE2\x82\xAC"));
}

} // namespace
} // namespace taskhaul
