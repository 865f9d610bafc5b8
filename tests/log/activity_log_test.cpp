#include "log/activity_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <ctime>

#include <unistd.h>

namespace taskhaul {
namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class ActivityLogTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("dunmark.txt"));
    QDateTime now { QDate(2026, 3, 7), QTime(14, 5, 9) };
    int clockReadings = 0;
    ActivityLog::Clock clock = [this] {
        ++clockReadings;
        return now;
    };
};

TEST_F(ActivityLogTest, AppendsTimeStampedLinesEndedByLf)
{
    ActivityLog log(path, LongTimeFormat {}, clock);
    log.write(QStringLiteral("Parameters reset"));
    EXPECT_EQ(contents(path), "2026-03-07 14:05:09 - Parameters reset\n");

    now = QDateTime(QDate(2026, 12, 31), QTime(9, 0, 1));
    log.write(QStringLiteral("second - with a dash\r\nand a line break, ünïcode\r\n"));
    EXPECT_EQ(contents(path),
        "2026-03-07 14:05:09 - Parameters reset\n"
        "2026-12-31 09:00:01 - second - with a dash / and a line break, \xc3\xbcn\xc3\xaf"
        "code\n");
}

// A log written by an older version ends its lines with CR LF: it is left as
// it is, and the new lines follow with LF.
TEST_F(ActivityLogTest, AppendsToALogOfCrLfLinesWithoutTouchingThem)
{
    const QByteArray older = "2026-03-06 10:00:00 - *** Taskhaul Started ***\r\n"
                             "2026-03-06 10:00:01 - Scheduled transfer stopped\r\n";
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(older);
    }
    ActivityLog log(path, LongTimeFormat {}, clock);
    log.write(QStringList { QStringLiteral("a"), QStringLiteral("b") });
    EXPECT_EQ(contents(path), older + "2026-03-07 14:05:09 - a\n2026-03-07 14:05:09 - b\n");
}

TEST_F(ActivityLogTest, StampsWithTheLocalesTimeFormat)
{
    LongTimeFormat usFormat;
    usFormat.leadingZeroHour = false;
    usFormat.twelveHour = true;
    usFormat.amDesignator = QStringLiteral("AM");
    usFormat.pmDesignator = QStringLiteral("PM");
    ActivityLog log(path, usFormat, clock);
    log.write(QStringLiteral("x"));
    EXPECT_EQ(contents(path), "2026-03-07 2:05:09 PM - x\n");
}

TEST_F(ActivityLogTest, ReadsTheClockOnceSoALineNeverMixesTwoMoments)
{
    // Each reading moves on by one millisecond, across midnight.
    QDateTime next(QDate(2026, 3, 7), QTime(23, 59, 59, 999));
    ActivityLog log(path, LongTimeFormat {}, [&] {
        const QDateTime reading = next;
        next = next.addMSecs(1);
        return reading;
    });
    log.write(QStringLiteral("midnight"));
    // The entries of one moment share one reading, whatever the clock does meanwhile.
    log.write(QStringList { QStringLiteral("one"), QStringLiteral("two\nparts") });
    EXPECT_EQ(contents(path),
        "2026-03-07 23:59:59 - midnight\n"
        "2026-03-08 00:00:00 - one\n"
        "2026-03-08 00:00:00 - two / parts\n");
}

TEST_F(ActivityLogTest, CreatesTheFileAgainAfterItWasDeleted)
{
    ActivityLog log(path, LongTimeFormat {}, clock);
    log.write(QStringLiteral("one"));
    ASSERT_TRUE(QFile::remove(path));
    log.write(QStringLiteral("two"));
    EXPECT_EQ(contents(path), "2026-03-07 14:05:09 - two\n");
}

TEST_F(ActivityLogTest, CreatesItsFolderAgainAfterItWasRemoved)
{
    const QString nested = dir.filePath(QStringLiteral("state/Velmora/Taskhaul/dunmark.txt"));
    ActivityLog log(nested, LongTimeFormat {}, clock);
    log.write(QStringLiteral("back"));
    EXPECT_EQ(contents(nested), "2026-03-07 14:05:09 - back\n");
}

