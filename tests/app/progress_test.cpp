// A download's progress: its texts, its rate, and the window showing it in the
// status bar and the icon's tooltip while a real server sends a file.
#include "app/progress_text.h"
#include "app/status_line.h"
#include "app/terminal_progress.h"
#include "app/transfer_progress.h"
#include "ftp/pyftpd_server.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

namespace taskhaul::test {
namespace {

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * KiB;
constexpr std::int64_t GiB = 1024 * MiB;

// The whole text, and the short form for a status bar with little room.
TEST(ProgressText, SizesRatesAndTimeLeft)
{
    struct Case {
        std::int64_t received;
        std::int64_t size;
        double rate;
        const char* text;
        const char* shortText;
    };
    const Case cases[] = {
        { 0, 0, 0, "0 B of 0 B", "100%" },
        { 1023, 4096, 0, "1023 B of 4.0 KiB", "24%" },
        { 1536, -1, 0, "1.5 KiB", "1.5 KiB" }, // size unknown: the bytes so far
        { 12 * MiB + 300 * KiB, GiB, 45.6 * MiB, "12.3 MiB of 1.0 GiB, 45.6 MiB/s, 0:23 left",
            "1% \u00b7 45.6 MiB/s \u00b7 0:23 left" },
        { 12 * MiB + 300 * KiB, 27 * MiB, 12.3 * MiB, "12.3 MiB of 27.0 MiB, 12.3 MiB/s, 0:02 left",
            "45% \u00b7 12.3 MiB/s \u00b7 0:02 left" },
        { 1024 * KiB - 1, -1, 1000, "1.0 MiB, 1000 B/s", "1.0 MiB \u00b7 1000 B/s" }, // rounds up
        { 0, 3 * GiB, 1.0 * MiB, "0 B of 3.0 GiB, 1.0 MiB/s, 51:12 left",
            "0% \u00b7 1.0 MiB/s \u00b7 51:12 left" },
        { 0, 10 * GiB, 10.0 * KiB, "0 B of 10.0 GiB, 10.0 KiB/s, 291:16:16 left",
            "0% \u00b7 10.0 KiB/s \u00b7 291:16:16 left" },
        { 5 * GiB, -1, 2.5 * GiB, "5.0 GiB, 2.5 GiB/s", "5.0 GiB \u00b7 2.5 GiB/s" }, // no unit above GiB
        // The server sent more than it said: no time left.
        { 2 * KiB, KiB, 100, "2.0 KiB of 1.0 KiB, 100 B/s", "100% \u00b7 100 B/s" },
        { 1, 2, 1, "1 B of 2 B, 1 B/s, 0:01 left", "50% \u00b7 1 B/s \u00b7 0:01 left" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progressText(c.received, c.size, c.rate), QString::fromUtf8(c.text)) << c.text;
        EXPECT_EQ(shortProgressText(c.received, c.size, c.rate), QString::fromUtf8(c.shortText)) << c.text;
    }
}

TEST(ProgressText, PercentAndTheTrayLine)
{
    EXPECT_EQ(progressPercent(0, -1), -1);
    EXPECT_EQ(progressPercent(0, 0), 100);
    EXPECT_EQ(progressPercent(GiB / 2, GiB), 50);
    EXPECT_EQ(progressPercent(2 * GiB, GiB), 100);
    EXPECT_EQ(
        trayProgressText(MiB, 4 * MiB, 0), QStringLiteral("Taskhaul - downloading 25%: 1.0 MiB of 4.0 MiB"));
    EXPECT_EQ(trayProgressText(MiB, -1, MiB), QStringLiteral("Taskhaul - downloading: 1.0 MiB, 1.0 MiB/s"));
}

TEST(RateMeter, MeasuresTheLastSecondsOnly)
{
    RateMeter meter;
    meter.start(0);
    meter.add(100, 1000);
    EXPECT_EQ(meter.bytesPerSecond(), 0); // too short to tell
    for (int second = 1; second <= 10; ++second)
        meter.add(second * 1000, std::int64_t(second) * 1000); // 1000 B/s
    EXPECT_NEAR(meter.bytesPerSecond(), 1000, 1);
    for (int second = 11; second <= 20; ++second)
        meter.add(second * 1000, 10000 + std::int64_t(second - 10) * 5000); // then 5000 B/s
    EXPECT_NEAR(meter.bytesPerSecond(), 5000, 1);
}

// The progress follows what the engine announces of a download: its start with
// the size, its bytes, its end. An end without a download (a run that ended
// before one began) shows nothing.
TEST(TransferProgress, FollowsTheAnnouncedDownload)
{
    std::vector<ProgressState> shown;
    TransferProgress progress([&shown](const ProgressState& state) { shown.push_back(state); });
    progress.end();
    EXPECT_TRUE(shown.empty());

    progress.begin(-7);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown.back().active);
    EXPECT_EQ(shown.back().size, -1);
    progress.begin(300);
    progress.work(120);
    EXPECT_EQ(progress.state().received, 120);
    EXPECT_EQ(progress.state().size, 300);
    progress.end();
    EXPECT_FALSE(shown.back().active);
    const std::size_t count = shown.size();
    progress.work(200); // after the end: not shown
    progress.end();
    EXPECT_EQ(shown.size(), count);
    EXPECT_FALSE(progress.state().active);
}

// A run over several connections shows the whole run, and the single
// downloads it announces meanwhile do not take over the display.
TEST(TransferProgress, FollowsTheWholeRunOfSeveralConnections)
{
    std::vector<ProgressState> shown;
    TransferProgress progress([&shown](const ProgressState& state) { shown.push_back(state); });
    progress.run(0, 200, 0, 819200);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown.back().active);
    EXPECT_EQ(shown.back().filesTotal, 200);
    progress.begin(4096);
    progress.work(100);
    progress.end();
    EXPECT_EQ(shown.size(), 1u);
    progress.run(1, 200, 4096, 819200); // a file's end shows at once
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown.back().filesDone, 1);
    EXPECT_EQ(shown.back().received, 4096);
    EXPECT_EQ(shown.back().size, 819200);
    EXPECT_EQ(TerminalProgress::line(QStringLiteral("x"), shown.back()),
        QStringLiteral("1 of 200 files: 4.0 KiB of 800.0 KiB"));
    progress.endRun();
    EXPECT_FALSE(shown.back().active);
    // Single downloads show again.
    progress.begin(10);
    EXPECT_TRUE(shown.back().active);
    EXPECT_EQ(shown.back().filesTotal, -1);
}

