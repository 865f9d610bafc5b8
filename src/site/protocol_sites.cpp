#include "site/protocol_sites.h"

#include "site/ftp_site.h"
#include "site/sftp_site.h"

#include <stdexcept>
#include <utility>

namespace taskhaul {

ProtocolSites::ProtocolSites(Factory ftp, Factory sftp)
    : ftp_ { std::move(ftp), nullptr }
    , sftp_ { std::move(sftp), nullptr }
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
    if (job.protocol == JobSettings::Protocol::Sftp)
        return std::make_unique<SftpSite>(std::move(pump));
    return std::make_unique<FtpSite>(std::move(pump));
}

} // namespace taskhaul
