// The main paths of the engine against a real FTP server (pyftpdlib), in passive
// and active mode: the right bytes end up in the right local files.

#include "fake_transfer_host.h"
#include "ftp/ftp_client.h"
#include "ftp/pyftpd_server.h"
#include "site/ftp_site.h"
#include "transfer/asking_connect.h"
#include "transfer/freshness.h"
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace taskhaul::test {
namespace {

// Bytes that an ASCII-mode transfer would change: every byte value, line breaks included.
std::string binaryContent(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    bytes.replace(0, 4, "\r\n\n\r");
    return bytes;
}

class RealServer : public ::testing::TestWithParam<bool> {
protected:
    RealServer()
    {
        server.makeFolder("pub/sub");
        host.settings.host = QString::fromStdString(server.host());
        host.settings.port = QString::number(server.port());
        host.settings.userName = QString::fromStdString(server.user());
        host.settings.password = QString::fromStdString(server.password());
        host.settings.remoteFolder = QStringLiteral("/pub");
        host.settings.localFolder = local.path() + QLatin1Char('/'); // the separator is not doubled
        host.settings.passive = GetParam();
        host.settings.overwrite = false;
        engine.setUnattended(false);
    }

    void run(void (TransferEngine::*transfer)())
    {
        engine.siteConnect();
        engine.changeFolder();
        showingTransfer(engine, host.boxes, [&] { (engine.*transfer)(); });
        engine.disconnectCommand();
    }

    QByteArray localContent(const QString& name) const
    {
        QFile file(local.path() + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QStringList localFiles() const
    {
        return QDir(local.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    PyFtpdServer server;
    QTemporaryDir local;
    FakeTransferHost host;
    ftp::TFtpClient client;
    FtpSite site { client };
    TransferEngine engine { host, site, QStringLiteral(",") };
};

TEST_P(RealServer, AllFilesFetchesEveryPlainFileByteForByte)
{
    const std::string big = binaryContent(300000, 1);
    const std::string small = binaryContent(1536, 2);
    server.writeFile("pub/big.bin", big);
    server.writeFile("pub/small.txt", small);
    server.writeFile("pub/empty", "");
    server.writeFile("pub/sub/inside.txt", "not fetched");

    run(&TransferEngine::transferAllFiles);

    EXPECT_EQ(localFiles(),
        QStringList({ QStringLiteral("big.bin"), QStringLiteral("empty"), QStringLiteral("small.txt") }));
    EXPECT_EQ(localContent(QStringLiteral("big.bin")), QByteArray::fromStdString(big));
    EXPECT_EQ(localContent(QStringLiteral("small.txt")), QByteArray::fromStdString(small));
    EXPECT_EQ(localContent(QStringLiteral("empty")), QByteArray());
    EXPECT_TRUE(
        host.log.contains(QStringLiteral("Transferring ftp://127.0.0.1:%1/pub/big.bin => ").arg(server.port())
            + local.path() + QStringLiteral("/big.bin")));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Data transfer complete (300,000 Bytes)")));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Data transfer complete (1,536 Bytes)")));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Data transfer complete (0 Bytes)")));
    EXPECT_EQ(host.log.filter(QStringLiteral("WARNING")), QStringList());
    EXPECT_EQ(host.boxes.texts(), QStringList({ QStringLiteral("Transfer Completed") }));

    // A second run without overwrite keeps every file as it is and says why.
    host.log.clear();
    run(&TransferEngine::transferAllFiles);
    EXPECT_EQ(
        host.log.filter(QStringLiteral("WARNING: File skipped: Destination file already exists.")).size(), 3);
    EXPECT_EQ(localContent(QStringLiteral("big.bin")), QByteArray::fromStdString(big));
}

TEST_P(RealServer, OneFileWithADateTemplateAndRename)
{
    const std::string wanted = binaryContent(70000, 3);
    server.writeFile("pub/report_20240314_final.csv", wanted);
    server.writeFile("pub/report_20240315.csv", "today's, not wanted");
    server.writeFile("pub/REPORT_20240314.txt", "other extension");
    host.now = LocalDateTime { 2024, 3, 15, 6, 0, 0 };
    host.settings.fileName = QStringLiteral("report_[yyyy][MM][pdd]*.csv");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("daily_[yyyy]-[MM]-[pdd]_[seq].csv");
    host.settings.sequenceStart = 7;

    run(&TransferEngine::transferOneFile);

    EXPECT_EQ(localFiles(), QStringList({ QStringLiteral("daily_2024-03-14_7.csv") }));
    EXPECT_EQ(localContent(QStringLiteral("daily_2024-03-14_7.csv")), QByteArray::fromStdString(wanted));
    EXPECT_EQ(host.settings.sequenceStart, 8);
    EXPECT_EQ(host.log.first(), QStringLiteral("taskhaul connected to 127.0.0.1"));
    EXPECT_TRUE(host.log.contains(
        QStringLiteral("Transferring ftp://127.0.0.1:%1/pub/report_20240314_final.csv => ").arg(server.port())
        + local.path() + QStringLiteral("/daily_2024-03-14_7.csv")));
    EXPECT_TRUE(host.log.contains(QStringLiteral("Data transfer complete (70,000 Bytes)")));
    EXPECT_EQ(host.log.last(), QStringLiteral("taskhaul disconnected from 127.0.0.1"));
}

// pyftpdlib offers MLST: a run that checks freshness lists with MLSD, fetches
// names with outer blanks exactly, and the next run finds every copy unchanged.
TEST_P(RealServer, OnlyNewerOverMlsdKeepsNamesExactAndFindsCopiesUnchanged)
{
    server.writeFile("pub/ both ends ", "blanks");
    server.writeFile("pub/plain.txt", "plain");
    host.settings.onlyNewer = true;
    host.settings.overwrite = true;

    run(&TransferEngine::transferAllFiles);
    EXPECT_TRUE(client.ListingIsMachine());
    EXPECT_EQ(client.ListingFormat(), "MLST");
    EXPECT_EQ(localContent(QStringLiteral(" both ends ")), "blanks");
    EXPECT_EQ(localContent(QStringLiteral("plain.txt")), "plain");
    EXPECT_EQ(engine.lastRun().fetched, 2);
    // The copy has the server's time to the second.
    const QDateTime remote
        = localFileState(QString::fromStdString(server.root() + "/pub/ both ends ")).modifiedUtc;
    const QDateTime copy = localFileState(local.path() + QStringLiteral("/ both ends ")).modifiedUtc;
    EXPECT_EQ(copy.toSecsSinceEpoch(), remote.toSecsSinceEpoch());

    run(&TransferEngine::transferAllFiles);
    EXPECT_EQ(engine.lastRun().fetched, 0);
    EXPECT_EQ(engine.lastRun().passedOver.size(), 2u);
    EXPECT_TRUE(engine.lastRun().complete());
}

INSTANTIATE_TEST_SUITE_P(Modes, RealServer, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? "Passive" : "Active"; });

} // namespace
} // namespace taskhaul::test

