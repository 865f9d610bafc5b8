#include "engine_fixture.h"
#include "site/ftp_listing.h"
#include "site/protocol_sites.h"

#include "ftp/ftp_local_file.h"
#include "log/activity_log.h"
#include "log/silent_stop.h"
#include "transfer/file_plan.h"
#include "transfer/freshness.h"

#include <map>
#include <optional>

#include <sys/xattr.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

using Strings = std::vector<std::string>;

const QString kMismatch = QStringLiteral("WARNING: File count mismatch");

QString complete(const char* count)
{
    return QStringLiteral("Data transfer complete (") + QLatin1String(count) + QStringLiteral(" Bytes)");
}

class TransferRun : public EngineFixture {
protected:
    void SetUp() override { connectToSite(); }
};

TEST_F(TransferRun, AllFilesFetchesThePlainFilesOnlyInListingOrder)
{
    server.setListing("total 12\r\n" + unixFile("b.txt", 1536) + unixFolder("sub") + unixLink("link", "b.txt")
        + unixFile("a.txt", 0) + unixFile("nosize.bin", 4096));
    server.addFile("b.txt", std::string(1536, 'b'));
    server.addFile("a.txt", "");
    server.addFile("nosize.bin", std::string(4096, 'n'));
    server.on("SIZE", [](FtpSession& s, const std::string& name) {
        s.send(name == "nosize.bin" ? "550 No size here.\r\n"
                : name == "a.txt"   ? "213 0\r\n"
                                    : "213 1536\r\n");
    });
    engine.setUnattended(false);

    showing([&] { engine.transferAllFiles(); });

    EXPECT_EQ(host.log,
        QStringList({ transferring(QStringLiteral("b.txt"), QStringLiteral("b.txt")), complete("1,536"),
            transferring(QStringLiteral("a.txt"), QStringLiteral("a.txt")), complete("0"),
            transferring(QStringLiteral("nosize.bin"), QStringLiteral("nosize.bin")), complete("4,096") }));
    EXPECT_EQ(sentSinceConnect(),
        (Strings { "TYPE A", "PASV", "LIST", "TYPE I", "SIZE b.txt", "PASV", "RETR b.txt", "SIZE a.txt",
            "PASV", "RETR a.txt", "SIZE nosize.bin", "PASV", "RETR nosize.bin" }));
    EXPECT_EQ(localFiles(),
        QStringList({ QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("nosize.bin") }));
    EXPECT_EQ(localContent(QStringLiteral("b.txt")), QByteArray(1536, 'b'));
    EXPECT_EQ(localContent(QStringLiteral("a.txt")), QByteArray());
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Transfer Completed") }));
    EXPECT_EQ(host.controls,
        QStringList({ QStringLiteral("busy"), QStringLiteral("stop on"), QStringLiteral("stop off"),
            QStringLiteral("normal") }));
    EXPECT_EQ(host.status, complete("4,096"));
    EXPECT_FALSE(engine.transferRunning());
}

// Each download is announced as it begins with its planned file, the local
// name it gets and its size: the server's answer to SIZE, else the listing's.
// A file whose copy exists is announced too: the retrieval itself refuses it,
// and the sequence, which does not move, names the next file alike.
TEST_F(TransferRun, EachDownloadIsAnnouncedWithItsLocalNameAndSize)
{
    server.setListing(unixFile("a.txt", 11) + unixFile("b.txt", 22) + unixFile("c.txt", 33));
    server.addFile("a.txt", "alpha");
    server.addFile("b.txt", "bravo");
    server.addFile("c.txt", "charlie");
    server.on("SIZE", [](FtpSession& s, const std::string& name) {
        s.send(name == "a.txt" ? "213 5\r\n" : "550 No size here.\r\n");
    });
    host.settings.fileName = QStringLiteral("*.txt");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("n[seq].txt");
    host.settings.sequenceStart = 1;
    host.settings.overwrite = false;
    QFile existing(localPath(QStringLiteral("n2.txt")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    struct Started {
        std::string remoteName;
        std::string localName;
        std::int64_t size;
        bool operator==(const Started&) const = default;
    };
    std::vector<Started> started;
    engine.setFileStartedHandler([&started](const FileStarted& file) {
        started.push_back({ file.file.remoteName, file.localName, file.size });
    });

    showing([&] { engine.transferOneFile(); });

    // b.txt and c.txt meet the copy n2.txt and are refused by the retrieval.
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_TRUE(started
        == (std::vector<Started> {
            { "a.txt", "n1.txt", 5 }, { "b.txt", "n2.txt", 22 }, { "c.txt", "n2.txt", 33 } }))
        << started.size();
}

TEST_F(TransferRun, OneFileFetchesMatchingPlainFilesCaseIgnored)
{
    server.setListing(unixFile("README.TXT", 3) + unixFolder("logs.txt") + unixFile("notes.txt", 2)
        + unixFile("image.png", 1) + unixLink("l.txt", "notes.txt"));
    server.addFile("README.TXT", "abc");
    server.addFile("notes.txt", "no");
    host.settings.fileName = QStringLiteral("*.txt");
    engine.setUnattended(false);

    showing([&] { engine.transferOneFile(); });

    EXPECT_EQ(retrieved(), (Strings { "README.TXT", "notes.txt" }));
    EXPECT_EQ(host.log,
        QStringList({ transferring(QStringLiteral("README.TXT"), QStringLiteral("README.TXT")), complete("3"),
            transferring(QStringLiteral("notes.txt"), QStringLiteral("notes.txt")), complete("2") }));
    // One-file runs keep the transfer type the connection has.
    const Strings sent = sentSinceConnect();
    EXPECT_EQ(sent.front(), "TYPE A");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "TYPE I"), 1);
    EXPECT_EQ(host.controls,
        QStringList({ QStringLiteral("busy"), QStringLiteral("stop on"), QStringLiteral("stop on"),
            QStringLiteral("stop off"), QStringLiteral("stop on"), QStringLiteral("stop off"),
            QStringLiteral("stop off"), QStringLiteral("normal") }));
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Data transfer completed") }));
}

