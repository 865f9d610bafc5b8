#pragma once

#include "ftp/ftp_client.h"
#include "transfer/remote_site.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace taskhaul {

// A site reached over FTP (plain or over TLS, directly or through a proxy):
// the FTP client behind the engine's site interface. It reads the job's FTP
// values (passive mode, proxy, security) and says nothing of them to the engine.
class FtpSite : public RemoteSite {
public:
    // The client is the caller's and outlives the site; its waits run the pump
    // it was made with.
    explicit FtpSite(ftp::TFtpClient& client);
    // A site with a client of its own, whose waits run `pump`.
    explicit FtpSite(std::function<void()> pump);
    ~FtpSite() override;
    FtpSite(const FtpSite&) = delete;
    FtpSite& operator=(const FtpSite&) = delete;

    void configure(const JobSettings& job, const QString& trusted) override;
    SiteConnected connect() override;
    void enterFolder(const std::string& folder) override;
    RemoteListing list(const JobSettings& job, const std::function<void(const QString&)>& log) override;
    std::int64_t fileSize(const std::string& name) override;
    void expectSize(const std::string& name, std::int64_t size) override;
    std::optional<RemoteStamp> fileTime(
        const std::string& name, const std::optional<RemoteStamp>& listed) override;
    void retrieve(const std::string& name, const std::string& localPath, bool overwrite) override;
    void abort() override;
    void interrupt() noexcept override;
    void disconnect() override;
    bool connected() override;
    bool blocked() const override;
    std::optional<SiteIdentity> identity() const override;
    QString scheme() const override;
    int port() const override;
    int schemePort() const override;

    ftp::TFtpClient& client() { return client_; }

private:
    void listen();

    // The size the listing gave for the next retrieval, taken instead of SIZE.
    struct ListedSize {
        std::string name;
        std::int64_t size = -1;
    };
    std::optional<ListedSize> listed_;

    std::unique_ptr<ftp::TFtpClient> ownClient_;
    ftp::TFtpClient& client_;
};

} // namespace taskhaul
