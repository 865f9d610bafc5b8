#pragma once

#include "app/program_icon.h"

#include <QString>

#include <functional>
#include <optional>

namespace taskhaul {

// The platform's folder picker.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // Asks the user for a folder (no "new folder" button, no title), starting in
    // `startFolder`. The full path, or nothing on cancel.
    virtual std::optional<QString> pickFolder(const QString& startFolder) = 0;
};

// The platform's file picker.
class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Asks the user for an existing file, starting in `startFolder`, with
    // `title` as the dialog's title. The full path, or nothing on cancel.
    virtual std::optional<QString> pickFile(const QString& title, const QString& startFolder) = 0;
};

// The program's icon in the desktop's notification area.
class TrayArea {
public:
    enum class BalloonIcon { None, Information, Warning, Error };

    virtual ~TrayArea() = default;
    // Whether the desktop has a notification area at all. Without one the window
    // cannot hide there: it minimises to the taskbar instead.
    virtual bool available() const = 0;
    virtual void setHint(const QString& hint) = 0;
    virtual QString hint() const = 0;
    virtual void showBalloon(const QString& title, const QString& text, BalloonIcon icon, int seconds) = 0;
    // One line on a download in progress, shown as the icon's tooltip in place
    // of the hint while it is not empty.
    virtual void setProgress(const QString& line) { (void)line; }
    // The picture of the icon (idle, scheduler on, running, last run failed).
    virtual void setState(TrayState state) { (void)state; }
};

} // namespace taskhaul
