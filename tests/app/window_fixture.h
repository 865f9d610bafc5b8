#pragma once

#include "app/main_window.h"
#include "gui/recording_message_boxes.h"
#include "gui/recording_notifier.h"
#include "gui/recording_shell.h"
#include "gui/recording_tray.h"
#include "gui/scripted_file_picker.h"
#include "gui/scripted_folder_picker.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "settings/settings_store.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace taskhaul::test {

// A main window on the offscreen platform with recording services, a private
// store and log, and a fixed clock (2026-03-07 14:05:09).
class WindowTest : public ::testing::Test {
protected:
    WindowTest()
        : log_(dir_.filePath(QStringLiteral("dunmark.txt")), timeFormat(), [this] { return now; })
        , store_(dir_.filePath(QStringLiteral("Taskhaul.conf")), timeFormat())
    {
    }

    static LongTimeFormat timeFormat() { return LongTimeFormat {}; } // 24-hour, leading zero

    // `transfer` and `scheduler`: the program's own, handed to the window as its
    // main does; when empty the window builds its own.
    MainWindow& createWindow(const QStringList& arguments = {}, TransferWiring* transfer = nullptr,
        SchedulerWiring* scheduler = nullptr)
    {
        MainWindowServices services;
        services.log = &log_;
        services.store = &store_;
        services.messageBoxes = &boxes;
        services.shell = &shell;
        services.folderPicker = &picker;
        services.filePicker = &filePicker;
        services.tray = &tray;
        services.notifier = &notices;
        services.clock = [this] { return now; };
        services.arguments = arguments;
        services.transfer = transfer;
        services.scheduler = scheduler;
        window_ = std::make_unique<MainWindow>(services);
        return *window_;
    }

    MainWindow& window() { return *window_; }
    void destroyWindow() { window_.reset(); }
    // The window's test hooks: its insides and the operations of its roles.
    MainWindow::TestHooks hooks() { return window_->testHooks(); }

    // Writes raw values into the store's "Options" group.
    void storeValues(const std::map<QString, QString>& values)
    {
        QSettings settings(store_.filePath(), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Options"));
        for (const auto& [key, value] : values)
            settings.setValue(key, value);
    }

    // The log's messages, without date and time.
    QStringList logMessages() const
    {
        QFile file(log_.path());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList messages;
        const QString content = QString::fromUtf8(file.readAll());
        for (const QString& line : content.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            messages << line.section(QStringLiteral(" - "), 1);
        return messages;
    }

    bool enabled(Command command) const { return window_->isCommandEnabled(command); }
    void trigger(Command command) { window_->action(command)->trigger(); }

    template <typename W = QWidget> W* child(const char* objectName) const
    {
        return window_->findChild<W*>(QString::fromLatin1(objectName));
    }

    QDateTime now { QDate(2026, 3, 7), QTime(14, 5, 9) };
    RecordingMessageBoxes boxes;
    RecordingShell shell;
    ScriptedFolderPicker picker;
    ScriptedFilePicker filePicker;
    RecordingTray tray;
    RecordingNotifier notices;

private:
    QTemporaryDir dir_;
    ActivityLog log_;
    SettingsStore store_;
    std::unique_ptr<MainWindow> window_;

protected:
    ActivityLog& log() { return log_; }
    SettingsStore& store() { return store_; }
    QString dir(const QString& name) const { return dir_.filePath(name); }
};

} // namespace taskhaul::test
