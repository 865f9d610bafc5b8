#include "app/update_wiring.h"
#include "ui/update_status_windows.h"
#include "update/news_source.h"
#include "update/update_check_flow.h"
#include "update/web_update.h"

#include "gui/recording_message_boxes.h"
#include "http/local_http_server.h"
#include "qstring_printer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace taskhaul {
namespace {

using test::HttpReply;
using test::LocalHttpServer;
using test::RecordingMessageBoxes;
using Kind = RecordingMessageBoxes::Kind;

const QByteArray kPagePath = update_site::kPagePath.toLatin1();
const QByteArray kNewsPath = update_site::kNewsPath.toLatin1();
const QByteArray kInstallerPath = "/files/TaskhaulSetup.exe";

class CountShows : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return QObject::eventFilter(watched, event);
    }
};

class RecordingLauncher : public InstallerLauncher {
public:
    bool start(const QString& path, const QString& parameters) override
    {
        started.push_back(path + QStringLiteral(" | ") + parameters);
        return true;
    }
    std::vector<QString> started;
};

// What the user could see when a message box came up.
struct Scene {
    bool messageVisible;
    QString messageLabel;
    bool downloadVisible;
    QString downloadLabel;
    bool barVisible;
    int barMaximum;
    int barValue;
    size_t installersStarted;
};

class FlowTest : public ::testing::Test {
protected:
    // Message boxes that also remember the scene behind each box.
    class Boxes : public RecordingMessageBoxes {
    public:
        explicit Boxes(FlowTest& test)
            : test_(test)
        {
        }
        void information(const QString& caption, const QString& text) override
        {
            test_.scenes.push_back(test_.scene());
            RecordingMessageBoxes::information(caption, text);
        }
        void error(const QString& caption, const QString& text) override
        {
            test_.scenes.push_back(test_.scene());
            RecordingMessageBoxes::error(caption, text);
        }
        Answer confirm(const QString& caption, const QString& text) override
        {
            test_.scenes.push_back(test_.scene());
            if (test_.duringQuestion)
                test_.duringQuestion();
            return RecordingMessageBoxes::confirm(caption, text);
        }

    private:
        FlowTest& test_;
    };

    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        configureWebUpdate(web, server.url());
        web.setTempFolder(temp.path());
        web.setInstallerLauncher(&launcher);
        web.setStallTimeout(std::chrono::milliseconds(1500));
        frm_message.installEventFilter(&messageShows);
        frm_download.installEventFilter(&downloadShows);
        for (int i = 0; i < 300'000; ++i)
            installer.append(char(i % 253));
    }

    Scene scene() const
    {
        return { frm_message.isVisible(), frm_message.messageLabel()->text(), frm_download.isVisible(),
            frm_download.messageLabel()->text(), frm_download.progressBar()->isVisibleTo(&frm_download),
            frm_download.progressBar()->maximum(), frm_download.progressBar()->value(),
            launcher.started.size() };
    }

    void publish(const QByteArray& version)
    {
        server.serveBody(kPagePath,
            "<META NAME=\"UPProduct\" CONTENT=\"Taskhaul\">\r\n"
            "<META NAME=\"UPVersion\" CONTENT=\""
                + version + "\">\r\n<META NAME=\"UPDownload\" CONTENT=\""
                + server.url(QString::fromLatin1(kInstallerPath)).toLatin1()
                + "\">\r\n<META NAME=\"UPClientSideName\" CONTENT=\"TaskhaulSetup.exe\">\r\n");
        HttpReply reply;
        reply.body = installer;
        reply.chunkSize = 64 * 1024;
        reply.chunkDelayMs = 5;
        server.serve(kInstallerPath, reply);
    }

    LocalHttpServer server;
    QTemporaryDir temp;
    TWebUpdate web;
    HttpNewsSource news { QUrl(server.url(update_site::kNewsPath)) };
    Tfrm_message frm_message;
    Tfrm_download frm_download;
    UpdateStatusDialogs windows { frm_message, frm_download };
    Boxes boxes { *this };
    RecordingLauncher launcher;
    UpdateCheckFlow flow { web, windows, boxes, news };
    CountShows messageShows;
    CountShows downloadShows;
    std::vector<Scene> scenes;
    std::function<void()> duringQuestion;
    QByteArray installer;
};

