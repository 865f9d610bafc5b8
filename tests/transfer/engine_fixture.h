#pragma once

#include "fake_transfer_host.h"
#include "ftp/ftp_client.h"
#include "ftp/scripted_ftp_server.h"
#include "site/ftp_site.h"
#include "transfer/freshness.h"
#include "transfer/transfer_engine.h"
#include "watched_connect.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace taskhaul::test {

// Lines of a Unix long listing, as servers send them.
inline std::string unixFile(const std::string& name, std::size_t size)
{
    return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Mar 01  2024 " + name + "\r\n";
}
inline std::string unixFolder(const std::string& name)
{
    return "drwxr-xr-x    2 ftp      ftp      4096 Mar 01  2024 " + name + "\r\n";
}
inline std::string unixLink(const std::string& name, const std::string& target)
{
    return "lrwxrwxrwx    1 ftp      ftp      7 Mar 01  2024 " + name + " -> " + target + "\r\n";
}

// The engine on a scripted server, with a fake window and an empty local folder.
class EngineFixture : public ::testing::Test {
protected:
    EngineFixture()
    {
        host.settings.host = QString::fromStdString(server.host());
        host.settings.port = QString::number(server.port());
        host.settings.userName = QStringLiteral("alice");
        host.settings.password = QStringLiteral("pw");
        host.settings.remoteFolder = QStringLiteral("pub");
        host.settings.localFolder = local.path();
        host.settings.passive = true;
        host.settings.overwrite = true;
    }

    // Connects and enters the folder, then forgets what that logged and sent.
    void connectToSite()
    {
        engine.siteConnect();
        engine.changeFolder();
        host.log.clear();
        host.controls.clear();
        sentBefore = server.commands().size();
    }

    // What the window does with a user's connect step: runs it and, once it has
    // returned, shows the box it left or asks its question (see watchedConnect).
    void asking(void (TransferEngine::*step)())
    {
        watchedConnect(engine, client, host.boxes, [this, step] { (engine.*step)(); });
    }

    // What the window does with a user's transfer: runs it and, once it has
    // returned, shows the box it left. A box that opens while the engine is
    // still busy fails the test.
    void showing(const std::function<void()>& transfer)
    {
        host.boxes.onShow = [this] { EXPECT_FALSE(engine.busy()) << "a box opened inside the transfer"; };
        base::ScopeExit forget { [this] { host.boxes.onShow = nullptr; } };
        showingTransfer(engine, host.boxes, transfer);
    }

    // Command lines sent since connectToSite.
    std::vector<std::string> sentSinceConnect() const
    {
        const auto all = server.commands();
        return { all.begin() + static_cast<std::ptrdiff_t>(std::min(sentBefore, all.size())), all.end() };
    }

    std::vector<std::string> retrieved() const { return server.argumentsOf("RETR"); }

    QString localPath(const QString& name) const { return local.path() + QLatin1Char('/') + name; }

    QByteArray localContent(const QString& name) const
    {
        QFile file(localPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // A local file with this content and modification time.
    void writeLocal(const QString& name, const QByteArray& content, const QDateTime& modifiedUtc)
    {
        QFile file(localPath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        ASSERT_TRUE(setModificationTime(localPath(name), modifiedUtc));
    }

    QStringList localFiles() const
    {
        return QDir(local.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QString transferring(const QString& remoteName, const QString& localName) const
    {
        return QStringLiteral("Transferring ftp://127.0.0.1:%1/pub/").arg(server.port()) + remoteName
            + QStringLiteral(" => ") + localPath(localName);
    }

    ScriptedFtpServer server;
    QTemporaryDir local;
    FakeTransferHost host;
    // What the client's pump does (it is fixed at construction); a test may change it.
    std::function<void()> pump;
    ftp::TFtpClient client { [this] {
        if (pump)
            pump();
    } };
    FtpSite site { client };
    TransferEngine engine { host, site, QStringLiteral(",") };
    std::size_t sentBefore = 0;
};

} // namespace taskhaul::test
