// The one-file and all-files transfers: list the current remote folder, then
// fetch the chosen plain files one by one into the local folder.

#include "log/silent_stop.h"
#include "transfer/file_template.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

#include <exception>
#include <filesystem>
#include <system_error>

namespace taskhaul {

namespace {

const QString kOperationAborted = QStringLiteral("Operation aborted");
const QString kCountMismatch = QStringLiteral("WARNING: File count mismatch");
const QString kUnsafeName = QStringLiteral("Unsafe file name.");

QString errorText(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

std::int64_t localFileSize(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<std::int64_t>(size);
}

} // namespace

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
    // A Stop given while no transfer ran belongs to no run: it must not cancel this one.
    host_.setAbortRequested(false);
    const JobSettings job = host_.job();
    const int startSequence = job.sequenceStart;

    std::string pattern;
    if (mode == Mode::OneFile) {
        pattern = expand(job.fileName);
        if (pattern.empty()) {
            host_.writeLog(QStringLiteral("Invalid file name specified."));
            if (!host_.unattended())
                showMessage(QStringLiteral("Invalid file name specified"));
            throw SilentStop();
        }
    }

    RunScope run(*this);
    host_.setBusyCursor(true);

    bool stopped = false;
    auto stopIfRequested = [&] {
        if (!stopped && host_.abortRequested()) {
            actOnStop();
            stopped = true;
        }
    };

    try {
        std::vector<std::string> lines;
        client_.ListFolder(lines, std::string(), true);
    } catch (const std::exception&) {
        // A listing cut short by Stop Transfer ends the run like any other stop;
        // every other listing failure reaches the caller.
        if (!host_.abortRequested())
            throw;
    }
    stopIfRequested();

    if (!stopped) {
        if (mode == Mode::AllFiles)
            client_.SetTransferType(ftp::TFtpTransferType::ftBinary);
        host_.setStopTransferEnabled(true);
        stopIfRequested();
    }
    if (!stopped) {
        const std::vector<std::string> names = chosenFiles(mode, pattern);
        for (const std::string& name : names) {
            const FileOutcome outcome = transferFile(mode, job, name);
            if (mode == Mode::OneFile)
                host_.setStopTransferEnabled(false);
            if (outcome == FileOutcome::Stopped) {
                stopped = true;
                break;
            }
            stopIfRequested();
            if (stopped)
                break;
        }
    }

    // Closing steps.
    host_.setStopTransferEnabled(false);
    if (mode == Mode::OneFile) {
        if (job.resetSequence)
            host_.setSequenceStart(0);
        if (!host_.unattended())
            showMessage(QStringLiteral("Data transfer completed"));
        host_.setBusyCursor(false);
        if (job.resetSequence)
            host_.setSequenceStart(startSequence);
    } else {
        if (!host_.unattended())
            showMessage(QStringLiteral("Transfer Completed"));
        host_.setBusyCursor(false);
    }
    run.closed();
}

std::vector<std::string> TransferEngine::chosenFiles(Mode mode, const std::string& pattern)
{
    // The names are copied out first: commands run while the files are fetched,
    // and nothing they do may pull the listing from under this loop.
    const ftp::TFtpListItems* items = nullptr;
    try {
        items = &client_.ParsedListing();
    } catch (const std::exception&) {
        // The parser gave up part-way: fetch what it understood, and say that
        // the folder held more than that.
        report(kCountMismatch);
        items = &client_.ParsedListing();
    }
    std::vector<std::string> names;
    for (const ftp::TFtpListItem& item : *items) {
        if (item.ItemType != ftp::ItemType::File)
            continue;
        if (mode == Mode::OneFile && !MatchFileName(pattern, item.FileName, false))
            continue;
        names.push_back(item.FileName);
    }
    return names;
}

TransferEngine::FileOutcome TransferEngine::transferFile(
    Mode mode, const JobSettings& job, const std::string& remoteName)
{
    const bool renamed = mode == Mode::OneFile && job.rename;
    const QString separator = localFolderSeparator(job.localFolder);
    // The rename template is expanded anew at each use: the sequence number and
    // the clock of that moment decide the name.
    auto target = [&]() -> std::string { return renamed ? expand(job.renameTo) : remoteName; };

    report(QStringLiteral("Transferring ftp://") + job.host
        + QString::fromStdString(AppendSlash(job.remoteFolder.toStdString())) + displayName(remoteName)
        + QStringLiteral(" => ") + job.localFolder + separator + displayName(target()));

    // A name from the server must never lead outside the local folder; such a
    // file is not fetched at all, whatever name it would be stored under.
    if (!isSafeLocalName(remoteName)) {
        reportSkip(mode, kUnsafeName);
        return FileOutcome::Skipped;
    }

    std::int64_t announcedSize = -1;
    try {
        announcedSize = client_.FileSize(remoteName);
    } catch (const std::exception& error) {
        reportSkip(mode, errorText(error));
        return FileOutcome::Skipped;
    }
    if (mode == Mode::OneFile)
        host_.setStopTransferEnabled(true);
    if (host_.abortRequested()) {
        actOnStop();
        return FileOutcome::Stopped;
    }

    try {
        const std::string localPath = job.localFolder.toStdString() + separator.toStdString() + target();
        client_.RetrieveFile(remoteName, localPath, job.overwrite, false);
        const std::int64_t received = announcedSize < 0 ? localFileSize(localPath) : announcedSize;
        report(QStringLiteral("Data transfer complete (")
            + completedByteCount(announcedSize, received, groupSeparator_) + QStringLiteral(" Bytes)"));
    } catch (const ftp::EOperationAborted&) {
        actOnStop();
        return FileOutcome::Stopped;
    } catch (const std::exception& error) {
        reportSkip(mode, errorText(error));
        return FileOutcome::Skipped;
    }
    if (mode == Mode::OneFile)
        advanceSequence(job);
    return FileOutcome::Fetched;
}

void TransferEngine::advanceSequence(const JobSettings& job)
{
    const QString field = QStringLiteral("[seq]");
    if (!job.fileName.contains(field) && !(job.rename && job.renameTo.contains(field)))
        return;
    const int current = host_.job().sequenceStart;
    host_.setSequenceStart(current >= kSequenceMax ? kSequenceMin : current + 1);
}

void TransferEngine::actOnStop()
{
    report(kOperationAborted);
    client_.Disconnect();
    host_.setAbortRequested(false);
}

void TransferEngine::reportSkip(Mode mode, const QString& message)
{
    const QString prefix = mode == Mode::OneFile ? QStringLiteral("Warning! File Skipped:")
                                                 : QStringLiteral("WARNING: File skipped:");
    host_.setStatusText(prefix + message);
    host_.writeLog(prefix + QLatin1Char(' ') + message);
}

std::string TransferEngine::expand(const QString& nameTemplate) const
{
    return ExpandFileTemplate(nameTemplate.toStdString(), host_.currentTime(), host_.job().sequenceStart);
}

} // namespace taskhaul
