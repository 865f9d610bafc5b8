#include "ui/update_status_windows.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

namespace taskhaul {

namespace {

const QString kCaption = QStringLiteral("Velmora Taskhaul Oskra Update");

void setUpStatusWindow(QDialog& window, const QString& objectName, QSize size)
{
    window.setObjectName(objectName);
    window.setWindowTitle(kCaption);
    // A fixed dialog border: a title and a close box, no resizing.
    window.setWindowFlags(
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window.setFixedSize(size);
    window.setModal(false);
}

QLabel* boldCentredLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("lblMessage"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

void centreOnScreen(QWidget& window)
{
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void bringToFront(QWidget& window)
{
    window.show();
    window.raise();
}

} // namespace

Tfrm_message::Tfrm_message(QWidget* parent)
    : QDialog(parent)
{
    setUpStatusWindow(*this, QStringLiteral("frm_message"), { 567, 70 });
    lblMessage_ = boldCentredLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage_);
}

void Tfrm_message::showEvent(QShowEvent* event)
{
    centreOnScreen(*this);
    QDialog::showEvent(event);
}

Tfrm_download::Tfrm_download(QWidget* parent)
    : QDialog(parent)
{
    setUpStatusWindow(*this, QStringLiteral("frm_download"), { 502, 128 });
    lblMessage_ = boldCentredLabel(this);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblMessage_);
    layout->addWidget(progressBar_);
}

void Tfrm_download::showEvent(QShowEvent* event)
{
    centreOnScreen(*this);
    QDialog::showEvent(event);
}

UpdateStatusDialogs::UpdateStatusDialogs(Tfrm_message& message, Tfrm_download& download)
    : message_(message)
    , download_(download)
{
}

void UpdateStatusDialogs::showMessage(const QString& text)
{
    message_.messageLabel()->setText(text);
    bringToFront(message_);
    // Painted now: the page is fetched right after this returns.
    message_.repaint();
}

void UpdateStatusDialogs::closeMessage()
{
    message_.hide();
}

void UpdateStatusDialogs::showDownload()
{
    bringToFront(download_);
}

void UpdateStatusDialogs::setDownloadProgress(const QString& text, int maximum, int position)
{
    download_.messageLabel()->setText(text);
    QProgressBar* bar = download_.progressBar();
    bar->setVisible(true);
    bar->setMaximum(maximum);
    bar->setValue(position);
}

void UpdateStatusDialogs::closeDownload()
{
    download_.hide();
}

} // namespace taskhaul
