// The job's fields in the main window: open, save and clear the job, and the
// handlers that keep the fields that depend on each other in step.

#include "app/main_window.h"

#include "app/auxiliary_windows.h"
#include "app/desktop_integration.h"
#include "app/input_rules.h"
#include "app/qt_services.h"
#include "log/user_messages.h"
#include "settings/settings_store.h"
#include "transfer/local_date_time.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QToolButton>

namespace taskhaul {

void MainWindow::openConfigurationCommand()
{
    if (jobBusy())
        return;
    if (!flags_.configChanged) {
        openConfig(false);
        return;
    }
    const auto answer = boxes_->confirm(QStringLiteral("Confirm"),
        QStringLiteral("The configuration information has changed.  Do you wish to override "
                       "your changes with the saved configuration?"));
    if (answer == MessageBoxes::Answer::Yes)
        openConfig(true);
}

void MainWindow::openConfig(bool raiseErrors)
{
    const LoadResult result = store_->load(form_.snapshot());
    form_.apply(result.settings);
    trustChanged();
    // The passwords could not come from the keyring: the job runs without them
    // until the keyring can be read, and the log says why.
    if (!result.keyringWarning.isEmpty())
        writeLog(QStringLiteral("WARNING: ") + result.keyringWarning);
    // The stored rename flag sets the new-name field directly, in every state.
    if (result.applied(QStringLiteral("renamecheck"))) {
        form_.renameTo->setEnabled(result.settings.rename);
        form_.validateRenameTo->setEnabled(result.settings.rename);
    }
    if (result.error) {
        if (raiseErrors)
            throw *result.error;
        return;
    }
    focusHostField();
    action(Command::SaveConfiguration)->setEnabled(false);
    flags_.configChanged = false;
    desktop_->syncAutostart();
}

void MainWindow::saveConfigurationCommand()
{
    if (jobBusy())
        return;
    flags_.configChanged = false;
    const SaveResult saved = store_->save(form_.snapshot());
    if (!saved.keyringWarning.isEmpty())
        writeLog(QStringLiteral("WARNING: ") + saved.keyringWarning);
    desktop_->syncAutostart();
    focusHostField();
    action(Command::SaveConfiguration)->setEnabled(false);
}

void MainWindow::clearAllCommand()
{
    if (jobBusy())
        return;
    form_.apply(clearedJobSettings(form_.snapshot(), now().time()));
    trustChanged();
    focusHostField();
    action(Command::SaveConfiguration)->setEnabled(false);
    writeLog(QStringLiteral("Parameters reset"));
    flags_.configChanged = false;
}

// ---- Input handlers ---------------------------------------------------------------

void MainWindow::markChanged()
{
    if (!flags_.loadingOptions)
        flags_.configChanged = true;
    action(Command::SaveConfiguration)->setEnabled(true);
}

void MainWindow::fileKindAllClicked()
{
    markChanged();
    for (QWidget* widget : std::initializer_list<QWidget*> {
             form_.fileName, form_.rename, form_.renameTo, form_.validateFileName, form_.validateRenameTo })
        widget->setEnabled(false);
}

void MainWindow::fileKindOneClicked()
{
    markChanged();
    form_.fileName->setEnabled(true);
    form_.rename->setEnabled(true);
    if (form_.rename->isChecked()) {
        form_.renameTo->setEnabled(true);
        form_.validateRenameTo->setEnabled(true);
    }
    form_.validateFileName->setEnabled(true);
}

void MainWindow::renameClicked()
{
    markChanged();
    const bool on = form_.rename->isChecked();
    form_.renameTo->setEnabled(on);
    form_.validateRenameTo->setEnabled(on);
}

void MainWindow::scheduleKindClicked()
{
    if (!flags_.loadingOptions)
        flags_.configChanged = true;
    scheduleKindFields();
    action(Command::SaveConfiguration)->setEnabled(true);
}

void MainWindow::scheduleKindFields()
{
    const bool daily = form_.dailyTimeKind->isChecked();
    form_.dailyTime->setEnabled(daily);
    form_.interval->setEnabled(!daily);
}

void MainWindow::autoStartClicked()
{
    markChanged();
    if (form_.autoStart->isChecked()) {
        form_.autoLoad->setChecked(true);
        form_.autoLoad->setEnabled(false);
    } else {
        form_.autoLoad->setEnabled(true);
    }
}

void MainWindow::browseLocalFolder()
{
    // The picker opens at the folder of the field when there is one, else at
    // the home folder (a desktop folder need not exist).
    const QString current = form_.localFolder->text();
    const QString start = !current.isEmpty() && QFileInfo(current).isDir() ? current : QDir::homePath();
    if (const auto folder = folderPicker_->pickFolder(start))
        form_.localFolder->setText(*folder);
}

void MainWindow::protocolChanged()
{
    markChanged();
    const bool sftp = form_.sftpChosen();
    // A port left at the usual one of the protocol follows the protocol; any
    // other port is the user's. A job being put into the fields brings its own.
    if (!form_.applying) {
        const QString from = sftp ? QStringLiteral("21") : QStringLiteral("22");
        if (form_.port->text() == from)
            form_.port->setText(sftp ? QStringLiteral("22") : QStringLiteral("21"));
    }
    trustChanged();
}

void MainWindow::trustChanged()
{
    form_.showTrust();
    applyProtocolControls(controlState_, *this);
}

// A certificate or host key trusted (or forgotten, or found no longer needed)
// is the stored job's at once: scheduled runs, --run-once and the next start
// see it without a Save, which the rest of the window's changes may not be
// ready for (and which is greyed while connected). When the stored job is of
// another site it waits for Save, as any change does.
void MainWindow::keepTrust()
{
    trustChanged();
    bool stored = false;
    try {
        stored = store_->saveTrust(form_.snapshot());
    } catch (const SettingsError& error) {
        writeLog(QStringLiteral("WARNING: The trusted fingerprint cannot be saved: ") + error.message());
    }
    if (!stored)
        markChanged();
}

// A server whose certificate or host key has legitimately changed is refused
// as long as the job trusts the old one: forgetting it lets the next Connect
// ask as for a new server. known_hosts is the user's, and never written.
void MainWindow::forgetTrustClicked()
{
    const bool sftp = form_.sftpChosen();
    const QString fingerprint = form_.trustedFingerprint->text();
    if (fingerprint.isEmpty())
        return;
    const JobSettings job = form_.snapshot();
    // Through a proxy, TLS is with the proxy: the certificate is the proxy's.
    const bool viaProxy = !sftp && job.proxyType > 0 && !job.proxyHost.isEmpty();
    const QString what = sftp ? QStringLiteral("host key") : QStringLiteral("certificate");
    const QString text
        = QStringLiteral("Forget the trusted %1 of %2?\n\n%3\n\nThe next Connect shows the server's %1 "
                         "and asks whether to trust it, as for a new server; scheduled runs refuse it "
                         "until then.")
              .arg(what, viaProxy ? job.proxyHost : job.siteAddress(), fingerprint);
    if (boxes_->confirmDefaultNo(QStringLiteral("Confirm"), text) != MessageBoxes::Answer::Yes)
        return;
    if (sftp)
        form_.trustedHostKey.clear();
    else
        form_.trustedCertificate.clear();
    writeLog(QStringLiteral("Forgot the trusted %1 %2").arg(what, fingerprint));
    keepTrust();
}

void MainWindow::browseKeyFile()
{
    // The picker opens at the folder of the key file when there is one, else
    // at ~/.ssh, else at the home folder.
    const QFileInfo current(form_.keyFile->text());
    const QString ssh = QDir::home().filePath(QStringLiteral(".ssh"));
    QString start = QDir::homePath();
    if (!form_.keyFile->text().isEmpty() && current.absoluteDir().exists())
        start = current.absolutePath();
    else if (QFileInfo(ssh).isDir())
        start = ssh;
    if (const auto file = filePicker_->pickFile(QStringLiteral("Private key file"), start))
        form_.keyFile->setText(*file);
}

void MainWindow::validateTemplate(const QString& nameTemplate)
{
    const QDateTime moment = now();
    const LocalDateTime local { moment.date().year(), moment.date().month(), moment.date().day(),
        moment.time().hour(), moment.time().minute(), moment.time().second() };
    writeMessage(
        *boxes_, AuxiliaryWindows::templateCheckText(nameTemplate, local, form_.sequenceStart->value()));
}

void MainWindow::wildCardsCommand()
{
    auxiliaryWindows_->showWildcardGuide(pos());
}

void MainWindow::aboutCommand()
{
    auxiliaryWindows_->showAbout();
}

} // namespace taskhaul
