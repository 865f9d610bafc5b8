#pragma once

#include "log/shell.h"
#include "log/user_messages.h"

#include <QString>
#include <QUrl>

namespace taskhaul {

// The maker's web site, home of the help pages.
inline constexpr const char* makerSiteUrl = "https://www.velmora.example";
QUrl helpPageUrl(); // the help page of this program on the maker's site
QUrl homePageUrl(); // the maker's home page

// The commands around the activity log, the local folder and the web pages.
// None of them raises; every failure ends in a message box.
class LogCommands {
public:
    LogCommands(MessageBoxes& boxes, Shell& shell, QString logPath);

    // Delete Log File: deletes the log; when that fails, a warning box without icon.
    void deleteLogFile();
    // Log File...: opens the log in the user's viewer; failures in an error box.
    void openLogFile();
    // Local Folder...: shows the folder named by the local folder field.
    void openLocalFolder(const QString& folderField);
    // Help... and the maker's home page. Only "no program for it" is reported.
    void openHelp();
    void openHomePage();

    // The error box text for an unsuccessful open of `path`, nothing on success.
    static QString openFailureText(Shell::OpenResult result, const QString& path);

private:
    void reportNoProgram(Shell::OpenResult result, const QString& path);

    MessageBoxes& boxes_;
    Shell& shell_;
    QString logPath_;
};

} // namespace taskhaul
