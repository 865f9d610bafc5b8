#pragma once

#include "transfer/file_plan.h"
#include "transfer/remote_site.h"
#include "transfer/run_report.h"
#include "transfer/transfer_host.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul {

class LocalFolderRun;

// What a user's connect or transfer leaves for the window once it has
// returned: a box to show (a failure, how a run ended), or the question whether
// to trust the server's certificate or host key, whose "yes" starts the
// connect again.
struct ConnectNotice {
    enum class Kind { Information, Warning, TrustQuestion };
    Kind kind = Kind::Information;
    QString caption;
    QString text;
    // The fingerprint a trust question is about.
    QString fingerprint;
};

// A download that begins: the planned file, the local name it is stored under
// (bytes, as the file system takes them) and its size when known (the server's
// answer at fetch time, else the listing's; below 0: unknown).
struct FileStarted {
    const PlannedFile& file;
    const std::string& localName;
    std::int64_t size = -1;
};

// How a file of a run ended. Fetched: it is in the local folder. Skipped:
// something failed (`reason` says what). PassedOver: left on purpose for a later
// run (not changed, still being written; `reason` says which). Stopped: the user
// or a signal stopped the run during it.
struct FileFinished {
    enum class Outcome { Fetched, Skipped, PassedOver, Stopped };
    const std::string& remoteName;
    Outcome outcome = Outcome::Fetched;
    QString reason;
};

// Where a whole run stands: files done (fetched, skipped or passed over) of the
// files it has to do, and bytes received of the bytes known to come (below 0:
// not known). Told while a run with more than one connection fetches.
struct RunProgress {
    int filesDone = 0;
    int filesTotal = 0;
    std::int64_t bytesDone = 0;
    std::int64_t bytesTotal = -1;
};

// What the engine announces while it transfers, in this order: runStarted; for
// each file that it downloads fileStarted, then progress with the bytes received
// so far; fileFinished for each file it fetched, skipped, passed over or was
// stopped in; runFinished with what the run came to, however it ended. Unset
// handlers are left out.
struct TransferEvents {
    std::function<void()> runStarted;
    std::function<void(std::int64_t received)> progress;
    std::function<void(const FileFinished&)> fileFinished;
    std::function<void(const RunReport&)> runFinished;
    // With more than one connection, in place of `progress`: the whole run's
    // progress (files then start and end in any order, and fileFinished
    // comes as each ends).
    std::function<void(const RunProgress&)> runProgress;
};

// The transfer engine: connects to the job's site and enters its remote folder,
// fetches the job's file or files into the local folder, and carries out the
// Connect, Disconnect, Transfer and Stop Transfer commands. It reads the job and
// reports through a TransferHost, so the main window, the scheduler and the
// headless runner drive the same code; it owns no widgets.
//
// Operations that fail report the failure (log line, status line, and a message
// box when the host is not unattended) and then raise SilentStop. The connect
// (siteConnect, changeFolder) opens no box itself: what the user must see or
// answer is left as a ConnectNotice that the caller shows once the connect has
// returned (see askingConnect).
//
// The remote side is a RemoteSite, picked for the job by a SiteSource at each
// connect: the engine knows no protocol.
//
// Everything runs on one thread. A site lets the host's events run while it
// waits, so a command (Stop Transfer above all) can arrive in the middle of any
// operation here.
class TransferEngine {
public:
    // `groupSeparator` groups the byte count of the completion line by thousands
    // (the locale's separator; tests fix it).
    TransferEngine(TransferHost& host, SiteSource& sites, QString groupSeparator);
    TransferEngine(TransferHost& host, SiteSource& sites);
    // One site for every job.
    TransferEngine(TransferHost& host, RemoteSite& site, QString groupSeparator);
    TransferEngine(TransferHost& host, RemoteSite& site);
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // Told of each download just before it begins, so that a progress display
    // learns the file and its size from the engine, never from the status text.
    using FileStartedHandler = std::function<void(const FileStarted&)>;
    void setFileStartedHandler(FileStartedHandler handler) { fileStarted_ = std::move(handler); }
    // Told of the start and the end of each transfer, of each file's end and of
    // a download's progress (see TransferEvents). Replaces the handlers set before.
    void setEvents(TransferEvents events) { events_ = std::move(events); }

