// --run-once and --preview: the saved job run from a shell, cron or a systemd
// timer, without a window, a notification area or a display.

#include "app/headless.h"
#include "app/terminal_progress.h"
#include "app/termination_signals.h"
#include "app/transfer_progress.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "log/one_line.h"
#include "log/silent_stop.h"
#include "scheduler/engine_run_steps.h"
#include "scheduler/scheduler.h"
#include "scheduler/unattended_run.h"
#include "settings/settings_store.h"
#include "site/ftp_site.h"
#include "site/protocol_sites.h"
#include "site/sftp_loader.h"
#include "transfer/file_plan.h"
#include "transfer/file_template.h"
#include "transfer/leftovers.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"
#include "transfer/windowless_transfer_host.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include <unistd.h>

namespace taskhaul {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitJobUnusable = 2;
// sysexits' EX_TEMPFAIL: another run is using the local folder; try later.
constexpr int kExitFolderInUse = 75;

void printLine(std::FILE* stream, const QString& text)
{
    // What stdout holds comes first, so that both streams sent to one file
    // (2>&1, the journal) read in the order the lines were made.
    if (stream != stdout)
        std::fflush(stdout);
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    // A person watching sees each line at once; a pipe or file (cron, systemd)
    // gets them in blocks, as the activity log already holds every line.
    static const bool toTerminal = ::isatty(STDOUT_FILENO) == 1;
    if (stream != stdout || toTerminal)
        std::fflush(stream);
}

// Without a window nobody can answer a message box: its text goes to stderr.
class StderrMessageBoxes : public MessageBoxes {
public:
    void information(const QString&, const QString& text) override { printLine(stderr, oneLine(text)); }
    void error(const QString&, const QString& text) override { printLine(stderr, oneLine(text)); }
    void warning(const QString&, const QString& text) override { printLine(stderr, oneLine(text)); }
    Answer confirm(const QString&, const QString& text) override
    {
        printLine(stderr, oneLine(text));
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
            log_->setLineObserver([this](const QString& line) {
                if (progress_)
                    progress_->clear();
                printLine(stdout, line);
            });
    }
    // The progress line to wipe before a log line is printed.
    void setProgress(TerminalProgress* progress) { progress_ = progress; }

    bool logFailed() const { return logFailed_; }

