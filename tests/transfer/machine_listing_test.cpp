// Runs that check files for freshness list the folder with MLSD where the server
// offers it: the facts give exact UTC times and sizes, so that unchanged files
// need no question per file.

#include "engine_fixture.h"

#include "site/ftp_listing.h"
#include "transfer/freshness.h"

namespace taskhaul::test {
namespace {

using Strings = std::vector<std::string>;

const std::string kFeaturesWithMlst
    = "211-Features:\r\n MDTM\r\n SIZE\r\n MLST type*;size*;modify*;unique*;\r\n211 End\r\n";

QDateTime utc(int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second), Qt::UTC);
}

class MachineListing : public EngineFixture {
protected:
    void SetUp() override
    {
        server.setFeatures(kFeaturesWithMlst);
        server.setListing(unixFile("a.txt", 5));
        server.addFile("a.txt", "alpha");
        connectToSite();
    }

    // The MLSD answer of the scripted server.
    void answerMlsd(std::string text)
    {
        server.on("MLSD",
            [text](FtpSession& s, const std::string&) { s.runTransfer(DataPlan {}, text, false, {}); });
    }

    static std::size_t countOf(const Strings& sent, const std::string& verb)
    {
        return static_cast<std::size_t>(std::count_if(
            sent.begin(), sent.end(), [&verb](const std::string& line) { return line.rfind(verb, 0) == 0; }));
    }
};

// a.txt is unchanged to the second (at midnight, which a listing's day-only date
// could not tell); " spaced name.txt " is new; the folder's own entries and the
// sub-folder are no files; the unique facts change nothing.
TEST_F(MachineListing, OnlyNewerAsksNothingPerUnchangedFileAndKeepsNamesExact)
{
    answerMlsd("type=cdir;modify=20240301000000;unique=801U1; /pub\r\n"
               "type=pdir;modify=20240301000000;unique=801U0; ..\r\n"
               "type=file;size=5;modify=20240301000000;unique=801U2; a.txt\r\n"
               "type=file;size=6;modify=20240302090000;unique=801U3;  spaced name.txt \r\n"
               "type=dir;modify=20240301000000;unique=801U4; sub\r\n");
    server.addFile(" spaced name.txt ", "bravo!");
    host.settings.onlyNewer = true;
    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 0, 0));

    engine.transferAllFiles();

    EXPECT_EQ(sentSinceConnect(),
        (Strings { "PASV", "MLSD", "SIZE  spaced name.txt ", "PASV", "RETR  spaced name.txt " }));
    EXPECT_EQ(localFiles(), QStringList({ QStringLiteral(" spaced name.txt "), QStringLiteral("a.txt") }));
    EXPECT_EQ(localContent(QStringLiteral(" spaced name.txt ")), "bravo!");
    // The copy takes the listed time, exact, for the next run to compare.
    EXPECT_EQ(localFileState(localPath(QStringLiteral(" spaced name.txt "))).modifiedUtc, utc(2, 9, 0));
    ASSERT_EQ(engine.lastRun().passedOver.size(), 1u);
    EXPECT_EQ(engine.lastRun().passedOver.front().remoteName, "a.txt");
    EXPECT_TRUE(engine.lastRun().complete());

    // The next run has nothing to ask at all.
    const std::size_t before = server.commands().size();
    engine.transferAllFiles();
    const Strings all = server.commands();
    EXPECT_EQ(
        Strings(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), (Strings { "PASV", "MLSD" }));
    EXPECT_EQ(engine.lastRun().passedOver.size(), 2u);
}

TEST_F(MachineListing, SettleTimeTakesTheListedTimeWithoutMdtm)
{
    // The fake clock reads 2024-03-15 10:30 local time.
    const QDateTime now = QDateTime(QDate(2024, 3, 15), QTime(10, 30)).toUTC();
    const auto fact
        = [](const QDateTime& time) { return time.toString(QStringLiteral("yyyyMMddHHmmss")).toStdString(); };
    answerMlsd("type=file;size=5;modify=" + fact(now.addSecs(-10)) + "; a.txt\r\n"
        + "type=file;size=6;modify=" + fact(now.addSecs(-600)) + "; b.txt\r\n");
    server.addFile("b.txt", "bravo!");
    host.settings.settleSeconds = 60;

    engine.transferAllFiles();

    EXPECT_EQ(retrieved(), (Strings { "b.txt" }));
    EXPECT_TRUE(host.log.contains(QStringLiteral("WARNING: File skipped: The file is still being written.")));
    EXPECT_EQ(countOf(sentSinceConnect(), "MDTM"), 0u);
    EXPECT_EQ(countOf(sentSinceConnect(), "LIST"), 0u);
}

TEST_F(MachineListing, AServerThatRefusesMlsdIsListedWithListOnce)
{
    server.reply("MLSD", "500 MLSD not understood.\r\n");
    server.on("MDTM", [](FtpSession& s, const std::string&) { s.send("213 20240301120000\r\n"); });
    host.settings.onlyNewer = true;

    engine.transferAllFiles();

    const Strings sent = sentSinceConnect();
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(Strings(sent.begin(), sent.begin() + 6),
        (Strings { "PASV", "MLSD", "TYPE A", "PASV", "LIST", "TYPE I" }));
    EXPECT_EQ(countOf(sent, "MLSD"), 1u);
    EXPECT_EQ(countOf(sent, "LIST"), 1u);
    EXPECT_TRUE(host.log.contains(QStringLiteral(
        "WARNING: The server refused MLSD (500 MLSD not understood.); listing with LIST instead.")))
        << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_TRUE(engine.lastRun().complete()) << host.log.join(QLatin1Char('\n')).toStdString();
}

// The LIST sequence stays where the freshness checks are off or the server does
// not offer MLST.
TEST_F(MachineListing, ListStaysWithoutFreshnessChecksOrWithoutMlst)
{
    struct Case {
        const char* what;
        bool onlyNewer;
        const char* features;
    };
    const Case cases[] = {
        { "no freshness check", false, kFeaturesWithMlst.c_str() },
        { "server without MLST", true, "211-Features:\r\n SIZE\r\n211 End\r\n" },
    };
    answerMlsd("type=file;size=5;modify=20240301120000; a.txt\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.setFeatures(c.features);
        client.Disconnect();
        connectToSite();
        host.settings.onlyNewer = c.onlyNewer;
        EXPECT_EQ(listingCommandFor(host.settings, client), ListingCommand::List);
        engine.transferAllFiles();
        const Strings sent = sentSinceConnect();
        ASSERT_GE(sent.size(), 4u);
        EXPECT_EQ(Strings(sent.begin(), sent.begin() + 4), (Strings { "TYPE A", "PASV", "LIST", "TYPE I" }));
        EXPECT_EQ(countOf(sent, "MLSD"), 0u);
    }
}

} // namespace
} // namespace taskhaul::test
