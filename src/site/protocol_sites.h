#pragma once

// The engine's source of sites: one site per protocol, made when a job of
// that protocol first needs it and kept, with its connection, after that.

#include "transfer/remote_site.h"

#include <functional>
#include <memory>

namespace taskhaul {

class ProtocolSites : public SiteSource {
public:
    using Factory = std::function<std::unique_ptr<RemoteSite>()>;
    // Makes a further connection's site for a job, waiting with `pump`.
    using FurtherFactory
        = std::function<std::unique_ptr<RemoteSite>(const JobSettings& job, std::function<void()> pump)>;
    // Further sites are an FtpSite of their own, or an SFTP site from the SFTP module.
    ProtocolSites(Factory ftp, Factory sftp);
    ProtocolSites(Factory ftp, Factory sftp, FurtherFactory further);

    // The site for the job's protocol. Raises std::logic_error when its
    // factory makes none.
    RemoteSite& siteFor(const JobSettings& job) override;
    // A new FTP or SFTP site of its own, for a further connection of a run.
    std::unique_ptr<RemoteSite> newSite(const JobSettings& job, std::function<void()> pump) override;

private:
    struct Slot {
        Factory make;
        std::unique_ptr<RemoteSite> site;
    };
    Slot ftp_;
    Slot sftp_;
    FurtherFactory further_;
};

} // namespace taskhaul
