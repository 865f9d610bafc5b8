#pragma once

// How a run lists the remote folder: with MLSD where the job's freshness checks
// gain by its exact facts and the server offers it, with LIST otherwise.

#include "ftp/ftp_client.h"
#include "settings/job_settings.h"

#include <QString>

#include <functional>

namespace taskhaul {

enum class ListingCommand { List, Mlsd };

// MLSD when the job compares with the local copy or waits for files to settle
// and the server's FEAT lists MLST; LIST otherwise (the listing every server knows).
ListingCommand listingCommandFor(const JobSettings& job, const ftp::TFtpClient& client);

// "LIST" or "MLSD".
QString listingCommandName(ListingCommand command);

// Lists the current remote folder with the command listingCommandFor chooses.
// A server that offers MLST but refuses MLSD gets one LIST instead, and `log`
// is told why. Returns the command whose listing the client now holds; any
// other failure propagates as the client raised it.
ListingCommand listRemoteFolder(
    ftp::TFtpClient& client, const JobSettings& job, const std::function<void(const QString&)>& log);

} // namespace taskhaul
