#pragma once

#include "app/transfer_progress.h"

#include <QString>

#include <cstdio>

namespace taskhaul {

// The one-line progress of --run-once on a terminal: the file, the bytes
// received and the rate, rewritten in place on standard error. Where standard
// error is no terminal (cron, systemd) nothing extra is written.
class TerminalProgress {
public:
    // The line for a download of `name` as it stands (without line break).
    static QString line(const QString& name, const ProgressState& state);

    explicit TerminalProgress(std::FILE* terminal);
    // Shows the state, or wipes the line when the download has ended.
    void show(const QString& name, const ProgressState& state);
    // Wipes the line before something else is written to the terminal.
    void clear();

private:
    std::FILE* terminal_;
    bool shown_ = false;
};

} // namespace taskhaul