TEST_F(TransferRun, NothingToFetchEndsWithTheBoxThatSaysSo)
{
    const QString noMatch = QStringLiteral("No file on the site matches \"*.txt\".");
    struct Case {
        const char* what;
        std::string listing;
        bool oneFile;
        QString box;
        QStringList log;
    };
    const Case cases[] = {
        { "empty folder, all files", "", false, QStringLiteral("Transfer Completed"), {} },
        { "empty folder, one file", "", true, noMatch, { noMatch } },
        { "no match", unixFile("a.csv", 1) + unixFolder("b.txt"), true, noMatch, { noMatch } },
        { "only folders and links", unixFolder("d") + unixLink("l", "d/"), false,
            QStringLiteral("Transfer Completed"), {} },
    };
    host.settings.fileName = QStringLiteral("*.txt");
    engine.setUnattended(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.log.clear();
        host.boxes.clear();
        server.setListing(c.listing);
        showing([&] { c.oneFile ? engine.transferOneFile() : engine.transferAllFiles(); });
        EXPECT_EQ(host.log, c.log);
        EXPECT_EQ(host.boxes.texts(), QStringList({ c.box }));
        EXPECT_EQ(host.boxes.shown().front().kind, RecordingMessageBoxes::Kind::Information);
        EXPECT_EQ(engine.lastRun().nothingMatched, c.oneFile);
        EXPECT_TRUE(engine.lastRun().complete());
    }
    EXPECT_TRUE(retrieved().empty());
}

TEST_F(TransferRun, SkippedFilesEndWithAWarningThatCountsThemNotWithSuccess)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("missing.txt", 1) + unixFile("b.txt", 1));
    server.addFile("a.txt", "a");
    server.addFile("b.txt", "b");
    engine.setUnattended(false);
    const QString warning
        = QStringLiteral("Transfer finished, but %1 file(s) were skipped. See the activity log "
                         "for details.");

    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(host.boxes.texts(), QStringList({ warning.arg(1) }));
    EXPECT_EQ(host.boxes.shown().front().kind, RecordingMessageBoxes::Kind::Warning);
    EXPECT_EQ(engine.lastRun().fetched, 2);
    ASSERT_EQ(engine.lastRun().skipped.size(), 1u);
    EXPECT_EQ(engine.lastRun().skipped.front().remoteName, "missing.txt");
    EXPECT_FALSE(engine.lastRun().complete());

    // A local folder that is gone skips every file.
    host.boxes.clear();
    host.settings.localFolder = local.path() + QStringLiteral("/gone");
    host.settings.fileName = QStringLiteral("*.txt");
    showing([&] { engine.transferOneFile(); });
    EXPECT_EQ(host.boxes.texts(), QStringList({ warning.arg(3) }));
    EXPECT_EQ(engine.lastRun().fetched, 0);
}

TEST_F(TransferRun, ALogThatFailsAfterAGoodDownloadDoesNotMakeTheFileASkip)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("b.txt", 1));
    server.addFile("a.txt", "a");
    server.addFile("b.txt", "b");
    host.settings.fileName = QStringLiteral("*.txt");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("n[seq]");
    host.settings.sequenceStart = 3;
    host.onLog = [](const QString& line) {
        if (line.startsWith(QStringLiteral("Data transfer complete")))
            throw LogWriteError(QStringLiteral("Disk full"), QStringLiteral("/log"), ENOSPC);
    };

    EXPECT_THROW(engine.transferOneFile(), LogWriteError);

    EXPECT_EQ(localContent(QStringLiteral("n3")), QByteArray("a"));
    EXPECT_EQ(host.settings.sequenceStart, 4);
    EXPECT_EQ(engine.lastRun().fetched, 1);
    EXPECT_TRUE(engine.lastRun().skipped.empty());
    EXPECT_FALSE(host.log.join(QLatin1Char('\n')).contains(QStringLiteral("Skipped")));
    EXPECT_FALSE(engine.transferRunning());
}

TEST_F(TransferRun, AListingTheServerCutShortIsFetchedButNeverComplete)
{
    server.setListing(unixFile("a.txt", 1));
    server.addFile("a.txt", "a");
    DataPlan cutShort;
    cutShort.final = "226-Options: -l\r\n226 Output truncated to 10000 matches\r\n";
    server.setDataPlan("LIST", cutShort);
    engine.setUnattended(false);

    showing([&] { engine.transferAllFiles(); });

    EXPECT_EQ(host.log.first(),
        QStringLiteral(
            "WARNING: The server cut the listing short: Options: -l / Output truncated to 10000 matches"));
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_TRUE(engine.lastRun().listingIncomplete);
    EXPECT_FALSE(engine.lastRun().complete());
    ASSERT_EQ(host.boxes.shown().size(), 1u);
    EXPECT_EQ(host.boxes.shown().front().kind, RecordingMessageBoxes::Kind::Warning);
}

