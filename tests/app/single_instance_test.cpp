// The single-instance lock, alone and with the real program.
#include "app/single_instance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

TEST(SingleInstance, ARunningCopyKeepsItsLockHoweverOldItIs)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(SingleInstance::lockName));
    auto first = std::make_unique<SingleInstance>(path);
    ASSERT_TRUE(first->acquired());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
    }
    EXPECT_FALSE(SingleInstance(path).acquired());
    first.reset();
    EXPECT_TRUE(SingleInstance(path).acquired());
}

TEST(SingleInstance, FindsARuntimeFolderAlsoWithoutXdgRuntimeDir)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const QString path = SingleInstance::defaultLockPath();
    qputenv("XDG_RUNTIME_DIR", saved);
    EXPECT_TRUE(path.endsWith(QStringLiteral("/irgendwaseinmaliges")));
    EXPECT_TRUE(QFileInfo(QFileInfo(path).path()).isDir());
}

class ProgramInstances : public ::testing::Test {
protected:
    ProgramInstances()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), home_.filePath(QStringLiteral("state")));
        environment_ = environment;
        // A copy of the programs of its own: the log lies beside them, and other
        // tests that start the program at the same time must not write to it.
        for (const char* name : { "taskhaul", "taskhaul-window" })
            EXPECT_TRUE(QFile::copy(QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/") + QLatin1String(name),
                home_.filePath(QLatin1String(name))))
                << name;
    }

    void start(QProcess& process, const QStringList& arguments = {})
    {
        process.setProcessEnvironment(environment_);
        process.setProgram(program());
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    QString program() const { return home_.filePath(QStringLiteral("taskhaul")); }
    static QString lockPath() { return SingleInstance::defaultLockPath(); }
    QString logPath() const { return home_.filePath(QStringLiteral("dunmark.txt")); }

    // Waits until the running copy has written its start line.
    bool waitForStart(qint64 logSizeBefore) const
    {
        return QTest::qWaitFor([&] { return QFileInfo(logPath()).size() > logSizeBefore; }, 20000);
    }

private:
    QTemporaryDir home_;
    QProcessEnvironment environment_;
};

TEST_F(ProgramInstances, ASecondCopyEndsSilentlyAndTheLockOutlivesOnlyAKilledCopy)
{
    QFile::remove(lockPath());
    qint64 logSize = QFileInfo(logPath()).size();
    QProcess first;
    start(first);
    ASSERT_TRUE(waitForStart(logSize));
    logSize = QFileInfo(logPath()).size();

    QProcess second;
    start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(QFileInfo(logPath()).size(), logSize); // no line from the second copy

    // The end of a session (SIGTERM) closes the program in order, without questions.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(lockPath()));

    // A killed copy leaves its lock behind; the next copy takes it over.
    logSize = QFileInfo(logPath()).size();
    QProcess killed;
    start(killed);
    ASSERT_TRUE(waitForStart(logSize));
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(lockPath()));
    EXPECT_TRUE(SingleInstance(lockPath()).acquired());
}

TEST_F(ProgramInstances, ASecondStartBringsTheRunningCopysWindowToTheFront)
{
    QFile::remove(lockPath());
    const QString wake = SingleInstance::wakePath(lockPath());
    const qint64 logSize = QFileInfo(logPath()).size();
    QProcess first;
    start(first, { QStringLiteral("-m") }); // starts hidden (minimised without a notification area)
    ASSERT_TRUE(waitForStart(logSize));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return askRunningCopy(wake, "state") == QStringLiteral("hidden"); }, 10000));

    QProcess second;
    start(second, { QStringLiteral("-m") });
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(askRunningCopy(wake, "state"), QStringLiteral("shown"));
    EXPECT_EQ(askRunningCopy(wake, "anything else"), QString()); // not answered

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(askRunningCopy(wake, "state", 500), QString());
}

TEST(WakeServer, ShowRestoresAndAStaleSocketIsTakenOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lock.show"));
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly)); // left behind by a killed copy
    stale.close();
    bool shown = false;
    int shows = 0;
    WakeServer server(
        path,
        [&] {
            ++shows;
            shown = true;
        },
        [&] { return shown; });
    ASSERT_TRUE(server.listening());
    // The answer needs this thread's event loop: ask from another one.
    auto ask = [&](const QByteArray& request) {
        QString answer;
        QThread* thread = QThread::create([&] { answer = askRunningCopy(path, request); });
        thread->start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return thread->isFinished(); }, 10000));
        delete thread;
        return answer;
    };
    EXPECT_EQ(ask("state"), QStringLiteral("hidden"));
    EXPECT_EQ(ask("show"), QStringLiteral("shown"));
    EXPECT_EQ(shows, 1);
}

} // namespace
} // namespace taskhaul
