#include "transfer/transfer_engine.h"

#include "ftp/ftp_security.h"

#include "log/one_line.h"
#include "log/silent_stop.h"
#include "log/user_messages.h"
#include "transfer/transfer_texts.h"

#include <QLocale>

#include <array>
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
const QString kNotTrusted = QStringLiteral("Not connected: the server's certificate was not trusted.");
const QString kConnected = QStringLiteral("Connected.");
const QString kDisconnected = QStringLiteral("Disconnected");

// The proxy selector lists its items sorted by caption; its position picks the
// client's login scheme.
constexpr std::array kProxyTypeByPosition {
    ftp::TFtpProxyType::fpcmNone, // "(None)"
    ftp::TFtpProxyType::fpcmOpen, // "Open"
    ftp::TFtpProxyType::fpcmSite, // "Site"
    ftp::TFtpProxyType::fpcmTransparent, // "Transparent"
    ftp::TFtpProxyType::fpcmUserPass, // "User Password"
    ftp::TFtpProxyType::fpcmUserSite, // "User Site"
};

// The host whose certificate TLS checks: the proxy's when the connection goes
// through one.
QString certificateHost(const JobSettings& job)
{
    const bool viaProxy = job.proxyType > 0 && !job.proxyHost.isEmpty();
    return oneLine(viaProxy ? job.proxyHost : job.host);
}

QString certificateChangedText(const QString& host, const QString& fingerprint)
{
    return QStringLiteral(
        "The certificate of %1 has changed since you trusted it, so the connection was "
        "refused.\n\nNew SHA-256 fingerprint:\n%2\n\n"
        "Check with the server's administrator before you trust the new one. Changing the "
        "host, the port, the proxy or the security choice forgets the trusted certificate, and "
        "the next Connect asks again.")
        .arg(host, QString::fromStdString(ftp::ColonFingerprint(fingerprint.toStdString())));
}

// Restores the unattended flag when a user command ends, however it ends, so a
// failed command never leaves later scheduled runs showing message boxes.
class UserCommandScope {
public:
    explicit UserCommandScope(TransferHost& host)
        : host_(host)
    {
        host_.setUnattended(false);
    }
    ~UserCommandScope() { host_.setUnattended(true); }
    UserCommandScope(const UserCommandScope&) = delete;
    UserCommandScope& operator=(const UserCommandScope&) = delete;

private:
    TransferHost& host_;
};

} // namespace

TransferEngine::TransferEngine(TransferHost& host, ftp::TFtpClient& client, QString groupSeparator)
    : host_(host)
    , client_(client)
    , groupSeparator_(std::move(groupSeparator))
{
    client_.OnDisconnected = [this](ftp::TFtpClient&) { onDisconnected(); };
    client_.OnWork = [this](ftp::TWorkMode, std::int64_t count) {
        if (downloading_ && events_.progress)
            events_.progress(count);
        onWork();
    };
}

TransferEngine::TransferEngine(TransferHost& host, ftp::TFtpClient& client)
    : TransferEngine(host, client, QLocale().groupSeparator())
{
}

TransferEngine::~TransferEngine()
{
    client_.OnDisconnected = nullptr;
    client_.OnWork = nullptr;
}

const QString& TransferEngine::anonymousPassword()
{
    static const QString password = QStringLiteral("me@example.com");
    return password;
}

