#pragma once

// The remote side of a run, whatever protocol reaches it. The transfer engine,
// the plan and --preview talk to a site only through this interface; each
// protocol (FTP, SFTP) implements it and reads the job values that are its own
// (passive mode, proxy and TLS for FTP; key file and host key for SFTP).

#include "base/taskhaul_error.h"
#include "settings/job_settings.h"
#include "transfer/freshness.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul {

// One entry of a remote folder.
struct RemoteEntry {
    std::string name; // the server's bytes
    bool plainFile = false; // a plain file: the only kind a run fetches
    // The kind as --preview names it ("file", "dir", "link" ...).
    std::string kindName;
    std::int64_t size = -1; // below 0: not given
    std::optional<RemoteStamp> time;
};

// A folder's entries as the site listed them.
struct RemoteListing {
    std::vector<RemoteEntry> entries;
    // Why the server's listing ended early (the entries hold what came); empty
    // when it came whole.
    QString truncation;
    // Why some of it could not be read (the entries hold what was understood);
    // empty when all of it was.
    QString unreadable;
    // How it was listed, for --preview ("LIST", "MLSD", "SFTP").
    QString method;
};

// A failure of a site operation. `what()` is the text the user reads; the kind
// tells the engine what the failure means for the run.
class SiteError : public TaskhaulError {
public:
    enum class Kind {
        // The server answered, and said no (a file missing or refused); the
        // connection is fine.
        Refused,
        // The connection could not be made, or it was lost or timed out: a
        // retry later may succeed.
        Connection,
        // Stopped by abort() (Stop Transfer, a signal).
        Aborted,
        // A value of the job no connection can fix (a port outside its range).
        JobUnusable,
        // The server's identity was not vouched for: see SiteIdentityError.
        Identity,
        // The server takes no more at the moment (FTP's 421, or 425 for a
        // data connection: too many connections at once). A run over several
        // connections gives the file to another and goes on with fewer; with
        // one connection it is a refusal like any other.
        ServerLimit,
    };
    SiteError(Kind kind, const std::string& text)
        : TaskhaulError(text)
        , kind_(kind)
    {
    }
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What a site shows of the server's identity: a TLS certificate or an SSH host key.
struct SiteIdentity {
    enum class Kind { Certificate, HostKey };
    Kind kind = Kind::Certificate;
    // The fingerprint that the job keeps once the user trusts it (a certificate's
    // SHA-256 in hex; a host key's "SHA256:" and base64).
    QString fingerprint;
    // The same as a person compares it: colon pairs for a certificate, as
    // OpenSSH shows it for a host key.
    QString shownFingerprint;
    // Label and value lines a person reads before trusting it ("subject",
    // "issuer" ... or "key type").
    std::vector<std::pair<QString, QString>> details;
    // Whether and how it was vouched for ("ok", "known (in ~/.ssh/known_hosts)",
    // or why not), for --preview.
    QString verification;
};

// The connect refused the server's identity: unknown (the user may trust it)
// or changed since it was trusted or known (never asked; a warning of its own).
class SiteIdentityError : public SiteError {
public:
    SiteIdentityError(const std::string& text, QString reason, SiteIdentity identity, bool changed)
        : SiteError(Kind::Identity, text)
        , reason_(std::move(reason))
        , identity_(std::move(identity))
        , changed_(changed)
    {
    }
    // Why it was not vouched for, in the words of a question to the user.
    const QString& reason() const { return reason_; }
    const SiteIdentity& identity() const { return identity_; }
    bool changed() const { return changed_; }

private:
    QString reason_;
    SiteIdentity identity_;
    bool changed_;
};

// What a successful connect has to say besides being connected.
struct SiteConnected {
    // Lines for the activity log, before the line that says who connected.
    QStringList logLines;
    // The trusted fingerprint the job keeps is no longer needed (the server's
    // identity is now vouched for by the system): the job forgets it.
    bool trustedIdentityObsolete = false;
};

class RemoteSite {
public:
    virtual ~RemoteSite() = default;

