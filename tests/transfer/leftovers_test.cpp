#include "transfer/leftovers.h"

#include "ftp/ftp_local_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/xattr.h>
#include <unistd.h>

namespace taskhaul {
namespace {

TEST(Leftovers, RecognisesOnlyTheDownloadTemporaryForm)
{
    struct Case {
        const char* name;
        bool temporary;
    };
    const Case cases[] = {
        { ".report.csv.taskhaul-a1b2c3d4", true },
        { ".x.taskhaul-abcdefgh", true }, // the shortest: a one-character name
        { "report.csv.taskhaul-a1b2c3d4", false }, // not hidden
        { ".report.csv.taskhaul-a1b2c3d", false }, // seven characters
        { ".report.csv.taskhaul-a1b2c3d45", false },
        { ".report.csv.taskhaul-A1B2C3D4", false }, // upper case is never made
        { ".taskhaul-a1b2c3d4", false }, // no target name
        { ".report.csv", false },
        { "", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDownloadTemporaryName(c.name), c.temporary) << c.name;
}

class LeftoverFolder : public ::testing::Test {
protected:
    // A file as a download leaves it behind: with the program's mark.
    void create(const QString& name, const QByteArray& content = "x")
    {
        createUnmarked(name, content);
        ASSERT_EQ(::setxattr(QFile::encodeName(dir.filePath(name)).constData(), ftp::kDownloadTemporaryMark,
                      "1", 1, 0),
            0);
    }
    void createUnmarked(const QString& name, const QByteArray& content = "x")
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QStringList entries() const
    {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir dir;
};

TEST_F(LeftoverFolder, TheNextRunRemovesTemporariesAndNothingElse)
{
    create(QStringLiteral(".big.iso.taskhaul-0a1b2c3d"));
    create(QStringLiteral(".big.iso.taskhaul-zzzzzzzz"));
    create(QStringLiteral("big.iso"), "older copy");
    // A user's own file whose name only looks like ours.
    createUnmarked(QStringLiteral(".mine.taskhaul-zzzzzzzz"), "mine");
    create(QStringLiteral(".hidden"));
    // A folder or a link of that form is not ours to remove.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".dir.taskhaul-abcdefgh")));
    ASSERT_EQ(::symlink("big.iso",
                  QFile::encodeName(dir.filePath(QStringLiteral(".l.taskhaul-abcdefgh"))).constData()),
        0);

    const LocalFolderRun run(dir.path());
    ASSERT_TRUE(run.alone());
    EXPECT_EQ(run.removeLeftovers(), 2);
    EXPECT_EQ(entries(),
        QStringList({ QStringLiteral(".dir.taskhaul-abcdefgh"), QStringLiteral(".hidden"),
            QStringLiteral(".l.taskhaul-abcdefgh"), QStringLiteral(".mine.taskhaul-zzzzzzzz"),
            QStringLiteral("big.iso") }));
}

TEST_F(LeftoverFolder, ARunBesideAnotherLeavesItsLiveTemporaryAlone)
{
    create(QStringLiteral(".live.bin.taskhaul-abcdefgh"));
    const LocalFolderRun first(dir.path());
    ASSERT_TRUE(first.alone());
    {
        // The same folder, named another way.
        const LocalFolderRun second(dir.path() + QStringLiteral("/./"));
        EXPECT_FALSE(second.alone());
        EXPECT_EQ(second.removeLeftovers(), 0);
    }
    EXPECT_EQ(entries(), QStringList({ QStringLiteral(".live.bin.taskhaul-abcdefgh") }));
}

TEST_F(LeftoverFolder, ALockLeftByADeadProcessDoesNotBlockTheCleanUp)
{
    create(QStringLiteral(".f.taskhaul-abcdefgh"));
    // A lock file whose owner is gone: a process id that cannot be running.
    QFile lock(LocalFolderRun::lockPathFor(dir.path()));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("2147483646\nTaskhaul\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();

    const LocalFolderRun run(dir.path());
    EXPECT_TRUE(run.alone());
    EXPECT_EQ(run.removeLeftovers(), 1);
}

} // namespace
} // namespace taskhaul
