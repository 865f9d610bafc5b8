#include "update/update_check_flow.h"
#include "update/web_update.h"

#include "http/local_http_server.h"
#include "qstring_printer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace taskhaul {
namespace {

using test::HttpReply;
using test::LocalHttpServer;

const QByteArray kPagePath = update_site::kPagePath.toLatin1();
const QByteArray kInstallerPath = "/files/TaskhaulSetup.exe";

QByteArray metaTag(const QByteArray& name, const QByteArray& value)
{
    return "<META NAME=\"" + name + "\" CONTENT=\"" + value + "\">\r\n";
}

QByteArray installerBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 200'000; ++i)
        bytes.append(char(i * 7 % 251));
    return bytes;
}

class RecordingLauncher : public InstallerLauncher {
public:
    bool start(const QString& path, const QString& parameters) override
    {
        started.push_back(path + QStringLiteral(" | ") + parameters);
        return result;
    }
    std::vector<QString> started;
    bool result = true;
};

// Records the component's events in order. Runs of OnDownload collapse into one
// "Download" entry (how many blocks a body comes in is up to the network).
class WebUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        configureWebUpdate(web, server.url());
        web.setTempFolder(temp.path());
        web.setInstallerLauncher(&launcher);
        web.setStallTimeout(std::chrono::milliseconds(1500));
        installer = installerBytes();
        record();
    }

    void record()
    {
        auto add = [this](const QString& event) {
            if (event != QLatin1String("Download") || events.empty() || events.back() != event)
                events.push_back(event);
        };
        web.OnBeforeGetInfo = [add](TWebUpdate&) { add("BeforeGetInfo"); };
        web.OnAfterGetInfo = [add](TWebUpdate&) { add("AfterGetInfo"); };
        web.OnNoUpdateFound = [add](TWebUpdate&) { add("NoUpdateFound"); };
        web.OnUpdateAvailable
            = [this, add](TWebUpdate&, const QString& actual, const QString& newer, bool& can) {
                  add("UpdateAvailable " + actual + " " + newer);
                  can = acceptUpdate;
              };
        web.OnBeforeShowInfo = [add](TWebUpdate&, bool& show, bool& check) {
            add(QStringLiteral("BeforeShowInfo %1 %2").arg(show).arg(check));
            show = false;
        };
        web.OnGetClientFileName = [add](TWebUpdate&, QString&) { add("GetClientFileName"); };
        web.OnClientFileExists = [this, add](TWebUpdate&, QString&, bool& overwrite) {
            add(QStringLiteral("ClientFileExists %1").arg(overwrite));
            overwrite = allowOverwrite;
        };
        web.OnBeforeDownload = [add](TWebUpdate&, const QString&) { add("BeforeDownload"); };
        web.OnDownload = [this, add](TWebUpdate&, qint64 total, qint64 downloaded) {
            add("Download");
            lastProgress = { total, downloaded };
            if (onDownload)
                onDownload();
        };
        web.OnAfterDownload = [add](TWebUpdate& sender, const QString&) {
            add(sender.TransferSucceeded() ? "AfterDownload ok" : "AfterDownload failed");
        };
        web.OnDownloadError = [add](TWebUpdate&) { add("DownloadError"); };
        web.OnCannotExecute = [add](TWebUpdate&) { add("CannotExecute"); };
    }

    QByteArray page(const QByteArray& version, const QByteArray& clientName = "TaskhaulSetup.exe")
    {
        return "<html><head>\r\n" + metaTag("UPProduct", "Taskhaul Oskra") + metaTag("UPVersion", version)
            + metaTag("UPDownload", server.url(QString::fromLatin1(kInstallerPath)).toLatin1())
            + metaTag("UPClientSideName", clientName) + metaTag("UPRunParameters", "/silent")
            + "</head><body>Update</body></html>\r\n";
    }

    void publish(const QByteArray& version)
    {
        server.serveBody(kPagePath, page(version));
        server.serveBody(kInstallerPath, installer);
    }

    QString installerPath() const { return QDir(temp.path()).filePath(QStringLiteral("TaskhaulSetup.exe")); }

    QByteArray fileContents(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    LocalHttpServer server;
    QTemporaryDir temp;
    TWebUpdate web;
    RecordingLauncher launcher;
    QByteArray installer;
    std::vector<QString> events;
    std::pair<qint64, qint64> lastProgress { -1, -1 };
    std::function<void()> onDownload;
    bool acceptUpdate = true;
    bool allowOverwrite = true;
};

