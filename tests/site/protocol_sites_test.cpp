// The source hands out one site per protocol, made when first needed.

#include "site/protocol_sites.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace taskhaul {
namespace {

class FakeSite : public RemoteSite {
public:
    void configure(const JobSettings&, const QString&) override { }
    SiteConnected connect() override { return {}; }
    void enterFolder(const std::string&) override { }
    RemoteListing list(const JobSettings&, const std::function<void(const QString&)>&) override { return {}; }
    std::int64_t fileSize(const std::string&) override { return -1; }
    std::optional<RemoteStamp> fileTime(const std::string&, const std::optional<RemoteStamp>& listed) override
    {
        return listed;
    }
    void retrieve(const std::string&, const std::string&, bool) override { }
    void abort() override { }
    void disconnect() override { }
    bool connected() override { return false; }
    bool blocked() const override { return false; }
    std::optional<SiteIdentity> identity() const override { return std::nullopt; }
    QString scheme() const override { return {}; }
};

JobSettings jobOf(JobSettings::Protocol protocol)
{
    JobSettings job;
    job.protocol = protocol;
    return job;
}

TEST(ProtocolSites, MakesEachProtocolsSiteOnceWhenFirstNeeded)
{
    int ftpMade = 0;
    int sftpMade = 0;
    ProtocolSites sites(
        [&] {
            ++ftpMade;
            return std::make_unique<FakeSite>();
        },
        [&] {
            ++sftpMade;
            return std::make_unique<FakeSite>();
        });
    const JobSettings ftp = jobOf(JobSettings::Protocol::Ftp);
    const JobSettings sftp = jobOf(JobSettings::Protocol::Sftp);

    RemoteSite& ftpSite = sites.siteFor(ftp);
    EXPECT_EQ(ftpMade, 1);
    EXPECT_EQ(sftpMade, 0);
    RemoteSite& sftpSite = sites.siteFor(sftp);
    EXPECT_NE(&ftpSite, &sftpSite);
    EXPECT_EQ(&sites.siteFor(ftp), &ftpSite);
    EXPECT_EQ(&sites.siteFor(sftp), &sftpSite);
    EXPECT_EQ(ftpMade, 1);
    EXPECT_EQ(sftpMade, 1);
}

TEST(ProtocolSites, AFactoryThatMakesNoSiteIsAnError)
{
    ProtocolSites sites([] { return std::make_unique<FakeSite>(); }, [] { return nullptr; });
    EXPECT_THROW(sites.siteFor(jobOf(JobSettings::Protocol::Sftp)), std::logic_error);
    EXPECT_NO_THROW(sites.siteFor(jobOf(JobSettings::Protocol::Ftp)));
}

} // namespace
} // namespace taskhaul
