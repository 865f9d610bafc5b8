#pragma once

#include "app/window_services.h"
#include "log/user_messages.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

class QMenu;
class QWidget;

namespace taskhaul {

// Message boxes on QMessageBox, modal to the given window.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent)
        : parent_(parent)
    {
    }
    void information(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    Answer confirm(const QString& caption, const QString& text) override;
    Answer confirmDefaultNo(const QString& caption, const QString& text) override;
    void plain(const QString& caption, const QString& text) override;

private:
    QWidget* parent_;
};

// The folder picker on QFileDialog.
class QtFolderPicker : public FolderPicker {
public:
    explicit QtFolderPicker(QWidget* parent)
        : parent_(parent)
    {
    }
    std::optional<QString> pickFolder(const QString& startFolder) override;

private:
    QWidget* parent_;
};

// The file picker on QFileDialog.
class QtFilePicker : public FilePicker {
public:
    explicit QtFilePicker(QWidget* parent)
        : parent_(parent)
    {
    }
    std::optional<QString> pickFile(const QString& title, const QString& startFolder) override;

private:
    QWidget* parent_;
};

// The notification-area icon on QSystemTrayIcon. The icon is shown from
// creation to destruction. Its menu belongs to the right button (the context
// menu); a click or a double-click with the left button asks for the window.
class QtTrayArea : public QObject, public TrayArea {
    Q_OBJECT
public:
    QtTrayArea(const QIcon& icon, QMenu* menu, QObject* parent);
    ~QtTrayArea() override;

    bool available() const override;
    void setHint(const QString& hint) override;
    QString hint() const override;
    void showBalloon(const QString& title, const QString& text, BalloonIcon icon, int seconds) override;
    void setProgress(const QString& line) override;
    void setState(TrayState state) override;
    TrayState state() const { return state_; }

    // What the icon does when the desktop reports it activated.
    void activated(QSystemTrayIcon::ActivationReason reason);

signals:
    // The user asks for the main window (RestoreMainWindow).
    void restoreRequested();
    // The user clicked the last message shown by showBalloon.
    void balloonClicked();

private:
    QSystemTrayIcon* icon_;
    QMenu* menu_;
    QString hint_;
    QString progress_;
    TrayState state_ = TrayState::Idle;
};

} // namespace taskhaul