TEST_F(TransferRun, LeftoversOfAnEarlierCrashAreRemovedWhenTheRunStarts)
{
    for (const char* name : { ".a.txt.taskhaul-abcd1234", "keep.txt", ".b.txt.taskhaul-abcd1234" }) {
        QFile file(localPath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // Only the first carries the mark a download's temporary has.
    ASSERT_EQ(::setxattr(QFile::encodeName(localPath(QStringLiteral(".a.txt.taskhaul-abcd1234"))).constData(),
                  ftp::kDownloadTemporaryMark, "1", 1, 0),
        0);
    server.setListing("");

    showing([&] { engine.transferAllFiles(); });

    // The unmarked file of the same name form is not the program's to remove.
    EXPECT_EQ(localFiles(),
        QStringList({ QStringLiteral(".b.txt.taskhaul-abcd1234"), QStringLiteral("keep.txt") }));
    EXPECT_EQ(host.log,
        QStringList({ QStringLiteral(
            "Removed 1 unfinished download(s) left in the local folder by an earlier run.") }));
}

TEST_F(TransferRun, ATargetThatCouldNeverBePutInPlaceIsSkippedBeforeAnyByteIsFetched)
{
    const std::string longName(300, 'n');
    server.setListing(unixFile("taken", 1) + unixFile(longName, 1) + unixFile("ok.txt", 2));
    server.addFile("taken", "t");
    server.addFile(longName, "n");
    server.addFile("ok.txt", "ok");
    ASSERT_TRUE(QDir(local.path()).mkdir(QStringLiteral("taken")));

    showing([&] { engine.transferAllFiles(); });

    // Neither SIZE nor RETR for the two doomed files; the third is fetched.
    EXPECT_EQ(retrieved(), (Strings { "ok.txt" }));
    EXPECT_EQ(server.argumentsOf("SIZE"), (Strings { "ok.txt" }));
    const auto skipLine = [this](const QString& name, const char* reason) {
        return QStringLiteral("WARNING: File skipped: Cannot create file \"%1\". %2")
            .arg(localPath(name), QLatin1String(reason));
    };
    EXPECT_EQ(host.log.mid(0, 4),
        QStringList({ transferring(QStringLiteral("taken"), QStringLiteral("taken")),
            skipLine(QStringLiteral("taken"), "Is a directory"),
            transferring(QString::fromStdString(longName), QString::fromStdString(longName)),
            skipLine(QString::fromStdString(longName), "File name too long") }));
    ASSERT_EQ(engine.lastRun().skipped.size(), 2u);
    EXPECT_EQ(engine.lastRun().fetched, 1);
}

TEST_F(TransferRun, UnattendedRunsShowNoBox)
{
    server.setListing(unixFile("a.txt", 1));
    server.addFile("a.txt", "a");
    engine.setUnattended(true);
    showing([&] { engine.transferAllFiles(); });
    host.settings.fileName = QStringLiteral("zzz");
    showing([&] { engine.transferOneFile(); });
    EXPECT_TRUE(host.boxes.shown().empty());
}

TEST_F(TransferRun, RenameTargetWithAndWithoutOverwrite)
{
    server.setListing(unixFile("first.txt", 5) + unixFile("second.txt", 6));
    server.addFile("first.txt", "first");
    server.addFile("second.txt", "second");
    host.settings.fileName = QStringLiteral("*.txt");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("out.dat");

    host.settings.overwrite = true;
    showing([&] { engine.transferOneFile(); });
    EXPECT_EQ(localContent(QStringLiteral("out.dat")), QByteArray("second"));
    EXPECT_EQ(host.log[0], transferring(QStringLiteral("first.txt"), QStringLiteral("out.dat")));

    host.log.clear();
    QFile::remove(localPath(QStringLiteral("out.dat")));
    host.settings.overwrite = false;
    showing([&] { engine.transferOneFile(); });
    EXPECT_EQ(localContent(QStringLiteral("out.dat")), QByteArray("first"));
    EXPECT_EQ(host.log.last(), QStringLiteral("Warning! File Skipped: Destination file already exists."));
    EXPECT_EQ(host.status, QStringLiteral("Warning! File Skipped:Destination file already exists."));
    EXPECT_EQ(retrieved(), (Strings { "first.txt", "second.txt", "first.txt" }));
    EXPECT_EQ(localFiles(), QStringList({ QStringLiteral("out.dat") }));
}

TEST_F(TransferRun, SequenceAdvancesPerFetchedFileAndWrapsAndFailuresDoNotCount)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("missing.txt", 1) + unixFile("b.txt", 1));
    server.addFile("a.txt", "a");
    server.addFile("b.txt", "b");
    host.settings.fileName = QStringLiteral("*.txt");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("r[seq].dat");
    host.settings.sequenceStart = 999999;

    showing([&] { engine.transferOneFile(); });

    EXPECT_EQ(host.sequenceWrites, QList<int>({ 0, 1 }));
    EXPECT_EQ(localFiles(), QStringList({ QStringLiteral("r0.dat"), QStringLiteral("r999999.dat") }));
    EXPECT_EQ(localContent(QStringLiteral("r999999.dat")), QByteArray("a"));
    EXPECT_EQ(localContent(QStringLiteral("r0.dat")), QByteArray("b"));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Warning! File Skipped: missing.txt: No such file.")));
}

// Three files on the site, fetched as n5, n6 and n7 by a one-file job.
void numberThreeFilesFromFive(ScriptedFtpServer& server, JobSettings& job)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("b.txt", 1) + unixFile("c.txt", 1));
    for (const char* name : { "a.txt", "b.txt", "c.txt" })
        server.addFile(name, name);
    job.fileName = QStringLiteral("*.txt");
    job.rename = true;
    job.renameTo = QStringLiteral("n[seq]");
    job.sequenceStart = 5;
}

