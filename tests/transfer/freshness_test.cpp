#include "site/ftp_listing.h"
#include "transfer/freshness.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace taskhaul {
namespace {

using Precision = RemoteStamp::Precision;

QDateTime utc(int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second), Qt::UTC);
}

TEST(Freshness, MdtmRepliesGiveExactUtcTimes)
{
    const auto exact = stampFromMdtm("20240301123456");
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->utc, utc(1, 12, 34, 56));
    EXPECT_EQ(exact->precision, Precision::Second);
    EXPECT_EQ(stampFromMdtm("20240301123456.789")->utc, utc(1, 12, 34, 56));
    for (const char* bad :
        { "", "2024030112345", "20241301123456", "2024030112345x", "20240301123456 GMT", "x" })
        EXPECT_FALSE(stampFromMdtm(bad)) << bad;
}

TEST(Freshness, ListingTimesKnowTheirPrecision)
{
    ftp::TFtpListItem item;
    item.ModifiedDate = { 2024, 3, 1, 12, 34, 0 };
    EXPECT_EQ(stampFromListing(item)->precision, Precision::Minute);
    item.ModifiedDate = { 2024, 3, 1, 0, 0, 0 };
    EXPECT_EQ(stampFromListing(item)->precision, Precision::Day);
    item.ModifiedDate = { 2024, 3, 1, 12, 34, 5 };
    EXPECT_EQ(stampFromListing(item)->precision, Precision::Second);
    EXPECT_FALSE(stampFromListing(item)->exactUtc);
    // A machine listing's midnight is a time like any other.
    item.ModifiedDate = { 2024, 3, 1, 0, 0, 0 };
    item.ModifiedExactUtc = true;
    EXPECT_EQ(stampFromListing(item)->precision, Precision::Second);
    EXPECT_TRUE(stampFromListing(item)->exactUtc);
    item.ModifiedAvailable = false;
    EXPECT_FALSE(stampFromListing(item));
}

TEST(Freshness, UnchangedOnlyWithTheSameSizeAndANotOlderCopyAtTheRemotePrecision)
{
    struct Case {
        const char* what;
        LocalFileState local;
        std::int64_t remoteSize;
        RemoteStamp remote;
        bool unchanged;
    };
    const Case cases[] = {
        { "same size, newer copy", { true, 10, utc(2, 8, 0) }, 10, { utc(1, 12, 34, 56) }, true },
        { "same size, same second", { true, 10, utc(1, 12, 34, 56) }, 10, { utc(1, 12, 34, 56) }, true },
        { "same size, older copy", { true, 10, utc(1, 12, 34, 55) }, 10, { utc(1, 12, 34, 56) }, false },
        { "other size", { true, 11, utc(2, 8, 0) }, 10, { utc(1, 12, 34, 56) }, false },
        { "no copy", {}, 10, { utc(1, 12, 0) }, false },
        { "size unknown", { true, 10, utc(2, 8, 0) }, -1, { utc(1, 12, 0) }, false },
        { "minute listing, copy earlier in that minute", { true, 10, utc(1, 12, 34, 1) }, 10,
            { utc(1, 12, 34), Precision::Minute }, true },
        { "day listing, copy earlier that day", { true, 10, utc(1, 1, 0) }, 10,
            { utc(1, 0, 0), Precision::Day }, true },
        { "day listing, copy of the day before", { true, 10, utc(1, 0, 0).addSecs(-1) }, 10,
            { utc(1, 0, 0), Precision::Day }, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(unchangedSinceLastTransfer(c.local, c.remoteSize, c.remote), c.unchanged) << c.what;
}

TEST(Freshness, StillBeingWrittenWhenTheSizeMovesOrTheTimeIsRecent)
{
    const QDateTime now = utc(1, 12, 0);
    const RemoteStamp recent { now.addSecs(-20) };
    const RemoteStamp settled { now.addSecs(-120) };
    EXPECT_FALSE(stillBeingWritten(5, 7, recent, now, 0)); // off
    EXPECT_TRUE(stillBeingWritten(5, 7, settled, now, 60)); // grew since the listing
    EXPECT_TRUE(stillBeingWritten(7, 7, recent, now, 60));
    EXPECT_FALSE(stillBeingWritten(7, 7, settled, now, 60));
    EXPECT_FALSE(stillBeingWritten(-1, 7, std::nullopt, now, 60));
    // A minute-precise time could be up to a minute later than listed.
    EXPECT_TRUE(stillBeingWritten(7, 7, RemoteStamp { now.addSecs(-100), Precision::Minute }, now, 60));
    EXPECT_FALSE(stillBeingWritten(7, 7, RemoteStamp { utc(1, 0, 0), Precision::Day }, now, 86400));
}

TEST(Freshness, ADownloadTakesTheRemoteTime)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    ASSERT_TRUE(setModificationTime(path, utc(1, 12, 34, 56)));
    const LocalFileState state = localFileState(path);
    EXPECT_TRUE(state.exists);
    EXPECT_EQ(state.size, 3);
    EXPECT_EQ(state.modifiedUtc, utc(1, 12, 34, 56));
    EXPECT_FALSE(localFileState(dir.path()).exists); // a folder is no copy
}

} // namespace
} // namespace taskhaul
