// The built program itself: what its window is called on a real X display, and
// its help, which needs no display and no free instance lock.
#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

namespace taskhaul {
namespace {

class ProgramRun : public ::testing::Test {
protected:
    ProgramRun()
    {
        environment_ = QProcessEnvironment::systemEnvironment();
        // A runtime folder of its own: the instance lock of another copy on this
        // machine does not get in the way, and the test can hold it.
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.filePath(QStringLiteral("run")));
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
        environment_.insert(QStringLiteral("XDG_STATE_HOME"), home_.filePath(QStringLiteral("state")));
        QDir().mkpath(home_.filePath(QStringLiteral("run")));
    }

    QString lockPath() const
    {
        return home_.filePath(QStringLiteral("run/") + QLatin1String(SingleInstance::lockName));
    }

    static QString program() { return QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul"); }

    struct Result {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    Result run(const QString& command, const QStringList& arguments, int timeoutMs = 10000)
    {
        QProcess process;
        process.setProcessEnvironment(environment_);
        process.start(command, arguments);
        Result result;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << command.toStdString() << " did not end in time";
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    QTemporaryDir home_;
    QProcessEnvironment environment_;
};

TEST_F(ProgramRun, ShortHelpIsTheLongHelpWithoutADisplayAndBesideARunningCopy)
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment_.remove(QString::fromLatin1(name));
    const Result full = run(program(), { QStringLiteral("--help") });
    ASSERT_EQ(full.exitCode, 0);
    ASSERT_TRUE(full.out.contains("Usage: taskhaul"));

    const Result shortHelp = run(program(), { QStringLiteral("-h") });
    EXPECT_EQ(shortHelp.exitCode, 0) << shortHelp.err.toStdString();
    EXPECT_EQ(shortHelp.out, full.out);

    SingleInstance running(lockPath()); // another copy holds the lock
    ASSERT_TRUE(running.acquired());
    const Result besideACopy = run(program(), { QStringLiteral("-h") });
    EXPECT_EQ(besideACopy.exitCode, 0);
    EXPECT_EQ(besideACopy.out, full.out);
}

// A mistyped option (a cron line's "--run-onse") is never taken for the
// window: not where a display would show one, not where none could, and not
// where the window program is missing. The switches still ignore other words.
TEST_F(ProgramRun, AnUnknownOptionIsAUsageErrorNeverAWindow)
{
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment_.remove(QString::fromLatin1(name));
    QTemporaryDir alone; // the program without its window program beside it
    const QString lonely = alone.filePath(QStringLiteral("taskhaul"));
    ASSERT_TRUE(QFile::copy(program(), lonely));
    const Result help = run(program(), { QStringLiteral("--help") });
    ASSERT_EQ(help.exitCode, 0);

    struct Case {
        QString command;
        QStringList arguments;
        QByteArray first; // the first line on stderr
    };
    const Case cases[] = {
        { program(), { QStringLiteral("--run-onse") }, "Unknown option --run-onse" },
        { lonely, { QStringLiteral("--run-onse") }, "Unknown option --run-onse" },
        { program(), { QStringLiteral("-r"), QStringLiteral("x"), QStringLiteral("--minimized") },
            "Unknown option --minimized" },
        { program(), { QStringLiteral("-m"), QStringLiteral("--run-once") },
            "The option --run-once must be the first word." },
    };
    for (const Case& c : cases) {
        const Result result = run(c.command, c.arguments);
        EXPECT_EQ(result.exitCode, 2) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(result.err.left(result.err.indexOf('\n')), c.first) << result.err.toStdString();
        EXPECT_TRUE(result.err.endsWith(help.out)) << result.err.toStdString(); // the usage follows
        EXPECT_TRUE(result.out.isEmpty());
    }
}

// The title the X server holds for the window is the title the user reads.
TEST_F(ProgramRun, TheWindowTitleOnTheDisplayIsExactlyTheCaption)
{
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    const QString xwininfo = QStandardPaths::findExecutable(QStringLiteral("xwininfo"));
    if (xvfbRun.isEmpty() || xwininfo.isEmpty())
        GTEST_SKIP() << "needs xvfb-run and xwininfo";
    environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QString script = QStringLiteral(R"(
        "$1" & pid=$!
        for i in $(seq 150); do
            tree=$(xwininfo -root -tree 2>/dev/null)
            case "$tree" in *Velmora*) break ;; esac
            sleep 0.2
        done
        printf '%s\n' "$tree" | grep Velmora
        kill $pid
        wait $pid
    )");
    const Result result = run(xvfbRun,
        { QStringLiteral("-a"), QStringLiteral("sh"), QStringLiteral("-c"), script, QStringLiteral("sh"),
            program() },
        60000);
    const QString listing = QString::fromUtf8(result.out);
    const QRegularExpressionMatch title
        = QRegularExpression(QStringLiteral("\"(Velmora[^\"]*)\"")).match(listing);
    ASSERT_TRUE(title.hasMatch()) << listing.toStdString() << result.err.toStdString();
    EXPECT_EQ(title.captured(1), "Velmora Taskhaul - Oskra Edition");
}

// With its log file unwritable (here a folder in its place) the window still
// comes up without waiting for anyone, and a termination signal ends it.
TEST_F(ProgramRun, AnUnwritableLogStopsNeitherTheStartNorTheEnd)
{
    QTemporaryDir bin;
    const QString copy = bin.filePath(QStringLiteral("taskhaul-window"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul-window"), copy));
    ASSERT_TRUE(QDir(bin.path()).mkdir(QStringLiteral("dunmark.txt")));
    environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A runtime folder that others may read is not used for the instance lock.
    QFile(home_.filePath(QStringLiteral("run")))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess process;
    process.setProcessEnvironment(environment_);
    process.start(copy, { QStringLiteral("-r") });
    ASSERT_TRUE(process.waitForStarted());

    // Its event loop answers a second start once the window is up.
    QString answer;
    const QDeadlineTimer deadline(30000);
    while (answer.isEmpty() && !deadline.hasExpired() && process.state() == QProcess::Running) {
        answer = askRunningCopy(SingleInstance::wakePath(lockPath()), "state");
        if (answer.isEmpty())
            QThread::msleep(100);
    }
    EXPECT_EQ(answer, QStringLiteral("shown"));

    // A program that has already ended has no pid (0): a signal to 0 would
    // reach the whole process group, the test runner included.
    const auto pid = static_cast<pid_t>(process.processId());
    ASSERT_GT(pid, 0) << "the program ended before its signal";
    ::kill(pid, SIGTERM);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        FAIL() << "the window did not end on SIGTERM";
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

} // namespace
} // namespace taskhaul
