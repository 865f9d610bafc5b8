#include "app/transfer_wiring.h"

#include "app/window_roles.h"
#include "site/ftp_site.h"
#include "site/sftp_loader.h"

#include <QCoreApplication>

namespace taskhaul {

TransferWiring::TransferWiring()
    // While the client waits for the network the window keeps taking clicks
    // (Stop Transfer above all) and repainting.
    : FtpClient1_([] { QCoreApplication::processEvents(); })
    , sites_([this] { return std::make_unique<FtpSite>(FtpClient1_); },
          [] { return loadSftpSite([] { QCoreApplication::processEvents(); }); })
    , engine_(*this, sites_)
{
}

TransferWiring::~TransferWiring() = default;

void TransferWiring::detach()
{
    window_ = nullptr;
}

JobSettings TransferWiring::job() const
{
    return window_->jobSettings();
}

void TransferWiring::setSequenceStart(int value)
{
    window_->setSequenceStart(value);
}

void TransferWiring::setLoginFields(const QString& userName, const QString& password)
{
    window_->setLoginFields(userName, password);
}

void TransferWiring::setTrustedCertificate(const QString& fingerprint)
{
    window_->setTrustedCertificate(fingerprint);
}

void TransferWiring::setTrustedHostKey(const QString& fingerprint)
{
    window_->setTrustedHostKey(fingerprint);
}

LocalDateTime TransferWiring::currentTime() const
{
    const QDateTime now = window_->now();
    const QDate date = now.date();
    const QTime time = now.time();
    return LocalDateTime { date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second() };
}

void TransferWiring::setStatusText(const QString& text)
{
    window_->setStatusLine(text);
}

void TransferWiring::writeLog(const QString& text)
{
    window_->writeLog(text);
}

void TransferWiring::writeLogLines(const QStringList& texts)
{
    window_->writeLogLines(texts);
}

MessageBoxes& TransferWiring::messageBoxes()
{
    return window_->messageBoxes();
}

void TransferWiring::controlsStandby()
{
    window_->controlsStandby();
}

void TransferWiring::controlsConnected()
{
    window_->controlsConnected();
}

void TransferWiring::controlsSchedon()
{
    window_->controlsSchedon();
}

void TransferWiring::controlsBusy()
{
    window_->controlsBusy();
}

void TransferWiring::setStopTransferEnabled(bool enabled)
{
    window_->setStopTransferEnabled(enabled);
}

void TransferWiring::focusHostField()
{
    window_->focusHostField();
}

void TransferWiring::setBusyCursor(bool busy)
{
    window_->setBusyCursor(busy);
}

void TransferWiring::processPendingEvents()
{
    QCoreApplication::processEvents();
}

} // namespace taskhaul
