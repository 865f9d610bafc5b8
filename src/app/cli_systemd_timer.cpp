// --systemd-timer: a systemd user service and timer that run the saved job on
// its own schedule, printed or written where the user manager looks first.

#include "app/headless.h"

#include "app/cli_support.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

namespace taskhaul {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitJobUnusable = 2;

// The names of the units that come with the program: units of the same name in
// the user's own folder take their place.
const QString kServiceName = QStringLiteral("taskhaul-run-once.service");
const QString kTimerName = QStringLiteral("taskhaul-run-once.timer");

void printText(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// One word of a command line in a unit file: systemd splits at spaces, takes
// double quotes and backslashes as quoting, and expands "%" specifiers.
QString unitWord(const QString& word)
{
    QString escaped = word;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool plain = !std::any_of(word.cbegin(), word.cend(), [](QChar c) { return c.isSpace(); })
        && !word.contains(QLatin1Char('\'')) && !word.contains(QLatin1Char('"'))
        && !word.contains(QLatin1Char('\\'));
    return plain ? escaped : QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString serviceText(const QString& program)
{
    return QStringLiteral("# Written by \"taskhaul --systemd-timer\": one run of the saved job.\n"
                          "[Unit]\n"
                          "Description=Taskhaul: one run of the saved FTP download job\n"
                          "Documentation=man:taskhaul(1)\n"
                          "\n"
                          "[Service]\n"
                          "Type=oneshot\n"
                          "ExecStart=%1 --run-once\n"
                          "StandardOutput=journal\n"
                          "StandardError=journal\n"
                          "Nice=10\n"
                          "IOSchedulingClass=idle\n")
        .arg(unitWord(program));
}

QString timerText(const JobSettings& job)
{
    QString description;
    QString schedule;
    if (job.scheduleKind == JobSettings::ScheduleKind::DailyTime) {
        const QString time = job.dailyTime.toString(QStringLiteral("HH:mm:ss"));
        description = QStringLiteral("daily at %1").arg(time);
        // A run missed while the computer was off or logged out is made up at
        // the next start.
        schedule = QStringLiteral("OnCalendar=*-*-* %1\nPersistent=true\n").arg(time);
    } else {
        const int minutes = std::clamp(job.intervalMinutes, kIntervalMinutesMin, kIntervalMinutesMax);
        description = QStringLiteral("every %1 minute(s)").arg(minutes);
        // As the window's scheduler: the first run one interval after the start
        // (at login, or when the timer is started), then one interval after
        // each run began.
        schedule = QStringLiteral("OnActiveSec=%1min\nOnUnitActiveSec=%1min\n").arg(minutes);
    }
    return QStringLiteral("# Written by \"taskhaul --systemd-timer\" from the job's schedule; run it\n"
                          "# again after changing the schedule in the window.\n"
                          "[Unit]\n"
                          "Description=Taskhaul: the saved job %1\n"
                          "Documentation=man:taskhaul(1)\n"
                          "\n"
                          "[Timer]\n"
                          "%2"
                          "AccuracySec=1s\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=timers.target\n")
        .arg(description, schedule);
}

// Where the systemd user manager reads the user's own units.
QString userUnitFolder()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base
        = QDir::isAbsolutePath(configHome) ? configHome : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/systemd/user"));
}

bool writeUnit(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit())
        return true;
    printText(stderr, QStringLiteral("Cannot write %1: %2\n").arg(path, file.errorString()));
    return false;
}

} // namespace

int runSystemdTimer(const QStringList& args)
{
    const bool install = args == QStringList { QStringLiteral("--install") };
    if (!install && !args.isEmpty())
        return cli::usageError("--systemd-timer takes no words but --install");

    const SettingsStore store(LongTimeFormat::fromSystemLocale());
    if (!QFileInfo::exists(store.filePath())) {
        printText(stderr, QStringLiteral("No saved job: %1 does not exist.\n").arg(store.filePath()));
        return kExitJobUnusable;
    }
    const LoadResult loaded = store.load(JobSettings {});
    if (!loaded.ok()) {
        printText(
            stderr, QStringLiteral("The saved job cannot be loaded: %1\n").arg(loaded.error->message()));
        return kExitJobUnusable;
    }

    const QString folder = userUnitFolder();
    const QString service = serviceText(QCoreApplication::applicationFilePath());
    const QString timer = timerText(loaded.settings);
    if (!install) {
        printText(stdout,
            QStringLiteral("# %1/%2\n%3\n# %1/%4\n%5").arg(folder, kServiceName, service, kTimerName, timer));
        return kExitDone;
    }
    if (!QDir().mkpath(folder)) {
        printText(stderr, QStringLiteral("Cannot make the folder %1.\n").arg(folder));
        return kExitFailed;
    }
    const QString servicePath = folder + QLatin1Char('/') + kServiceName;
    const QString timerPath = folder + QLatin1Char('/') + kTimerName;
    if (!writeUnit(servicePath, service) || !writeUnit(timerPath, timer))
        return kExitFailed;
    printText(stdout,
        QStringLiteral("Wrote %1\nWrote %2\n"
                       "To start the timer:\n"
                       "  systemctl --user daemon-reload\n"
                       "  systemctl --user enable --now %3\n"
                       "A timer already on takes the new schedule after:\n"
                       "  systemctl --user daemon-reload\n"
                       "  systemctl --user restart %3\n")
            .arg(servicePath, timerPath, kTimerName));
    return kExitDone;
}

} // namespace taskhaul