void TransferEngine::siteConnect()
{
    notice_.reset();
    JobSettings job = host_.job();
    // A certificate the user has just trusted counts even where the host keeps
    // no fingerprint with the job.
    if (job.trustedCertificate.isEmpty())
        job.trustedCertificate = trustedNow_;
    trustedNow_.clear();
    report_ = RunReport {};

    // A port no connection can use makes the job unusable, not the site
    // unreachable: trying again later would change nothing.
    const auto port = [this](const QString& text, int least) {
        int value = 0;
        try {
            value = parseIntegerField(text);
        } catch (const InvalidIntegerError&) {
            report_.jobUnusable = true;
            throw;
        }
        if (value < least || value > 65535) {
            report_.jobUnusable = true;
            failConnect(TaskhaulError(
                QStringLiteral("The port %1 is outside %2 to 65535.").arg(value).arg(least).toStdString()));
        }
        return value;
    };

    ftp::TFtpProxySettings& proxy = client_.ProxySettings();
    proxy.Host = job.proxyHost.toStdString();
    proxy.Password = job.proxyPassword.toStdString();
    proxy.Port = job.proxyPort.isEmpty() ? 0 : port(job.proxyPort, 0);
    proxy.UserName = job.proxyUserName.toStdString();
    if (job.proxyType >= 0 && job.proxyType < static_cast<int>(kProxyTypeByPosition.size()))
        proxy.ProxyType = kProxyTypeByPosition[static_cast<std::size_t>(job.proxyType)];

    client_.SetPassive(job.passive);
    client_.SetHost(job.host.toStdString());
    // FTP over TLS. Implicit TLS has a port of its own: 990 where the user left 21.
    ftp::TFtpSecurity security = ftp::TFtpSecurity::tlsPlain;
    if (job.security == JobSettings::Security::Explicit)
        security = ftp::TFtpSecurity::tlsExplicit;
    else if (job.security == JobSettings::Security::Implicit)
        security = ftp::TFtpSecurity::tlsImplicit;
    const int sitePort = port(job.port, 1);
    client_.SetPort(security == ftp::TFtpSecurity::tlsImplicit && sitePort == 21 ? 990 : sitePort);
    client_.SetSecurity(security);
    client_.SetTrustedFingerprint(job.trustedCertificate.toStdString());
    client_.SetUsername(job.userName.toStdString());
    client_.SetPassword(job.password.toStdString());

    if (client_.IsConnected())
        client_.Disconnect();

    report_ = RunReport {};
    disconnectAnnounced_ = false;
    // Connecting can take up to the reply time limit against a silent server:
    // say what is happening, and let Stop Transfer (or Disconnect) cancel it.
    if (!host_.unattended())
        host_.controlsBusy();
    host_.setStatusText(QStringLiteral("Connecting to %1\u2026").arg(oneLine(job.host)));
    host_.setStopTransferEnabled(true);
    try {
        connecting_ = true;
        client_.Connect();
        connecting_ = false;
        host_.setStopTransferEnabled(false);
    } catch (const ftp::ECertificateError& error) {
        connecting_ = false;
        // A certificate the system does not vouch for: the user may trust it
        // for this site. Never in an unattended run, and never when a trusted
        // certificate has changed. The connect returns with the question; a
        // "yes" starts it again.
        if (!host_.unattended() && job.trustedCertificate.isEmpty() && !host_.abortRequested()
            && !error.Fingerprint().empty()) {
            host_.setStopTransferEnabled(false);
            report_.failure = oneLine(std::string_view(error.what()));
            notice_ = trustQuestion(error);
            throw SilentStop();
        }
        const bool changed = !job.trustedCertificate.isEmpty() && !error.Fingerprint().empty()
            && ftp::NormalizeFingerprint(job.trustedCertificate.toStdString()) != error.Fingerprint();
        failConnect(
            error, changed ? ConnectEnd::CertificateChanged : ConnectEnd::Failed, error.Fingerprint());
    } catch (const ftp::EOperationAborted& error) {
        // Stop Transfer (or Disconnect) while the client waited: the connect
        // ends as the user wanted, nothing failed, so nothing is shown.
        connecting_ = false;
        failConnect(error, ConnectEnd::Stopped);
    } catch (const std::exception& error) {
        connecting_ = false;
        failConnect(error);
    }
    if (client_.PeerCertificate().TrustedFingerprintObsolete) {
        // The server moved to a certificate the system vouches for: the
        // fingerprint kept with the job is forgotten at the next save, so that
        // this is said once.
        host_.writeLog(QStringLiteral("The server's certificate is now signed by a trusted authority; the "
                                      "stored fingerprint is no longer needed."));
        host_.setTrustedCertificate(QString());
    }
    report_.connected = true;
    host_.setStatusText(kConnected);
    host_.writeLog(job.userName + QStringLiteral(" connected to ") + job.host);
}