// A run reads the job once, when it starts: fields edited while it runs (or a
// sequence number put back by hand) change neither its names nor its numbering.
TEST_F(TransferRun, ARunKeepsTheJobAndSequenceItStartedWith)
{
    numberThreeFilesFromFive(server, host.settings);
    host.onStatus = [this](const QString& text) {
        if (!text.startsWith(QLatin1String("Transferring")))
            return;
        host.settings.renameTo = QStringLiteral("edited[seq]");
        host.settings.localFolder = QStringLiteral("/elsewhere");
        host.settings.sequenceStart = 100;
    };

    showing([&] { engine.transferOneFile(); });

    EXPECT_EQ(
        localFiles(), QStringList({ QStringLiteral("n5"), QStringLiteral("n6"), QStringLiteral("n7") }));
    EXPECT_EQ(host.sequenceWrites, QList<int>({ 6, 7, 8 }));
}

TEST_F(TransferRun, ResetOptionReturnsTheSequenceToItsStart)
{
    numberThreeFilesFromFive(server, host.settings);
    host.settings.resetSequence = true;
    engine.setUnattended(false);

    showing([&] { engine.transferOneFile(); });

    EXPECT_EQ(
        localFiles(), QStringList({ QStringLiteral("n5"), QStringLiteral("n6"), QStringLiteral("n7") }));
    EXPECT_EQ(host.sequenceWrites, QList<int>({ 6, 7, 8, 0, 5 }));
    EXPECT_EQ(host.settings.sequenceStart, 5);
}

TEST_F(TransferRun, EmptyTemplateStopsBeforeListing)
{
    host.settings.fileName.clear();
    for (const bool unattended : { false, true }) {
        engine.setUnattended(unattended);
        host.boxes.clear();
        host.log.clear();
        EXPECT_THROW(showing([&] { engine.transferOneFile(); }), SilentStop);
        EXPECT_EQ(host.log, QStringList({ QStringLiteral("Invalid file name specified.") }));
        EXPECT_EQ(host.boxes.texts(),
            unattended ? QStringList() : QStringList({ QStringLiteral("Invalid file name specified") }));
    }
    EXPECT_TRUE(sentSinceConnect().empty());
}

// A transfer on the connection of an earlier one that failed (an empty template,
// a refused listing) is judged by what it did itself.
TEST_F(TransferRun, AnEarlierTransfersFailureDoesNotFailTheNextOne)
{
    server.setListing(unixFile("a.txt", 5));
    server.addFile("a.txt", "alpha");
    engine.setUnattended(false);
    host.settings.fileName.clear();
    EXPECT_THROW(showing([&] { engine.transferOneFile(); }), SilentStop);
    ASSERT_FALSE(engine.lastRun().failure.isEmpty());

    host.settings.fileName = QStringLiteral("a.txt");
    host.boxes.clear();
    showing([&] { engine.transferOneFile(); });

    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_FALSE(engine.lastRun().failed());
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Data transfer completed") }));
}

TEST_F(TransferRun, UnsafeNamesFromTheServerAreNeverFetched)
{
    server.setListing(unixFile("..", 1) + unixFile("../escape.txt", 1) + unixFile("sub/inner.txt", 1)
        + unixFile("ok.txt", 2));
    server.addFile("ok.txt", "ok");
    struct Case {
        bool oneFile;
        const char* skipLine;
    };
    for (const Case c : { Case { false, "WARNING: File skipped: Unsafe file name." },
             Case { true, "Warning! File Skipped: Unsafe file name." } }) {
        host.log.clear();
        host.settings.fileName = QStringLiteral("*");
        showing([&] { c.oneFile ? engine.transferOneFile() : engine.transferAllFiles(); });
        EXPECT_EQ(host.log,
            QStringList({ transferring(QStringLiteral(".."), QStringLiteral("..")), QLatin1String(c.skipLine),
                transferring(QStringLiteral("../escape.txt"), QStringLiteral("../escape.txt")),
                QLatin1String(c.skipLine),
                transferring(QStringLiteral("sub/inner.txt"), QStringLiteral("sub/inner.txt")),
                QLatin1String(c.skipLine), transferring(QStringLiteral("ok.txt"), QStringLiteral("ok.txt")),
                complete("2") }));
    }
    EXPECT_EQ(retrieved(), (Strings { "ok.txt", "ok.txt" }));
    const Strings sent = sentSinceConnect();
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& l) { return l.rfind("SIZE", 0) == 0; }),
        2);
    EXPECT_FALSE(QFile::exists(local.path() + QStringLiteral("/../escape.txt")));
}

// A name holding control characters (here a terminal's colour sequence) is
// logged and shown with them escaped; the file keeps its real name.
TEST_F(TransferRun, ControlCharactersOfANameAreShownEscaped)
{
    const std::string name = "a\x1b[31mred\x7f.txt";
    server.setListing(unixFile(name, 3));
    server.addFile(name, "red");
    host.settings.remoteFolder = QString();
    showing([&] { engine.transferAllFiles(); });
    const QString shown = QStringLiteral("a\\x1B[31mred\\x7F.txt");
    EXPECT_EQ(host.log.value(0),
        QStringLiteral("Transferring ftp://127.0.0.1:%1/%2 => %3")
            .arg(server.port())
            .arg(shown, localPath(shown)));
    EXPECT_EQ(localContent(QString::fromUtf8(name)), "red");
}

