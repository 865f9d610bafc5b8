#include "ui/about_texts.h"

#include <QLocale>
#include <QSysInfo>

#include <sys/sysinfo.h>

namespace taskhaul {

std::optional<ProgramVersion> BuiltProgramVersion()
{
#if defined(TASKHAUL_VERSION_MAJOR) && defined(TASKHAUL_VERSION_MINOR)
    // "+ 0" keeps a part the build left empty (a version without a fourth
    // number, say) from breaking the expression.
    return ProgramVersion
    {
        quint16(TASKHAUL_VERSION_MAJOR + 0), quint16(TASKHAUL_VERSION_MINOR + 0),
#if defined(TASKHAUL_VERSION_PATCH)
            quint16(TASKHAUL_VERSION_PATCH + 0),
#else
            0,
#endif
#if defined(TASKHAUL_VERSION_BUILD)
            quint16(TASKHAUL_VERSION_BUILD + 0)
    };
#else
            0
    };
#endif
#else
    return std::nullopt;
#endif
}

namespace {

std::optional<quint64> PhysicalMemoryBytes()
{
    struct sysinfo info { };
    if (sysinfo(&info) != 0 || info.totalram == 0)
        return std::nullopt;
    return quint64(info.totalram) * quint64(info.mem_unit == 0 ? 1 : info.mem_unit);
}

} // namespace

SystemFacts SystemFacts::current()
{
    SystemFacts facts;
    facts.productName = QSysInfo::prettyProductName();
    facts.kernelVersion = QSysInfo::kernelVersion();
    facts.physicalMemoryBytes = PhysicalMemoryBytes();
    facts.programVersion = BuiltProgramVersion();
    return facts;
}

QString AboutVersionText(const std::optional<ProgramVersion>& version)
{
    if (!version)
        return QStringLiteral("Version 0.2 build 50");
    return QStringLiteral("Version %1.%2 (Build %3)")
        .arg(version->major)
        .arg(version->minor)
        .arg(version->build);
}

QString AboutOsText(const QString& productName, const QString& kernelVersion)
{
    const QString name = productName.trimmed().isEmpty() ? QStringLiteral("Unknown") : productName.trimmed();
    QString build = QStringLiteral(" (Build ");
    if (!kernelVersion.isEmpty())
        build += kernelVersion + QLatin1Char(')');
    return name + QLatin1Char(' ') + build;
}

QString AboutMemoryText(quint64 bytes, const QLocale& locale)
{
    const quint64 kilobytes = (bytes + 512) / 1024;
    // Group the digits in every locale, the "C" locale included.
    QLocale grouping = locale;
    grouping.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return grouping.toString(kilobytes) + QStringLiteral(" KB");
}

} // namespace taskhaul
