#include "site/sftp_loader.h"

#include "base/companion_file.h"
#include "site/sftp_module.h"

#include <QLibrary>

namespace taskhaul {

namespace {

// Stands where the module's site would: every connect fails with the reason.
class UnavailableSite final : public RemoteSite {
public:
    explicit UnavailableSite(QString why)
        : why_(std::move(why))
    {
    }
    void configure(const JobSettings&, const QString&) override
    {
        throw SiteError(SiteError::Kind::JobUnusable, why_.toStdString());
    }
    SiteConnected connect() override { throw SiteError(SiteError::Kind::JobUnusable, why_.toStdString()); }
    void enterFolder(const std::string&) override { notConnected(); }
    RemoteListing list(const JobSettings&, const std::function<void(const QString&)>&) override
    {
        notConnected();
    }
    std::int64_t fileSize(const std::string&) override { notConnected(); }
    std::optional<RemoteStamp> fileTime(const std::string&, const std::optional<RemoteStamp>&) override
    {
        notConnected();
    }
    void retrieve(const std::string&, const std::string&, bool) override { notConnected(); }
    void abort() override { }
    void disconnect() override { }
    bool connected() override { return false; }
    bool blocked() const override { return false; }
    std::optional<SiteIdentity> identity() const override { return std::nullopt; }
    QString scheme() const override { return QStringLiteral("sftp://"); }

private:
    [[noreturn]] void notConnected() const
    {
        throw SiteError(SiteError::Kind::Connection, why_.toStdString());
    }

    QString why_;
};

} // namespace

QString sftpModulePath()
{
    return QString::fromStdString(base::companionFilePath("taskhaul-sftp.so"));
}

std::unique_ptr<RemoteSite> loadSftpSite(std::function<void()> pump)
{
    return loadSftpSite(std::move(pump), sftpModulePath());
}

std::unique_ptr<RemoteSite> loadSftpSite(std::function<void()> pump, const QString& modulePath)
{
    // Never unloaded: the site's code must outlive every site, and a worker
    // thread of the SFTP client may still be unwinding when its site goes.
    QLibrary module(modulePath);
    module.setLoadHints(QLibrary::PreventUnloadHint);
    const auto entry = reinterpret_cast<TaskhaulSftpEntry>(module.resolve(TASKHAUL_SFTP_ENTRY));
    if (!entry)
        return std::make_unique<UnavailableSite>(
            QStringLiteral("SFTP cannot be used: its module could not be loaded (%1).")
                .arg(module.errorString()));
    std::unique_ptr<RemoteSite> site(entry(taskhaulSftpInterface, pump));
    if (!site)
        return std::make_unique<UnavailableSite>(
            QStringLiteral("SFTP cannot be used: its module %1 belongs to another version of the program.")
                .arg(modulePath));
    return site;
}

} // namespace taskhaul
