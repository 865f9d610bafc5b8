#include "app/qt_services.h"

#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace taskhaul {

namespace {

// The shell's limits: longer texts are cut rather than refused.
constexpr int kMaxHint = 127;
constexpr int kMaxBalloonTitle = 63;
constexpr int kMaxBalloonText = 255;

} // namespace

void QtMessageBoxes::information(const QString& caption, const QString& text)
{
    QMessageBox::information(parent_, caption, text);
}

void QtMessageBoxes::error(const QString& caption, const QString& text)
{
    QMessageBox::critical(parent_, caption, text);
}

void QtMessageBoxes::warning(const QString& caption, const QString& text)
{
    QMessageBox::warning(parent_, caption, text);
}

MessageBoxes::Answer QtMessageBoxes::confirm(const QString& caption, const QString& text)
{
    const auto button
        = QMessageBox::question(parent_, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return button == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

MessageBoxes::Answer QtMessageBoxes::confirmDefaultNo(const QString& caption, const QString& text)
{
    const auto button
        = QMessageBox::question(parent_, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return button == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void QtMessageBoxes::plain(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent_);
    box.exec();
}

std::optional<QString> QtFolderPicker::pickFolder(const QString& startFolder)
{
    const QString folder
        = QFileDialog::getExistingDirectory(parent_, QString(), startFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

std::optional<QString> QtFilePicker::pickFile(const QString& title, const QString& startFolder)
{
    const QString file = QFileDialog::getOpenFileName(parent_, title, startFolder);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

QtTrayArea::QtTrayArea(const QIcon& icon, QMenu* menu, QObject* parent)
    : QObject(parent)
    , icon_(new QSystemTrayIcon(icon, this))
    , menu_(menu)
{
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, &QtTrayArea::activated);
    connect(icon_, &QSystemTrayIcon::messageClicked, this, &QtTrayArea::balloonClicked);
    icon_->show();
}

void QtTrayArea::activated(QSystemTrayIcon::ActivationReason reason)
{
    // The desktop opens the context menu itself (Context). A double-click comes
    // after the click (Trigger) of its first press; both restore, as the balloon
    // promises.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        emit restoreRequested();
}

QtTrayArea::~QtTrayArea()
{
    icon_->hide();
}

bool QtTrayArea::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayArea::setHint(const QString& hint)
{
    hint_ = hint;
    if (progress_.isEmpty())
        icon_->setToolTip(hint.left(kMaxHint));
}

void QtTrayArea::setState(TrayState state)
{
    if (state == state_)
        return;
    state_ = state;
    icon_->setIcon(trayIcon(state));
}

void QtTrayArea::setProgress(const QString& line)
{
    progress_ = line;
    icon_->setToolTip((line.isEmpty() ? hint_ : line).left(kMaxHint));
}

QString QtTrayArea::hint() const
{
    return hint_;
}

void QtTrayArea::showBalloon(const QString& title, const QString& text, BalloonIcon icon, int seconds)
{
    QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::NoIcon;
    switch (icon) {
    case BalloonIcon::None:
        kind = QSystemTrayIcon::NoIcon;
        break;
    case BalloonIcon::Information:
        kind = QSystemTrayIcon::Information;
        break;
    case BalloonIcon::Warning:
        kind = QSystemTrayIcon::Warning;
        break;
    case BalloonIcon::Error:
        kind = QSystemTrayIcon::Critical;
        break;
    }
    icon_->showMessage(title.left(kMaxBalloonTitle), text.left(kMaxBalloonText), kind, seconds * 1000);
}

} // namespace taskhaul