    // ---- Site connection and remote folder ----
    // Picks the job's site and has it take the job's values, drops a
    // connection left open, connects and logs in. A port text that is not a
    // number raises InvalidIntegerError unreported.
    void siteConnect();
    // Enters the job's remote folder; does nothing when none is set. On failure
    // the site is left disconnected.
    void changeFolder();
    // The Connect command.
    void connectCommand();
    // The Disconnect command. During a transfer it stops the transfer, which
    // then disconnects.
    void disconnectCommand();
    // The site's disconnected notification (installed on each site the engine uses).
    void onDisconnected();
    // The anonymous-login button.
    void anonymousLogin();

    // ---- Transfers (the site connected and in the remote folder) ----
    // Fetches the plain files whose names match the job's name template.
    void transferOneFile();
    // Fetches every plain file of the remote folder.
    void transferAllFiles();
    // The one or the other, by the job's choice.
    void transfer();
    // The Transfer command.
    void transferCommand();
    // The Stop Transfer command; may run nested inside a blocked transfer.
    void stopTransferCommand();
    // The site's progress notification (installed on each site the engine uses).
    void onWork();

    // Set while no user command runs (the default): failures are logged, no
    // message box is shown and no question asked. A user's Connect and
    // Transfer clear it while they run.
    bool unattended() const { return unattended_; }
    void setUnattended(bool value) { unattended_ = value; }
    // Stop Transfer was given and the transfer has not acted on it yet, or the
    // stop condition holds (a termination signal).
    bool stopRequested() const { return stopRequested_ || (stopWhen_ && stopWhen_()); }
    void setStopWhen(std::function<bool()> condition) { stopWhen_ = std::move(condition); }
    // Marks a stop for the transfer loops to act on, without stopping the site's
    // call in progress (stopTransferCommand does both).
    void requestStop() { stopRequested_ = true; }
    // Stops the site's call in progress (from inside the pump): what Stop
    // Transfer and a termination signal do to the connection. Raises when the
    // site cannot be stopped now.
    void stopSiteCall();

    // True from the start of a transfer to its end (also while nested commands run).
    bool transferRunning() const { return transferRunning_; }
    // True while siteConnect waits for the server.
    bool connecting() const { return connecting_; }
    // True while a connect or a transfer is in progress, or the user is being
    // asked about one: commands that would change the job or start another run
    // are refused then.
    bool busy() const { return connecting_ || transferRunning_ || answerAwaited_; }

    // What the last siteConnect, changeFolder, connectCommand or transfer left
    // for the user (only when not unattended); taking it clears it.
    std::optional<ConnectNotice> takeNotice() { return std::exchange(notice_, std::nullopt); }
    // Marks the time a trust question is on screen (busy() then holds).
    void setAnswerAwaited(bool awaited) { answerAwaited_ = awaited; }
    // The user trusted the certificate or host key of a TrustQuestion: it is
    // kept with the job, and the next connect uses it.
    void trustCertificate(const QString& fingerprint);
    // The user did not trust it: the connect ends as not trusted. Raises SilentStop.
    [[noreturn]] void declineCertificate();

    // What the current or last run came to. siteConnect starts a new report; a
    // transfer on the same connection starts its part of it afresh.
    const RunReport& lastRun() const { return report_; }
    // The next transfer leaves these remote names out, silently: a retry of a
    // run that fetched them before it lost its connection.
    void leaveOut(std::vector<std::string> names) { leaveOut_ = std::move(names); }

    // A run that holds its local folder for all its attempts lends the engine
    // its lock (null: none); a transfer into that folder then takes no lock of its own.
    void setFolderRun(const LocalFolderRun* run) { folderRun_ = run; }

    // The site of the last connect (null before the first).
    RemoteSite* site() { return site_; }
    // A call of the site is waiting for the network now.
    bool siteBlocked() const { return site_ && site_->blocked(); }
    // Closes the site's connection, if one is open.
    void disconnectSite();

