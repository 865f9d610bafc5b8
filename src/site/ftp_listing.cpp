#include "site/ftp_listing.h"

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

std::optional<RemoteStamp> stampFromListing(const ftp::TFtpListItem& item)
{
    const ftp::ListDateTime& d = item.ModifiedDate;
    if (!item.ModifiedAvailable || d.isZero())
        return std::nullopt;
    const QDate date(d.year, d.month, d.day);
    const QTime time(d.hour, d.minute, d.second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    RemoteStamp stamp;
    stamp.utc = QDateTime(date, time, Qt::UTC);
    if (item.ModifiedExactUtc) {
        stamp.exactUtc = true;
        return stamp;
    }
    stamp.precision = d.hour == 0 && d.minute == 0 && d.second == 0 ? RemoteStamp::Precision::Day
        : d.second == 0                                             ? RemoteStamp::Precision::Minute
                                                                    : RemoteStamp::Precision::Second;
    return stamp;
}

std::optional<RemoteStamp> stampFromMdtm(const std::string& replyText)
{
    // The reply's text is the time alone ("20240301123456", RFC 3659), perhaps
    // with fractions of a second.
    std::string text = replyText;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    if (text.size() < 14)
        return std::nullopt;
    for (std::size_t i = 0; i < 14; ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    if (text.size() > 14 && text[14] != '.')
        return std::nullopt;
    const QDateTime utc
        = QDateTime::fromString(QString::fromLatin1(text.data(), 14), QStringLiteral("yyyyMMddHHmmss"));
    if (!utc.isValid())
        return std::nullopt;
    return RemoteStamp { QDateTime(utc.date(), utc.time(), Qt::UTC), RemoteStamp::Precision::Second, true };
}

RemoteEntry remoteEntryFrom(const ftp::TFtpListItem& item)
{
    RemoteEntry entry;
    entry.name = item.FileName;
    entry.plainFile = item.ItemType == ftp::ItemType::File;
    entry.kindName = ftp::itemTypeName(item.ItemType);
    entry.size = item.SizeAvailable ? item.Size : -1;
    entry.time = stampFromListing(item);
    return entry;
}

} // namespace taskhaul
