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

void LogCommands::openAddress(const QUrl& url, const std::function<void()>& cannot)
{
    const std::weak_ptr<bool> alive = alive_;
    const auto failed = [alive, cannot] {
        if (!alive.expired())
            cannot();
    };
    if (shell_.openAddress(url, failed) == Shell::OpenResult::NoProgram)
        cannot();
}

void LogCommands::openHelp()
{
    const QUrl url = helpPageUrl();
    openAddress(url, [this, url] {
        boxes_.warning(QStringLiteral("Help"),
            QStringLiteral("The help page cannot be opened: no web browser here could show %1\n\nThe "
                           "manual comes with the program: type %2 in a terminal.")
                .arg(url.toString(), QLatin1String(manualPageCommand)));
    });
}

void LogCommands::openHomePage()
{
    const QUrl url = homePageUrl();
    openAddress(url, [this, url] { reportNoProgram(Shell::OpenResult::NoProgram, url.toString()); });
}

void LogCommands::openManualPage()
{
    openAddress(QUrl(QStringLiteral("man:taskhaul")), [this] {
        boxes_.information(QStringLiteral("Manual Page"),
            QStringLiteral("No program here shows manual pages. Type %1 in a terminal to read the manual.")
                .arg(QLatin1String(manualPageCommand)));
    });
}

} // namespace taskhaul