    // The password the anonymous-login button fills in.
    static const QString& anonymousPassword();

private:
    enum class Mode { OneFile, AllFiles };
    enum class FileOutcome { Fetched, Skipped, Stopped };
    class RunScope;
    class ParallelRun;

    ConnectNotice trustQuestion(const SiteIdentityError& error);
    RemoteSite& useSite(const JobSettings& job);
    void leaveNotice(ConnectNotice::Kind kind, QString caption, QString text);
    // How a connect that did not get through ended: a failure (a box with the
    // reason), a stop by the user or an identity the user did not trust
    // (neither shows a box), or a trusted or known identity that changed (a
    // warning of its own, about `identity`).
    enum class ConnectEnd { Failed, Stopped, NotTrusted, IdentityChanged };
    [[noreturn]] void failConnect(const std::exception& error, ConnectEnd end = ConnectEnd::Failed,
        const SiteIdentity* identity = nullptr);
    void runTransfer(Mode mode);
    void runTransferSteps(Mode mode);
    void fileFinished(
        const std::string& remoteName, FileFinished::Outcome outcome, const QString& reason = {});
    void fetchListed(Mode mode, const JobSettings& job, const RemoteListing& listing,
        const std::string& pattern, bool& stopped);
    std::vector<PlannedFile> plannedFiles(const JobSettings& job, const RemoteListing& listing);
    FileOutcome transferFile(Mode mode, const JobSettings& job, const PlannedFile& file);
    QString transferringLine(const JobSettings& job, const std::string& remoteName) const;
    QString transferringLine(
        const JobSettings& job, const std::string& remoteName, const std::string& target) const;
    // Fetches the run's files over `connections` connections at once: this
    // one and further ones on worker threads (see fetch_pool.h).
    void fetchAtOnce(Mode mode, const JobSettings& job, const std::vector<const PlannedFile*>& files,
        int connections, bool& stopped);
    void passOverSettled(Mode mode, const JobSettings& job, const PlannedFile& file);
    void passOverUnchanged(Mode mode, const std::string& remoteName);
    void reportNotChanged();
    void showCompletion(const QString& completedText, const std::string& pattern);
    void actOnStop();
    // `shownName` (several connections): the log line names the file.
    void reportSkip(
        Mode mode, const std::string& remoteName, const QString& message, const QString& shownName = {});
    void passOver(
        Mode mode, const std::string& remoteName, const QString& reason, const QString& shownName = {});
    void writeSkipLine(Mode mode, const QString& message, const QString& shownName = {});
    static QString skipPrefix(Mode mode);
    void noteBrokenConnection(const SiteError& error);
    QDateTime utcNow() const;
    void report(const QString& text);
    void showMessage(const QString& text);

    TransferHost& host_;
    // The job of the connection or run in progress (or the last one), taken
    // once at its start; the sequence number as the run has moved it on.
    JobSettings job_;
    int sequence_ = 0;
    bool unattended_ = true;
    bool stopRequested_ = false;
    std::function<bool()> stopWhen_;
    std::unique_ptr<SingleSite> ownSource_;
    SiteSource& sites_;
    // The site of the last connect; the sites given the engine's handlers.
    RemoteSite* site_ = nullptr;
    std::vector<RemoteSite*> handled_;
    QString groupSeparator_;
    bool transferRunning_ = false;
    bool connecting_ = false;
    bool answerAwaited_ = false;
    std::optional<ConnectNotice> notice_;
    // A certificate the user trusted after the last connect; the next one uses it
    // whatever the job says.
    QString trustedNow_;
    // The fingerprint the last connect trusted; further connections of a run trust it too.
    QString connectTrusted_;
    // Told on the site's progress while a run with more than one connection
    // fetches: the main thread takes in what the other connections tell.
    std::function<void(std::int64_t received)> fetchTick_;
    // The end of the connection opened last has been announced (the site
    // may tell of it more than once).
    bool disconnectAnnounced_ = false;
    RunReport report_;
    std::vector<std::string> leaveOut_;
    const LocalFolderRun* folderRun_ = nullptr;
    FileStartedHandler fileStarted_;
    TransferEvents events_;
    // Between a download's announcement and its end: the site's progress is the file's.
    bool downloading_ = false;
};

} // namespace taskhaul
