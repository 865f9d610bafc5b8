// The shell commands that check name templates, run as a user runs them: the
// built program, no display.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace {

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

ProcessResult RunTaskhaul(const QStringList& args)
{
    const QString program = QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul");
    EXPECT_TRUE(QFileInfo(program).isExecutable()) << "build the taskhaul program first";
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(30000));
    ProcessResult run;
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(ExpandCommand, PrintsTheNameAtTheGivenMoment)
{
    const ProcessResult run = RunTaskhaul(
        { "--expand", "in_[yyyy][MM][pdd]_[seq].*", "--at", "2025-01-01 06:30:00", "--seq", "42" });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "in_20241231_42.*\n");

    const ProcessResult timeFirst
        = RunTaskhaul({ "--expand", "[HH][mm][ss]-[seq]", "--seq", "7", "--at", "2024-02-29 23:05:09" });
    EXPECT_EQ(timeFirst.exitCode, 0) << timeFirst.err.toStdString();
    EXPECT_EQ(timeFirst.out, "230509-7\n");
}

TEST(ExpandCommand, DefaultsToNowAndSequenceZero)
{
    const ProcessResult run = RunTaskhaul({ "--expand", "[seq]_[yyyy]" });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith("0_")) << run.out.toStdString();
    EXPECT_EQ(run.out.size(), qsizetype(7)) << run.out.toStdString();
}

TEST(ExpandCommand, RefusesBadArguments)
{
    const QList<QStringList> bad = {
        { "--expand" },
        { "--expand", "[dd]", "--at", "2024-02-30 10:00:00" },
        { "--expand", "[dd]", "--at", "2024-02-03" },
        { "--expand", "[dd]", "--at" },
        { "--expand", "[dd]", "--seq", "ten" },
        { "--expand", "[dd]", "--seq", "1000000" },
        { "--expand", "[dd]", "--later" },
    };
    for (const QStringList& args : bad) {
        const ProcessResult run = RunTaskhaul(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(run.err.isEmpty()) << args.join(' ').toStdString();
    }
}

TEST(MatchCommand, OneLinePerNameIgnoringCase)
{
    const ProcessResult run = RunTaskhaul({ "--match", "*.TXT", "report.txt", "data.csv", "a*" });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "match\treport.txt\nno match\tdata.csv\nmatch\ta*\n");

    EXPECT_EQ(RunTaskhaul({ "--match", "*.txt" }).exitCode, 2);
    EXPECT_EQ(RunTaskhaul({ "--match" }).exitCode, 2);
}

TEST(InfoCommands, HelpListsEveryOptionAndVersionNamesTheBuild)
{
    const ProcessResult help = RunTaskhaul({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : { " -r ", " -m ", "--help", "--version", "--expand TEMPLATE", "--at", "--seq",
             "--match PATTERN NAME...", "--parse-listing FILE", "--syst TEXT", "--run-once", "--preview",
             "--systemd-timer [--install]" })
        EXPECT_TRUE(help.out.contains(QLatin1String(option))) << option;

    const ProcessResult version = RunTaskhaul({ "--version" });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Taskhaul " TASKHAUL_VERSION "\n");
}

} // namespace
