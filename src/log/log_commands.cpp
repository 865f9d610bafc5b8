#include "log/log_commands.h"

#include <QFile>
#include <QFileInfo>

namespace taskhaul {

QUrl helpPageUrl()
{
    return QUrl(QString::fromLatin1(makerSiteUrl) + QStringLiteral("/oskra/help/taskhaul1.htm"));
}

QUrl homePageUrl()
{
    return QUrl(QString::fromLatin1(makerSiteUrl) + QLatin1Char('/'));
}

void writeMessage(MessageBoxes& boxes, const QString& text)
{
    boxes.information(QStringLiteral("Information"), text);
}

LogCommands::LogCommands(MessageBoxes& boxes, Shell& shell, QString logPath)
    : boxes_(boxes)
    , shell_(shell)
    , logPath_(std::move(logPath))
{
}

void LogCommands::deleteLogFile()
{
    if (!QFile::remove(logPath_))
        boxes_.plain(QStringLiteral("Taskhaul Warning"),
                     QStringLiteral("The log file does not exist or could not be deleted."));
}

QString LogCommands::openFailureText(Shell::OpenResult result)
{
    switch (result) {
    case Shell::OpenResult::Opened:
        return {};
    case Shell::OpenResult::FileNotFound:
        return QStringLiteral("Log file not found.");
    case Shell::OpenResult::FolderNotFound:
        return QStringLiteral("Folder not found.");
    case Shell::OpenResult::NoProgram:
        break;
    }
    // The shell's own number for "no program is associated with this file".
    return QStringLiteral("Error #: 31 in ShellExecute.");
}

void LogCommands::openLogFile()
{
    const QString failure = openFailureText(shell_.open(QUrl::fromLocalFile(logPath_)));
    if (!failure.isEmpty())
        boxes_.error(QStringLiteral("Error"), failure);
}

void LogCommands::openLocalFolder(const QString& folderField)
{
    if (folderField.isEmpty() || !QFileInfo(folderField).isDir()) {
        boxes_.error(QStringLiteral("Error"), QStringLiteral("The local folder specified does not exist."));
        return;
    }
    shell_.showFolder(folderField);
}

void LogCommands::openHelp()
{
    shell_.open(helpPageUrl());
}

void LogCommands::openHomePage()
{
    shell_.open(homePageUrl());
}

} // namespace taskhaul
