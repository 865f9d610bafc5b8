// The one-file and all-files transfers: list the current remote folder, then
// fetch the planned plain files one by one into the local folder.

#include "base/scope_exit.h"
#include "log/one_line.h"
#include "log/silent_stop.h"
#include "transfer/fetch_pool.h"
#include "transfer/file_plan.h"
#include "transfer/file_template.h"
#include "transfer/leftovers.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace taskhaul {

namespace {

const QString kOperationAborted = QStringLiteral("Operation aborted");
const QString kCountMismatch = QStringLiteral("WARNING: File count mismatch");
const QString kUnsafeName = QStringLiteral("Unsafe file name.");
const QString kNotChanged = QStringLiteral("Not changed since the last transfer.");

QString errorText(const std::exception& error)
{
    return oneLine(std::string_view(error.what()));
}

} // namespace

// A local copy the listing alone shows to be unchanged: the listing gives the
// time to the minute or better. A listing that shows only the day leaves the
// question to the server.
bool settledByListing(const PlannedFile& file)
{
    return file.decision == PlannedFile::Decision::NotChanged && file.listedTime
        && file.listedTime->precision != RemoteStamp::Precision::Day;
}

// Why a new file cannot be put at `path` whatever the server sends: its name is
// longer than the local file system allows, or a folder stands in its place.
// Said as the retrieval itself would say it; empty when nothing stands in the way.
QString localTargetProblem(const std::string& path)
{
    int problem = 0;
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    struct stat info { };
    if (nameMax > 0 && name.size() > static_cast<std::size_t>(nameMax))
        problem = ENAMETOOLONG;
    else if (::lstat(path.c_str(), &info) == 0)
        problem = S_ISDIR(info.st_mode) ? EISDIR : 0;
    else if (errno == ENAMETOOLONG)
        problem = ENAMETOOLONG;
    if (problem == 0)
        return {};
    return QStringLiteral("Cannot create file \"%1\". %2")
        .arg(displayName(path), QString::fromLocal8Bit(std::strerror(problem)));
}

