// The single-instance lock, alone and with the real program.
#include "app/single_instance.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
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
    }

    void start(QProcess& process)
    {
        process.setProcessEnvironment(environment_);
        process.setProgram(program());
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    static QString program() { return QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul"); }
    static QString lockPath() { return SingleInstance::defaultLockPath(); }
    static QString logPath() { return QFileInfo(program()).path() + QStringLiteral("/dunmark.txt"); }

    // Waits until the running copy has written its start line.
    static bool waitForStart(qint64 logSizeBefore)
    {
        return QTest::qWaitFor([&] { return QFileInfo(logPath()).size() > logSizeBefore; }, 20000);
    }

private:
    QTemporaryDir home_;
    QProcessEnvironment environment_;
};

TEST_F(ProgramInstances, ASecondCopyEndsAtOnceAndAKilledCopysLockIsTakenOver)
{
    QFile::remove(lockPath());
    const qint64 logBefore = QFileInfo(logPath()).size();
    QProcess first;
    start(first);
    ASSERT_TRUE(waitForStart(logBefore));
    const qint64 logAfterFirst = QFileInfo(logPath()).size();

    QProcess second;
    start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(QFileInfo(logPath()).size(), logAfterFirst); // no line from the second copy

    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(lockPath()));
    EXPECT_TRUE(SingleInstance(lockPath()).acquired());
}

TEST_F(ProgramInstances, ATerminatedCopyEndsInOrderAndReleasesItsLock)
{
    QFile::remove(lockPath());
    const qint64 logBefore = QFileInfo(logPath()).size();
    QProcess copy;
    start(copy);
    ASSERT_TRUE(waitForStart(logBefore));
    copy.terminate(); // SIGTERM, as at the end of a session
    ASSERT_TRUE(copy.waitForFinished(10000));
    EXPECT_EQ(copy.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(copy.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(lockPath()));
}

} // namespace
} // namespace taskhaul
