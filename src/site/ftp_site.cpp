#include "site/ftp_site.h"

#include "ftp/ftp_security.h"
#include "log/one_line.h"
#include "site/ftp_listing.h"
#include "transfer/transfer_texts.h"

#include <array>
#include <exception>
#include <utility>

namespace taskhaul {

namespace {

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

// What an FTP failure means for a run: a stop, a connection that is gone, or a
// working server's "no".
SiteError::Kind kindOf(const ftp::EFtpException& error)
{
    if (dynamic_cast<const ftp::EOperationAborted*>(&error))
        return SiteError::Kind::Aborted;
    // 421: the server closes the connection, as it does when it has too many;
    // 425: it opens no data connection, the answer of a server that counts
    // data connections against its limit.
    if (const auto* reply = dynamic_cast<const ftp::EFtpReplyError*>(&error);
        reply && (reply->ReplyCode() == 421 || reply->ReplyCode() == 425))
        return SiteError::Kind::ServerLimit;
    if (dynamic_cast<const ftp::EConnectionClosed*>(&error) || dynamic_cast<const ftp::ENotConnected*>(&error)
        || dynamic_cast<const ftp::EReadTimeout*>(&error) || dynamic_cast<const ftp::ESocketError*>(&error)
        || dynamic_cast<const ftp::EConnectTimeout*>(&error)
        || dynamic_cast<const ftp::EConnectError*>(&error))
        return SiteError::Kind::Connection;
    return SiteError::Kind::Refused;
}

// Runs a client call and gives its failures as the site's.
template <typename Call> auto siteCall(Call&& call) -> decltype(call())
{
    try {
        return call();
    } catch (const ftp::EFtpException& error) {
        throw SiteError(kindOf(error), error.what());
    }
}

SiteIdentity certificateIdentity(const ftp::TFtpCertificateInfo& certificate, const std::string& fingerprint)
{
    SiteIdentity identity;
    identity.kind = SiteIdentity::Kind::Certificate;
    identity.fingerprint = QString::fromStdString(fingerprint);
    identity.shownFingerprint = QString::fromStdString(ftp::ColonFingerprint(fingerprint));
    for (const ftp::TCertificateDetail& detail : ftp::CertificateDetails(certificate))
        identity.details.emplace_back(
            QString::fromStdString(detail.Label), oneLine(std::string_view(detail.Value)));
    identity.verification = oneLine(std::string_view(certificate.Verification));
    return identity;
}

} // namespace

FtpSite::FtpSite(ftp::TFtpClient& client)
    : client_(client)
{
    listen();
}

FtpSite::FtpSite(std::function<void()> pump)
    : ownClient_(std::make_unique<ftp::TFtpClient>(std::move(pump)))
    , client_(*ownClient_)
{
    listen();
}

void FtpSite::listen()
{
    client_.OnDisconnected = [this](ftp::TFtpClient&) {
        if (onDisconnected)
            onDisconnected();
    };
    client_.OnWork = [this](ftp::TWorkMode, std::int64_t count) {
        if (onProgress)
            onProgress(count);
    };
}

FtpSite::~FtpSite()
{
    client_.OnDisconnected = nullptr;
    client_.OnWork = nullptr;
}

void FtpSite::configure(const JobSettings& job, const QString& trusted)
{
    // A port no connection can use makes the job unusable, not the site
    // unreachable: trying again later would change nothing.
    const auto port = [](const QString& text, int least) {
        const int value = parseIntegerField(text);
        if (value < least || value > 65535)
            throw SiteError(SiteError::Kind::JobUnusable,
                QStringLiteral("The port %1 is outside %2 to 65535.").arg(value).arg(least).toStdString());
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
    client_.SetTrustedFingerprint(trusted.toStdString());
    client_.SetUsername(job.userName.toStdString());
    client_.SetPassword(job.password.toStdString());
}

SiteConnected FtpSite::connect()
{
    try {
        client_.Connect();
    } catch (const ftp::ECertificateError& error) {
        // A certificate the system does not vouch for may be trusted by the
        // user; one that differs from the trusted one never is.
        const std::string& trusted = client_.TrustedFingerprint();
        const std::string& fingerprint = error.Fingerprint();
        if (fingerprint.empty() || (!trusted.empty() && ftp::NormalizeFingerprint(trusted) == fingerprint))
            throw SiteError(SiteError::Kind::Connection, error.what());
        throw SiteIdentityError(error.what(), oneLine(std::string_view(error.Reason())),
            certificateIdentity(client_.PeerCertificate(), fingerprint), !trusted.empty());
    } catch (const ftp::EFtpException& error) {
        throw SiteError(kindOf(error) == SiteError::Kind::Aborted ? SiteError::Kind::Aborted
                                                                  : SiteError::Kind::Connection,
            error.what());
    }
    SiteConnected connected;
    if (client_.PeerCertificate().TrustedFingerprintObsolete) {
        // The server moved to a certificate the system vouches for: the
        // fingerprint kept with the job is forgotten, so that this is said once.
        connected.trustedIdentityObsolete = true;
        connected.logLines << QStringLiteral(
            "The server's certificate is now signed by a trusted authority; the stored fingerprint is no "
            "longer needed.");
    }
    return connected;
}

void FtpSite::enterFolder(const std::string& folder)
{
    siteCall([&] { client_.ChangeDirectory(folder); });
}

RemoteListing FtpSite::list(const JobSettings& job, const std::function<void(const QString&)>& log)
{
    RemoteListing listing;
    listing.method = listingCommandName(siteCall([&] { return listRemoteFolder(client_, job, log); }));
    if (client_.ListingTruncated())
        listing.truncation = oneLine(client_.ListingTruncation());
    const ftp::TFtpListItems* items = nullptr;
    try {
        items = &client_.ParsedListing();
    } catch (const std::exception& error) {
        // The parser gave up part-way: what it understood is kept.
        listing.unreadable = oneLine(std::string_view(error.what()));
        items = &client_.ParsedListing();
    }
    listing.entries.reserve(static_cast<std::size_t>(items->count()));
    for (const ftp::TFtpListItem& item : *items)
        listing.entries.push_back(remoteEntryFrom(item));
    return listing;
}

std::int64_t FtpSite::fileSize(const std::string& name)
{
    listed_.reset();
    return siteCall([&] { return client_.FileSize(name); });
}

void FtpSite::expectSize(const std::string& name, std::int64_t size)
{
    client_.ExpectSize(name, size);
    listed_ = ListedSize { name, size };
}

std::optional<RemoteStamp> FtpSite::fileTime(
    const std::string& name, const std::optional<RemoteStamp>& listed)
{
    // MDTM is exact and in UTC; servers that do not offer it leave the listing's
    // time, and a machine listing's time is as exact already.
    if (!client_.IsFeatureSupported("MDTM") || (listed && listed->exactUtc))
        return listed;
    siteCall([&] { client_.SendCommand("MDTM " + name, { 213 }); });
    const std::vector<std::string>& text = client_.LastReply().ReplyText;
    const auto exact = text.empty() ? std::nullopt : stampFromMdtm(text.front());
    return exact ? exact : listed;
}

void FtpSite::retrieve(const std::string& name, const std::string& localPath, bool overwrite)
{
    const std::optional<ListedSize> listed = std::exchange(listed_, std::nullopt);
    try {
        client_.RetrieveFile(name, localPath, overwrite, false);
        return;
    } catch (const ftp::EIncompleteTransfer& error) {
        // Checked against the listing's size, the transfer ended cleanly with
        // other than the listed bytes: the file may have changed since the
        // listing, and the server's size now decides. Where it agrees with the
        // listing, the transfer was short and fails. Where it differs, the file
        // changed: it is fetched again and checked against that answer (what
        // came the first time went with its temporary file).
        if (!listed || listed->name != name || error.Expected() != listed->size)
            throw SiteError(kindOf(error), error.what());
        const std::int64_t now = fileSize(name);
        if (now < 0 || now == listed->size)
            throw SiteError(kindOf(error), error.what());
    } catch (const ftp::EFtpException& error) {
        throw SiteError(kindOf(error), error.what());
    }
    siteCall([&] { client_.RetrieveFile(name, localPath, overwrite, false); });
}

void FtpSite::abort()
{
    siteCall([&] { client_.AbortTransfer(); });
}

void FtpSite::interrupt() noexcept
{
    client_.Interrupt();
}

void FtpSite::disconnect()
{
    siteCall([&] { client_.Disconnect(); });
}

bool FtpSite::connected()
{
    return client_.IsConnected();
}

bool FtpSite::blocked() const
{
    return client_.IsBusy();
}

std::optional<SiteIdentity> FtpSite::identity() const
{
    const ftp::TFtpCertificateInfo& certificate = client_.PeerCertificate();
    if (certificate.Empty())
        return std::nullopt;
    return certificateIdentity(certificate, certificate.Fingerprint);
}

QString FtpSite::scheme() const
{
    return QStringLiteral("ftp://");
}

int FtpSite::port() const
{
    return client_.Port();
}

// Implicit TLS has 990 for its own, but an address that begins "ftp://" says
// 21 to whoever reads it: any other port is named.
int FtpSite::schemePort() const
{
    return 21;
}

} // namespace taskhaul
