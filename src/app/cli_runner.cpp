// --run-once and --preview: the saved job run from a shell, cron or a systemd
// timer, without a window, a notification area or a display.

#include "app/headless.h"
#include "ftp/ftp_client.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "log/silent_stop.h"
#include "scheduler/engine_run_steps.h"
#include "scheduler/scheduler.h"
#include "scheduler/unattended_run.h"
#include "settings/settings_store.h"
#include "transfer/file_template.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"
#include "transfer/windowless_transfer_host.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>
#include <exception>
#include <optional>

namespace taskhaul {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitJobUnusable = 2;

void printLine(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Whether a log line of a run tells of something that went wrong.
bool reportsFailure(const QString& line)
{
    for (const char* start :
        { "ERROR: ", "WARNING: ", "Warning! ", "Operation aborted", "Invalid file name specified." })
        if (line.startsWith(QLatin1String(start)))
            return true;
    return false;
}

// Without a window nobody can answer a message box: its text goes to stderr.
class StderrMessageBoxes : public MessageBoxes {
public:
    void information(const QString&, const QString& text) override { printLine(stderr, text); }
    void error(const QString&, const QString& text) override { printLine(stderr, text); }
    Answer confirm(const QString&, const QString& text) override
    {
        printLine(stderr, text);
        return Answer::No;
    }
};

// The window's part in a run, played without a window. Log lines go to the
// activity log and to stdout (--run-once), or to stderr only (--preview, which
// leaves the log alone). Controls, cursor and icon have nothing to show.
class HeadlessHost : public SchedulerHost, public WindowlessTransferHost {
public:
    HeadlessHost(JobSettings job, ActivityLog* log)
        : WindowlessTransferHost(std::move(job))
        , log_(log)
    {
        if (log_)
            log_->setLineObserver([](const QString& line) { printLine(stdout, line); });
    }

    bool sawFailure() const { return sawFailure_; }
    bool logFailed() const { return logFailed_; }

    JobSettings job() const override { return WindowlessTransferHost::job(); }
    void writeLog(const QString& text) override
    {
        if (reportsFailure(text))
            sawFailure_ = true;
        if (!log_) {
            printLine(stderr, text);
            return;
        }
        try {
            log_->write(text);
        } catch (const LogWriteError& error) {
            // The run goes on; the line still reaches stdout, and the exit
            // status tells that the log is incomplete.
            if (!logFailed_)
                printLine(stderr,
                    QStringLiteral("Cannot write the activity log %1: %2")
                        .arg(log_->path(), QString::fromUtf8(error.what())));
            logFailed_ = true;
            printLine(stdout, log_->formatLine(QDateTime::currentDateTime(), text));
        }
    }
    MessageBoxes& messageBoxes() override { return boxes_; }
    void controlsStandby() override { }
    void controlsSchedon() override { }
    void controlsConnected() override { }

    void setDailyTime(const QTime& time) override { job_.dailyTime = time; }
    void setTrayHint(const QString&) override { }
    bool startEnabled() const override { return false; }
    bool stopEnabled() const override { return false; }

private:
    ActivityLog* log_;
    StderrMessageBoxes boxes_;
    bool sawFailure_ = false;
    bool logFailed_ = false;
};

// The saved job, or nothing after telling why it cannot be used.
std::optional<JobSettings> loadSavedJob(const SettingsStore& store)
{
    if (!QFileInfo::exists(store.filePath())) {
        printLine(stderr, QStringLiteral("No saved job: %1 does not exist.").arg(store.filePath()));
        return std::nullopt;
    }
    const LoadResult loaded = store.load(JobSettings {});
    if (!loaded.ok()) {
        printLine(stderr, QStringLiteral("The saved job cannot be loaded: %1").arg(loaded.error->message()));
        return std::nullopt;
    }
    return loaded.settings;
}

bool usageIsPlain(const QStringList& args, const char* option)
{
    if (args.isEmpty())
        return true;
    printLine(stderr, QStringLiteral("%1 takes no arguments.").arg(QLatin1String(option)));
    return false;
}

} // namespace

int runOnce(const QStringList& args)
{
    if (!usageIsPlain(args, "--run-once"))
        return kExitJobUnusable;
    const LongTimeFormat timeFormat = LongTimeFormat::fromSystemLocale();
    const SettingsStore store(timeFormat);
    const std::optional<JobSettings> saved = loadSavedJob(store);
    if (!saved)
        return kExitJobUnusable;
    // A job the Start command would refuse is not run either.
    if (const QString refusal = startRefusal(*saved); !refusal.isEmpty()) {
        printLine(stderr, refusal);
        return kExitJobUnusable;
    }

    ActivityLog log(ActivityLog::defaultPath(), timeFormat);
    HeadlessHost host(*saved, &log);
    ftp::TFtpClient client;
    TransferEngine engine(host, client);
    EngineRunSteps steps(engine, host);
    const RunOutcome outcome = performUnattendedRun(RunKind::Interval, host, steps);
    if (outcome == RunOutcome::Incomplete)
        return kExitJobUnusable;

    // Headless there is nobody to save the advanced sequence number; the next
    // run must not fetch under the same number again.
    bool saveFailed = false;
    if (host.job().sequenceStart != saved->sequenceStart) {
        JobSettings updated = *saved;
        updated.sequenceStart = host.job().sequenceStart;
        try {
            store.save(updated);
        } catch (const SettingsError& error) {
            printLine(stderr, QStringLiteral("The sequence number cannot be saved: %1").arg(error.message()));
            saveFailed = true;
        }
    }
    const bool failed = outcome == RunOutcome::Failed || host.sawFailure() || host.logFailed() || saveFailed;
    return failed ? kExitFailed : kExitDone;
}

int runPreview(const QStringList& args)
{
    if (!usageIsPlain(args, "--preview"))
        return kExitJobUnusable;
    const LongTimeFormat timeFormat = LongTimeFormat::fromSystemLocale();
    const SettingsStore store(timeFormat);
    const std::optional<JobSettings> saved = loadSavedJob(store);
    if (!saved)
        return kExitJobUnusable;
    const JobSettings& job = *saved;
    if (job.host.isEmpty() || job.port.isEmpty() || job.userName.isEmpty() || job.password.isEmpty()) {
        printLine(stderr, QStringLiteral("FTP site information required."));
        return kExitJobUnusable;
    }
    const bool oneFile = job.fileKind == JobSettings::FileKind::OneFile;
    const LocalDateTime now = CurrentLocalDateTime();
    int sequence = job.sequenceStart;
    const std::string pattern
        = oneFile ? ExpandFileTemplate(job.fileName.toStdString(), now, sequence) : std::string();
    if (oneFile && pattern.empty()) {
        printLine(stderr, QStringLiteral("Invalid file name specified."));
        return kExitJobUnusable;
    }

    HeadlessHost host(job, nullptr);
    ftp::TFtpClient client;
    TransferEngine engine(host, client);
    try {
        engine.siteConnect();
        engine.changeFolder();
        std::vector<std::string> lines;
        client.ListFolder(lines, std::string(), true);
        const ftp::TFtpListItems* items = nullptr;
        try {
            items = &client.ParsedListing();
        } catch (const std::exception& error) {
            printLine(stderr,
                QStringLiteral("Some entries could not be read: %1").arg(QString::fromUtf8(error.what())));
            items = &client.ParsedListing();
        }

        const QString separator = localFolderSeparator(job.localFolder);
        const bool sequenced = job.fileName.contains(QLatin1String("[seq]"))
            || (oneFile && job.rename && job.renameTo.contains(QLatin1String("[seq]")));
        for (const ftp::TFtpListItem& item : *items) {
            const QString name = displayName(item.FileName);
            const QString kind = QString::fromLatin1(ftp::itemTypeName(item.ItemType));
            auto print = [&](const QString& decision, const QString& detail) {
                printLine(stdout,
                    kind + QLatin1Char('\t') + decision + QLatin1Char('\t') + name + QLatin1Char('\t')
                        + detail);
            };
            if (item.ItemType != ftp::ItemType::File) {
                print(QStringLiteral("skip"), QStringLiteral("(not a plain file)"));
                continue;
            }
            if (oneFile && !MatchFileName(pattern, item.FileName, false)) {
                print(QStringLiteral("skip"),
                    QStringLiteral("(does not match %1)").arg(QString::fromStdString(pattern)));
                continue;
            }
            if (!isSafeLocalName(item.FileName)) {
                print(QStringLiteral("skip"), QStringLiteral("(unsafe file name)"));
                continue;
            }
            const QString localName = oneFile && job.rename
                ? QString::fromStdString(ExpandFileTemplate(job.renameTo.toStdString(), now, sequence))
                : name;
            const QString localPath = job.localFolder + separator + localName;
            if (!job.overwrite && QFileInfo::exists(localPath)) {
                print(QStringLiteral("skip"),
                    QStringLiteral("(%1 exists and overwrite is off)").arg(localPath));
                continue;
            }
            print(QStringLiteral("fetch"), localPath);
            if (oneFile && sequenced)
                sequence = sequence >= kSequenceMax ? kSequenceMin : sequence + 1;
        }
        client.Disconnect();
    } catch (const SilentStop&) {
        return kExitFailed; // reported on stderr by the step
    } catch (const std::exception& error) {
        printLine(stderr, QStringLiteral("ERROR: ") + QString::fromUtf8(error.what()));
        try {
            client.Disconnect();
        } catch (const std::exception&) {
        }
        return kExitFailed;
    }
    return kExitDone;
}

} // namespace taskhaul