TEST_F(TransferRun, LostConnectionSkipsEachRemainingFileWithTheClientsMessage)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("b.txt", 1));
    server.closeOn("SIZE");

    showing([&] { engine.transferAllFiles(); });

    ASSERT_EQ(host.log.size(), 4);
    EXPECT_EQ(host.log[1], QStringLiteral("WARNING: File skipped: Connection Closed Gracefully."));
    EXPECT_TRUE(host.log[3].startsWith(QStringLiteral("WARNING: File skipped: Not")));
    EXPECT_FALSE(host.log.contains(kMismatch));
}

TEST_F(TransferRun, FailedListingReachesTheCallerWithControlsRestored)
{
    server.reply("LIST", "550 Permission denied.\r\n");
    EXPECT_THROW(engine.transferAllFiles(), SiteError);
    EXPECT_TRUE(host.log.isEmpty());
    EXPECT_EQ(host.controls.back(), QStringLiteral("normal"));
    EXPECT_FALSE(engine.transferRunning());
}

// Stop Transfer pressed while a large file is arriving.
class StopTransfer : public TransferRun {
protected:
    void SetUp() override
    {
        TransferRun::SetUp();
        server.setListing(unixFile("big.bin", 1 << 20) + unixFile("after.txt", 1));
        server.addFile("big.bin", std::string(1 << 20, 'x'));
        server.addFile("after.txt", "z");
        DataPlan slow;
        slow.chunkSize = 16384;
        slow.chunkDelay = std::chrono::milliseconds(20);
        server.setDataPlan("big.bin", slow);
        // The first progress notification of the download lets the click through.
        host.onPendingEvents = [this] {
            const auto sent = sentSinceConnect();
            if (!clicked && !sent.empty() && sent.back() == "RETR big.bin") {
                clicked = true;
                engine.stopTransferCommand();
            }
        };
    }
    bool clicked = false;
};

TEST_F(StopTransfer, EndsTheRunWithNothingWrittenAndTheConnectionClosed)
{
    for (const bool oneFile : { false, true }) {
        SCOPED_TRACE(oneFile ? "one file" : "all files");
        if (!client.IsConnected())
            connectToSite();
        clicked = false;
        host.log.clear();
        host.boxes.clear();
        engine.setUnattended(false);
        host.settings.fileName = QStringLiteral("*");

        oneFile ? engine.transferOneFile() : engine.transferAllFiles();

        EXPECT_TRUE(clicked);
        EXPECT_EQ(host.log,
            QStringList({ transferring(QStringLiteral("big.bin"), QStringLiteral("big.bin")),
                QStringLiteral("Operation aborted"), QStringLiteral("alice disconnected from 127.0.0.1") }));
        EXPECT_EQ(host.status, QStringLiteral("Disconnected"));
        EXPECT_FALSE(engine.stopRequested());
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(localFiles().isEmpty());
        EXPECT_EQ(retrieved().back(), "big.bin");
        // "Operation aborted" has said it all: no completion box.
        EXPECT_TRUE(host.boxes.texts().isEmpty());
        EXPECT_TRUE(engine.lastRun().aborted);
        EXPECT_FALSE(engine.lastRun().complete());
        const Strings sent = sentSinceConnect();
        EXPECT_NE(std::find(sent.begin(), sent.end(), "ABOR"), sent.end());
        EXPECT_EQ(std::find(sent.begin(), sent.end(), "SIZE after.txt"), sent.end());
    }
}

// A download the user stops ends as stopped, with the bytes it had got, and
// the run is finished with the stop in its report; the files after it are not
// announced at all.
TEST_F(StopTransfer, AStoppedDownloadIsAnnouncedAsStopped)
{
    std::vector<std::string> events;
    std::int64_t received = 0;
    bool aborted = false;
    TransferEvents handlers;
    handlers.runStarted = [&] { events.push_back("run started"); };
    handlers.progress = [&](std::int64_t bytes) { received = bytes; };
    handlers.fileFinished = [&](const FileFinished& file) {
        events.push_back(file.remoteName
            + (file.outcome == FileFinished::Outcome::Stopped ? " stopped" : " ended otherwise"));
    };
    handlers.runFinished = [&](const RunReport& report) {
        events.push_back("run finished");
        aborted = report.aborted;
    };
    engine.setEvents(std::move(handlers));

    showing([&] { engine.transferAllFiles(); });

    ASSERT_TRUE(clicked);
    EXPECT_EQ(events, (Strings { "run started", "big.bin stopped", "run finished" }));
    EXPECT_GT(received, 0);
    EXPECT_LT(received, 1 << 20);
    EXPECT_TRUE(aborted);
}

TEST_F(StopTransfer, DisconnectDuringATransferStopsItBeforeClosingTheConnection)
{
    host.onPendingEvents = [this] {
        const auto sent = sentSinceConnect();
        if (!clicked && !sent.empty() && sent.back() == "RETR big.bin") {
            clicked = true;
            engine.disconnectCommand();
        }
    };
    showing([&] { engine.transferAllFiles(); });
    EXPECT_TRUE(clicked);
    EXPECT_EQ(host.log,
        QStringList({ transferring(QStringLiteral("big.bin"), QStringLiteral("big.bin")),
            QStringLiteral("Operation aborted"), QStringLiteral("alice disconnected from 127.0.0.1") }));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(localFiles().isEmpty());
}

TEST_F(StopTransfer, DoesNotAdvanceTheSequence)
{
    host.settings.fileName = QStringLiteral("*");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("n[seq]");
    host.settings.sequenceStart = 3;
    showing([&] { engine.transferOneFile(); });
    EXPECT_TRUE(host.sequenceWrites.isEmpty());
    EXPECT_TRUE(localFiles().isEmpty());
}

