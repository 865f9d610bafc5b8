#pragma once

// The SFTP site: a job's server reached over SSH, through TSftpClient. SFTP
// knows no current folder: the site keeps the folder it entered and names
// every file below it. The host key is checked against ~/.ssh/known_hosts and
// the fingerprint the job trusts; sign-in tries the SSH agent, the job's key
// file, then the password.

#include "transfer/remote_site.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace taskhaul {

namespace sftp {
class TSftpClient;
struct TSftpLimits;
} // namespace sftp

// The port a job's text names for SFTP: the port left at FTP's 21 means 22.
// Raises InvalidIntegerError for a text that is no number, SiteError
// (JobUnusable) for a number outside 1 to 65535.
int sftpPort(const QString& text);

class SftpSite : public RemoteSite {
public:
    // `pump` runs between the client's waits, at most 20 ms apart.
    explicit SftpSite(std::function<void()> pump);
    // With other time and size limits than the product's (tests).
    SftpSite(std::function<void()> pump, const sftp::TSftpLimits& limits);
    ~SftpSite() override;
    SftpSite(const SftpSite&) = delete;
    SftpSite& operator=(const SftpSite&) = delete;

    void configure(const JobSettings& job, const QString& trusted) override;
    SiteConnected connect() override;
    void enterFolder(const std::string& folder) override;
    RemoteListing list(const JobSettings& job, const std::function<void(const QString&)>& log) override;
    std::int64_t fileSize(const std::string& name) override;
    std::optional<RemoteStamp> fileTime(
        const std::string& name, const std::optional<RemoteStamp>& listed) override;
    void retrieve(const std::string& name, const std::string& localPath, bool overwrite) override;
    void abort() override;
    void disconnect() override;
    bool connected() override;
    bool blocked() const override;
    std::optional<SiteIdentity> identity() const override;
    QString scheme() const override;
    int port() const override { return port_; }
    int schemePort() const override { return 22; }

private:
    // Runs a client operation: the client's failures become SiteErrors, and
    // a connection that ended meanwhile is told to onDisconnected.
    void run(const std::function<void()>& operation);
    // Tells onDisconnected once when the connection it knew open has ended.
    void noticeEnd();
    // `name` below the entered folder.
    std::string pathOf(const std::string& name) const;

    std::unique_ptr<sftp::TSftpClient> client_;
    // The entered folder as the server names it; empty: the login folder.
    std::string folder_;
    // A connection was made and its end not yet told.
    bool open_ = false;
    // The port the configured connection goes to.
    int port_ = 0;
    // What the last fileSize's stat said, for a fileTime of the same file.
    struct Stat {
        std::string name;
        std::optional<RemoteStamp> time;
    };
    std::optional<Stat> lastStat_;
};

} // namespace taskhaul