    JobSettings job() const override { return WindowlessTransferHost::job(); }
    void setJob(JobSettings job) { job_ = std::move(job); }
    void writeLog(const QString& text) override { writeLogLines(QStringList { text }); }
    void writeLogLines(const QStringList& texts) override
    {
        if (!log_) {
            for (const QString& text : texts)
                printLine(stderr, oneLine(text));
            return;
        }
        try {
            log_->write(texts);
        } catch (const LogWriteError& error) {
            // The run goes on; the lines still reach stdout, and the exit
            // status tells that the log is incomplete.
            if (!logFailed_)
                printLine(stderr,
                    QStringLiteral("Cannot write the activity log %1: %2")
                        .arg(log_->path(), QString::fromUtf8(error.what())));
            logFailed_ = true;
            const QDateTime now = QDateTime::currentDateTime();
            for (const QString& text : texts)
                printLine(stdout, log_->formatLine(now, oneLine(text)));
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
    TerminalProgress* progress_ = nullptr;
    bool logFailed_ = false;
};

// The sites of a run without a window: each waits with `pump`.
ProtocolSites headlessSites(const std::function<void()>& pump)
{
    return ProtocolSites(
        [pump] { return std::make_unique<FtpSite>(pump); }, [pump] { return loadSftpSite(pump); });
}

// The saved job, or nothing after telling why it cannot be used. Why the
// passwords could not come from the desktop keyring goes to `keyringWarning`.
std::optional<JobSettings> loadSavedJob(
    const SettingsStore& store, QString* keyringWarning = nullptr, QStringList* unreadSecrets = nullptr)
{
    if (!QFileInfo::exists(store.filePath())) {
        printLine(stderr, QStringLiteral("No saved job: %1 does not exist.").arg(store.filePath()));
        return std::nullopt;
    }
    // A file that cannot hold a job is said to be one, not read as an empty
    // job whose first missing value would be blamed.
    if (const QString problem = store.fileProblem(); !problem.isEmpty()) {
        printLine(stderr, QStringLiteral("The saved job cannot be loaded: %1").arg(problem));
        return std::nullopt;
    }
    const LoadResult loaded = store.load(JobSettings {});
    if (!loaded.ok()) {
        printLine(stderr, QStringLiteral("The saved job cannot be loaded: %1").arg(loaded.error->message()));
        return std::nullopt;
    }
    if (!loaded.keyringWarning.isEmpty()) {
        printLine(stderr, loaded.keyringWarning);
        if (keyringWarning)
            *keyringWarning = loaded.keyringWarning;
    }
    if (unreadSecrets)
        *unreadSecrets = loaded.unreadSecrets;
    return loaded.settings;
}

// Whether a secret that a run of `job` cannot do without is among those the
// keyring held back: FTP's password, the proxy's when a proxy login is set,
// an SFTP key's passphrase; SFTP's password only when neither a key file nor
// an agent can sign in (with them it is the last resort, tried only if they
// are refused).
bool neededSecretMissing(const JobSettings& job, const QStringList& unread)
{
    QStringList needed;
    if (job.protocol == JobSettings::Protocol::Sftp) {
        if (!job.keyFile.isEmpty())
            needed << QStringLiteral("KeyPassphrase");
        else if (qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK"))
            needed << QStringLiteral("Password");
    } else {
        needed << QStringLiteral("Password");
        if (job.proxyType > 0 && !job.proxyUserName.isEmpty())
            needed << QStringLiteral("Proxypassword");
    }
    return std::any_of(
        needed.begin(), needed.end(), [&unread](const QString& name) { return unread.contains(name); });
}

// Waits `minutes` before a retry; false when a termination signal came first.
bool waitUnlessTerminated(int minutes, const TerminationSignals& termination)
{
    // Whoever reads a pipe (the journal, a cron mail) learns now why nothing
    // happens for a while, not when the program ends.
    std::fflush(stdout);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::minutes(minutes);
    while (!termination.received()) {
        const Clock::time_point now = Clock::now();
        if (now >= until)
            return true;
        // A signal cuts the sleep short as well.
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(200)));
    }
    return false;
}

bool usageIsPlain(const QStringList& args, const char* option)
{
    if (args.isEmpty())
        return true;
    printLine(stderr, QStringLiteral("%1 takes no arguments.").arg(QLatin1String(option)));
    return false;
}

// The engine names each download and its size as it begins, then tells its
// bytes and its end: the terminal's progress line follows them.
void followOnTerminal(TransferEngine& engine, TerminalProgress& terminal,
    std::optional<TransferProgress>& progress, QString& startedName)
{
    progress.emplace(
        [&terminal, &startedName](const ProgressState& state) { terminal.show(startedName, state); });
    engine.setFileStartedHandler([&startedName, &progress](const FileStarted& started) {
        startedName = displayName(started.localName);
        progress->begin(started.size);
    });
    TransferEvents events;
    events.progress = [&progress](std::int64_t received) { progress->work(received); };
    events.fileFinished = [&progress](const FileFinished&) { progress->end(); };
    events.runFinished = [&progress](const RunReport&) { progress->endRun(); };
    events.runProgress = [&progress](const RunProgress& run) {
        progress->run(run.filesDone, run.filesTotal, run.bytesDone, run.bytesTotal);
    };
    engine.setEvents(std::move(events));
}

// Headless there is nobody to save what the run changed in the job: the
// advanced sequence number (the next run must not fetch under the same number
// again) and a trusted certificate or host key found no longer needed. Each is
// kept as the window keeps it, that one value, the rest of the stored job as
// it is. False when one could not be saved (said on stderr).
bool keepWhatTheRunChanged(const SettingsStore& store, const JobSettings& saved, const JobSettings& ran)
{
    bool kept = true;
    if (ran.sequenceStart != saved.sequenceStart) {
        try {
            store.saveSequence(ran.sequenceStart);
        } catch (const SettingsError& error) {
            printLine(stderr, QStringLiteral("The sequence number cannot be saved: %1").arg(error.message()));
            kept = false;
        }
    }
    if (ran.trustedCertificate != saved.trustedCertificate || ran.trustedHostKey != saved.trustedHostKey) {
        try {
            store.saveTrust(ran);
        } catch (const SettingsError& error) {
            printLine(stderr,
                QStringLiteral("The trusted fingerprint cannot be forgotten: %1").arg(error.message()));
            kept = false;
        }
    }
    return kept;
}

} // namespace

int runOnce(const QStringList& args)
{
    if (!usageIsPlain(args, "--run-once"))
        return kExitJobUnusable;
    const LongTimeFormat timeFormat = LongTimeFormat::fromSystemLocale();
    const SettingsStore store(timeFormat);
    QString keyringWarning;
    QStringList unreadSecrets;
    const std::optional<JobSettings> saved = loadSavedJob(store, &keyringWarning, &unreadSecrets);
    if (!saved)
        return kExitJobUnusable;
    ActivityLog log(ActivityLog::defaultPath(), timeFormat);
    if (!keyringWarning.isEmpty()) {
        try {
            log.write(QStringLiteral("WARNING: ") + keyringWarning);
        } catch (const LogWriteError&) {
            // Said on stderr already.
        }
    }
    // A job the Start command would refuse is not run either.
    // A password the keyring held back is missing for now, not from the job.
    JobSettings checked = *saved;
    if (!keyringWarning.isEmpty() && checked.useKeyring && checked.password.isEmpty())
        checked.password = QStringLiteral("*");
    if (const QString refusal = startRefusal(checked); !refusal.isEmpty()) {
        printLine(stderr, refusal);
        return kExitJobUnusable;
    }

    HeadlessHost host(*saved, &log);
    // One run into a local folder at a time, for the whole run with its
    // retries: two would fetch the same files at once.
    std::optional<LocalFolderRun> folderRun;
    if (!saved->localFolder.isEmpty() && !folderRun.emplace(saved->localFolder).alone()) {
        host.writeLog(QStringLiteral("Another Taskhaul run is using %1.").arg(saved->localFolder));
        return kExitFolderInUse;
    }
    // A termination signal stops the run as Stop Transfer would: the download in
    // progress is aborted and its temporary file removed before the program ends.
    const TerminationSignals termination;
    // The sites' pump stops the site at work once; what it has done lives
    // outside the callback, which a site may copy.
    bool abortSent = false;
    TransferEngine* running = nullptr;
    const std::function<void()> pump = [&termination, &running, &abortSent] {
        if (abortSent || !termination.received() || !running)
            return;
        abortSent = true;
        try {
            running->stopSiteCall();
        } catch (const std::exception&) {
            // Nothing runs that could be stopped; the run ends at its next step.
        }
    };
    ProtocolSites sites = headlessSites(pump);
    TransferEngine engine(host, sites);
    running = &engine;
    // A termination signal is seen by the engine as Stop Transfer.
    engine.setStopWhen([&termination] { return termination.received() != 0; });
    if (folderRun)
        engine.setFolderRun(&*folderRun);
    EngineRunSteps steps(engine);
    // On a terminal, the download in progress shows on one line of stderr.
    TerminalProgress terminal(stderr);
    std::optional<TransferProgress> progress;
    QString startedName;
    if (::isatty(STDERR_FILENO)) {
        host.setProgress(&terminal);
        followOnTerminal(engine, terminal, progress, startedName);
    }
    // A run that could not connect or lost the connection is tried again as the
    // job says, as the window's scheduler would; the last attempt decides.
    // Passwords a locked or absent keyring holds back may be there for a later
    // attempt (the user unlocks it, the daemon comes back): until then an
    // attempt is skipped, and retried as the job says.
    bool firstAttempt = true;
    // Only a secret the run needs holds it back: a key file without a
    // passphrase signs in without the password the keyring keeps.
    const auto keyringProblem = [&]() -> QString {
        if (std::exchange(firstAttempt, false))
            return neededSecretMissing(*saved, unreadSecrets) ? keyringWarning : QString();
        const LoadResult again = store.load(JobSettings {});
        if (!again.ok())
            return keyringWarning;
        keyringWarning = again.keyringWarning;
        unreadSecrets = again.unreadSecrets;
        if (keyringWarning.isEmpty()) {
            JobSettings reloaded = again.settings;
            reloaded.sequenceStart = host.job().sequenceStart;
            host.setJob(reloaded);
        }
        return neededSecretMissing(again.settings, unreadSecrets) ? keyringWarning : QString();
    };
    const RunOutcome outcome = performRunWithRetries(
        RunKind::Interval, host, steps,
        [&termination](int minutes) { return waitUnlessTerminated(minutes, termination); }, keyringProblem);
    terminal.clear();
    if (termination.received())
        return 128 + termination.received();
    // A job value no connection can fix is the job's fault, as an empty field is.
    if (outcome == RunOutcome::Incomplete || engine.lastRun().jobUnusable)
        return kExitJobUnusable;

    const bool saveFailed = !keepWhatTheRunChanged(store, *saved, host.job());
    const bool failed
        = outcome == RunOutcome::Failed || engine.lastRun().failed() || host.logFailed() || saveFailed;
    return failed ? kExitFailed : kExitDone;
}

// How many connections the run would use, and why not the job's number.
QString previewConnections(const JobSettings& job, const std::vector<PlannedFile>& plan)
{
    const QString line = QStringLiteral("Connections: %1");
    if (job.connections > 1 && advancesSequence(job))
        return line.arg(1) + QStringLiteral(" (the names use the sequence number)");
    const int wanted = connectionsFor(job);
    const auto toFetch = std::count_if(plan.begin(), plan.end(),
        [](const PlannedFile& file) { return file.decision == PlannedFile::Decision::Fetch; });
    if (wanted > 1 && toFetch < wanted)
        return line.arg(std::max<int>(1, static_cast<int>(toFetch)))
            + QStringLiteral(" (%1 file(s) to fetch)").arg(toFetch);
    return line.arg(wanted);
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
    if (!job.siteFieldsFilled()) {
        printLine(stderr, QStringLiteral("FTP site information required."));
        return kExitJobUnusable;
    }
    const LocalDateTime now = CurrentLocalDateTime();
    const std::string pattern
        = fetchesOneFile(job) ? expandedPattern(job, now, job.sequenceStart) : std::string();
    if (fetchesOneFile(job) && pattern.empty()) {
        printLine(stderr, QStringLiteral("Invalid file name specified."));
        return kExitJobUnusable;
    }

    HeadlessHost host(job, nullptr);
    ProtocolSites sites = headlessSites({});
    TransferEngine engine(host, sites);
    // Whom the connection is with, so that the user can decide to trust it:
    // also, and above all, when the certificate or host key is refused.
    bool identityShown = false;
    const auto printIdentity = [&engine, &identityShown] {
        const std::optional<SiteIdentity> identity
            = engine.site() ? engine.site()->identity() : std::optional<SiteIdentity>();
        if (!identity || std::exchange(identityShown, true))
            return;
        const bool hostKey = identity->kind == SiteIdentity::Kind::HostKey;
        const QString prefix = hostKey ? QStringLiteral("Host key ") : QStringLiteral("Certificate ");
        for (const auto& [label, value] : identity->details) {
            // "Host key type", not "Host key key type".
            const QString shown = hostKey && label.startsWith(QLatin1String("key ")) ? label.mid(4) : label;
            printLine(stdout, prefix + shown + QStringLiteral(": ") + value);
        }
        printLine(stdout, prefix + QStringLiteral("verification: ") + identity->verification);
    };
    try {
        engine.siteConnect();
        printIdentity();
        engine.changeFolder();
        RemoteSite& remote = *engine.site();
        const RemoteListing listing
            = remote.list(job, [](const QString& line) { printLine(stderr, oneLine(line)); });
        // How the run would list (MLSD gives the freshness checks exact facts).
        printLine(stderr, QStringLiteral("Listing: %1").arg(listing.method));
        if (!listing.truncation.isEmpty())
            printLine(stderr, QStringLiteral("The server cut the listing short: %1").arg(listing.truncation));
        if (!listing.unreadable.isEmpty())
            printLine(stderr, QStringLiteral("Some entries could not be read: %1").arg(listing.unreadable));

        const auto localFile
            = [&job](const std::string& localName) { return localFileState(localPathFor(job, localName)); };
        const std::vector<PlannedFile> plan
            = planFiles(listing.entries, job, now, QDateTime::currentDateTimeUtc(), localFile);
        printLine(stderr, previewConnections(job, plan));
        for (const PlannedFile& file : plan) {
            const QString kind = QString::fromStdString(file.kindName);
            const QString localPath
                = QFile::decodeName(QByteArray::fromStdString(localPathFor(job, file.localName)));
            auto print = [&](const QString& decision, const QString& detail) {
                printLine(stdout,
                    kind + QLatin1Char('\t') + decision + QLatin1Char('\t')
                        + oneLine(displayName(file.remoteName)) + QLatin1Char('\t') + oneLine(detail));
            };
            switch (file.decision) {
            case PlannedFile::Decision::NotPlainFile:
                print(QStringLiteral("skip"), QStringLiteral("(not a plain file)"));
                break;
            case PlannedFile::Decision::NoMatch:
                print(QStringLiteral("skip"),
                    QStringLiteral("(does not match %1)").arg(QString::fromStdString(pattern)));
                break;
            case PlannedFile::Decision::UnsafeName:
                print(QStringLiteral("skip"), QStringLiteral("(unsafe file name)"));
                break;
            case PlannedFile::Decision::NotChanged:
                print(QStringLiteral("skip"), QStringLiteral("(not changed since the last transfer)"));
                break;
            case PlannedFile::Decision::StillBeingWritten:
                print(QStringLiteral("skip"), QStringLiteral("(still being written)"));
                break;
            case PlannedFile::Decision::ExistsNoOverwrite:
                print(QStringLiteral("skip"),
                    QStringLiteral("(%1 exists and overwrite is off)").arg(localPath));
                break;
            case PlannedFile::Decision::Fetch:
                print(QStringLiteral("fetch"), localPath);
                break;
            }
        }
        remote.disconnect();
    } catch (const SilentStop&) {
        // Reported on stderr by the step; a refused certificate or host key is shown.
        printIdentity();
        return kExitFailed;
    } catch (const std::exception& error) {
        printLine(stderr, QStringLiteral("ERROR: ") + oneLine(std::string_view(error.what())));
        try {
            engine.disconnectSite();
        } catch (const std::exception&) {
        }
        return kExitFailed;
    }
    return kExitDone;
}

} // namespace taskhaul