TEST_F(StopTransfer, DuringTheListingEndsTheRunQuietly)
{
    DataPlan slowListing;
    slowListing.chunkSize = 10;
    slowListing.chunkDelay = std::chrono::milliseconds(20);
    server.setDataPlan("LIST", slowListing);
    host.onPendingEvents = [this] {
        if (!clicked) {
            clicked = true;
            engine.stopTransferCommand();
        }
    };
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(host.log,
        QStringList(
            { QStringLiteral("Operation aborted"), QStringLiteral("alice disconnected from 127.0.0.1") }));
    EXPECT_TRUE(retrieved().empty());
    EXPECT_FALSE(engine.stopRequested());
}

TEST_F(StopTransfer, AStopGivenBetweenRunsDoesNotCancelTheNextOne)
{
    host.onPendingEvents = nullptr;
    engine.requestStop(); // left over from a Stop with nothing running
    server.setDataPlan("big.bin", DataPlan {});
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "big.bin", "after.txt" }));
    EXPECT_FALSE(host.log.contains(QStringLiteral("Operation aborted")));
}

TEST_F(StopTransfer, StopWithoutAConnectionSetsTheFlagAndSendsNothing)
{
    client.Disconnect();
    const auto sent = server.commands().size();
    host.controls.clear();
    engine.stopTransferCommand();
    EXPECT_TRUE(engine.stopRequested());
    EXPECT_EQ(host.controls, QStringList({ QStringLiteral("standby"), QStringLiteral("normal") }));
    EXPECT_EQ(server.commands().size(), sent);
}

TEST_F(TransferRun, TransferCommandChecksTheJobFirst)
{
    host.settings.localFolder.clear();
    EXPECT_THROW(showing([&] { engine.transferCommand(); }), SilentStop);
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Local folder information required.") }));

    host.boxes.clear();
    host.settings.localFolder = local.path();
    host.settings.fileKind = JobSettings::FileKind::OneFile;
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("x?.txt");
    EXPECT_THROW(showing([&] { engine.transferCommand(); }), SilentStop);
    EXPECT_EQ(host.boxes.texts(),
        QStringList({ QStringLiteral("The * and ? wildcards are not allowed in the renamed file.") }));
    EXPECT_TRUE(sentSinceConnect().empty());

    // In all-files mode the rename template is not looked at.
    host.boxes.clear();
    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    host.settings.renameTo = QStringLiteral("*");
    server.setListing(unixFile("a.txt", 1));
    server.addFile("a.txt", "a");
    showing([&] { engine.transferCommand(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Transfer Completed") }));
    EXPECT_TRUE(engine.unattended());
}

TEST_F(TransferRun, TransferCommandGivenDuringARunIsIgnored)
{
    server.setListing(unixFile("a.txt", 1) + unixFile("b.txt", 1));
    server.addFile("a.txt", "a");
    server.addFile("b.txt", "b");
    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    int nested = 0;
    host.onPendingEvents = [&] {
        if (nested++ == 0)
            showing([&] { engine.transferCommand(); });
    };
    showing([&] { engine.transferCommand(); });
    EXPECT_GT(nested, 0);
    const Strings sent = sentSinceConnect();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "LIST"), 1);
    EXPECT_EQ(retrieved(), (Strings { "a.txt", "b.txt" }));
}

} // namespace
} // namespace taskhaul::test

namespace taskhaul::test {
namespace {

// "Only new or changed files" and "skip files still being written".
class FileChoiceOptions : public TransferRun {
protected:
    void SetUp() override
    {
        TransferRun::SetUp();
        server.setListing(unixFile("a.txt", 5) + unixFile("b.txt", 6));
        server.addFile("a.txt", "alpha");
        server.addFile("b.txt", "bravo!");
    }

    void offerMdtm(const std::map<std::string, std::string>& times)
    {
        server.reply("FEAT", "211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n");
        server.on("MDTM", [times](FtpSession& s, const std::string& name) {
            const auto it = times.find(name);
            s.send(it == times.end() ? "550 No such file.\r\n" : "213 " + it->second + "\r\n");
        });
        // FEAT is read at login.
        client.Disconnect();
        connectToSite();
    }

    static QDateTime utc(int day, int hour, int minute, int second = 0)
    {
        return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second), Qt::UTC);
    }
};

TEST_F(FileChoiceOptions, OnlyNewerPassesOverUnchangedCopiesAndStampsWhatItFetches)
{
    offerMdtm({ { "a.txt", "20240301120000" }, { "b.txt", "20240302090000" } });
    host.settings.onlyNewer = true;
    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 12, 0)); // same size and time: unchanged
    writeLocal(QStringLiteral("b.txt"), "bravo!", utc(1, 12, 0)); // older than the server's: changed

    showing([&] { engine.transferAllFiles(); });

    EXPECT_EQ(retrieved(), (Strings { "b.txt" }));
    // One line for the unchanged file, and none of its own.
    EXPECT_EQ(host.log.filter(QStringLiteral("a.txt")), QStringList());
    EXPECT_EQ(host.log.last(), QStringLiteral("1 file(s) not changed since the last transfer."));
    EXPECT_EQ(localFileState(localPath(QStringLiteral("b.txt"))).modifiedUtc, utc(2, 9, 0));
    EXPECT_EQ(engine.lastRun().fetched, 1);
    ASSERT_EQ(engine.lastRun().passedOver.size(), 1u);
    EXPECT_EQ(engine.lastRun().passedOver.front().remoteName, "a.txt");
    // Passing over an unchanged file is no failure.
    EXPECT_TRUE(engine.lastRun().complete());

    // The next run finds both unchanged and fetches nothing.
    host.log.clear();
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "b.txt" }));
    EXPECT_EQ(engine.lastRun().passedOver.size(), 2u);
    EXPECT_EQ(host.log, QStringList { QStringLiteral("2 file(s) not changed since the last transfer.") });
}

