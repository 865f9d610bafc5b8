#include "transfer/transfer_engine.h"

#include "log/one_line.h"
#include "log/silent_stop.h"
#include "log/user_messages.h"
#include "transfer/transfer_texts.h"

#include <QLocale>

#include <algorithm>
#include <exception>

namespace taskhaul {

namespace {

const QString kSiteError = QStringLiteral(
    "The FTP site information specified is not valid or the site cannot be accessed at this time.");
const QString kFolderError
    = QStringLiteral("The remote folder specified does not exist or cannot be accessed at this time.");
const QString kSiteRequired = QStringLiteral("FTP site information required.");
const QString kLocalFolderRequired = QStringLiteral("Local folder information required.");
const QString kNoWildcardsInRename
    = QStringLiteral("The * and ? wildcards are not allowed in the renamed file.");
const QString kConnectStopped = QStringLiteral("Connection stopped.");
const QString kCertificateNotTrusted
    = QStringLiteral("Not connected: the server's certificate was not trusted.");
const QString kHostKeyNotTrusted = QStringLiteral("Not connected: the server's host key was not trusted.");
const QString kConnected = QStringLiteral("Connected.");
const QString kDisconnected = QStringLiteral("Disconnected");

bool sftp(const JobSettings& job)
{
    return job.protocol == JobSettings::Protocol::Sftp;
}

// The host whose certificate TLS checks: the proxy's when the connection goes
// through one. SSH uses no proxy.
QString identityHost(const JobSettings& job)
{
    const bool viaProxy = !sftp(job) && job.proxyType > 0 && !job.proxyHost.isEmpty();
    return oneLine(viaProxy ? job.proxyHost : job.host);
}

// The site the question names: the host, and its port when it is not the
// protocol's usual one; through a proxy, the proxy.
QString identitySite(const JobSettings& job)
{
    const bool viaProxy = !sftp(job) && job.proxyType > 0 && !job.proxyHost.isEmpty();
    return viaProxy ? oneLine(job.proxyHost) : oneLine(job.siteAddress());
}

QString identityChangedText(const QString& host, const SiteIdentity& identity)
{
    if (identity.kind == SiteIdentity::Kind::HostKey
        && identity.verification.startsWith(QLatin1String("revoked")))
        return QStringLiteral(
            "The server's host key is revoked in your known_hosts file, so the connection to %1 was "
            "refused.\n\nRevoked host key fingerprint:\n%2\n\n"
            "A revoked key is never accepted, whatever else vouches for it. Check with the server's "
            "administrator.")
            .arg(host, identity.shownFingerprint);
    if (identity.kind == SiteIdentity::Kind::HostKey)
        return QStringLiteral(
            "The server's host key has changed since it was known or trusted, so the connection to %1 "
            "was refused.\n\nNew host key fingerprint:\n%2\n\n"
            "This can mean that someone is intercepting the connection. Check with the server's "
            "administrator before you trust the new key. If the key is in your known_hosts file, "
            "remove it there (ssh-keygen -R); a key trusted for the job is forgotten with Forget on "
            "the FTP Site tab, and the next Connect asks again.")
            .arg(host, identity.shownFingerprint);
    return QStringLiteral(
        "The certificate of %1 has changed since you trusted it, so the connection was "
        "refused.\n\nNew SHA-256 fingerprint:\n%2\n\n"
        "Check with the server's administrator before you trust the new one. Forget on the FTP "
        "Site tab forgets the trusted certificate, and the next Connect asks again.")
        .arg(host, identity.shownFingerprint);
}

// Restores the unattended flag when a user command ends, however it ends, so a
// failed command never leaves later scheduled runs showing message boxes.
class UserCommandScope {
public:
    explicit UserCommandScope(bool& unattended)
        : unattended_(unattended)
    {
        unattended_ = false;
    }
    ~UserCommandScope() { unattended_ = true; }
    UserCommandScope(const UserCommandScope&) = delete;
    UserCommandScope& operator=(const UserCommandScope&) = delete;

private:
    bool& unattended_;
};

} // namespace

TransferEngine::TransferEngine(TransferHost& host, SiteSource& sites, QString groupSeparator)
    : host_(host)
    , sites_(sites)
    , groupSeparator_(std::move(groupSeparator))
{
}

TransferEngine::TransferEngine(TransferHost& host, SiteSource& sites)
    : TransferEngine(host, sites, QLocale().groupSeparator())
{
}

TransferEngine::TransferEngine(TransferHost& host, RemoteSite& site, QString groupSeparator)
    : host_(host)
    , ownSource_(std::make_unique<SingleSite>(site))
    , sites_(*ownSource_)
    , groupSeparator_(std::move(groupSeparator))
{
    // A single site is known from the start: Disconnect and the scheduler may
    // ask it before the first connect.
    useSite(JobSettings {});
}

TransferEngine::TransferEngine(TransferHost& host, RemoteSite& site)
    : TransferEngine(host, site, QLocale().groupSeparator())
{
}

TransferEngine::~TransferEngine()
{
    for (RemoteSite* site : handled_) {
        site->onDisconnected = nullptr;
        site->onProgress = nullptr;
    }
}

RemoteSite& TransferEngine::useSite(const JobSettings& job)
{
    RemoteSite& site = sites_.siteFor(job);
    if (std::find(handled_.begin(), handled_.end(), &site) == handled_.end()) {
        site.onDisconnected = [this] { onDisconnected(); };
        site.onProgress = [this](std::int64_t count) {
            if (downloading_ && events_.progress)
                events_.progress(count);
            if (fetchTick_)
                fetchTick_(count);
            onWork();
        };
        handled_.push_back(&site);
    }
    // A connection of another protocol left open is closed: one connection at a time.
    if (site_ && site_ != &site && site_->connected())
        site_->disconnect();
    site_ = &site;
    return site;
}

void TransferEngine::disconnectSite()
{
    if (site_)
        site_->disconnect();
}

const QString& TransferEngine::anonymousPassword()
{
    static const QString password = QStringLiteral("me@example.com");
    return password;
}

void TransferEngine::siteConnect()
{
    notice_.reset();
    // The connection's job: one snapshot, read once.
    job_ = host_.job();
    const JobSettings& job = job_;
    // A fingerprint the user has just trusted counts even where the host keeps
    // none with the job.
    QString trusted = sftp(job) ? job.trustedHostKey : job.trustedCertificate;
    if (trusted.isEmpty())
        trusted = trustedNow_;
    trustedNow_.clear();
    connectTrusted_ = trusted;
    report_ = RunReport {};

    RemoteSite& site = useSite(job);
    try {
        site.configure(job, trusted);
    } catch (const InvalidIntegerError&) {
        report_.jobUnusable = true;
        throw;
    } catch (const SiteError& error) {
        // A port no connection can use makes the job unusable, not the site
        // unreachable: trying again later would change nothing.
        report_.jobUnusable = error.kind() == SiteError::Kind::JobUnusable;
        failConnect(error);
    }

    if (site.connected())
        site.disconnect();

    report_ = RunReport {};
    disconnectAnnounced_ = false;
    // Connecting can take up to the reply time limit against a silent server:
    // say what is happening, and let Stop Transfer (or Disconnect) cancel it.
    if (!unattended_)
        host_.controlsBusy();
    host_.setStatusText(QStringLiteral("Connecting to %1\u2026").arg(oneLine(job.host)));
    host_.setStopTransferEnabled(true);
    SiteConnected connected;
    try {
        connecting_ = true;
        connected = site.connect();
        connecting_ = false;
        host_.setStopTransferEnabled(false);
    } catch (const SiteIdentityError& error) {
        connecting_ = false;
        // An identity the system does not vouch for: the user may trust it for
        // this site. Never in an unattended run, and never when a trusted or
        // known one has changed. The connect returns with the question; a "yes"
        // starts it again.
        if (!unattended_ && !error.changed() && !stopRequested()) {
            host_.setStopTransferEnabled(false);
            report_.failure = oneLine(std::string_view(error.what()));
            notice_ = trustQuestion(error);
            throw SilentStop();
        }
        failConnect(
            error, error.changed() ? ConnectEnd::IdentityChanged : ConnectEnd::Failed, &error.identity());
    } catch (const SiteError& error) {
        connecting_ = false;
        // Stop Transfer (or Disconnect) while the site waited: the connect
        // ends as the user wanted, nothing failed, so nothing is shown.
        failConnect(
            error, error.kind() == SiteError::Kind::Aborted ? ConnectEnd::Stopped : ConnectEnd::Failed);
    } catch (const std::exception& error) {
        connecting_ = false;
        failConnect(error);
    }
    if (!connected.logLines.isEmpty())
        host_.writeLogLines(connected.logLines);
    if (connected.trustedIdentityObsolete) {
        if (sftp(job))
            host_.setTrustedHostKey(QString());
        else
            host_.setTrustedCertificate(QString());
    }
    report_.connected = true;
    host_.setStatusText(kConnected);
    host_.writeLog(job.userName + QStringLiteral(" connected to ") + job.host);
}

ConnectNotice TransferEngine::trustQuestion(const SiteIdentityError& error)
{
    // What a user compares with what the server's owner says.
    QString details;
    for (const auto& [label, value] : error.identity().details) {
        QString shown = label;
        if (!shown.isEmpty())
            shown[0] = shown[0].toUpper();
        details += QLatin1Char('\n') + shown + QStringLiteral(": ") + value;
    }
    const QString question = error.identity().kind == SiteIdentity::Kind::HostKey
        ? QStringLiteral("\n\nTrust this host key for %1 from now on? Its fingerprint is kept with "
                         "the job, and a different key will be refused.")
        : QStringLiteral("\n\nTrust this certificate for %1 from now on? Its SHA-256 fingerprint "
                         "is kept with the job, and a different certificate will be refused.");
    return ConnectNotice { ConnectNotice::Kind::TrustQuestion, QStringLiteral("Confirm"),
        error.reason() + QLatin1Char('\n') + details + question.arg(identitySite(job_)),
        error.identity().fingerprint };
}

void TransferEngine::trustCertificate(const QString& fingerprint)
{
    trustedNow_ = fingerprint;
    if (sftp(job_)) {
        host_.setTrustedHostKey(fingerprint);
        host_.writeLog(QStringLiteral("Trusted the server's host key ") + fingerprint);
        return;
    }
    host_.setTrustedCertificate(fingerprint);
    host_.writeLog(QStringLiteral("Trusted the server's certificate ") + fingerprint);
}

void TransferEngine::declineCertificate()
{
    UserCommandScope userCommand(unattended_);
    failConnect(TaskhaulError(report_.failure.toStdString()), ConnectEnd::NotTrusted);
}

void TransferEngine::leaveNotice(ConnectNotice::Kind kind, QString caption, QString text)
{
    notice_ = ConnectNotice { kind, std::move(caption), std::move(text), QString() };
}

void TransferEngine::failConnect(const std::exception& error, ConnectEnd end, const SiteIdentity* identity)
{
    host_.setStopTransferEnabled(false);
    stopRequested_ = false;
    report_.failure = oneLine(std::string_view(error.what()));
    if (end == ConnectEnd::Stopped)
        host_.setStatusText(kConnectStopped);
    else if (end == ConnectEnd::NotTrusted)
        host_.setStatusText(sftp(job_) ? kHostKeyNotTrusted : kCertificateNotTrusted);
    else
        host_.setStatusText(kSiteError);
    host_.writeLog(QStringLiteral("ERROR: ") + kSiteError);
    host_.writeLog(QStringLiteral("Reason: ") + report_.failure);
    if (unattended_) {
        host_.controlsSchedon();
    } else {
        host_.controlsStandby();
        if (end == ConnectEnd::Failed)
            // The fixed text, and on the next line what the client was told.
            leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Warning"),
                kSiteError + QLatin1Char('\n') + report_.failure);
        else if (end == ConnectEnd::IdentityChanged && identity)
            leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Taskhaul Warning"),
                identityChangedText(identityHost(job_), *identity));
    }
    throw SilentStop();
}