std::int64_t localFileSize(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

// Marks a transfer as running and, when it ends early by an error, puts the Stop
// command and the mouse cursor back as its closing steps would have.
class TransferEngine::RunScope {
public:
    explicit RunScope(TransferEngine& engine)
        : engine_(engine)
    {
        engine_.transferRunning_ = true;
    }
    ~RunScope()
    {
        engine_.transferRunning_ = false;
        if (closed_)
            return;
        engine_.host_.setStopTransferEnabled(false);
        engine_.host_.setBusyCursor(false);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

    void closed() { closed_ = true; }

private:
    TransferEngine& engine_;
    bool closed_ = false;
};

void TransferEngine::transferOneFile()
{
    runTransfer(Mode::OneFile);
}

void TransferEngine::transferAllFiles()
{
    runTransfer(Mode::AllFiles);
}

void TransferEngine::transfer()
{
    if (host_.job().fileKind == JobSettings::FileKind::AllFiles)
        transferAllFiles();
    else
        transferOneFile();
}

void TransferEngine::runTransfer(Mode mode)
{
    if (events_.runStarted)
        events_.runStarted();
    try {
        runTransferSteps(mode);
    } catch (...) {
        if (events_.runFinished)
            events_.runFinished(report_);
        throw;
    }
    if (events_.runFinished)
        events_.runFinished(report_);
}

void TransferEngine::fileFinished(
    const std::string& remoteName, FileFinished::Outcome outcome, const QString& reason)
{
    if (events_.fileFinished)
        events_.fileFinished({ remoteName, outcome, reason });
}

void TransferEngine::runTransferSteps(Mode mode)
{
    // A Stop given while no transfer ran belongs to no run: it must not cancel this one.
    stopRequested_ = false;
    // The run's job: one snapshot, read once. The sequence number is the run's
    // from here on; the host is told each change.
    job_ = host_.job();
    job_.fileKind = mode == Mode::OneFile ? JobSettings::FileKind::OneFile : JobSettings::FileKind::AllFiles;
    const JobSettings& job = job_;
    const int startSequence = job.sequenceStart;
    sequence_ = startSequence;
    // A transfer asked for before any connect finds the job's site not
    // connected, and fails as such.
    if (!site_)
        useSite(job);
    report_.listed = report_.listingIncomplete = report_.nothingMatched = report_.aborted = false;
    report_.connectionBroke = false;
    // What an earlier transfer on this connection failed with is not this one's.
    report_.failure.clear();
    report_.fetched = 0;
    report_.skipped.clear();
    report_.passedOver.clear();
    report_.fetchedNames.clear();
    report_.connections = 1;

    notice_.reset();
    std::string pattern;
    if (mode == Mode::OneFile) {
        pattern = expandedPattern(job, host_.currentTime(), job.sequenceStart);
        if (pattern.empty()) {
            report_.failure = QStringLiteral("Invalid file name specified.");
            host_.writeLog(QStringLiteral("Invalid file name specified."));
            if (!unattended_)
                leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Warning"),
                    QStringLiteral("Invalid file name specified"));
            throw SilentStop();
        }
    }

    RunScope run(*this);
    host_.setBusyCursor(true);

    // Unfinished downloads of an earlier run that crashed are cleared away,
    // unless another run into the folder may still be writing its own. A run
    // that holds the folder for all its attempts has taken the lock already.
    std::optional<LocalFolderRun> ownFolderRun;
    const LocalFolderRun* folderRun = folderRun_;
    if (!folderRun || folderRun->folder() != job.localFolder)
        folderRun = &ownFolderRun.emplace(job.localFolder);
    if (const int leftovers = folderRun->removeLeftovers(); leftovers > 0)
        host_.writeLog(
            QStringLiteral("Removed %1 unfinished download(s) left in the local folder by an earlier run.")
                .arg(leftovers));

    bool stopped = false;
    auto stopIfRequested = [&] {
        if (!stopped && stopRequested()) {
            actOnStop();
            stopped = true;
        }
    };

    RemoteListing listing;
    try {
        listing = site_->list(job, [this](const QString& line) { report(line); });
        report_.listed = true;
    } catch (const std::exception& error) {
        // A listing cut short by Stop Transfer ends the run like any other stop;
        // every other listing failure reaches the caller.
        if (!stopRequested()) {
            report_.failure = errorText(error);
            if (const auto* siteError = dynamic_cast<const SiteError*>(&error))
                noteBrokenConnection(*siteError);
            throw;
        }
    }
    if (report_.listed && !listing.truncation.isEmpty()) {
        // Fetch what was listed, but never call the run complete.
        report_.listingIncomplete = true;
        report(QStringLiteral("WARNING: The server cut the listing short: ") + listing.truncation);
    }
    stopIfRequested();

    if (!stopped) {
        host_.setStopTransferEnabled(true);
        stopIfRequested();
    }
    if (!stopped)
        fetchListed(mode, job, listing, pattern, stopped);
    report_.aborted = stopped;

    // Closing steps.
    host_.setStopTransferEnabled(false);
    if (mode == Mode::OneFile) {
        if (job.resetSequence)
            host_.setSequenceStart(0);
        showCompletion(QStringLiteral("Data transfer completed"), pattern);
        host_.setBusyCursor(false);
        if (job.resetSequence)
            host_.setSequenceStart(startSequence);
    } else {
        showCompletion(QStringLiteral("Transfer Completed"), pattern);
        host_.setBusyCursor(false);
    }
    run.closed();
}

// The files of the listing that the plan fetches, over one connection or
// several; `stopped` tells whether a stop ended it.
void TransferEngine::fetchListed(Mode mode, const JobSettings& job, const RemoteListing& listing,
    const std::string& pattern, bool& stopped)
{
    const std::vector<PlannedFile> plan = plannedFiles(job, listing);
    const std::vector<std::string> leaveOut = std::exchange(leaveOut_, {});
    bool matched = false;
    std::vector<const PlannedFile*> runFiles;
    std::vector<const PlannedFile*> toFetch;
    for (const PlannedFile& file : plan) {
        if (file.decision == PlannedFile::Decision::NotPlainFile
            || file.decision == PlannedFile::Decision::NoMatch)
            continue;
        matched = true;
        if (std::find(leaveOut.begin(), leaveOut.end(), file.remoteName) != leaveOut.end())
            continue;
        runFiles.push_back(&file);
        if (!settledByListing(file))
            toFetch.push_back(&file);
    }
    // More than one connection only pays when more than one download can
    // run at once: files stored under one local name take turns.
    const int connections = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(connectionsFor(job)), separateDownloads(toFetch)));
    if (connections > 1)
        fetchAtOnce(mode, job, runFiles, connections, stopped);
    for (const PlannedFile* planned : connections > 1 ? std::vector<const PlannedFile*> {} : runFiles) {
        const PlannedFile& file = *planned;
        FileOutcome outcome = FileOutcome::Skipped;
        if (settledByListing(file))
            passOverSettled(mode, job, file);
        else
            outcome = transferFile(mode, job, file);
        if (mode == Mode::OneFile)
            host_.setStopTransferEnabled(false);
        if (outcome == FileOutcome::Stopped) {
            stopped = true;
            break;
        }
        if (stopRequested()) {
            actOnStop();
            stopped = true;
            break;
        }
    }
    reportNotChanged();
    if (mode == Mode::OneFile && !matched && !stopped) {
        report_.nothingMatched = true;
        report(QStringLiteral("No file on the site matches \"%1\".").arg(displayName(pattern)));
    }
}