class ProgressWindow : public WindowTest { };

TEST_F(ProgressWindow, ADownloadShowsItsProgressAndTheBarGoesWhenItEnds)
{
    PyFtpdServer server;
    server.writeFile("big.bin", std::string(3 * MiB, 'x'));
    server.writeFile("small.txt", "hello");
    createWindow();
    child<QLineEdit>("Edit1")->setText(QString::fromStdString(server.host()));
    child<QLineEdit>("Edit10")->setText(QString::number(server.port()));
    child<QLineEdit>("Edit3")->setText(QString::fromStdString(server.user()));
    child<QLineEdit>("Edit4")->setText(QString::fromStdString(server.password()));
    child<QLineEdit>("Edit5")->setText(QFileInfo(dir(QStringLiteral("dunmark.txt"))).path());
    child<QRadioButton>("RadioButton2")->setChecked(true);
    child<QLineEdit>("Edit6")->setText(QStringLiteral("big.bin"));
    const int width = window().width();

    trigger(Command::Connect);
    ASSERT_TRUE(enabled(Command::Transfer)) << logMessages().join(QLatin1Char('\n')).toStdString();
    trigger(Command::Transfer);
    ASSERT_TRUE(QFile::exists(dir(QStringLiteral("big.bin"))));

    // The first line comes as the download begins, with the size from the listing.
    ASSERT_GE(tray.progress.size(), 2u);
    EXPECT_EQ(tray.progress.front(), QStringLiteral("Taskhaul - downloading 0%: 0 B of 3.0 MiB"));
    EXPECT_EQ(tray.progress.back(), QString());
    auto* bar = child<QProgressBar>("TransferProgress");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(child<ElidedLabel>("ProgressText")->isHidden());
    EXPECT_EQ(window().width(), width);
    // The status line goes on as before.
    EXPECT_TRUE(hooks().statusLine().startsWith(QStringLiteral("Data transfer complete (")));
    trigger(Command::Disconnect);
}

// With four connections the window shows the run: files done of all, and
// the bar goes when the run ends.
TEST_F(ProgressWindow, ARunOverFourConnectionsShowsTheWholeRun)
{
    PyFtpdServer server;
    for (int n = 0; n < 8; ++n)
        server.writeFile("part" + std::to_string(n) + ".bin", std::string(256 * 1024, static_cast<char>(n)));
    createWindow();
    child<QLineEdit>("Edit1")->setText(QString::fromStdString(server.host()));
    child<QLineEdit>("Edit10")->setText(QString::number(server.port()));
    child<QLineEdit>("Edit3")->setText(QString::fromStdString(server.user()));
    child<QLineEdit>("Edit4")->setText(QString::fromStdString(server.password()));
    const QString local = QFileInfo(dir(QStringLiteral("dunmark.txt"))).path() + QStringLiteral("/in");
    ASSERT_TRUE(QDir().mkpath(local));
    child<QLineEdit>("Edit5")->setText(local);
    child<QRadioButton>("RadioButton1")->setChecked(true);
    child<QSpinBox>("spnConnections")->setValue(4);
    // Passive: pyftpdlib, given several active-mode data connections at once,
    // now and then stops reading a control connection.
    child<QCheckBox>("CheckBox3")->setChecked(true);

    trigger(Command::Connect);
    ASSERT_TRUE(enabled(Command::Transfer)) << logMessages().join(QLatin1Char('\n')).toStdString();
    trigger(Command::Transfer);
    EXPECT_EQ(QDir(local).entryList(QDir::Files).size(), 8);
    ASSERT_GE(tray.progress.size(), 2u);
    EXPECT_TRUE(tray.progress.front().endsWith(QStringLiteral(" (0 of 8 files)")))
        << tray.progress.front().toStdString();
    EXPECT_TRUE(tray.progress[tray.progress.size() - 2].endsWith(QStringLiteral(" (8 of 8 files)")))
        << tray.progress[tray.progress.size() - 2].toStdString();
    EXPECT_EQ(tray.progress.back(), QString());
    EXPECT_TRUE(child<QProgressBar>("TransferProgress")->isHidden());
    trigger(Command::Disconnect);
}