void TransferEngine::changeFolder()
{
    notice_.reset();
    const QString folder = job_.remoteFolder;
    if (folder.isEmpty()) {
        report_.folderEntered = true;
        return;
    }
    try {
        site_->enterFolder(folder.toStdString());
    } catch (const std::exception& error) {
        report_.failure = oneLine(std::string_view(error.what()));
        host_.writeLog(QStringLiteral("ERROR: ") + kFolderError);
        if (unattended_)
            host_.controlsSchedon();
        else
            leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Warning"), kFolderError);
        site_->disconnect();
        throw SilentStop();
    }
    report_.folderEntered = true;
    host_.writeLog(QStringLiteral("Current folder is ") + folder);
}

void TransferEngine::connectCommand()
{
    // Connect stays enabled while its own connect waits for the server, and Stop
    // Transfer enables it while a transfer may still be unwinding: a second
    // connect then would pull the connection from under the first. While the
    // trust question is open the first connect is not over either.
    if (busy())
        return;
    const JobSettings job = host_.job();
    if (!job.siteFieldsFilled()) {
        host_.messageBoxes().error(QStringLiteral("Error"), kSiteRequired);
        return;
    }
    {
        UserCommandScope userCommand(unattended_);
        siteConnect();
        changeFolder();
    }
    host_.controlsConnected();
}

