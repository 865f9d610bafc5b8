#pragma once

#include "log/shell.h"
#include "log/user_messages.h"

#include <QString>
#include <QUrl>

#include <memory>

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
    // Help...: the help page in the browser. When it cannot be shown (no
    // browser), a warning says so and points to the manual page.
    void openHelp();
    // The maker's home page: "no program for it" is reported.
    void openHomePage();
    // Manual Page: "man:taskhaul" in the desktop's help viewer; where none
    // shows it, a box says how to read it in a terminal.
    void openManualPage();

    // The error box text for an unsuccessful open of `path`, nothing on success.
    static QString openFailureText(Shell::OpenResult result, const QString& path);

private:
    void reportNoProgram(Shell::OpenResult result, const QString& path);
    // Opens `url` and runs `cannot` (once) when nothing could show it, now or
    // later; not once these commands are gone.
    void openAddress(const QUrl& url, const std::function<void()>& cannot);

    MessageBoxes& boxes_;
    Shell& shell_;
    QString logPath_;
    // Lives as long as the commands: a late failure asks it first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The man page's name, as the Help menu and the failure of Help... give it.
inline constexpr const char* manualPageCommand = "man taskhaul";

} // namespace taskhaul