void TransferEngine::showCompletion(const QString& completedText, const std::string& pattern)
{
    // Only a user's run ends with a box, and only one that tells the truth: a
    // stopped run has said so already, and a run that skipped files or found
    // nothing is no success. The box is left for the caller to show once the
    // run has returned.
    if (unattended_ || report_.aborted)
        return;
    if (report_.failed()) {
        QString text;
        if (!report_.skipped.empty())
            text = QStringLiteral(
                "Transfer finished, but %1 file(s) were skipped. See the activity log for details.")
                       .arg(report_.skipped.size());
        else if (report_.listingIncomplete)
            text = QStringLiteral(
                "Transfer finished, but the server did not list the whole folder. See the activity "
                "log for details.");
        else
            text = QStringLiteral("Transfer finished, but the run did not complete. See the activity log for "
                                  "details.");
        leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Warning"), text);
    } else if (report_.nothingMatched) {
        leaveNotice(ConnectNotice::Kind::Information, QStringLiteral("Information"),
            QStringLiteral("No file on the site matches \"%1\".").arg(displayName(pattern)));
    } else {
        leaveNotice(ConnectNotice::Kind::Information, QStringLiteral("Information"), completedText);
    }
}

std::vector<PlannedFile> TransferEngine::plannedFiles(const JobSettings& job, const RemoteListing& listing)
{
    // Part of the listing could not be read: fetch what was understood, and
    // say that the folder held more than that.
    if (!listing.unreadable.isEmpty()) {
        report(kCountMismatch);
        report_.listingIncomplete = true;
    }
    // Whether a file may be replaced is decided by the retrieval itself, at the
    // moment it happens. A local copy that the listing already shows to be
    // unchanged needs no question to the server at all.
    const bool compares = comparesWithLocalCopy(job);
    JobSettings planned = job;
    planned.overwrite = true;
    return planFiles(
        listing.entries, planned, host_.currentTime(), utcNow(), [&job, compares](const std::string& name) {
            return compares ? localFileState(localPathFor(job, name)) : LocalFileState {};
        });
}

