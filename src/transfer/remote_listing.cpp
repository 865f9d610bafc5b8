#include "transfer/remote_listing.h"

#include "log/one_line.h"
#include "transfer/file_plan.h"

#include <string>
#include <vector>

namespace taskhaul {

ListingCommand listingCommandFor(const JobSettings& job, const ftp::TFtpClient& client)
{
    // Only the freshness checks need exact times and sizes; every other job keeps
    // the plain LIST sequence.
    const bool checksFreshness = comparesWithLocalCopy(job) || job.settleSeconds > 0;
    return checksFreshness && client.IsFeatureSupported("MLST") ? ListingCommand::Mlsd : ListingCommand::List;
}

QString listingCommandName(ListingCommand command)
{
    return command == ListingCommand::Mlsd ? QStringLiteral("MLSD") : QStringLiteral("LIST");
}

ListingCommand listRemoteFolder(
    ftp::TFtpClient& client, const JobSettings& job, const std::function<void(const QString&)>& log)
{
    std::vector<std::string> lines;
    if (listingCommandFor(job, client) == ListingCommand::Mlsd) {
        try {
            client.ListFolderMachine(lines);
            return ListingCommand::Mlsd;
        } catch (const ftp::EFtpReplyError& error) {
            // The server said no (some offer MLST but not MLSD, or not in every
            // folder); the connection is fine for LIST.
            log(QStringLiteral("WARNING: The server refused MLSD (%1 %2); listing with LIST instead.")
                    .arg(error.ReplyCode())
                    .arg(oneLine(std::string_view(error.what()))));
        }
    }
    client.ListFolder(lines, std::string(), true);
    return ListingCommand::List;
}

} // namespace taskhaul
