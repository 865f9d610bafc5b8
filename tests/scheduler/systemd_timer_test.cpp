// taskhaul --systemd-timer, run as the built program: the units follow the saved
// job's schedule, and systemd accepts them.
#include "program_process.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace taskhaul::test {
namespace {

class SystemdTimer : public ::testing::Test {
protected:
    SystemdTimer()
    {
        // The program lies in a folder whose name systemd must be told with
        // quotes and escapes ("%" starts a specifier in a unit file).
        QDir(work.path()).mkpath(QStringLiteral("a b%n"));
        const QString built = QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul");
        EXPECT_TRUE(QFile::copy(built, program())) << built.toStdString();
        job.host = QStringLiteral("127.0.0.1");
        job.userName = QStringLiteral("u");
        job.password = QStringLiteral("p");
        job.localFolder = path(QStringLiteral("in"));
        job.fileKind = JobSettings::FileKind::AllFiles;
    }

    QString path(const QString& name) const { return work.path() + QLatin1Char('/') + name; }
    QString program() const { return path(QStringLiteral("a b%n/taskhaul")); }
    QString configHome() const { return path(QStringLiteral("config")); }
    QString unitFolder() const { return configHome() + QStringLiteral("/systemd/user/"); }
    void saveJob(const QString& configFolder) const
    {
        SettingsStore(configFolder + QStringLiteral("/Velmora/Taskhaul.conf"), LongTimeFormat {}).save(job);
    }

    // The program with `args`, XDG_CONFIG_HOME set to `xdgConfigHome` (or, when
    // that is empty, unset: HOME's .config).
    Finished run(const QStringList& args, const QString& xdgConfigHome) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        if (!xdgConfigHome.isEmpty())
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), xdgConfigHome);
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program(), args);
        return finishProgram(process);
    }

    static QString read(const QString& file)
    {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QStringLiteral("<missing>");
    }

    // What systemd's own checker says of the units in `folder` (empty: all is well).
    QString verify(const QString& folder) const
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            return QStringLiteral("systemd-analyze is not installed (scripts/setup.sh installs it)");
        // The user manager's checks need a runtime folder of their own.
        QDir(work.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(path(QStringLiteral("runtime")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        // The units name the man page, which systemd looks for: this build's.
        QDir(work.path()).mkpath(QStringLiteral("man/man1"));
        QFile::copy(QStringLiteral(TASKHAUL_BINARY_DIR "/dist/man/taskhaul.1"),
            path(QStringLiteral("man/man1/taskhaul.1")));
        environment.insert(QStringLiteral("MANPATH"), path(QStringLiteral("man")));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(analyze,
            { QStringLiteral("--user"), QStringLiteral("verify"),
                folder + QStringLiteral("taskhaul-run-once.service"),
                folder + QStringLiteral("taskhaul-run-once.timer") });
        if (!process.waitForFinished(60000))
            return QStringLiteral("systemd-analyze did not end");
        const QString said = QString::fromLocal8Bit(process.readAll());
        return process.exitCode() == 0 ? said
                                       : QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(said);
    }

    QTemporaryDir work;
    JobSettings job;
};

TEST_F(SystemdTimer, UnitsFollowTheSavedScheduleAndSystemdAcceptsThem)
{
    struct Case {
        const char* what;
        JobSettings::ScheduleKind kind;
        QTime time;
        int minutes;
        QStringList timerLines;
    };
    const Case cases[] {
        { "daily", JobSettings::ScheduleKind::DailyTime, QTime(6, 15, 30), 60,
            { QStringLiteral("OnCalendar=*-*-* 06:15:30"), QStringLiteral("Persistent=true") } },
        { "midnight", JobSettings::ScheduleKind::DailyTime, QTime(0, 0, 0), 60,
            { QStringLiteral("OnCalendar=*-*-* 00:00:00") } },
        // The first run one interval after the timer starts, as the window's
        // scheduler does; without it OnUnitActiveSec alone would never fire.
        { "every 45 minutes", JobSettings::ScheduleKind::Interval, QTime(6, 15, 30), 45,
            { QStringLiteral("OnActiveSec=45min"), QStringLiteral("OnUnitActiveSec=45min") } },
        { "every 366 days", JobSettings::ScheduleKind::Interval, QTime(0, 0, 0), kIntervalMinutesMax,
            { QStringLiteral("OnActiveSec=527040min"), QStringLiteral("OnUnitActiveSec=527040min") } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        job.scheduleKind = c.kind;
        job.dailyTime = c.time;
        job.intervalMinutes = c.minutes;
        saveJob(configHome());

        const Finished printed = run({ QStringLiteral("--systemd-timer") }, configHome());
        EXPECT_EQ(printed.exitCode, 0) << printed.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(unitFolder())) << "printing wrote the units";

        const Finished installed
            = run({ QStringLiteral("--systemd-timer"), QStringLiteral("--install") }, configHome());
        ASSERT_EQ(installed.exitCode, 0) << installed.err.toStdString();
        const QString service = read(unitFolder() + QStringLiteral("taskhaul-run-once.service"));
        const QString timer = read(unitFolder() + QStringLiteral("taskhaul-run-once.timer"));
        const QStringList timerLines = timer.split(QLatin1Char('\n'));
        for (const QString& line : c.timerLines)
            EXPECT_TRUE(timerLines.contains(line)) << line.toStdString() << "\n" << timer.toStdString();
        // Only the schedule's own kind of trigger.
        const bool daily = c.kind == JobSettings::ScheduleKind::DailyTime;
        EXPECT_EQ(timer.contains(QStringLiteral("OnCalendar=")), daily) << timer.toStdString();
        EXPECT_EQ(timer.contains(QStringLiteral("OnUnitActiveSec=")), !daily) << timer.toStdString();
        EXPECT_TRUE(
            service.split(QLatin1Char('\n'))
                .contains(QStringLiteral("ExecStart=\"%1\" --run-once")
                              .arg(QString(program()).replace(QStringLiteral("%"), QStringLiteral("%%")))))
            << service.toStdString();
        // What was printed is what was written.
        EXPECT_TRUE(printed.out.contains(service) && printed.out.contains(timer))
            << printed.out.toStdString();
        EXPECT_EQ(verify(unitFolder()).toStdString(), "");
        QDir(configHome() + QStringLiteral("/systemd")).removeRecursively();
    }
}

TEST_F(SystemdTimer, UnitsGoToTheHomeConfigFolderByDefault)
{
    saveJob(path(QStringLiteral("home/.config")));
    const Finished result = run({ QStringLiteral("--systemd-timer"), QStringLiteral("--install") }, {});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    for (const char* name : { "taskhaul-run-once.service", "taskhaul-run-once.timer" })
        EXPECT_TRUE(
            QFileInfo::exists(path(QStringLiteral("home/.config/systemd/user/")) + QLatin1String(name)))
            << name;
}

TEST_F(SystemdTimer, NoSavedJobOrWrongWordsWriteNothing)
{
    struct Case {
        const char* what;
        bool save;
        QStringList args;
    };
    const Case cases[] {
        { "no saved job", false, { QStringLiteral("--systemd-timer"), QStringLiteral("--install") } },
        { "an unknown word", true, { QStringLiteral("--systemd-timer"), QStringLiteral("--instal") } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.save)
            saveJob(configHome());
        const Finished result = run(c.args, configHome());
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_FALSE(result.err.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(unitFolder()));
    }
}

} // namespace
} // namespace taskhaul::test
