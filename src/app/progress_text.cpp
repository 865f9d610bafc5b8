#include "app/progress_text.h"

#include <algorithm>
#include <cmath>

namespace taskhaul {

namespace {

QString rateText(double bytesPerSecond)
{
    return byteSizeText(std::int64_t(bytesPerSecond)) + QStringLiteral("/s");
}

// `separator` and "m:ss left", or nothing when the size is unknown or passed.
QString timeLeftText(
    std::int64_t received, std::int64_t size, double bytesPerSecond, const QString& separator)
{
    if (size < 0 || received > size)
        return {};
    return separator + durationText(std::int64_t(std::ceil(double(size - received) / bytesPerSecond)))
        + QStringLiteral(" left");
}

} // namespace

QString byteSizeText(std::int64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char* const units[] = { "KiB", "MiB", "GiB" };
    double value = double(bytes) / 1024.0;
    int unit = 0;
    // Rounded as shown: 1023.96 KiB reads "1.0 MiB", not "1024.0 KiB".
    while (unit < 2 && value >= 1023.95) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString durationText(std::int64_t seconds)
{
    seconds = std::max<std::int64_t>(seconds, 0);
    const std::int64_t hours = seconds / 3600;
    const int minutes = int(seconds / 60 % 60);
    const int rest = int(seconds % 60);
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

QString progressText(std::int64_t received, std::int64_t size, double bytesPerSecond)
{
    QString text = byteSizeText(received);
    if (size >= 0)
        text += QStringLiteral(" of ") + byteSizeText(size);
    if (bytesPerSecond > 0)
        text += QStringLiteral(", ") + rateText(bytesPerSecond)
            + timeLeftText(received, size, bytesPerSecond, QStringLiteral(", "));
    return text;
}

QString shortProgressText(std::int64_t received, std::int64_t size, double bytesPerSecond)
{
    const QString dot = QStringLiteral(" \u00b7 ");
    QString text
        = size >= 0 ? QStringLiteral("%1%").arg(progressPercent(received, size)) : byteSizeText(received);
    if (bytesPerSecond > 0)
        text += dot + rateText(bytesPerSecond) + timeLeftText(received, size, bytesPerSecond, dot);
    return text;
}

QString trayProgressText(std::int64_t received, std::int64_t size, double bytesPerSecond)
{
    const int percent = progressPercent(received, size);
    QString text = QStringLiteral("Taskhaul - downloading");
    if (percent >= 0)
        text += QStringLiteral(" %1%").arg(percent);
    return text + QStringLiteral(": ") + progressText(received, size, bytesPerSecond);
}

int progressPercent(std::int64_t received, std::int64_t size)
{
    if (size < 0)
        return -1;
    if (size == 0)
        return 100;
    return int(std::clamp<std::int64_t>(received * 100 / size, 0, 100));
}

QString filesDoneText(int filesDone, int filesTotal)
{
    if (filesDone < 0 || filesTotal < 0)
        return {};
    return QStringLiteral("%1 of %2 files").arg(filesDone).arg(filesTotal);
}

} // namespace taskhaul
