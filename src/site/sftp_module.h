#pragma once

// The entry point of the SFTP module (taskhaul-sftp.so), found by name when
// the module is loaded: a program that never meets an SFTP job never loads
// libssh and the Kerberos libraries it brings. The caller owns the site it
// returns; the module stays loaded for as long as the program runs.

#include "transfer/remote_site.h"

#include <functional>

#define TASKHAUL_SFTP_ENTRY "taskhaulNewSftpSite"

// Bumped whenever RemoteSite or this entry changes, so that a module left from
// another build is refused instead of called through a different table.
constexpr int taskhaulSftpInterface = 1;

extern "C" {
using TaskhaulSftpEntry = taskhaul::RemoteSite* (*)(int interfaceVersion, const std::function<void()>& pump);
}
