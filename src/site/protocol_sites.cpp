#include "site/protocol_sites.h"

#include "site/ftp_site.h"
#include "site/sftp_loader.h"

#include <stdexcept>
#include <utility>

namespace taskhaul {

ProtocolSites::ProtocolSites(Factory ftp, Factory sftp)
    : ProtocolSites(std::move(ftp), std::move(sftp), [](const JobSettings& job, std::function<void()> pump) {
        return job.protocol == JobSettings::Protocol::Sftp
            ? loadSftpSite(std::move(pump))
            : std::unique_ptr<RemoteSite>(std::make_unique<FtpSite>(std::move(pump)));
    })
{
}

ProtocolSites::ProtocolSites(Factory ftp, Factory sftp, FurtherFactory further)
    : ftp_ { std::move(ftp), nullptr }
    , sftp_ { std::move(sftp), nullptr }
    , further_(std::move(further))
{
}

RemoteSite& ProtocolSites::siteFor(const JobSettings& job)
{
    Slot& slot = job.protocol == JobSettings::Protocol::Sftp ? sftp_ : ftp_;
    if (!slot.site) {
        if (slot.make)
            slot.site = slot.make();
        if (!slot.site)
            throw std::logic_error("no site for the job's protocol");
    }
    return *slot.site;
}

std::unique_ptr<RemoteSite> ProtocolSites::newSite(const JobSettings& job, std::function<void()> pump)
{
    return further_ ? further_(job, std::move(pump)) : nullptr;
}

} // namespace taskhaul