TEST_F(WebUpdateTest, NoNetworkReportsTheErrorTwice)
{
    web.ProductInfo.setURL(QStringLiteral("http://127.0.0.1:%1/page.htm").arg(LocalHttpServer::unusedPort()));
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "DownloadError", "AfterGetInfo", "DownloadError"));
    EXPECT_FALSE(web.TransferSucceeded());
}

TEST_F(WebUpdateTest, SameVersionIsNoUpdate)
{
    publish("1.1.9");
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "NoUpdateFound"));
    EXPECT_EQ(server.hits(kInstallerPath), 0);
}

TEST_F(WebUpdateTest, NewerVersionDeclinedDownloadsNothing)
{
    publish("1.2.0");
    acceptUpdate = false;
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(
        events, ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "UpdateAvailable 1.1.9 1.2.0"));
    EXPECT_EQ(server.hits(kInstallerPath), 0);
    EXPECT_THAT(launcher.started, IsEmpty());
}

TEST_F(WebUpdateTest, NewerVersionAcceptedIsDownloadedAndStarted)
{
    publish("1.2.0");
    EXPECT_TRUE(web.RunUpdateCheck());
    EXPECT_THAT(events,
        ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "UpdateAvailable 1.1.9 1.2.0",
            "BeforeShowInfo 1 1", "GetClientFileName", "BeforeDownload", "Download", "AfterDownload ok"));
    EXPECT_EQ(lastProgress, std::make_pair(qint64(installer.size()), qint64(installer.size())));
    EXPECT_EQ(fileContents(installerPath()), installer);
    EXPECT_THAT(launcher.started, ElementsAre(installerPath() + " | /silent"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.header("Accept-Encoding"), "identity");
        EXPECT_EQ(request.header("User-Agent"), "TWebUpdate");
        EXPECT_EQ(request.header("Accept"), "*/*");
    }
}

TEST_F(WebUpdateTest, AnOldInstallerIsReplacedOnlyWhenAllowed)
{
    publish("1.2.0");
    {
        QFile old(installerPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old installer");
    }
    allowOverwrite = false;
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_EQ(events.back(), "DownloadError");
    EXPECT_EQ(std::count(events.begin(), events.end(), "BeforeDownload"), 0);
    EXPECT_EQ(fileContents(installerPath()), "old installer");

    events.clear();
    allowOverwrite = true;
    EXPECT_TRUE(web.RunUpdateCheck());
    EXPECT_THAT(events, ::testing::Contains("ClientFileExists 0")); // uoOverwrite is off by default here
    EXPECT_EQ(fileContents(installerPath()), installer);
}

TEST_F(WebUpdateTest, InterruptedDownloadFailsAndLeavesNoFile)
{
    publish("1.2.0");
    HttpReply cut;
    cut.body = installer;
    cut.cutAfter = installer.size() / 2;
    server.serve(kInstallerPath, cut);
    {
        QFile old(installerPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old installer");
    }
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events,
        ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "UpdateAvailable 1.1.9 1.2.0",
            "BeforeShowInfo 1 1", "GetClientFileName", "ClientFileExists 0", "BeforeDownload", "Download",
            "DownloadError", "AfterDownload failed"));
    EXPECT_FALSE(QFile::exists(installerPath()));
    EXPECT_THAT(launcher.started, IsEmpty());
}

struct InstallerFault {
    const char* what;
    HttpReply reply;
};

void PrintTo(const InstallerFault& fault, std::ostream* out)
{
    *out << fault.what;
}

HttpReply installerReply(const std::function<void(HttpReply&)>& change)
{
    HttpReply reply;
    reply.body = installerBytes();
    change(reply);
    return reply;
}

class InstallerFaults : public WebUpdateTest, public ::testing::WithParamInterface<InstallerFault> { };

