#include "log/desktop_shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace taskhaul {

Shell::OpenResult DesktopShell::open(const QUrl& url)
{
    // The desktop's launcher starts detached and reports nothing about the file,
    // so a missing local file is caught here.
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.exists())
            return file.dir().exists() ? OpenResult::FileNotFound : OpenResult::FolderNotFound;
    }
    return QDesktopServices::openUrl(url) ? OpenResult::Opened : OpenResult::NoProgram;
}

Shell::OpenResult DesktopShell::openAddress(const QUrl& url, std::function<void()> failed)
{
    // xdg-open hands the address to the desktop's browser (or help viewer) and
    // exits with a failure when there is none, or none could start; Qt's own
    // opener starts it detached and never learns of that.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return open(url);
    auto* process = new QProcess;
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // The opener may run as long as the browser it started: it is left to end
    // in its own time, and says then whether it could show the address.
    QObject::connect(
        process, &QProcess::finished, process, [process, failed](int code, QProcess::ExitStatus status) {
            process->deleteLater();
            if ((status != QProcess::NormalExit || code != 0) && failed)
                failed();
        });
    process->start(opener, { url.toString(QUrl::FullyEncoded) });
    if (!process->waitForStarted(5000)) {
        delete process;
        return OpenResult::NoProgram;
    }
    return OpenResult::Opened;
}

Shell::OpenResult DesktopShell::showFolder(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? OpenResult::Opened : OpenResult::NoProgram;
}

} // namespace taskhaul
