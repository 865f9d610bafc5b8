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
    ProtocolSites(Factory ftp, Factory sftp);

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
};

} // namespace taskhaul
