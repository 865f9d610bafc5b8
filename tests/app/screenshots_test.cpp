// Not a test: pictures of the main window for the documentation, one per tab and
// one with a menu open during a transfer.
// scripts/screenshots.sh runs it under Xvfb:
//   app_tests --gtest_also_run_disabled_tests --gtest_filter=Screenshots.*
// with TASKHAUL_SCREENSHOT_DIR naming the folder for the PNG files.
#include "window_fixture.h"

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

namespace taskhaul::test {
namespace {

class Screenshots : public WindowTest { };

TEST_F(Screenshots, DISABLED_OnePicturePerTab)
{
    const QString folder = qEnvironmentVariable("TASKHAUL_SCREENSHOT_DIR");
    ASSERT_FALSE(folder.isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    QDir().mkpath(folder);

    JobSettings job;
    job.host = QStringLiteral("ftp.example.org");
    job.remoteFolder = QStringLiteral("/pub/reports");
    job.userName = QStringLiteral("anonymous");
    job.password = QStringLiteral("guest@home.org");
    job.localFolder = QStringLiteral("/home/user/Downloads/reports");
    job.fileName = QStringLiteral("report-[pyyyy][pMM][pdd].csv");
    job.rename = true;
    job.renameTo = QStringLiteral("latest-report.csv");
    job.dailyTime = QTime(6, 30, 0);
    job.autoLoad = true;
    job.passive = true;
    store().save(job);
    storeValues({ { "Autoload", "True" } });

    MainWindow& w = createWindow();
    w.move(0, 0);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.runCommand(Command::OpenConfiguration); // without a window manager nothing activates it
    w.testHooks().setStatusLine(QStringLiteral("Ready"));

    const QStringList names { "ftp-site", "local-folder", "action", "schedule", "proxy-settings", "options" };
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    ASSERT_EQ(pages->count(), names.size());
    for (int index = 0; index < pages->count(); ++index) {
        pages->setCurrentIndex(index);
        QTest::qWait(200);
        const QRect frame = w.frameGeometry();
        const QString file = QDir(folder).filePath(names[index] + QStringLiteral(".png"));
        const QString crop = QStringLiteral("%1x%2+%3+%4")
                                 .arg(frame.width())
                                 .arg(frame.height())
                                 .arg(frame.x())
                                 .arg(frame.y());
        const int status = QProcess::execute(QStringLiteral("import"),
            { QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"), crop,
                QStringLiteral("+repage"), file });
        EXPECT_EQ(status, 0) << file.toStdString();
    }
}

// The FTP menu open with the mouse on Connect while a transfer's status shows:
// the hint stands beside the status line, which keeps its (shortened) text.
TEST_F(Screenshots, DISABLED_MenuOpenDuringATransfer)
{
    const QString folder = qEnvironmentVariable("TASKHAUL_SCREENSHOT_DIR");
    ASSERT_FALSE(folder.isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    QDir().mkpath(folder);

    MainWindow& w = createWindow();
    w.move(0, 0);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.testHooks().setStatusLine(QStringLiteral("Transferring ftp://ftp.example.org/pub/reports/2026/03/daily/"
                                               "report-20260306-final-with-all-regional-figures.csv"));
    QMenu* ftp = w.menuBar()->actions().constFirst()->menu();
    ftp->popup(w.menuBar()->mapToGlobal(
        w.menuBar()->actionGeometry(w.menuBar()->actions().constFirst()).bottomLeft()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ftp));
    QTest::mouseMove(ftp, ftp->actionGeometry(w.action(Command::Connect)).center());
    QTest::qWait(300);

    const QRect area = w.frameGeometry().united(ftp->frameGeometry());
    const QPixmap picture = w.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString file = QDir(folder).filePath(QStringLiteral("menu-during-transfer.png"));
    EXPECT_TRUE(picture.save(file)) << file.toStdString();
    ftp->close();
}

} // namespace
} // namespace taskhaul::test
