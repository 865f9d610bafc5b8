#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace taskhaul {

// How the last scheduled run ended.
struct LastRunSummary {
    QDateTime at; // when it ended
    bool ok = false; // everything fetched that the job asked for
    int files = 0; // files fetched
};

// The status bar's text while the scheduler is on:
//   "Next run 14:00 · last run 13:00: 3 files, OK"
//   "Next run 14:00 · last run 13:00: failed, see the log"
// A time on another day than `now` carries its date ("2026-03-08 14:00").
// Without a next run (one is in progress) the text begins with "Last run";
// without either it is empty.
QString scheduleStatusText(const QDateTime& now, const std::optional<QDateTime>& nextRun,
    const std::optional<LastRunSummary>& lastRun);

// The next moment the clock shows `dailyTime` (to the second) after `now`.
QDateTime nextDailyRun(const QDateTime& now, const QTime& dailyTime);

} // namespace taskhaul
