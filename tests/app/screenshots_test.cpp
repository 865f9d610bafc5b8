// Not a test: pictures of the main window for the documentation, one per tab and
// one with a menu open during a transfer.
// scripts/screenshots.sh runs it under Xvfb:
//   app_tests --gtest_also_run_disabled_tests --gtest_filter=Screenshots.*
// with TASKHAUL_SCREENSHOT_DIR naming the folder for the PNG files.
#include "app/qt_services.h"
#include "ftp/pyftpd_server.h"
#include "ftp/tls_servers.h"
#include "window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace taskhaul::test {
namespace {

class Screenshots : public WindowTest {
protected:
    static QString folder() { return qEnvironmentVariable("TASKHAUL_SCREENSHOT_DIR"); }

    MainWindow& showWindow()
    {
        MainWindow& w = createWindow();
        w.move(0, 0);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        return w;
    }

    // Shows the box the window asked for, as the program's own message boxes
    // draw it (the recording ones took its kind, caption and text), and saves
    // a picture of the screen with the window and the box.
    void pictureOfBox(MainWindow& w, const RecordingMessageBoxes::Shown& shown, const QString& name)
    {
        QtMessageBoxes real(&w);
        QTimer::singleShot(600, [&w, name] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            const QRect area = w.frameGeometry().united(box->frameGeometry());
            const QPixmap picture
                = w.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
            EXPECT_TRUE(picture.save(QDir(folder()).filePath(name)));
            box->close();
        });
        using Kind = RecordingMessageBoxes::Kind;
        if (shown.kind == Kind::Warning)
            real.warning(shown.caption, shown.text);
        else if (shown.kind == Kind::Confirmation)
            real.confirmDefaultNo(shown.caption, shown.text);
        else
            real.information(shown.caption, shown.text);
    }
};

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

// The FTP menu with the mouse on Exit, which ends the program (Ctrl+Q).
TEST_F(Screenshots, DISABLED_ExitInTheFtpMenu)
{
    ASSERT_FALSE(folder().isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    MainWindow& w = showWindow();
    w.testHooks().setStatusLine(QStringLiteral("Ready"));
    QMenu* ftp = w.menuBar()->actions().constFirst()->menu();
    ftp->popup(w.menuBar()->mapToGlobal(
        w.menuBar()->actionGeometry(w.menuBar()->actions().constFirst()).bottomLeft()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ftp));
    QTest::mouseMove(ftp, ftp->actionGeometry(w.action(Command::Exit)).center());
    QTest::qWait(300);
    const QRect area = w.frameGeometry().united(ftp->frameGeometry());
    const QPixmap picture = w.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    EXPECT_TRUE(picture.save(QDir(folder()).filePath(QStringLiteral("ftp-menu-exit.png"))));
    ftp->close();
}

// A certificate trusted in the window, on the FTP Site tab with Forget; the
// warning when the server's certificate has changed; Forget's question; and a
// failed connect, with the warning icon. Against real servers.
TEST_F(Screenshots, DISABLED_TrustForgetAndFailureBoxes)
{
    ASSERT_FALSE(folder().isEmpty()) << "set TASKHAUL_SCREENSHOT_DIR";
    TestCertificates certificates;
    TlsPyFtpdServer server(certificates.SelfSigned());
    JobSettings job;
    job.host = QString::fromStdString(server.host());
    job.port = QString::number(server.port());
    job.remoteFolder = QStringLiteral("/");
    job.userName = QString::fromStdString(server.user());
    job.password = QString::fromStdString(server.password());
    job.localFolder = QDir::tempPath();
    job.security = JobSettings::Security::Explicit;
    // The certificate the job trusted before the server got a new one.
    job.trustedCertificate
        = QStringLiteral("3F9C0A1B7E2D4C5F8A9B0C1D2E3F4A5B6C7D8E9F0A1B2C3D4E5F60718293A4B5");
    store().save(job);

    MainWindow& w = showWindow();
    w.runCommand(Command::OpenConfiguration);
    w.testHooks().setStatusLine(QStringLiteral("Ready"));
    QTest::qWait(200);
    EXPECT_TRUE(w.screen()
                    ->grabWindow(0, w.frameGeometry().x(), w.frameGeometry().y(), w.frameGeometry().width(),
                        w.frameGeometry().height())
                    .save(QDir(folder()).filePath(QStringLiteral("ftp-site-trusted.png"))));

    trigger(Command::Connect);
    ASSERT_EQ(boxes.shown().size(), 1u);
    pictureOfBox(w, boxes.shown()[0], QStringLiteral("certificate-changed.png"));

    boxes.clear();
    boxes.answerNext(MessageBoxes::Answer::No);
    child<QToolButton>("ForgetTrust")->click();
    ASSERT_EQ(boxes.shown().size(), 1u);
    pictureOfBox(w, boxes.shown()[0], QStringLiteral("forget-trust.png"));

    boxes.clear();
    child<QLineEdit>("Edit4")->setText(QStringLiteral("not the password"));
    boxes.answerNext(MessageBoxes::Answer::Yes);
    child<QToolButton>("ForgetTrust")->click();
    boxes.clear();
    boxes.answerNext(MessageBoxes::Answer::Yes); // trust the new certificate
    trigger(Command::Connect);
    ASSERT_FALSE(boxes.shown().empty());
    pictureOfBox(w, boxes.shown().back(), QStringLiteral("connect-failed.png"));
}

} // namespace
} // namespace taskhaul::test
