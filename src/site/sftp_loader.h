#pragma once

#include "transfer/remote_site.h"

#include <QString>

#include <functional>
#include <memory>

namespace taskhaul {

// Where the SFTP module is looked for: beside the running program, else in
// ../libexec/taskhaul/ (base::companionFilePath).
QString sftpModulePath();

// An SFTP site from the SFTP module, loaded on first use and kept loaded; its
// waits run `pump`. When the module cannot be loaded, a site that refuses to
// connect and says why (a job value no connection can fix).
std::unique_ptr<RemoteSite> loadSftpSite(std::function<void()> pump);
std::unique_ptr<RemoteSite> loadSftpSite(std::function<void()> pump, const QString& modulePath);

} // namespace taskhaul