ConnectNotice TransferEngine::trustQuestion(const ftp::ECertificateError& error)
{
    // What a user compares with what the server's owner says.
    QString details;
    for (const ftp::TCertificateDetail& detail : ftp::CertificateDetails(client_.PeerCertificate())) {
        QString label = QString::fromStdString(detail.Label);
        label[0] = label[0].toUpper();
        details += QLatin1Char('\n') + label + QStringLiteral(": ") + oneLine(std::string_view(detail.Value));
    }
    return ConnectNotice { ConnectNotice::Kind::TrustQuestion, QStringLiteral("Confirm"),
        oneLine(std::string_view(error.Reason())) + QLatin1Char('\n') + details
            + QStringLiteral("\n\nTrust this certificate for this site from now on? Its SHA-256 fingerprint "
                             "is kept with the job, and a different certificate will be refused."),
        QString::fromStdString(error.Fingerprint()) };
}

void TransferEngine::trustCertificate(const QString& fingerprint)
{
    host_.setTrustedCertificate(fingerprint);
    trustedNow_ = fingerprint;
    host_.writeLog(QStringLiteral("Trusted the server's certificate ") + fingerprint);
}

void TransferEngine::declineCertificate()
{
    UserCommandScope userCommand(host_);
    failConnect(TaskhaulError(report_.failure.toStdString()), ConnectEnd::NotTrusted);
}

void TransferEngine::leaveNotice(ConnectNotice::Kind kind, QString caption, QString text)
{
    notice_ = ConnectNotice { kind, std::move(caption), std::move(text), QString() };
}

void TransferEngine::failConnect(const std::exception& error, ConnectEnd end, const std::string& fingerprint)
{
    host_.setStopTransferEnabled(false);
    host_.setAbortRequested(false);
    report_.failure = oneLine(std::string_view(error.what()));
    if (end == ConnectEnd::Stopped)
        host_.setStatusText(kConnectStopped);
    else if (end == ConnectEnd::NotTrusted)
        host_.setStatusText(kNotTrusted);
    else
        host_.setStatusText(kSiteError);
    host_.writeLog(QStringLiteral("ERROR: ") + kSiteError);
    host_.writeLog(QStringLiteral("Reason: ") + report_.failure);
    if (host_.unattended()) {
        host_.controlsSchedon();
    } else {
        host_.controlsStandby();
        if (end == ConnectEnd::Failed)
            // The fixed text, and on the next line what the client was told.
            leaveNotice(ConnectNotice::Kind::Information, QStringLiteral("Information"),
                kSiteError + QLatin1Char('\n') + report_.failure);
        else if (end == ConnectEnd::CertificateChanged)
            leaveNotice(ConnectNotice::Kind::Warning, QStringLiteral("Taskhaul Warning"),
                certificateChangedText(certificateHost(host_.job()), QString::fromStdString(fingerprint)));
    }
    throw SilentStop();
}

void TransferEngine::changeFolder()
{
    notice_.reset();
    const QString folder = host_.job().remoteFolder;
    if (folder.isEmpty()) {
        report_.folderEntered = true;
        return;
    }
    try {
        client_.ChangeDirectory(folder.toStdString());
    } catch (const std::exception& error) {
        report_.failure = oneLine(std::string_view(error.what()));
        host_.writeLog(QStringLiteral("ERROR: ") + kFolderError);
        if (host_.unattended())
            host_.controlsSchedon();
        else
            leaveNotice(ConnectNotice::Kind::Information, QStringLiteral("Information"), kFolderError);
        client_.Disconnect();
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
        UserCommandScope userCommand(host_);
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
        client_.Disconnect();
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
    if (!host_.unattended())
        host_.controlsStandby();
    host_.setStatusText(kDisconnected);
    const JobSettings job = host_.job();
    host_.writeLog(job.userName + QStringLiteral(" disconnected from ") + job.host);
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
    UserCommandScope userCommand(host_);
    transfer();
}

void TransferEngine::stopTransferCommand()
{
    try {
        client_.AbortTransfer();
        host_.setAbortRequested(true);
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