TEST(UpdateWindows, AreFixedCaptionedAndStartHidden)
{
    Tfrm_message message;
    Tfrm_download download;
    for (QDialog* window : std::initializer_list<QDialog*> { &message, &download }) {
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmora Taskhaul Oskra Update"));
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->isModal());
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
    }
    EXPECT_EQ(message.objectName(), "frm_message");
    EXPECT_EQ(message.size(), QSize(567, 70));
    EXPECT_EQ(download.objectName(), "frm_download");
    EXPECT_EQ(download.size(), QSize(502, 128));
    for (QLabel* label : { message.messageLabel(), download.messageLabel() }) {
        EXPECT_EQ(label->objectName(), "lblMessage");
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    }
    EXPECT_EQ(download.progressBar()->objectName(), "ProgressBar1");
    EXPECT_FALSE(download.progressBar()->isVisibleTo(&download));
}

TEST_F(FlowTest, NoNetworkShowsTheErrorOncePerClickAndNoDownloadWindow)
{
    web.ProductInfo.setURL(QStringLiteral("http://127.0.0.1:%1/page.htm").arg(LocalHttpServer::unusedPort()));
    const QString error
        = QStringLiteral("The update service is not available at this time.  Try again later.");
    // The component reports this failure twice; each click shows it once.
    for (std::size_t click = 1; click <= 2; ++click) {
        flow.Action16Execute();
        ASSERT_EQ(boxes.shown().size(), click);
        EXPECT_EQ(boxes.shown().back().kind, Kind::Error);
        EXPECT_EQ(boxes.shown().back().text, error);
    }
    // "Looking for a newer version" came each time, and had gone when the error came.
    EXPECT_EQ(messageShows.shows, 2);
    for (const Scene& scene : scenes) {
        EXPECT_FALSE(scene.messageVisible);
        EXPECT_EQ(scene.messageLabel, "Looking for a newer version of Taskhaul Oskra...");
    }
    EXPECT_EQ(downloadShows.shows, 0);
}

TEST_F(FlowTest, SameVersionSaysItIsTheLatest)
{
    publish("1.1.9");
    flow.Action16Execute();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Information);
    EXPECT_EQ(boxes.shown()[0].text, "You are using the latest version of Taskhaul Oskra Edition.");
    EXPECT_FALSE(scenes[0].messageVisible);
    EXPECT_EQ(downloadShows.shows, 0);
    EXPECT_EQ(server.hits(kNewsPath), 0);
}

TEST_F(FlowTest, NoToTheQuestionWithoutNewsStartsNothing)
{
    publish("1.2.0");
    boxes.answerNext(MessageBoxes::Answer::No);
    bool nestedShowedNothing = false;
    duringQuestion = [&] {
        // Check for Updates again while the first one still runs: nothing happens.
        const size_t before = boxes.shown().size();
        const int shows = messageShows.shows;
        flow.Action16Execute();
        nestedShowedNothing = boxes.shown().size() == before && messageShows.shows == shows;
    };
    flow.Action16Execute();

    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Confirmation);
    EXPECT_EQ(boxes.shown()[0].text,
        "You are using version 1.1.9, but version 1.2.0 is available.\r\n\r\n\r\n\r\n"
        "Do you wish to update to version 1.2.0 now?");
    EXPECT_TRUE(nestedShowedNothing);
    // The page's own progress already reached the hidden download window.
    EXPECT_FALSE(scenes[0].downloadVisible);
    EXPECT_EQ(scenes[0].downloadLabel, "Downloading update... Please wait.");

    EXPECT_EQ(server.hits(kNewsPath), 1);
    EXPECT_EQ(server.hits(kInstallerPath), 0);
    EXPECT_EQ(downloadShows.shows, 0);
    EXPECT_FALSE(frm_message.isVisible());
    EXPECT_THAT(launcher.started, IsEmpty());
    EXPECT_THAT(QDir(temp.path()).entryList(QDir::Files), IsEmpty());
}

