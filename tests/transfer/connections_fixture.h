#pragma once

// The engine with the program's own site source over several connections,
// against the scripted FTP server, and the files it serves.

#include "fake_transfer_host.h"
#include "ftp/scripted_ftp_server.h"
#include "site/ftp_site.h"
#include "site/protocol_sites.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace taskhaul::test {

inline std::string nameOf(int n)
{
    return "f" + std::to_string(100 + n) + ".bin";
}

inline std::string contentOf(int n)
{
    std::string bytes(1000 + 37 * n, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(n)) & 0xFF);
    return bytes;
}

inline std::string unixLine(const std::string& name, std::size_t size)
{
    return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Mar 01  2024 " + name + "\r\n";
}

// The engine with the program's own site source, so that further connections
// are real FTP sites on worker threads.
class ConnectionsTest : public ::testing::Test {
protected:
    explicit ConnectionsTest(bool scripted = true)
    {
        if (scripted) {
            server.serveConcurrently();
            setSite(server.host(), server.port(), "alice", "pw", "pub");
        }
        host.settings.localFolder = local.path();
        host.settings.passive = true;
        host.settings.overwrite = true;
        host.settings.fileKind = JobSettings::FileKind::AllFiles;
        host.settings.connections = 4;
    }

    void setSite(const std::string& address, int port, const std::string& user, const std::string& password,
        const QString& folder)
    {
        host.settings.host = QString::fromStdString(address);
        host.settings.port = QString::number(port);
        host.settings.userName = QString::fromStdString(user);
        host.settings.password = QString::fromStdString(password);
        host.settings.remoteFolder = folder;
    }

    // `count` files served by the scripted server, listed in order.
    void serveFiles(int count)
    {
        std::string listing;
        for (int n = 0; n < count; ++n) {
            server.addFile(nameOf(n), contentOf(n));
            listing += unixLine(nameOf(n), contentOf(n).size());
        }
        server.setListing(listing);
    }

    void run()
    {
        engine.siteConnect();
        engine.changeFolder();
        engine.transferAllFiles();
    }

    QByteArray localContent(const std::string& name) const
    {
        QFile file(local.path() + QLatin1Char('/') + QString::fromStdString(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QStringList localFiles() const
    {
        return QDir(local.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QStringList transferringLines() const { return host.log.filter(QStringLiteral("Transferring ")); }

    // The log line that ends file `name`, as a run over several connections writes it.
    static QString completionLine(const std::string& name, std::size_t size)
    {
        return QStringLiteral("Data transfer complete (%1 Bytes): %2")
            .arg(groupThousands(size, QStringLiteral(",")), QString::fromStdString(name));
    }

    // Every file of `count` is in place, byte for byte, and the log tells of
    // each: its "Transferring" line, then (after its last one, when a lost
    // connection made it begin again) the line that ends it, naming it.
    void expectAllFetched(int count)
    {
        ASSERT_EQ(engine.lastRun().fetched, count);
        EXPECT_TRUE(engine.lastRun().complete());
        for (int n = 0; n < count; ++n)
            EXPECT_EQ(localContent(nameOf(n)), QByteArray::fromStdString(contentOf(n))) << nameOf(n);
        EXPECT_EQ(localFiles().size(), count); // no temporary left
        for (int n = 0; n < count; ++n) {
            const QString name = QString::fromStdString(nameOf(n));
            const QString done = completionLine(nameOf(n), contentOf(n).size());
            EXPECT_EQ(host.log.count(done), 1) << nameOf(n);
            qsizetype began = -1;
            for (qsizetype at = 0; at < host.log.size(); ++at)
                if (host.log[at].startsWith(QStringLiteral("Transferring ")) && host.log[at].endsWith(name))
                    began = at;
            EXPECT_GE(began, 0) << nameOf(n);
            EXPECT_GT(host.log.indexOf(done), began) << nameOf(n);
        }
        std::vector<std::string> expected;
        for (int n = 0; n < count; ++n)
            expected.push_back(nameOf(n));
        EXPECT_EQ(engine.lastRun().fetchedNames, expected);
    }

    ScriptedFtpServer server;
    QTemporaryDir local;
    FakeTransferHost host;
    std::function<void()> pump;
    // The main connection's site, whose downloads may go slowly so that the
    // others have logged in before the files are all in (a run does not wait
    // for a login it no longer needs).
    class MainSite : public FtpSite {
    public:
        MainSite(std::function<void()> pump, const std::chrono::milliseconds& delay)
            : FtpSite(std::move(pump))
            , delay_(delay)
        {
        }
        void retrieve(const std::string& name, const std::string& localPath, bool overwrite) override
        {
            std::this_thread::sleep_for(delay_);
            FtpSite::retrieve(name, localPath, overwrite);
        }

    private:
        const std::chrono::milliseconds& delay_;
    };
    std::chrono::milliseconds mainDelay { 10 };
    ProtocolSites sites { [this] {
                             return std::make_unique<MainSite>(
                                 [this] {
                                     if (pump)
                                         pump();
                                 },
                                 mainDelay);
                         },
        nullptr };
    TransferEngine engine { host, sites, QStringLiteral(",") };
};

} // namespace taskhaul::test