// A name that is not UTF-8 (Latin-1 here) is stored, stamped and compared under
// its own bytes: the next run and the plan --preview shows both find it unchanged.
TEST_F(FileChoiceOptions, OnlyNewerComparesANameThatIsNotUtf8UnderItsOwnBytes)
{
    const std::string name = "caf\xe9.txt";
    server.setListing(unixFile(name, 5));
    server.addFile(name, "latin");
    offerMdtm({ { name, "20240301120000" } });
    host.settings.onlyNewer = true;

    showing([&] { engine.transferAllFiles(); });
    ASSERT_EQ(retrieved(), (Strings { name }));
    const std::string path = QFile::encodeName(local.path()).toStdString() + "/" + name;
    EXPECT_EQ(localFileState(path).modifiedUtc, utc(1, 12, 0));

    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { name })); // nothing fetched again
    ASSERT_EQ(engine.lastRun().passedOver.size(), 1u);
    EXPECT_EQ(engine.lastRun().passedOver.front().remoteName, name);

    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    std::vector<RemoteEntry> entries;
    for (const ftp::TFtpListItem& item : client.ParsedListing())
        entries.push_back(remoteEntryFrom(item));
    const std::vector<PlannedFile> plan = planFiles(entries, host.settings, host.currentTime(),
        QDateTime::currentDateTimeUtc(), [this](const std::string& localName) {
            return localFileState(localPathFor(host.settings, localName));
        });
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan.front().decision, PlannedFile::Decision::NotChanged);
    EXPECT_EQ(localPathFor(host.settings, plan.front().localName), path);
    ::unlink(path.c_str()); // a name Qt's own clean-up cannot spell
}

TEST_F(FileChoiceOptions, OnlyNewerComparesWithTheListingWhenTheServerHasNoMdtmAndIsOffByDefault)
{
    // The listing says "Mar 01 2024": a copy of that day or later is unchanged.
    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 18, 0));
    writeLocal(QStringLiteral("b.txt"), "bravo", utc(5, 0, 0)); // other size
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt", "b.txt" })); // off: everything, as always
    const Strings defaultSequence = sentSinceConnect();

    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 18, 0));
    writeLocal(QStringLiteral("b.txt"), "bravo", utc(5, 0, 0));
    host.settings.onlyNewer = true;
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt", "b.txt", "b.txt" }));
    const Strings sent = sentSinceConnect();
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& l) { return l.rfind("MDTM", 0) == 0; }),
        0);
    EXPECT_EQ(std::count_if(defaultSequence.begin(), defaultSequence.end(),
                  [](const std::string& l) { return l.rfind("MDTM", 0) == 0; }),
        0);
}

TEST_F(FileChoiceOptions, AListingToTheMinuteSettlesItWithoutAskingTheServer)
{
    offerMdtm({ { "a.txt", "20240301120000" } });
    server.setListing("-rw-r--r--    1 ftp      ftp      5 Mar 01 12:00 a.txt\r\n");
    // The listing leaves out the year: it is taken from this day.
    client.Clock = [] { return ftp::ListDateTime { 2024, 3, 15, 10, 30, 0 }; };
    host.settings.onlyNewer = true;
    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 12, 0, 30));

    showing([&] { engine.transferAllFiles(); });

    EXPECT_EQ(engine.lastRun().passedOver.size(), 1u);
    const Strings sent = sentSinceConnect();
    EXPECT_EQ(sent, (Strings { "TYPE A", "PASV", "LIST", "TYPE I" }));
}

TEST_F(FileChoiceOptions, UnchangedFilesAreSummedUpInOneLineAndEveryOtherLineStays)
{
    // a, c, d and e are unchanged to the minute; b has grown. A stop asked for
    // while the run is at d ends it there (a termination signal can come at
    // any time); the summary of what it passed over still comes.
    auto minute = [](const std::string& name, int size) {
        return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Mar 01 12:00 " + name + "\r\n";
    };
    server.setListing(minute("a.txt", 5) + minute("b.txt", 6) + minute("c.txt", 5) + minute("d.txt", 5)
        + minute("e.txt", 5));
    client.Clock = [] { return ftp::ListDateTime { 2024, 3, 15, 10, 30, 0 }; };
    host.settings.onlyNewer = true;
    for (const char* name : { "a.txt", "c.txt", "d.txt", "e.txt" })
        writeLocal(QString::fromLatin1(name), "alpha", utc(1, 12, 0));
    writeLocal(QStringLiteral("b.txt"), "bravo", utc(1, 12, 0));
    host.onStatus = [this](const QString& text) {
        if (text.contains(QLatin1String("d.txt")))
            engine.requestStop();
    };

    showing([&] { engine.transferAllFiles(); });

    const QStringList expected {
        transferring(QStringLiteral("b.txt"), QStringLiteral("b.txt")),
        QStringLiteral("Data transfer complete (6 Bytes)"),
        QStringLiteral("Operation aborted"),
    };
    const qsizetype first = host.log.indexOf(expected.front());
    ASSERT_GE(first, 0) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(host.log.mid(first, expected.size()), expected);
    EXPECT_EQ(host.log.last(), QStringLiteral("3 file(s) not changed since the last transfer."));
    EXPECT_EQ(host.log.filter(QStringLiteral("Not changed")), QStringList());
    EXPECT_EQ(retrieved(), (Strings { "b.txt" }));
    EXPECT_EQ(engine.lastRun().passedOver.size(), 3u);
    EXPECT_TRUE(engine.lastRun().aborted);
}