    // Takes the job's values for the next connect. `trusted` is the fingerprint
    // the user trusts (the job's, or one just accepted). Raises SiteError
    // (JobUnusable) for a value no connection can use, or InvalidIntegerError
    // for a port text that is no number; nothing is sent then.
    virtual void configure(const JobSettings& job, const QString& trusted) = 0;
    // Connects to the configured site and logs in. Raises SiteError
    // (SiteIdentityError for an identity not vouched for).
    virtual SiteConnected connect() = 0;
    // Enters a remote folder (as the job names it).
    virtual void enterFolder(const std::string& folder) = 0;
    // Lists the current remote folder. The job says which facts the run needs
    // (exact times for the freshness checks); `log` hears warnings a run logs.
    virtual RemoteListing list(const JobSettings& job, const std::function<void(const QString&)>& log) = 0;
    // The size of a file as the server gives it now; below 0: none given.
    virtual std::int64_t fileSize(const std::string& name) = 0;
    // The size of a file as the listing gave it, taken instead of asking the
    // server: the next retrieve of the file is checked against it as against
    // fileSize's answer. A site that checks nothing ignores it.
    virtual void expectSize(const std::string& name, std::int64_t size)
    {
        (void)name;
        (void)size;
    }
    // The modification time of a file, as exact as the server can give it;
    // `listed` is the listing's, returned when the server offers nothing better.
    virtual std::optional<RemoteStamp> fileTime(
        const std::string& name, const std::optional<RemoteStamp>& listed)
        = 0;
    // Downloads a file into a temporary beside `localPath` and puts it in place
    // once complete (not over an existing file unless `overwrite`); on any
    // failure `localPath` stays as it was and no temporary is left.
    virtual void retrieve(const std::string& name, const std::string& localPath, bool overwrite) = 0;
    // Ends the operation in progress (Aborted), from inside the pump. Raises
    // SiteError when the site cannot be stopped now.
    virtual void abort() = 0;
    // Ends the operation in progress at once, from inside the pump, even with a
    // server that no longer answers: the connection is given up. For the stop
    // of a run over several connections, which waits for no server.
    virtual void interrupt() noexcept
    {
        try {
            abort();
        } catch (...) {
            // Nothing runs that could be stopped.
        }
    }
    virtual void disconnect() = 0;
    virtual bool connected() = 0;
    // A call of the site is waiting for the network now (the pump runs inside it).
    virtual bool blocked() const = 0;
    // The server's identity as the last connect saw it; nothing when it showed none.
    virtual std::optional<SiteIdentity> identity() const = 0;
    // How the log names the site's address: "ftp://" or "sftp://".
    virtual QString scheme() const = 0;
    // The port the configured connection goes to, and the port the scheme
    // implies (21 for "ftp://", 22 for "sftp://"): the log names the port only
    // when the two differ. 0: not known.
    virtual int port() const { return 0; }
    virtual int schemePort() const { return 0; }

    // Told when the connection ends (possibly more than once per connection).
    std::function<void()> onDisconnected;
    // Told of a download's bytes received so far; the pump runs after it.
    std::function<void(std::int64_t received)> onProgress;
};

// Gives the engine the site for a job: one per protocol, each kept for the
// connection it holds.
class SiteSource {
public:
    virtual ~SiteSource() = default;
    virtual RemoteSite& siteFor(const JobSettings& job) = 0;
    // A new site of the job's protocol for a further connection of a run. It
    // is used on one worker thread only, and its waits run `pump` there (at
    // most 50 ms apart); `pump` never touches the window or the log. Null: the
    // source makes no further sites, and runs keep to one connection.
    virtual std::unique_ptr<RemoteSite> newSite(const JobSettings& job, std::function<void()> pump)
    {
        (void)job;
        (void)pump;
        return nullptr;
    }
};

// One site for every job: a test's, or a program that speaks one protocol.
class SingleSite : public SiteSource {
public:
    explicit SingleSite(RemoteSite& site)
        : site_(site)
    {
    }
    RemoteSite& siteFor(const JobSettings&) override { return site_; }

private:
    RemoteSite& site_;
};

} // namespace taskhaul