TEST_P(InstallerFaults, FailWithoutAFileOrAStart)
{
    publish("1.2.0");
    server.serve(kInstallerPath, GetParam().reply);
    EXPECT_FALSE(web.RunUpdateCheck());
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "DownloadError");
    EXPECT_EQ(events.back(), "AfterDownload failed");
    EXPECT_FALSE(QFile::exists(installerPath()));
    EXPECT_THAT(launcher.started, IsEmpty());
    EXPECT_THAT(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Replies, InstallerFaults,
    ::testing::Values(InstallerFault { "error page with a body", installerReply([](HttpReply& r) {
                                          r.status = 404;
                                          r.body = "<html>Not found</html>";
                                      }) },
        InstallerFault { "server error with a body", installerReply([](HttpReply& r) { r.status = 500; }) },
        InstallerFault { "redirection not followed", installerReply([](HttpReply& r) {
                            r.status = 302;
                            r.headers = { { "Location", "/files/other.exe" } };
                        }) },
        InstallerFault {
            "no Content-Length", installerReply([](HttpReply& r) { r.sendContentLength = false; }) },
        InstallerFault { "empty body", installerReply([](HttpReply& r) { r.body.clear(); }) },
        InstallerFault { "stalls", installerReply([](HttpReply& r) {
                            r.chunkSize = 1000;
                            r.chunkDelayMs = 5000;
                        }) }),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(WebUpdateTest, ErrorStatusPageIsNotRead)
{
    // An error page that happens to carry the tags must not pass for the page.
    HttpReply error;
    error.status = 500;
    error.body = page("9.9.9");
    server.serve(kPagePath, error);
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "DownloadError", "AfterGetInfo", "DownloadError"));
    EXPECT_TRUE(web.PageValues().Version.isEmpty());
}

TEST_F(WebUpdateTest, PageFailures)
{
    struct Case {
        const char* what;
        HttpReply reply;
        std::vector<QString> events;
    };
    HttpReply noVersion;
    noVersion.body = metaTag("UPProduct", "Taskhaul");
    HttpReply huge;
    huge.body = page("1.2.0") + QByteArray(TWebUpdate::kPageSizeLimit, ' ');
    HttpReply hugeUnannounced = huge;
    hugeUnannounced.sendContentLength = false;
    HttpReply moved;
    moved.status = 301;
    moved.headers = { { "Location", server.url("/elsewhere.htm").toLatin1() } };
    HttpReply stalled;
    stalled.body = page("1.2.0");
    stalled.delayBodyMs = 5000;
    const std::vector<QString> failed { "BeforeGetInfo", "DownloadError", "AfterGetInfo", "DownloadError" };
    const std::vector<Case> cases {
        { "page without a version tag", noVersion, { "BeforeGetInfo", "AfterGetInfo", "DownloadError" } },
        { "page over the size limit", huge, failed },
        { "page over the size limit without Content-Length", hugeUnannounced, failed },
        { "HTTP redirection", moved, failed },
        { "no byte for too long", stalled, failed },
    };
    server.serveBody("/elsewhere.htm", page("1.2.0"));
    for (const Case& c : cases) {
        events.clear();
        server.serve(kPagePath, c.reply);
        EXPECT_FALSE(web.RunUpdateCheck()) << c.what;
        // How much of a body arrives before it fails is up to the network.
        std::erase(events, QStringLiteral("Download"));
        EXPECT_EQ(events, c.events) << c.what;
    }
    EXPECT_EQ(server.hits("/elsewhere.htm"), 0);
}

TEST_F(WebUpdateTest, RedirectionTagReadsTheOtherPageInstead)
{
    server.serveBody(kPagePath,
        metaTag("UPProduct", "Old") + metaTag("UPVersion", "9.0")
            + metaTag("UPRedirection", server.url("/second.htm").toLatin1()));
    server.serveBody("/second.htm", metaTag("UPRedirection", server.url("/third.htm").toLatin1()));
    server.serveBody("/third.htm", page("1.1.9"));
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "NoUpdateFound"));
    EXPECT_EQ(web.PageValues().Version, "1.1.9");
    EXPECT_EQ(web.PageValues().ProductName, "Taskhaul Oskra");
    EXPECT_EQ(server.hits("/third.htm"), 1);
}

