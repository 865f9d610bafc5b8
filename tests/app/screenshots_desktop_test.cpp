// Not a test: pictures of what the window shows on the desktop during and
// after scheduled work, for the documentation. scripts/screenshots-desktop.sh
// runs them under Xvfb with a notification area and a notification daemon:
//   app_tests --gtest_also_run_disabled_tests --gtest_filter=DesktopScreenshots.*
// with TASKHAUL_SCREENSHOT_DIR naming the folder for the PNG files.
#include "app/dbus_notifier.h"
#include "app/progress_text.h"
#include "app/run_notice.h"
#include "app/status_line.h"
#include "scheduler/unattended_run.h"
#include "transfer/run_report.h"
#include "window_fixture.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDir>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolTip>

namespace taskhaul::test {
namespace {

constexpr std::int64_t MiB = 1024 * 1024;

class DesktopScreenshots : public WindowTest {
protected:
    QString folder() const { return qEnvironmentVariable("TASKHAUL_SCREENSHOT_DIR"); }

    static bool save(const QRect& area, const QString& file)
    {
        const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        return picture.save(file);
    }

    MainWindow& showWindow()
    {
        MainWindow& w = createWindow();
        w.move(0, 0);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        return w;
    }
};

// The status bar during a download: the transfer's line, the bar, the bytes,
// rate and time left, and the scheduler's next and last run.
TEST_F(DesktopScreenshots, DISABLED_ProgressInTheStatusBar)
{
    ASSERT_FALSE(folder().isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    MainWindow& w = showWindow();
    w.testHooks().setStatusLine(
        QStringLiteral("Transferring ftp://ftp.example.org/pub/reports/report-20260306.csv => "
                       "/home/user/Downloads/reports/latest-report.csv"));
    const std::int64_t received = 311 * MiB, size = 842 * MiB;
    w.testHooks().statusLineWidgets().setProgress(
        true, progressPercent(received, size), progressText(received, size, 46.2 * MiB));
    w.testHooks().statusLineWidgets().setSchedule(
        QStringLiteral("Next run 14:00 \u00b7 last run 13:00: 3 files, OK"));
    QTest::qWait(300);
    EXPECT_TRUE(save(w.frameGeometry(), QDir(folder()).filePath(QStringLiteral("download-progress.png"))));
}

// The notification-area icon's tooltip during a download.
TEST_F(DesktopScreenshots, DISABLED_TrayTooltip)
{
    ASSERT_FALSE(folder().isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "no notification area (trayer)";
    QSystemTrayIcon icon(trayIcon(TrayState::Running));
    const std::int64_t received = 311 * MiB, size = 842 * MiB;
    icon.setToolTip(trayProgressText(received, size, 46.2 * MiB));
    icon.show();
    QTest::qWait(1000);
    const QRect where = icon.geometry();
    ASSERT_TRUE(where.isValid());
    // Hovering the icon shows the tooltip as the desktop does.
    QCursor::setPos(where.center());
    QTest::qWait(200);
    QToolTip::showText(where.center(), icon.toolTip());
    QTest::qWait(800);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect area(screen.width() - 560, screen.height() - 90, 560, 90);
    EXPECT_TRUE(save(area, QDir(folder()).filePath(QStringLiteral("tray-tooltip.png"))));
}

// Failed scheduled runs as the desktop's notification daemon shows them.
TEST_F(DesktopScreenshots, DISABLED_FailureNotification)
{
    ASSERT_FALSE(folder().isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    DBusNotifier notifier(QDBusConnection::sessionBus(),
        [](const RunNotice&) { ADD_FAILURE() << "no notification service on the session bus"; });
    ASSERT_TRUE(notifier.serviceAvailable());
    // Three failed runs of a job that runs every minute: one notification.
    JobSettings job;
    job.host = QStringLiteral("ftp.example.org");
    RunReport report;
    report.connected = report.folderEntered = report.listed = true;
    report.skipped = { { "report-20260306.csv", QStringLiteral("550 Permission denied.") } };
    for (int run = 0; run < 3; ++run) {
        notifier.send(*noticeForRun(RunOutcome::Completed, report, job, run > 0));
        QTest::qWait(600);
    }
    QTest::qWait(900);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect area(screen.width() - 420, 0, 420, 140);
    EXPECT_TRUE(save(area, QDir(folder()).filePath(QStringLiteral("failure-notification.png"))));
}

} // namespace
} // namespace taskhaul::test
