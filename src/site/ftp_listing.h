#pragma once

// How a run lists the remote folder: with MLSD where the job's freshness checks
// gain by its exact facts and the server offers it, with LIST otherwise.

#include "ftp/ftp_client.h"
#include "settings/job_settings.h"
#include "transfer/freshness.h"
#include "transfer/remote_site.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

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

// The time of a listing entry. Listings carry no time zone: like other clients,
// the server's clock is taken as UTC. A time of exactly midnight is read as a
// listing that shows the day only; a machine listing's time is exact, midnight
// included. Nothing when the entry has no date.
std::optional<RemoteStamp> stampFromListing(const ftp::TFtpListItem& item);

// The time of a "213 YYYYMMDDHHMMSS[.sss]" answer to MDTM (UTC); nothing when
// the text is not of that form.
std::optional<RemoteStamp> stampFromMdtm(const std::string& replyText);

// A listing entry as the engine sees it: the name's bytes, whether it is a plain
// file, its kind's name, size and time.
RemoteEntry remoteEntryFrom(const ftp::TFtpListItem& item);

} // namespace taskhaul
