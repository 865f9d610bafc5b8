#include "app/schedule_status.h"

namespace taskhaul {

namespace {

QString momentText(const QDateTime& now, const QDateTime& moment)
{
    const QString time = moment.time().toString(QStringLiteral("HH:mm"));
    if (moment.date() == now.date())
        return time;
    return moment.date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + time;
}

} // namespace

QString scheduleStatusText(const QDateTime& now, const std::optional<QDateTime>& nextRun,
    const std::optional<LastRunSummary>& lastRun)
{
    QStringList parts;
    if (nextRun)
        parts << QStringLiteral("Next run ") + momentText(now, *nextRun);
    if (lastRun) {
        QString text = (nextRun ? QStringLiteral("last run ") : QStringLiteral("Last run "))
            + momentText(now, lastRun->at) + QStringLiteral(": ");
        if (!lastRun->ok)
            text += QStringLiteral("failed, see the log");
        else if (lastRun->files == 1)
            text += QStringLiteral("1 file, OK");
        else
            text += QStringLiteral("%1 files, OK").arg(lastRun->files);
        parts << text;
    }
    return parts.join(QStringLiteral(" \u00b7 "));
}

QDateTime nextDailyRun(const QDateTime& now, const QTime& dailyTime)
{
    const QTime time(dailyTime.hour(), dailyTime.minute(), dailyTime.second());
    QDateTime next(now.date(), time);
    if (next <= now)
        next = QDateTime(now.date().addDays(1), time);
    return next;
}

} // namespace taskhaul