TEST_F(WebUpdateTest, RedirectionChainStopsAfterTenPages)
{
    server.serveBody(kPagePath,
        page("1.2.0") + metaTag("UPRedirection", server.url(QString::fromLatin1(kPagePath)).toLatin1()));
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_EQ(server.hits(kPagePath), TWebUpdate::kMaxPages);
    EXPECT_THAT(
        events, ElementsAre("BeforeGetInfo", "Download", "DownloadError", "AfterGetInfo", "DownloadError"));
    EXPECT_EQ(server.hits(kInstallerPath), 0);
}

TEST_F(WebUpdateTest, ClientFileNameMustBeABareName)
{
    for (const QByteArray name :
        { "", ".", "..", "../TaskhaulSetup.exe", "sub/Setup.exe", "..\\Setup.exe", "/tmp/Setup.exe" }) {
        events.clear();
        server.serveBody(kPagePath, page("1.2.0", name));
        server.serveBody(kInstallerPath, installer);
        EXPECT_FALSE(web.RunUpdateCheck()) << name.constData();
        EXPECT_EQ(events.back(), "DownloadError") << name.constData();
        EXPECT_EQ(std::count(events.begin(), events.end(), "BeforeDownload"), 0) << name.constData();
    }
    EXPECT_EQ(server.hits(kInstallerPath), 0);
    EXPECT_THAT(launcher.started, IsEmpty());
}

TEST_F(WebUpdateTest, CheckInsideACheckReturnsAtOnce)
{
    publish("1.1.9");
    std::vector<bool> nested;
    onDownload = [&] {
        const auto before = events.size();
        nested.push_back(web.RunUpdateCheck());
        EXPECT_EQ(events.size(), before);
    };
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(nested, ::testing::Each(false));
    EXPECT_FALSE(nested.empty());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "NoUpdateFound"));
    EXPECT_EQ(server.hits(kPagePath), 1);

    // Not busy any more afterwards.
    onDownload = nullptr;
    events.clear();
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_THAT(events, ElementsAre("BeforeGetInfo", "Download", "AfterGetInfo", "NoUpdateFound"));
}

TEST_F(WebUpdateTest, CancelledDownloadFailsWithoutAnError)
{
    publish("1.2.0");
    HttpReply slow;
    slow.body = installer;
    slow.chunkSize = 10'000;
    slow.chunkDelayMs = 20;
    server.serve(kInstallerPath, slow);
    onDownload = [&] {
        if (std::count(events.begin(), events.end(), "BeforeDownload") == 1)
            web.CancelTransfer();
    };
    EXPECT_FALSE(web.RunUpdateCheck());
    EXPECT_EQ(events.back(), "AfterDownload failed");
    EXPECT_EQ(std::count(events.begin(), events.end(), "DownloadError"), 0);
    EXPECT_FALSE(QFile::exists(installerPath()));
}

TEST_F(WebUpdateTest, InstallerThatCannotBeStartedStillCounts)
{
    publish("1.2.0");
    launcher.result = false;
    EXPECT_TRUE(web.RunUpdateCheck());
    EXPECT_EQ(events.back(), "CannotExecute");

    events.clear();
    web.Options = {};
    EXPECT_TRUE(web.RunUpdateCheck());
    EXPECT_EQ(events.back(), "AfterDownload ok");
    EXPECT_EQ(launcher.started.size(), 1u);
}

TEST(ProductInfo, AddressWithoutHttpOrHttpsGetsHttp)
{
    TProductInfo info;
    const std::pair<const char*, const char*> cases[] = {
        { "www.velmora.example/u.htm", "http://www.velmora.example/u.htm" },
        { "http://host/u.htm", "http://host/u.htm" },
        { "HTTP://host/u.htm", "HTTP://host/u.htm" },
        { "HttpS://host/u.htm", "HttpS://host/u.htm" },
        { "ftp://host/u.htm", "http://ftp://host/u.htm" },
        { "file:///etc/passwd", "http://file:///etc/passwd" },
    };
    for (const auto& [given, kept] : cases) {
        info.setURL(QString::fromLatin1(given));
        EXPECT_EQ(info.URL(), QString::fromLatin1(kept));
    }
}

} // namespace
} // namespace taskhaul