TEST_F(FileChoiceOptions, ASequenceNameIsAlwaysNew)
{
    offerMdtm({ { "a.txt", "20240301120000" } });
    host.settings.onlyNewer = true;
    host.settings.fileName = QStringLiteral("a.txt");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("a[seq].txt");
    writeLocal(QStringLiteral("a0.txt"), "alpha", utc(9, 0, 0));
    showing([&] { engine.transferOneFile(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
}

// What a run announces, in order: its start, each file's end (and the download
// of the one fetched, with its bytes), and what it came to. Listing the folder
// reports no progress of a file.
TEST_F(FileChoiceOptions, ARunAnnouncesItsStartEachFilesEndAndWhatItCameTo)
{
    server.setListing(unixFile("a.txt", 5) + unixFile("missing.txt", 3) + unixFile("b.txt", 6));
    offerMdtm({ { "a.txt", "20240301120000" }, { "b.txt", "20240302090000" } });
    host.settings.onlyNewer = true;
    writeLocal(QStringLiteral("a.txt"), "alpha", utc(1, 12, 0)); // unchanged: passed over

    std::vector<std::string> events;
    std::vector<QString> reasons;
    std::optional<RunReport> finished;
    engine.setFileStartedHandler([&](const FileStarted& file) {
        events.push_back(
            "started " + file.file.remoteName + " as " + file.localName + " of " + std::to_string(file.size));
    });
    TransferEvents handlers;
    handlers.runStarted = [&] { events.push_back("run started"); };
    handlers.progress = [&](std::int64_t received) {
        // One entry for a download's progress: the bytes it reached last.
        if (!events.empty() && events.back().starts_with("received "))
            events.pop_back();
        events.push_back("received " + std::to_string(received));
    };
    handlers.fileFinished = [&](const FileFinished& file) {
        static const char* const outcomes[] = { "fetched", "skipped", "passed over", "stopped" };
        events.push_back(file.remoteName + " " + outcomes[static_cast<int>(file.outcome)]);
        reasons.push_back(file.reason);
    };
    handlers.runFinished = [&](const RunReport& report) {
        events.push_back("run finished");
        finished = report;
    };
    engine.setEvents(std::move(handlers));

    showing([&] { engine.transferAllFiles(); });

    EXPECT_EQ(events,
        (Strings { "run started", "a.txt passed over", "missing.txt skipped", "started b.txt as b.txt of 6",
            "received 6", "b.txt fetched", "run finished" }));
    ASSERT_TRUE(finished);
    EXPECT_EQ(finished->fetchedNames, (Strings { "b.txt" }));
    ASSERT_EQ(finished->skipped.size(), 1u);
    ASSERT_EQ(finished->passedOver.size(), 1u);
    // The reasons are the run report's own.
    EXPECT_EQ(reasons,
        (std::vector<QString> {
            finished->passedOver.front().reason, finished->skipped.front().reason, QString() }));
    EXPECT_FALSE(reasons[1].isEmpty());

    // A run that ends by an error is finished all the same.
    events.clear();
    finished.reset();
    server.reply("LIST", "550 No listing.\r\n");
    EXPECT_THROW(engine.transferAllFiles(), SiteError);
    EXPECT_EQ(events, (Strings { "run started", "run finished" }));
    ASSERT_TRUE(finished);
    EXPECT_FALSE(finished->failure.isEmpty());
}

TEST_F(FileChoiceOptions, AFileStillBeingWrittenIsLeftForALaterRun)
{
    host.settings.settleSeconds = 60;
    // The listing said 6 bytes; by the time of SIZE there are 9.
    server.on("SIZE",
        [](FtpSession& s, const std::string& name) { s.send(name == "b.txt" ? "213 9\r\n" : "213 5\r\n"); });
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt" }));
    EXPECT_TRUE(host.log.contains(QStringLiteral("WARNING: File skipped: The file is still being written.")));
    EXPECT_TRUE(engine.lastRun().complete());

    // A time within the last minute holds it back too (the fake clock reads 2024-03-15 10:30 local).
    const QDateTime now = QDateTime(QDate(2024, 3, 15), QTime(10, 30)).toUTC();
    offerMdtm({ { "a.txt", now.addSecs(-10).toString(QStringLiteral("yyyyMMddHHmmss")).toStdString() },
        { "b.txt", now.addSecs(-600).toString(QStringLiteral("yyyyMMddHHmmss")).toStdString() } });
    server.on("SIZE",
        [](FtpSession& s, const std::string& name) { s.send(name == "b.txt" ? "213 6\r\n" : "213 5\r\n"); });
    showing([&] { engine.transferAllFiles(); });
    EXPECT_EQ(retrieved(), (Strings { "a.txt", "b.txt" }));
}

// A transfer reached before any connect (a shortcut, D-Bus) finds the job's
// site not connected and fails as such, never on a site not yet picked.
TEST(TransferBeforeConnect, FailsAsNotConnected)
{
    FakeTransferHost host;
    QTemporaryDir local;
    host.settings.localFolder = local.path();
    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    ProtocolSites sites([] { return std::make_unique<FtpSite>(std::function<void()> {}); },
        [] { return std::unique_ptr<RemoteSite>(); });
    TransferEngine engine(host, sites, QStringLiteral(","));
    try {
        engine.transferAllFiles();
        ADD_FAILURE() << "transferred without a connection";
    } catch (const SiteError& error) {
        EXPECT_EQ(error.kind(), SiteError::Kind::Connection);
    }
    EXPECT_TRUE(engine.lastRun().lostConnection());
}

} // namespace
} // namespace taskhaul::test