namespace taskhaul::test {
namespace {

void setServerFileAge(const std::string& path, int secondsAgo)
{
    const auto when = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo);
    std::filesystem::last_write_time(path, when);
}

TEST_P(RealServer, OnlyNewFilesAndFilesThatHaveSettledAreFetched)
{
    host.now = CurrentLocalDateTime();
    host.settings.overwrite = true;
    host.settings.onlyNewer = true;
    host.settings.settleSeconds = 30;
    const std::string folder = server.root() + "/pub/";
    server.writeFile("pub/old.txt", "settled long ago");
    setServerFileAge(folder + "old.txt", 3600);
    server.writeFile("pub/fresh.txt", "still growing");

    run(&TransferEngine::transferAllFiles);
    EXPECT_EQ(localFiles(), QStringList({ QStringLiteral("old.txt") }));
    ASSERT_EQ(engine.lastRun().passedOver.size(), 1u);
    EXPECT_EQ(engine.lastRun().passedOver.front().reason, QStringLiteral("The file is still being written."));
    // The copy carries the server's time (MDTM), to the second.
    const QDateTime remoteTime = QFileInfo(QString::fromStdString(folder + "old.txt")).lastModified().toUTC();
    EXPECT_EQ(localFileState(local.path() + QStringLiteral("/old.txt")).modifiedUtc.toSecsSinceEpoch(),
        remoteTime.toSecsSinceEpoch());

    // Later: the fresh file has settled, the old one is unchanged.
    setServerFileAge(folder + "fresh.txt", 600);
    run(&TransferEngine::transferAllFiles);
    EXPECT_EQ(engine.lastRun().fetchedNames, (std::vector<std::string> { "fresh.txt" }));
    EXPECT_EQ(localContent(QStringLiteral("fresh.txt")), "still growing");

    // The old file is replaced on the server: fetched again.
    server.writeFile("pub/old.txt", "replaced, and longer");
    setServerFileAge(folder + "old.txt", 120);
    run(&TransferEngine::transferAllFiles);
    EXPECT_EQ(engine.lastRun().fetchedNames, (std::vector<std::string> { "old.txt" }));
    EXPECT_EQ(localContent(QStringLiteral("old.txt")), "replaced, and longer");
    EXPECT_TRUE(engine.lastRun().complete());
}

} // namespace
} // namespace taskhaul::test