TransferEngine::FileOutcome TransferEngine::transferFile(
    Mode mode, const JobSettings& job, const PlannedFile& file)
{
    const std::string& remoteName = file.remoteName;
    // The "Transferring" line is written once the file turns out to be more
    // than one of the unchanged files, which the run sums up in one line.
    QString transferring = oneLine(transferringLine(job, remoteName));
    host_.setStatusText(transferring);
    auto announce = [&] {
        if (!transferring.isEmpty())
            host_.writeLog(std::exchange(transferring, QString()));
    };

    // A name from the server must never lead outside the local folder; such a
    // file is not fetched at all, whatever name it would be stored under.
    if (file.decision == PlannedFile::Decision::UnsafeName) {
        announce();
        reportSkip(mode, remoteName, kUnsafeName);
        return FileOutcome::Skipped;
    }

    // The rename template is expanded anew at each use: the sequence number and
    // the clock of that moment decide the name, by the plan's own rule.
    const std::string localName = localNameFor(job, remoteName, host_.currentTime(), sequence_);
    const std::string localPath = localPathFor(job, localName);
    // A download that could never be put in place is not started.
    if (const QString problem = localTargetProblem(localPath); !problem.isEmpty()) {
        announce();
        reportSkip(mode, remoteName, oneLine(problem));
        return FileOutcome::Skipped;
    }

    FileFacts facts;
    facts.listedSize = file.listedSize;
    try {
        facts.queriedSize = site_->fileSize(remoteName);
    } catch (const SiteError& error) {
        announce();
        noteBrokenConnection(error);
        reportSkip(mode, remoteName, errorText(error));
        return FileOutcome::Skipped;
    }
    const std::int64_t announcedSize = facts.queriedSize;
    if (comparesWithLocalCopy(job) || job.settleSeconds > 0) {
        try {
            facts.remoteTime = site_->fileTime(remoteName, file.listedTime);
        } catch (const SiteError& error) {
            announce();
            reportSkip(mode, remoteName, errorText(error));
            return FileOutcome::Skipped;
        }
    }
    if (comparesWithLocalCopy(job))
        facts.local = localFileState(localPath);
    // The plan's decision, completed with the server's answers. A copy that
    // exists while overwrite is off is left to the retrieval, which refuses it
    // at the very moment it would replace it.
    switch (decideFile(job, facts, utcNow())) {
    case PlannedFile::Decision::StillBeingWritten:
        announce();
        passOver(mode, remoteName, QStringLiteral("The file is still being written."));
        return FileOutcome::Skipped;
    case PlannedFile::Decision::NotChanged:
        passOverUnchanged(mode, remoteName);
        return FileOutcome::Skipped;
    default:
        break;
    }
    announce();
    if (mode == Mode::OneFile)
        host_.setStopTransferEnabled(true);
    if (stopRequested()) {
        fileFinished(remoteName, FileFinished::Outcome::Stopped);
        actOnStop();
        return FileOutcome::Stopped;
    }

    if (fileStarted_)
        fileStarted_({ file, localName, announcedSize >= 0 ? announcedSize : file.listedSize });
    // Only the retrieval's own failures make a skip: whatever fails after the
    // file is in place (the log line, say) must not make a fetched file count
    // as skipped, nor hold the sequence number back.
    try {
        downloading_ = true;
        const base::ScopeExit downloadEnds { [this]() noexcept { downloading_ = false; } };
        site_->retrieve(remoteName, localPath, job.overwrite);
    } catch (const SiteError& error) {
        if (error.kind() == SiteError::Kind::Aborted) {
            fileFinished(remoteName, FileFinished::Outcome::Stopped);
            actOnStop();
            return FileOutcome::Stopped;
        }
        noteBrokenConnection(error);
        reportSkip(mode, remoteName, errorText(error));
        return FileOutcome::Skipped;
    }
    ++report_.fetched;
    report_.fetchedNames.push_back(remoteName);
    fileFinished(remoteName, FileFinished::Outcome::Fetched);
    // The local copy takes the remote time, so that the next run can compare.
    if (comparesWithLocalCopy(job) && facts.remoteTime)
        setModificationTime(localPath, facts.remoteTime->utc);
    if (advancesSequence(job)) {
        sequence_ = sequenceAfter(job, sequence_, true);
        host_.setSequenceStart(sequence_);
    }
    report(QStringLiteral("Data transfer complete (")
        + completedByteCount(localFileSize(localPath), groupSeparator_) + QStringLiteral(" Bytes)"));
    return FileOutcome::Fetched;
}

