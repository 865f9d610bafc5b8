#include "settings/job_catalog.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace taskhaul {
namespace {

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList names(const QList<JobEntry>& jobs)
{
    QStringList result;
    for (const JobEntry& job : jobs)
        result.append(job.name);
    return result;
}

class JobCatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        JobSettings job;
        job.host = QStringLiteral("ftp.example.org");
        job.userName = QStringLiteral("anna");
        job.password = QStringLiteral("secret");
        job.localFolder = QStringLiteral("/srv/in");
        SettingsStore(defaultFile(), LongTimeFormat {}, nullptr).save(job);
    }

    QString defaultFile() const { return dir.filePath(QStringLiteral("Taskhaul.conf")); }
    JobCatalog catalog() const { return JobCatalog::forUser(defaultFile()); }

    QTemporaryDir dir;
};

TEST_F(JobCatalogTest, NamesFollowTheRules)
{
    const struct {
        const char* name;
        bool valid;
    } cases[] = {
        { "Reports", true },
        { "camera uploads 2", true },
        { "backup-host_1.night", true },
        { "Bürobericht", true },
        { "x", true },
        { "", false },
        { "a/b", false },
        { "a\\b", false },
        { "tab\there", false },
        { " leading", false },
        { "trailing ", false },
        { "star*", false },
        { "0123456789012345678901234567890123456789012345678901234567890123", true },
        { "01234567890123456789012345678901234567890123456789012345678901234", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(JobCatalog::nameProblem(QString::fromUtf8(c.name)).isEmpty(), c.valid) << c.name;
}

// Creating, copying, importing, renaming and removing other jobs never touches
// the default job's file, and the default job cannot be removed.
TEST_F(JobCatalogTest, TheDefaultJobsFileStaysAsItIs)
{
    const QByteArray before = fileHash(defaultFile());
    const JobCatalog jobs = catalog();
    EXPECT_EQ(names(jobs.jobs()), QStringList { QStringLiteral("Default") });

    const JobEntry reports = jobs.create(QStringLiteral("Reports"));
    JobSettings settings;
    settings.host = QStringLiteral("reports.example.org");
    settings.userName = QStringLiteral("r");
    settings.localFolder = QStringLiteral("/srv/reports");
    SettingsStore(reports.filePath, LongTimeFormat {}, nullptr).save(settings);
    const JobEntry copy = jobs.duplicate(jobs.defaultJob(), QStringLiteral("copy of default"));
    const JobEntry imported = jobs.importFile(QStringLiteral("Imported"), reports.filePath);
    jobs.rename(copy, QStringLiteral("Night backup"));
    jobs.remove(*jobs.find(QStringLiteral("imported")));
    EXPECT_EQ(names(jobs.jobs()),
        (QStringList {
            QStringLiteral("Default"), QStringLiteral("Night backup"), QStringLiteral("Reports") }));
    EXPECT_THROW(jobs.remove(jobs.defaultJob()), JobCatalogError);

    // Renaming the default job changes its name, not its file.
    jobs.rename(jobs.defaultJob(), QStringLiteral("Main"));
    EXPECT_EQ(jobs.defaultJob().name, QStringLiteral("Main"));
    EXPECT_EQ(jobs.defaultJob().filePath, defaultFile());
    EXPECT_EQ(fileHash(defaultFile()), before);

    // The copy holds the default job's values; the store reads them back.
    const auto night = jobs.find(QStringLiteral("NIGHT BACKUP"));
    ASSERT_TRUE(night);
    const LoadResult loaded = SettingsStore(night->filePath, LongTimeFormat {}, nullptr).load(JobSettings {});
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.settings.host, QStringLiteral("ftp.example.org"));
    EXPECT_EQ(loaded.settings.password, QStringLiteral("secret"));
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(night->filePath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(JobCatalogTest, NamesAreUniqueWithoutRegardToCase)
{
    const JobCatalog jobs = catalog();
    jobs.create(QStringLiteral("Reports")); // no file yet: the name is free until saved
    const JobEntry reports = jobs.duplicate(jobs.defaultJob(), QStringLiteral("Reports"));
    for (const char* taken : { "reports", "REPORTS", "default", "Default" })
        EXPECT_THROW(jobs.create(QString::fromUtf8(taken)), JobCatalogError) << taken;
    EXPECT_THROW(jobs.rename(reports, QStringLiteral("DEFAULT")), JobCatalogError);
    // A job may change the case of its own name.
    const JobEntry renamed = jobs.rename(reports, QStringLiteral("REPORTS"));
    EXPECT_EQ(jobs.find(QStringLiteral("reports"))->name, QStringLiteral("REPORTS"));
    EXPECT_TRUE(QFile::exists(renamed.filePath));
}

// A file that cannot be read is listed with the reason and never overwritten;
// a file that is not a job cannot be imported.
TEST_F(JobCatalogTest, UnreadableFilesAreListedWithTheirReason)
{
    const JobCatalog jobs = catalog();
    ASSERT_TRUE(QDir().mkpath(jobs.jobsFolder()));
    const QString broken = jobs.jobsFolder() + QStringLiteral("/Broken.conf");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\0\1\2 not a settings file", 24));
    file.close();
    const QByteArray before = fileHash(broken);

    const auto entry = jobs.find(QStringLiteral("broken"));
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->problem.contains(QStringLiteral("is not a settings file")))
        << entry->problem.toStdString();
    EXPECT_THROW(jobs.duplicate(*entry, QStringLiteral("Copy")), JobCatalogError);
    EXPECT_THROW(jobs.create(QStringLiteral("broken")), JobCatalogError);
    EXPECT_THROW(jobs.importFile(QStringLiteral("Other"), broken), JobCatalogError);
    EXPECT_THROW(
        jobs.importFile(QStringLiteral("Other"), dir.filePath(QStringLiteral("none.conf"))), JobCatalogError);
    EXPECT_FALSE(jobs.find(QStringLiteral("Other")));
    EXPECT_EQ(fileHash(broken), before);
}

} // namespace
} // namespace taskhaul