TEST_F(ActivityLogTest, RaisesWithTheSystemsTextWhenTheLineCannotBeWritten)
{
    struct Case {
        QString path;
        const char* message;
    };
    QFile plainFile(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();
    const Case cases[] = {
        { dir.path(), "File access denied" }, // the path is a folder
        { dir.filePath(QStringLiteral("plain/dunmark.txt")),
            "File not found" }, // a file where a folder should be
    };
    for (const Case& c : cases) {
        ActivityLog log(c.path, LongTimeFormat {}, clock);
        QStringList observed;
        log.setLineObserver([&](const QString& line) { observed << line; });
        for (const QStringList& texts : { QStringList { QStringLiteral("lost") },
                 QStringList { QStringLiteral("lost"), QStringLiteral("together") } }) {
            try {
                log.write(texts);
                ADD_FAILURE() << "no error for " << c.path.toStdString();
            } catch (const LogWriteError& error) {
                EXPECT_STREQ(error.what(), c.message);
                EXPECT_EQ(error.path(), c.path);
                EXPECT_NE(error.systemError(), 0);
            }
        }
        EXPECT_TRUE(observed.isEmpty()) << "a lost line was passed on";
    }
}

TEST_F(ActivityLogTest, PassesEachWrittenLineToItsObserver)
{
    ActivityLog log(path, LongTimeFormat {}, clock);
    QStringList observed;
    log.setLineObserver([&](const QString& line) { observed << line; });
    log.write(QStringLiteral("*** Taskhaul Started ***"));
    log.write(QStringList { QStringLiteral("a"), QStringLiteral("b") });
    log.write(QStringList {});
    EXPECT_EQ(observed,
        (QStringList { QStringLiteral("2026-03-07 14:05:09 - *** Taskhaul Started ***"),
            QStringLiteral("2026-03-07 14:05:09 - a"), QStringLiteral("2026-03-07 14:05:09 - b") }));
    EXPECT_EQ(contents(path),
        "2026-03-07 14:05:09 - *** Taskhaul Started ***\n2026-03-07 14:05:09 - a\n"
        "2026-03-07 14:05:09 - b\n");
}

// The system clock: the local time of the zone in force, which may change while
// the program runs (a laptop that travels, a zone file updated).
TEST_F(ActivityLogTest, StampsTheLocalTimeAndFollowsAChangeOfZone)
{
    const QByteArray savedZone = qgetenv("TZ");
    const auto restore = qScopeGuard([&] {
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        ::tzset();
    });
    ActivityLog log(path, LongTimeFormat {});
    auto stampedOffsetMinutes = [&] {
        const QDateTime utcNow = QDateTime::currentDateTimeUtc();
        log.write(QStringLiteral("x"));
        const QByteArray last = contents(path).trimmed().split('\n').last();
        const QDateTime read = QDateTime::fromString(
            QString::fromLatin1(last.left(19)), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QDateTime stamped(read.date(), read.time(), Qt::UTC);
        return qRound(utcNow.secsTo(stamped) / 60.0);
    };
    qputenv("TZ", "UTC0");
    EXPECT_EQ(stampedOffsetMinutes(), 0);
    // Five hours and three quarters east of Greenwich, given as a rule so that no
    // zone file is needed.
    qputenv("TZ", "XYZ-5:45");
    ::usleep(1'100'000); // the zone is looked at again once a second
    EXPECT_EQ(stampedOffsetMinutes(), 5 * 60 + 45);
}

TEST(ActivityLogPath, LiesBesideTheProgramWhenItsFolderIsWritable)
{
    QTemporaryDir program;
    EXPECT_EQ(ActivityLog::pathFor(program.path(), QStringLiteral("/nowhere"), QStringLiteral("/nowhere")),
        program.filePath(QStringLiteral("dunmark.txt")));
}

TEST(ActivityLogPath, FallsBackToTheUsersStateFolderAndCreatesIt)
{
    QTemporaryDir home;
    const QString missingProgramFolder = home.filePath(QStringLiteral("no/such/folder"));
    const QString state = home.filePath(QStringLiteral("state"));

    EXPECT_EQ(ActivityLog::pathFor(missingProgramFolder, state, home.path()),
        state + QStringLiteral("/Velmora/Taskhaul/dunmark.txt"));
    EXPECT_TRUE(QDir(state + QStringLiteral("/Velmora/Taskhaul")).exists());

    // Unset or relative XDG_STATE_HOME: ~/.local/state.
    for (const QString& unusable : { QString(), QStringLiteral("relative/state") }) {
        EXPECT_EQ(ActivityLog::pathFor(missingProgramFolder, unusable, home.path()),
            home.path() + QStringLiteral("/.local/state/Velmora/Taskhaul/dunmark.txt"));
    }

    // An installed program's folder is never used, even by the superuser, who may write there.
    for (const QString& installed : { QStringLiteral("/usr/bin"), QStringLiteral("/opt/taskhaul/bin") }) {
        EXPECT_EQ(ActivityLog::pathFor(installed, state, home.path()),
            state + QStringLiteral("/Velmora/Taskhaul/dunmark.txt"));
    }

    if (::geteuid() != 0) { // the superuser may write anywhere
        QTemporaryDir readOnly;
        QFile::setPermissions(readOnly.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(ActivityLog::pathFor(readOnly.path(), state, home.path()),
            state + QStringLiteral("/Velmora/Taskhaul/dunmark.txt"));
        QFile::setPermissions(
            readOnly.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

} // namespace
} // namespace taskhaul
