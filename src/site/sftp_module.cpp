// The SFTP module: the SFTP site and, behind it, the SFTP client and libssh.

#include "site/sftp_module.h"
#include "site/sftp_site.h"

extern "C" __attribute__((visibility("default"))) taskhaul::RemoteSite* taskhaulNewSftpSite(
    int interfaceVersion, const std::function<void()>& pump)
{
    if (interfaceVersion != taskhaulSftpInterface)
        return nullptr;
    return new taskhaul::SftpSite(pump);
}