QString TransferEngine::transferringLine(const JobSettings& job, const std::string& remoteName) const
{
    // The rename template is expanded anew at each use: the sequence number and
    // the clock of that moment decide the name.
    return transferringLine(job, remoteName, localNameFor(job, remoteName, host_.currentTime(), sequence_));
}

QString TransferEngine::transferringLine(
    const JobSettings& job, const std::string& remoteName, const std::string& target) const
{
    return QStringLiteral("Transferring ")
        + remoteFolderAddress(site_->scheme(), job.host, site_->port(), site_->schemePort(), job.remoteFolder)
        + displayName(remoteName) + QStringLiteral(" => ") + job.localFolder
        + localFolderSeparator(job.localFolder) + displayName(target);
}

// A file the listing settled needs no word with the server: it shows on the
// status line and counts in the run's line of unchanged files.
void TransferEngine::passOverSettled(Mode mode, const JobSettings& job, const PlannedFile& file)
{
    host_.setStatusText(oneLine(transferringLine(job, file.remoteName)));
    passOverUnchanged(mode, file.remoteName);
}

void TransferEngine::passOverUnchanged(Mode mode, const std::string& remoteName)
{
    report_.passedOver.push_back({ remoteName, kNotChanged });
    host_.setStatusText(skipPrefix(mode) + kNotChanged);
    fileFinished(remoteName, FileFinished::Outcome::PassedOver, kNotChanged);
}

// One line for all the files passed over as unchanged: with a short interval
// and a large folder, a line or two for each of them would fill the disk.
void TransferEngine::reportNotChanged()
{
    const auto unchanged = std::count_if(report_.passedOver.begin(), report_.passedOver.end(),
        [](const RunReport::Skip& skip) { return skip.reason == kNotChanged; });
    if (unchanged > 0)
        host_.writeLog(QStringLiteral("%1 file(s) not changed since the last transfer.").arg(unchanged));
}

void TransferEngine::noteBrokenConnection(const SiteError& error)
{
    // Errors of the connection itself, not answers of a working server.
    if (error.kind() == SiteError::Kind::Connection)
        report_.connectionBroke = true;
}

void TransferEngine::actOnStop()
{
    report_.aborted = true;
    report(kOperationAborted);
    site_->disconnect();
    stopRequested_ = false;
}

QDateTime TransferEngine::utcNow() const
{
    const LocalDateTime now = host_.currentTime();
    return QDateTime(QDate(now.year, now.month, now.day), QTime(now.hour, now.minute, now.second)).toUTC();
}

void TransferEngine::passOver(
    Mode mode, const std::string& remoteName, const QString& reason, const QString& shownName)
{
    report_.passedOver.push_back({ remoteName, reason });
    fileFinished(remoteName, FileFinished::Outcome::PassedOver, reason);
    writeSkipLine(mode, reason, shownName);
}

void TransferEngine::reportSkip(
    Mode mode, const std::string& remoteName, const QString& message, const QString& shownName)
{
    report_.skipped.push_back({ remoteName, message });
    fileFinished(remoteName, FileFinished::Outcome::Skipped, message);
    writeSkipLine(mode, message, shownName);
}

QString TransferEngine::skipPrefix(Mode mode)
{
    return mode == Mode::OneFile ? QStringLiteral("Warning! File Skipped:")
                                 : QStringLiteral("WARNING: File skipped:");
}

void TransferEngine::writeSkipLine(Mode mode, const QString& message, const QString& shownName)
{
    host_.setStatusText(skipPrefix(mode) + message);
    const QString named = shownName.isEmpty() ? QString() : shownName + QStringLiteral(": ");
    host_.writeLog(skipPrefix(mode) + QLatin1Char(' ') + named + message);
}

} // namespace taskhaul
