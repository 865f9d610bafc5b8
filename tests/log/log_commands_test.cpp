#include "log/desktop_shell.h"
#include "log/error_text.h"
#include "log/log_commands.h"

#include "gui/recording_message_boxes.h"
#include "gui/recording_shell.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

namespace taskhaul {
namespace {

using test::RecordingMessageBoxes;
using test::RecordingShell;
using Kind = RecordingMessageBoxes::Kind;

class LogCommandsTest : public ::testing::Test {
protected:
    void writeLogFile()
    {
        QFile file(logPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("line\r\n");
    }

    QTemporaryDir dir;
    QString logPath = dir.filePath(QStringLiteral("dunmark.txt"));
    RecordingMessageBoxes boxes;
    RecordingShell shell;
    LogCommands commands { boxes, shell, logPath };
};

TEST_F(LogCommandsTest, DeleteLogFileRemovesTheLogSilently)
{
    writeLogFile();
    commands.deleteLogFile();
    EXPECT_FALSE(QFile::exists(logPath));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(LogCommandsTest, DeleteLogFileWarnsWithoutIconWhenThereIsNothingToDelete)
{
    commands.deleteLogFile();
    ASSERT_EQ(boxes.shown().size(), 1u);
    const auto& box = boxes.shown().front();
    EXPECT_EQ(box.kind, Kind::Plain);
    EXPECT_EQ(box.caption, QStringLiteral("Taskhaul Warning"));
    EXPECT_EQ(box.text, QStringLiteral("The log file does not exist or could not be deleted."));
}

TEST_F(LogCommandsTest, LogFileOpensTheLogAndReportsWhatWentWrong)
{
    struct Case {
        Shell::OpenResult result;
        const char* message; // nullptr: no box
    };
    const Case cases[] = {
        { Shell::OpenResult::Opened, nullptr }, { Shell::OpenResult::FileNotFound, "Log file not found." },
        { Shell::OpenResult::FolderNotFound, "Folder not found." },
        { Shell::OpenResult::NoProgram, nullptr }, // below: it names the file
    };
    for (const Case& c : cases) {
        boxes.clear();
        shell.opened.clear();
        shell.nextResult = c.result;
        commands.openLogFile();
        ASSERT_EQ(shell.opened.size(), 1u);
        EXPECT_EQ(shell.opened.front(), QUrl::fromLocalFile(logPath));
        const QString expected = c.result == Shell::OpenResult::NoProgram
            ? QStringLiteral("No program is set up to open \"%1\".").arg(logPath)
            : QString::fromLatin1(c.message);
        if (expected.isEmpty()) {
            EXPECT_TRUE(boxes.shown().empty());
            continue;
        }
        ASSERT_EQ(boxes.shown().size(), 1u) << expected.toStdString();
        EXPECT_EQ(boxes.shown().front().kind, Kind::Error);
        EXPECT_EQ(boxes.shown().front().caption, QStringLiteral("Error"));
        EXPECT_EQ(boxes.shown().front().text, expected);
    }
}

TEST_F(LogCommandsTest, LocalFolderShowsOnlyAnExistingFolder)
{
    commands.openLocalFolder(dir.path());
    EXPECT_EQ(shell.foldersShown, std::vector<QString> { dir.path() });
    EXPECT_TRUE(boxes.shown().empty());

    writeLogFile();
    shell.foldersShown.clear();
    for (const QString& notAFolder : { QString(), dir.filePath(QStringLiteral("missing")), logPath }) {
        boxes.clear();
        commands.openLocalFolder(notAFolder);
        ASSERT_EQ(boxes.shown().size(), 1u) << notAFolder.toStdString();
        EXPECT_EQ(boxes.shown().front().kind, Kind::Error);
        EXPECT_EQ(boxes.shown().front().text, QStringLiteral("The local folder specified does not exist."));
    }
    EXPECT_TRUE(shell.foldersShown.empty());
}

TEST_F(LogCommandsTest, WithoutAProgramForItTheFolderAndTheHomePageSaySo)
{
    shell.nextResult = Shell::OpenResult::NoProgram;
    commands.openLocalFolder(dir.path());
    commands.openHomePage();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl(QStringLiteral("https://www.velmora.example/")));
    EXPECT_EQ(boxes.texts(),
        QStringList({ QStringLiteral("No program is set up to open \"%1\".").arg(dir.path()),
            QStringLiteral("No program is set up to open \"https://www.velmora.example/\".") }));
    for (const auto& box : boxes.shown()) {
        EXPECT_EQ(box.kind, Kind::Error);
        EXPECT_EQ(box.caption, QStringLiteral("Error"));
    }

    // When they open, nothing is said.
    boxes.clear();
    shell.nextResult = Shell::OpenResult::Opened;
    commands.openLocalFolder(dir.path());
    commands.openHomePage();
    EXPECT_TRUE(boxes.shown().empty());
}

// Help opens a web page: where no browser can show it, at once or once the
// desktop's opener has tried, a warning says so and names the manual page.
TEST_F(LogCommandsTest, HelpThatCannotBeShownPointsToTheManualPage)
{
    const QString text = QStringLiteral(
        "The help page cannot be opened: no web browser here could show "
        "https://www.velmora.example/oskra/help/taskhaul1.htm\n\nThe manual comes with the program: type man "
        "taskhaul in a terminal.");
    for (const Shell::OpenResult result : { Shell::OpenResult::NoProgram, Shell::OpenResult::Opened }) {
        boxes.clear();
        shell.nextResult = result;
        commands.openHelp();
        ASSERT_EQ(shell.opened.back(),
            QUrl(QStringLiteral("https://www.velmora.example/oskra/help/taskhaul1.htm")));
        if (result == Shell::OpenResult::Opened) {
            EXPECT_TRUE(boxes.shown().empty()); // the opener has not given up yet
            shell.failLater();
        }
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].kind, Kind::Warning);
        EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("Help"));
        EXPECT_EQ(boxes.shown()[0].text, text);
    }

