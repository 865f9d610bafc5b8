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

QString LogCommands::openFailureText(Shell::OpenResult result, const QString& path)
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
    return QStringLiteral("No program is set up to open \"%1\".").arg(path);
}

void LogCommands::reportNoProgram(Shell::OpenResult result, const QString& path)
{
    if (result == Shell::OpenResult::NoProgram)
        boxes_.error(QStringLiteral("Error"), openFailureText(result, path));
}

void LogCommands::openLogFile()
{
    const QString failure = openFailureText(shell_.open(QUrl::fromLocalFile(logPath_)), logPath_);
    if (!failure.isEmpty())
        boxes_.error(QStringLiteral("Error"), failure);
}

void LogCommands::openLocalFolder(const QString& folderField)
{
    if (folderField.isEmpty() || !QFileInfo(folderField).isDir()) {
        boxes_.error(QStringLiteral("Error"), QStringLiteral("The local folder specified does not exist."));
        return;
    }
    reportNoProgram(shell_.showFolder(folderField), folderField);
}

void LogCommands::openHelp()
{
    reportNoProgram(shell_.open(helpPageUrl()), helpPageUrl().toString());
}

void LogCommands::openHomePage()
{
    reportNoProgram(shell_.open(homePageUrl()), homePageUrl().toString());
}

} // namespace taskhaul