TEST_F(FlowTest, YesDownloadsWithProgressThenSaysSoBeforeStarting)
{
    publish("1.2.0");
    server.serveBody(kNewsPath, "- 100% more %s and %1\r\n- Faster");
    flow.Action16Execute();

    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text,
        "You are using version 1.1.9, but version 1.2.0 is available.\r\n\r\n"
        "- 100% more %s and %1\r\n- Faster\r\n\r\n"
        "Do you wish to update to version 1.2.0 now?");
    EXPECT_EQ(boxes.shown()[1].kind, Kind::Information);
    EXPECT_EQ(boxes.shown()[1].text,
        "The update has been downloaded.\r\nInstallation will begin after you click OK.");

    const Scene& closing = scenes[1];
    EXPECT_FALSE(closing.downloadVisible);
    EXPECT_TRUE(closing.barVisible);
    EXPECT_EQ(closing.barMaximum, installer.size());
    EXPECT_EQ(closing.barValue, installer.size());
    EXPECT_EQ(closing.installersStarted, 0u);
    EXPECT_EQ(downloadShows.shows, 1);
    EXPECT_THAT(launcher.started, ElementsAre(QDir(temp.path()).filePath("TaskhaulSetup.exe") + " | "));
}

TEST_F(FlowTest, CutDownloadShowsTheErrorAndStartsNothing)
{
    publish("1.2.0");
    HttpReply cut;
    cut.body = installer;
    cut.cutAfter = 100'000;
    server.serve(kInstallerPath, cut);
    flow.Action16Execute();

    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].kind, Kind::Error);
    EXPECT_EQ(boxes.shown()[1].text, "The update service is not available at this time.  Try again later.");
    EXPECT_TRUE(scenes[1].downloadVisible);
    EXPECT_FALSE(frm_download.isVisible());
    EXPECT_THAT(launcher.started, IsEmpty());
    EXPECT_THAT(QDir(temp.path()).entryList(QDir::Files), IsEmpty());
}

TEST(ProgressSteps, FitSixtyFourBitCountsIntoTheBar)
{
    EXPECT_EQ(progressSteps(1000, 250), (ProgressSteps { 1000, 250 }));
    EXPECT_EQ(progressSteps(0, 500), (ProgressSteps { 0, 0 }));
    const qint64 big = 6'000'000'000;
    const ProgressSteps half = progressSteps(big, big / 2);
    EXPECT_GT(half.maximum, 1'000'000'000);
    EXPECT_NEAR(double(half.position) / half.maximum, 0.5, 1e-6);
    EXPECT_EQ(progressSteps(big, big).position, progressSteps(big, big).maximum);
}

} // namespace
} // namespace taskhaul

namespace taskhaul {
namespace {

TEST(UpdateWiring, ChecksTheSitesPageAndNewsWithHiddenWindows)
{
    LocalHttpServer server;
    server.serveBody(kPagePath,
        "<META NAME=\"UPProduct\" CONTENT=\"Taskhaul\">\r\n"
        "<META NAME=\"UPVersion\" CONTENT=\"1.2.0\">\r\n");
    server.serveBody(kNewsPath, "news of 1.2.0");
    RecordingMessageBoxes boxes;
    boxes.answerNext(MessageBoxes::Answer::No);
    UpdateWiring wiring(boxes, server.url());
    EXPECT_FALSE(wiring.messageWindow().isVisible());
    EXPECT_FALSE(wiring.downloadWindow().isVisible());

    wiring.Action16Execute();
    EXPECT_THAT(boxes.texts(),
        ElementsAre("You are using version 1.1.9, but version 1.2.0 is available.\r\n\r\n"
                    "news of 1.2.0\r\n\r\nDo you wish to update to version 1.2.0 now?"));
    EXPECT_EQ(server.hits(kPagePath), 1);
    EXPECT_EQ(server.hits(kNewsPath), 1);
    EXPECT_FALSE(wiring.messageWindow().isVisible());
    EXPECT_EQ(wiring.webUpdate().ProductInfo.URL(), server.url(update_site::kPagePath));
}

} // namespace
} // namespace taskhaul
