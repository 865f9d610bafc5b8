#include "site/sftp_site.h"

#include "sftp/sftp_client.h"
#include "sftp/sftp_errors.h"
#include "transfer/transfer_texts.h"

#include <QDateTime>

#include <chrono>
#include <utility>

namespace taskhaul {
namespace {

using sftp::TSftpAuthMethod;
using sftp::TSftpEntryKind;
using sftp::TSftpHostKey;

std::optional<RemoteStamp> stampOf(const std::optional<sftp::TSftpTime>& time)
{
    if (!time)
        return std::nullopt;
    return RemoteStamp { QDateTime::fromSecsSinceEpoch(time->time_since_epoch().count(), Qt::UTC),
        RemoteStamp::Precision::Second, true };
}

std::string kindName(TSftpEntryKind kind)
{
    switch (kind) {
    case TSftpEntryKind::File:
        return "file";
    case TSftpEntryKind::Folder:
        return "dir";
    case TSftpEntryKind::Link:
        return "link";
    case TSftpEntryKind::Unknown:
        return "unknown";
    case TSftpEntryKind::Other:
        break;
    }
    return "other";
}

QString signedInLine(TSftpAuthMethod method)
{
    switch (method) {
    case TSftpAuthMethod::None:
        return QStringLiteral("Signed in without authentication: the server asked for none.");
    case TSftpAuthMethod::Agent:
        return QStringLiteral("Signed in with a key from the SSH agent.");
    case TSftpAuthMethod::KeyFile:
        return QStringLiteral("Signed in with the key file.");
    case TSftpAuthMethod::KeyboardInteractive:
        return QStringLiteral("Signed in with the password (%1).")
            .arg(QString::fromStdString(sftp::AuthMethodName(method)));
    case TSftpAuthMethod::Password:
        return QStringLiteral("Signed in with the password.");
    }
    return {};
}

QString verificationText(TSftpHostKey::Status status)
{
    switch (status) {
    case TSftpHostKey::Status::Known:
        return QStringLiteral("known (~/.ssh/known_hosts)");
    case TSftpHostKey::Status::Trusted:
        return QStringLiteral("trusted (kept with the job)");
    case TSftpHostKey::Status::Unknown:
        break;
    case TSftpHostKey::Status::Changed:
        return QStringLiteral("changed");
    case TSftpHostKey::Status::Revoked:
        return QStringLiteral("revoked (~/.ssh/known_hosts)");
    }
    return QStringLiteral("unknown");
}

SiteIdentity identityOf(const std::string& type, const std::string& fingerprint, TSftpHostKey::Status status)
{
    SiteIdentity identity;
    identity.kind = SiteIdentity::Kind::HostKey;
    identity.fingerprint = QString::fromStdString(fingerprint);
    identity.shownFingerprint = identity.fingerprint;
    identity.details = { { QStringLiteral("key type"), QString::fromStdString(type) },
        { QStringLiteral("SHA-256 fingerprint"), identity.fingerprint } };
    identity.verification = verificationText(status);
    return identity;
}

} // namespace

int sftpPort(const QString& text)
{
    const int port = parseIntegerField(text);
    if (port < 1 || port > 65535)
        throw SiteError(
            SiteError::Kind::JobUnusable, "The port " + std::to_string(port) + " is outside 1 to 65535.");
    // A job switched from FTP keeps FTP's port; nobody serves SSH there.
    return port == 21 ? 22 : port;
}

SftpSite::SftpSite(std::function<void()> pump)
    : client_(std::make_unique<sftp::TSftpClient>(std::move(pump)))
{
    client_->OnProgress = [this](std::int64_t received, std::int64_t) {
        if (onProgress)
            onProgress(received);
    };
    // The client's worker tells of no chunk as it comes: the window's events
    // run only at each pump. At 50 ms a download leaves every gap of the event
    // loop at 50 ms and more, too close to what a user notices.
    sftp::TSftpLimits limits = client_->Limits();
    limits.PumpInterval = std::chrono::milliseconds(20);
    client_->SetLimits(limits);
}

SftpSite::SftpSite(std::function<void()> pump, const sftp::TSftpLimits& limits)
    : SftpSite(std::move(pump))
{
    client_->SetLimits(limits);
}

SftpSite::~SftpSite() = default;

void SftpSite::noticeEnd()
{
    if (!open_ || client_->IsConnected())
        return;
    open_ = false;
    if (onDisconnected)
        onDisconnected();
}

void SftpSite::run(const std::function<void()>& operation)
{
    using Kind = SiteError::Kind;
    const auto fail = [this](Kind kind, const char* text) {
        noticeEnd();
        throw SiteError(kind, text);
    };
    try {
        operation();
    } catch (const sftp::ESftpAborted& e) {
        fail(Kind::Aborted, e.what());
    } catch (const sftp::ESftpConnectionError& e) {
        fail(Kind::Connection, e.what());
    } catch (const sftp::ESftpAuthError& e) {
        fail(Kind::Connection, e.what());
    } catch (const sftp::ESftpNotConnected& e) {
        fail(Kind::Connection, e.what());
    } catch (const sftp::ESftpException& e) {
        // A file or folder refused, a local file that cannot be written, an
        // operation started while another waits: the connection is as it was.
        fail(Kind::Refused, e.what());
    } catch (...) {
        noticeEnd();
        throw;
    }
    noticeEnd();
}

std::string SftpSite::pathOf(const std::string& name) const
{
    if (folder_.empty())
        return name;
    if (folder_.back() == '/')
        return folder_ + name;
    return folder_ + "/" + name;
}

void SftpSite::configure(const JobSettings& job, const QString& trusted)
{
    const int port = sftpPort(job.port);
    sftp::TSftpSettings& settings = client_->Settings();
    settings.Host = job.host.toStdString();
    settings.Port = port;
    port_ = port;
    settings.Username = job.userName.toStdString();
    settings.Password = job.password.toStdString();
    settings.KeyFile = job.keyFile.toStdString();
    settings.KeyPassphrase = job.keyPassphrase.toStdString();
    settings.TrustedHostKey = trusted.toStdString();
}

SiteConnected SftpSite::connect()
{
    // Dropping the connection now would end the operation that waits.
    if (client_->IsBusy())
        throw SiteError(SiteError::Kind::Connection, sftp::ESftpBusy().what());
    disconnect();
    folder_.clear();
    lastStat_.reset();
    run([this] {
        try {
            client_->Connect();
        } catch (const sftp::ESftpHostKeyUnknown& e) {
            throw SiteIdentityError(e.what(), QStringLiteral("The server's host key is not known."),
                identityOf(e.KeyType(), e.Fingerprint(), TSftpHostKey::Status::Unknown), false);
        } catch (const sftp::ESftpHostKeyChanged& e) {
            throw SiteIdentityError(e.what(),
                QStringLiteral("The server's host key is not the one known for this server."),
                identityOf(e.KeyType(), e.Fingerprint(), TSftpHostKey::Status::Changed), true);
        } catch (const sftp::ESftpHostKeyRevoked& e) {
            // Refused as a changed key is: never a question to the user.
            throw SiteIdentityError(e.what(), QStringLiteral("The server's host key is revoked."),
                identityOf(e.KeyType(), e.Fingerprint(), TSftpHostKey::Status::Revoked), true);
        }
    });
    open_ = client_->IsConnected();
    return SiteConnected { { signedInLine(client_->AuthenticatedBy()) }, false };
}

void SftpSite::enterFolder(const std::string& folder)
{
    lastStat_.reset();
    if (folder.empty()) {
        folder_.clear();
        return;
    }
    const std::string path = pathOf(folder);
    sftp::TSftpFileFacts facts;
    run([&] { facts = client_->Stat(path); });
    if (facts.Kind != TSftpEntryKind::Folder)
        throw SiteError(SiteError::Kind::Refused, "Cannot enter \"" + path + "\": it is not a folder.");
    folder_ = path;
}

RemoteListing SftpSite::list(const JobSettings&, const std::function<void(const QString&)>& log)
{
    lastStat_.reset();
    std::vector<sftp::TSftpEntry> entries;
    run([&] { entries = client_->ListFolder(folder_.empty() ? std::string(".") : folder_); });
    RemoteListing listing;
    listing.method = QStringLiteral("SFTP");
    listing.entries.reserve(entries.size());
    for (auto& entry : entries) {
        // Skipped like any entry that is no plain file; this one the log names,
        // since only the server's silence keeps it from being fetched.
        if (entry.Kind == TSftpEntryKind::Unknown && log)
            log(QStringLiteral("WARNING: \"%1\" is skipped: the server listed it without its permissions, "
                               "so it is not known to be a plain file.")
                    .arg(displayName(entry.Name)));
        listing.entries.push_back({ std::move(entry.Name), entry.Kind == TSftpEntryKind::File,
            kindName(entry.Kind), entry.Size, stampOf(entry.Modified) });
    }
    return listing;
}

std::int64_t SftpSite::fileSize(const std::string& name)
{
    lastStat_.reset();
    sftp::TSftpFileFacts facts;
    run([&] { facts = client_->Stat(pathOf(name)); });
    lastStat_ = Stat { name, stampOf(facts.Modified) };
    return facts.Size;
}

std::optional<RemoteStamp> SftpSite::fileTime(
    const std::string& name, const std::optional<RemoteStamp>& listed)
{
    std::optional<RemoteStamp> time;
    if (lastStat_ && lastStat_->name == name) {
        // The size and the time of one stat: a file that changes between two
        // requests cannot pair an old size with a new time.
        time = std::move(lastStat_->time);
        lastStat_.reset();
    } else {
        lastStat_.reset();
        sftp::TSftpFileFacts facts;
        run([&] { facts = client_->Stat(pathOf(name)); });
        time = stampOf(facts.Modified);
    }
    return time ? time : listed;
}

void SftpSite::retrieve(const std::string& name, const std::string& localPath, bool overwrite)
{
    lastStat_.reset();
    sftp::TSftpDownloadOptions options;
    options.Overwrite = overwrite;
    run([&] { client_->Download(pathOf(name), localPath, options); });
}

void SftpSite::abort()
{
    client_->Stop();
}

void SftpSite::disconnect()
{
    // From inside the pump the client only asks the running operation to
    // end; its end is told when that operation returns.
    client_->Disconnect();
    noticeEnd();
}

bool SftpSite::connected()
{
    return client_->IsConnected();
}

bool SftpSite::blocked() const
{
    return client_->IsBusy();
}

std::optional<SiteIdentity> SftpSite::identity() const
{
    const TSftpHostKey& key = client_->HostKey();
    if (key.Fingerprint.empty())
        return std::nullopt;
    return identityOf(key.Type, key.Fingerprint, key.Verdict);
}

QString SftpSite::scheme() const
{
    return QStringLiteral("sftp://");
}

} // namespace taskhaul