// At the window's own width the user reads how fast it goes and how long it
// takes, also while the status line names a long file and the schedule and a
// hint are shown beside it.
TEST_F(ProgressWindow, TheRateAndTimeLeftShowAtTheDefaultWidth)
{
    createWindow();
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    const int width = window().width();
    const std::int64_t received = 460 * MiB;
    const std::int64_t size = GiB;
    const double rate = 23.5 * MiB;
    StatusLine& bar = hooks().statusLineWidgets();
    auto* text = child<ElidedLabel>("ProgressText");
    hooks().setStatusLine(
        QStringLiteral("Transferring ftp://ftp.example.org/pub/reports/report-20260306.csv => "
                       "/home/user/Downloads/reports/report-20260306.csv"));
    bar.setSchedule(QStringLiteral("Next run 2026-03-08 00:00 \u00b7 last run 14:05: failed, see the log"));
    bar.setHint(QStringLiteral("Stop file transfer"));
    bar.setProgress(true, progressPercent(received, size), progressText(received, size, rate),
        shortProgressText(received, size, rate));
    QApplication::processEvents();
    EXPECT_EQ(text->shownText(), QStringLiteral("460.0 MiB of 1.0 GiB, 23.5 MiB/s, 0:24 left"));
    EXPECT_EQ(window().width(), width);
    // The status line gives way, keeping both ends of its text.
    const QString status = child<ElidedLabel>("StatusText")->shownText();
    EXPECT_TRUE(status.startsWith(QStringLiteral("Transf"))) << status.toStdString();
    EXPECT_TRUE(status.endsWith(QStringLiteral(".csv"))) << status.toStdString();
}

TEST(ElidedLabel, ShowsTheLongestFormThatFits)
{
    ElidedLabel label(Qt::ElideRight);
    const QString full = QStringLiteral("460.0 MiB of 1.0 GiB, 23.5 MiB/s, 0:24 left");
    const QString shortForm = QStringLiteral("44% \u00b7 23.5 MiB/s \u00b7 0:24 left");
    label.setText(full);
    label.setShorterForms({ shortForm });
    const QFontMetrics metrics = label.fontMetrics();
    struct Case {
        int width;
        QString shown;
    };
    const Case cases[] = {
        { metrics.horizontalAdvance(full) + 4, full },
        { metrics.horizontalAdvance(full) - 4, shortForm },
        { metrics.horizontalAdvance(shortForm) + 1, shortForm },
        { metrics.horizontalAdvance(shortForm) / 2,
            metrics.elidedText(shortForm, Qt::ElideRight, metrics.horizontalAdvance(shortForm) / 2) },
    };
    for (const Case& c : cases) {
        label.resize(c.width, label.sizeHint().height());
        EXPECT_EQ(label.shownText(), c.shown) << c.width;
    }
    // It asks for the whole text and makes do with the short form.
    label.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    EXPECT_GE(label.sizeHint().width(), metrics.horizontalAdvance(full));
    EXPECT_GE(label.minimumSizeHint().width(), metrics.horizontalAdvance(shortForm));
    EXPECT_LT(label.minimumSizeHint().width(), metrics.horizontalAdvance(full));
}

TEST_F(ProgressWindow, ALongTextIsShortenedAndNeverWidensTheWindow)
{
    createWindow();
    window().show();
    const int width = window().width();
    hooks().statusLineWidgets().setProgress(true, 40, QString(400, QLatin1Char('m')));
    QApplication::processEvents();
    EXPECT_EQ(window().width(), width);
    auto* text = child<ElidedLabel>("ProgressText");
    EXPECT_TRUE(text->isVisible());
    EXPECT_LT(text->shownText().size(), 400);
    EXPECT_EQ(child<QProgressBar>("TransferProgress")->value(), 40);
    hooks().statusLineWidgets().setProgress(true, -1, QStringLiteral("1.0 MiB"));
    EXPECT_EQ(child<QProgressBar>("TransferProgress")->maximum(), 0); // size unknown: busy bar
}

} // namespace
} // namespace taskhaul::test