void TransferEngine::disconnectCommand()
{
    // Disconnect stays enabled while a transfer runs or a connect waits. Closing
    // the connection under a waiting call is not safe; the call is stopped instead,
    // and its stop closes the connection as soon as the retrieval has ended.
    if (transferRunning_ || connecting_) {
        stopTransferCommand();
        return;
    }
    try {
        disconnectSite();
    } catch (const std::exception&) {
        host_.writeLog(QStringLiteral("ERROR: Cannot disconnect at this time."));
        throw SilentStop();
    }
    host_.controlsStandby();
    host_.focusHostField();
}

void TransferEngine::onDisconnected()
{
    // One announcement per connection, whatever the status line shows meanwhile.
    if (std::exchange(disconnectAnnounced_, true))
        return;
    host_.setBusyCursor(false);
    if (!unattended_)
        host_.controlsStandby();
    host_.setStatusText(kDisconnected);
    host_.writeLog(job_.userName + QStringLiteral(" disconnected from ") + job_.host);
}

void TransferEngine::anonymousLogin()
{
    host_.setLoginFields(QStringLiteral("anonymous"), anonymousPassword());
}

void TransferEngine::transferCommand()
{
    const JobSettings job = host_.job();
    if (job.localFolder.isEmpty()) {
        showMessage(kLocalFolderRequired);
        throw SilentStop();
    }
    if (job.fileKind == JobSettings::FileKind::OneFile && job.rename
        && (job.renameTo.contains(QLatin1Char('*')) || job.renameTo.contains(QLatin1Char('?')))) {
        showMessage(kNoWildcardsInRename);
        throw SilentStop();
    }
    // The command stays enabled while its own transfer runs; a second transfer on
    // the one connection would interleave its commands with the first one's, and
    // one during a connect (or its trust question) would use a connection not
    // yet made.
    if (busy())
        return;
    UserCommandScope userCommand(unattended_);
    transfer();
}

void TransferEngine::stopSiteCall()
{
    if (!site_)
        return;
    // Over several connections a stop waits for no server; over one, the
    // server is told (ABOR) and the connection kept where it can be.
    if (fetchTick_)
        site_->interrupt();
    else
        site_->abort();
}

void TransferEngine::stopTransferCommand()
{
    try {
        stopSiteCall();
        stopRequested_ = true;
    } catch (const std::exception&) {
        // The flag stays as it was; the controls are reset all the same.
    }
    // The standby state also re-enables the name, rename and schedule fields that
    // fit the job's choices.
    host_.controlsStandby();
    host_.setBusyCursor(false);
}

void TransferEngine::onWork()
{
    host_.processPendingEvents();
}

void TransferEngine::showMessage(const QString& text)
{
    writeMessage(host_.messageBoxes(), text);
}

void TransferEngine::report(const QString& text)
{
    const QString line = oneLine(text);
    host_.setStatusText(line);
    host_.writeLog(line);
}

} // namespace taskhaul
