#include "ftp/ftp_client_impl.h"

#include "base/scope_exit.h"
#include "ftp/ftp_login.h"

#include <algorithm>

namespace taskhaul::ftp {

// ---- Construction and settings ----

TFtpClient::Impl::Impl(TFtpClient& owner, PumpHandler pumpHandler)
    : self(owner)
    , pump(std::move(pumpHandler))
    , control(limits, pump, abortRegistry, [this] {
        if (self.OnDisconnected)
            self.OnDisconnected(self);
    })
{
}

TFtpClient::TFtpClient(PumpHandler pump)
    : d(std::make_unique<Impl>(*this, std::move(pump)))
{
}

// No notification from a client that is going away: the control connection
// closes its socket silently.
TFtpClient::~TFtpClient() = default;

const std::string& TFtpClient::Host() const noexcept
{
    return d->host;
}
void TFtpClient::SetHost(std::string host)
{
    d->host = std::move(host);
}
int TFtpClient::Port() const noexcept
{
    return d->port;
}
void TFtpClient::SetPort(int port)
{
    d->port = port;
}
const std::string& TFtpClient::Username() const noexcept
{
    return d->username;
}
void TFtpClient::SetUsername(std::string user)
{
    d->username = std::move(user);
}
const std::string& TFtpClient::Password() const noexcept
{
    return d->password;
}
void TFtpClient::SetPassword(std::string password)
{
    d->password = std::move(password);
}
bool TFtpClient::AutoLogin() const noexcept
{
    return d->autoLogin;
}
void TFtpClient::SetAutoLogin(bool autoLogin)
{
    d->autoLogin = autoLogin;
}
bool TFtpClient::Passive() const noexcept
{
    return d->passive;
}
void TFtpClient::SetPassive(bool passive)
{
    d->passive = passive;
}
TFtpTransferType TFtpClient::TransferType() const noexcept
{
    return d->transferType;
}

void TFtpClient::Impl::SetTransferType(TFtpTransferType type)
{
    if (type == transferType || transferring)
        return;
    transferType = type;
    if (control.Valid())
        control.SendCommand(type == TFtpTransferType::ftBinary ? "TYPE I" : "TYPE A", { 200 });
}

void TFtpClient::SetTransferType(TFtpTransferType type)
{
    if (type == d->transferType || d->transferring)
        return;
    const auto operation = d->BeginOperation();
    d->SetTransferType(type);
}

int TFtpClient::TransferTimeout() const noexcept
{
    return d->transferTimeout;
}
void TFtpClient::SetTransferTimeout(int milliseconds)
{
    d->transferTimeout = std::max(0, milliseconds);
}
TFtpProxySettings& TFtpClient::ProxySettings() noexcept
{
    return d->proxy;
}
const TFtpProxySettings& TFtpClient::ProxySettings() const noexcept
{
    return d->proxy;
}
TFtpSecurity TFtpClient::Security() const noexcept
{
    return d->security;
}
void TFtpClient::SetSecurity(TFtpSecurity security)
{
    d->security = security;
}
const std::string& TFtpClient::TrustedFingerprint() const noexcept
{
    return d->trustedFingerprint;
}
void TFtpClient::SetTrustedFingerprint(std::string fingerprint)
{
    d->trustedFingerprint = std::move(fingerprint);
}
const TFtpCertificateInfo& TFtpClient::PeerCertificate() const noexcept
{
    return d->peerCertificate;
}
const TFtpLimits& TFtpClient::Limits() const noexcept
{
    return d->limits;
}
void TFtpClient::SetLimits(const TFtpLimits& limits)
{
    d->limits = limits;
}

const TFtpReply& TFtpClient::LastReply() const noexcept
{
    return d->control.LastReply();
}
const TFtpReply& TFtpClient::Greeting() const noexcept
{
    return d->greeting;
}
const std::vector<std::string>& TFtpClient::Capabilities() const noexcept
{
    return d->capabilities;
}
const std::string& TFtpClient::SystemDescription() const noexcept
{
    return d->systemDescription;
}

bool TFtpClient::IsBusy() const noexcept
{
    return d->busy;
}

// ---- Control connection ----

namespace {

// "<code> <text>" of a refusal, its lines joined by blanks.
std::string TlsRefusal(const TFtpReply& refusal)
{
    std::string text = refusal.ReplyCode;
    for (const auto& line : refusal.ReplyText)
        text += " " + line;
    return text;
}

} // namespace

void TFtpClient::Impl::StartTls(const std::string& endpointHost)
{
    const std::string trusted = NormalizeFingerprint(trustedFingerprint);
    if (!trustedFingerprint.empty() && trusted.empty())
        throw ECertificateError("The trusted certificate fingerprint is not 64 hex digits.", {});
    auto context = std::make_shared<const TTlsContext>(endpointHost, trusted);
    try {
        control.StartTls(std::move(context));
    } catch (...) {
        if (control.Tls())
            peerCertificate = control.Tls()->Certificate();
        throw;
    }
    peerCertificate = control.Tls()->Certificate();
}

void TFtpClient::Connect()
{
    const auto operation = d->BeginOperation();
    TControlConnection& control = d->control;
    if (control.Valid() || control.Connecting())
        throw EAlreadyConnected();
    control.BeginConnect();
    base::ScopeExit done { [&control]() noexcept { control.EndConnect(); } };
    const bool viaProxy = d->proxy.ProxyType != TFtpProxyType::fpcmNone && !d->proxy.Host.empty();
    const std::string& endpointHost = viaProxy ? d->proxy.Host : d->host;
    const int endpointPort = viaProxy ? d->proxy.Port : d->port;
    try {
        control.Open(endpointHost, endpointPort);
        d->greeting = {};
        d->capabilities.clear();
        d->systemDescription.clear();
        d->restartSupported.reset();
        d->sizeName.clear();
        d->sizeValue = -1;
        d->peerCertificate = {};

        if (d->security == TFtpSecurity::tlsImplicit)
            d->StartTls(endpointHost);
        control.ReadGreeting(d->security == TFtpSecurity::tlsExplicit ? &endpointHost : nullptr);
        d->greeting = control.LastReply();
        if (d->security == TFtpSecurity::tlsExplicit) {
            const int code = control.SendCommand("AUTH TLS", {});
            if (code != 234)
                throw ETlsError("The server refused TLS: " + TlsRefusal(control.LastReply()));
            d->StartTls(endpointHost);
        }
        if (d->autoLogin) {
            LogIn(control, LoginSettings { d->host, d->port, d->username, d->proxy }, d->password,
                d->transferType, d->capabilities);
            if (d->security != TFtpSecurity::tlsPlain) {
                // Data connections in TLS as well (RFC 4217); no buffer size.
                control.SendCommand("PBSZ 0", { 200 });
                control.SendCommand("PROT P", { 200 });
            }
            AfterLogin(control, d->greeting, d->capabilities, d->systemDescription);
        }
    } catch (...) {
        const auto cancel = control.PendingCancel();
        control.EndConnect();
        // The reason the connect failed is what the caller reports; a failure of
        // the disconnected notification must not replace it.
        try {
            control.Disconnect();
        } catch (...) {
        }
        if (cancel == TControlConnection::ConnectCancel::Abort)
            throw EOperationAborted();
        if (cancel == TControlConnection::ConnectCancel::Disconnect)
            throw ENotConnected(control.EverConnected());
        throw;
    }
}

void TFtpClient::Disconnect()
{
    // Called from the pump while Connect runs: that Connect ends.
    d->control.CancelConnect(TControlConnection::ConnectCancel::Disconnect);
    d->control.Disconnect();
}

bool TFtpClient::IsConnected()
{
    d->control.TakeWaiting();
    return d->control.Valid();
}

int TFtpClient::SendCommand(const std::string& command, std::initializer_list<int> allowed)
{
    return SendCommand(command, std::vector<int>(allowed));
}

int TFtpClient::SendCommand(const std::string& command, const std::vector<int>& allowed)
{
    const auto operation = d->BeginOperation();
    return d->control.SendCommand(command, allowed);
}

int TFtpClient::ReadReply(std::initializer_list<int> allowed)
{
    return ReadReply(std::vector<int>(allowed));
}

int TFtpClient::ReadReply(const std::vector<int>& allowed)
{
    const auto operation = d->BeginOperation();
    return d->control.ReadReply(allowed);
}

void TFtpClient::WriteCommandLine(const std::string& text)
{
    const auto operation = d->BeginOperation();
    d->control.WriteLine(text);
}

void TFtpClient::ChangeDirectory(const std::string& folder)
{
    const auto operation = d->BeginOperation();
    d->control.SendCommand("CWD " + folder, { 200, 250 });
}

bool TFtpClient::IsFeatureSupported(const std::string& feature) const
{
    return HasFeature(d->capabilities, feature);
}

} // namespace taskhaul::ftp
