#include "update/version_compare.h"

#include <QLocale>
#include <QStringList>

#include <cmath>

namespace taskhaul {

namespace {

qlonglong versionPart(const QStringList& parts, qsizetype index)
{
    if (index >= parts.size())
        return 0;
    bool ok = false;
    const qlonglong value = parts.at(index).toLongLong(&ok);
    return ok ? value : 0;
}

bool isNewerStandard(const QString& installed, const QString& published)
{
    const QStringList current = installed.split(QLatin1Char('.'));
    const QStringList candidate = published.split(QLatin1Char('.'));
    const qsizetype count = std::max(current.size(), candidate.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qlonglong a = versionPart(current, i);
        const qlonglong b = versionPart(candidate, i);
        if (a != b)
            return b > a;
    }
    return false;
}

bool readNumber(const QString& text, double& number)
{
    bool ok = false;
    number = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(number);
}

} // namespace

bool isNewerVersion(const QString& installed, const QString& published, TVersionFormat format)
{
    switch (format) {
    case TVersionFormat::vfStandard:
        return isNewerStandard(installed, published);
    case TVersionFormat::vfString:
        return QString::compare(published, installed, Qt::CaseSensitive) > 0;
    case TVersionFormat::vfNumber: {
        double current = 0;
        double candidate = 0;
        if (!readNumber(installed, current) || !readNumber(published, candidate))
            return false;
        return candidate > current;
    }
    }
    return false;
}

} // namespace taskhaul