    // The manual page itself, where the desktop has nothing to show it with.
    boxes.clear();
    commands.openManualPage();
    EXPECT_EQ(shell.opened.back(), QUrl(QStringLiteral("man:taskhaul")));
    shell.failLater();
    EXPECT_EQ(boxes.texts(),
        QStringList { QStringLiteral(
            "No program here shows manual pages. Type man taskhaul in a terminal to read the manual.") });

    // A failure that comes after the commands are gone shows nothing.
    boxes.clear();
    {
        LogCommands gone(boxes, shell, logPath);
        gone.openHelp();
    }
    shell.failLater();
    EXPECT_TRUE(boxes.shown().empty());
}

TEST(WriteMessage, ShowsAnInformationBox)
{
    RecordingMessageBoxes boxes;
    writeMessage(boxes, QStringLiteral("The file name is: a.txt"));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown().front().kind, Kind::Information);
    EXPECT_EQ(boxes.shown().front().caption, QStringLiteral("Information"));
    EXPECT_EQ(boxes.shown().front().text, QStringLiteral("The file name is: a.txt"));
}

TEST(ErrorBoxText, AddsAFullStopWhenTheLastCharacterSortsAfterIt)
{
    const std::pair<const char*, const char*> cases[] = {
        { "Disk full", "Disk full." },
        { "Error 550", "Error 550." }, // digits sort after "."
        { "Why?", "Why?." },
        { "Done.", "Done." },
        { "Stop!", "Stop!" },
        { "(none)", "(none)" },
        { "a-", "a-" },
        { "", "" },
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(errorBoxText(QString::fromLatin1(message)), QString::fromLatin1(shown)) << message;
}

TEST(DesktopShell, ReportsAMissingLogFileWithoutStartingAnything)
{
    QTemporaryDir dir;
    DesktopShell shell;
    EXPECT_EQ(shell.open(QUrl::fromLocalFile(dir.filePath(QStringLiteral("dunmark.txt")))),
        Shell::OpenResult::FileNotFound);
    EXPECT_EQ(shell.open(QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone/dunmark.txt")))),
        Shell::OpenResult::FolderNotFound);
}

// The desktop's opener (xdg-open) tells by its exit status whether anything
// could show the address; a stand-in on PATH plays it.
TEST(DesktopShell, AnAddressNothingCanShowFailsOnceTheOpenerHasTried)
{
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    for (const int status : { 3, 0 }) {
        QFile opener(bin.filePath(QStringLiteral("xdg-open")));
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly | QIODevice::Truncate));
        opener.write("#!/bin/sh\necho \"$1\" >\"$0.called\"\nexit " + QByteArray::number(status) + "\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(bin.filePath(QStringLiteral("xdg-open.called")));

        DesktopShell shell;
        int failures = 0;
        EXPECT_EQ(
            shell.openAddress(QUrl(QStringLiteral("https://www.velmora.example/a b")), [&] { ++failures; }),
            Shell::OpenResult::Opened);
        // Until the failure is told, or (for a success) a while after the opener ran.
        const QString called = bin.filePath(QStringLiteral("xdg-open.called"));
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && (status == 0 ? !QFile::exists(called) : failures == 0)) {
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        for (QDeadlineTimer grace(status == 0 ? 1000 : 200); !grace.hasExpired(); QThread::msleep(20))
            QCoreApplication::processEvents();
        EXPECT_EQ(failures, status == 0 ? 0 : 1) << "exit status " << status;
        QFile address(called);
        ASSERT_TRUE(address.open(QIODevice::ReadOnly));
        EXPECT_EQ(address.readAll().trimmed(), "https://www.velmora.example/a%20b");
    }
    qputenv("PATH", path);
}

} // namespace
} // namespace taskhaul
