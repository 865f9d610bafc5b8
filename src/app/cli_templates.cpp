#include "app/headless.h"

#include "app/cli_support.h"

#include "transfer/file_template.h"

#include <QByteArray>
#include <QDate>
#include <QTime>

#include <cstdio>
#include <optional>
#include <string>

namespace taskhaul {

namespace {

using cli::localBytes;
using cli::printLine;
using cli::usageError;

// "YYYY-MM-DD HH:MM:SS", read as a wall-clock moment (no time zone involved).
std::optional<LocalDateTime> ParseMoment(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return std::nullopt;
    const QDate date = QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(parts[1], QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return LocalDateTime { date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second() };
}

std::optional<int> ParseSequence(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < kSequenceMin || value > kSequenceMax)
        return std::nullopt;
    return value;
}

} // namespace

// --expand TEMPLATE [--at "YYYY-MM-DD HH:MM:SS"] [--seq N]
int runExpand(const QStringList& args)
{
    if (args.isEmpty())
        return usageError("--expand needs a name template");
    const QString nameTemplate = args.first();
    std::optional<LocalDateTime> moment;
    int sequence = 0;
    for (qsizetype i = 1; i < args.size(); i += 2) {
        const QString& option = args[i];
        if (option != QLatin1String("--at") && option != QLatin1String("--seq"))
            return usageError("unknown word after the template: " + localBytes(option));
        if (i + 1 >= args.size())
            return usageError("missing value after " + localBytes(option));
        const QString& value = args[i + 1];
        if (option == QLatin1String("--at")) {
            moment = ParseMoment(value);
            if (!moment)
                return usageError("--at needs a valid moment written \"YYYY-MM-DD HH:MM:SS\"");
        } else {
            const auto parsed = ParseSequence(value);
            if (!parsed)
                return usageError("--seq needs a whole number from 0 to 999999");
            sequence = *parsed;
        }
    }
    printLine(
        ExpandFileTemplate(localBytes(nameTemplate), moment.value_or(CurrentLocalDateTime()), sequence));
    return 0;
}

// --match PATTERN NAME...
int runMatch(const QStringList& args)
{
    if (args.size() < 2)
        return usageError("--match needs a pattern and at least one name");
    const std::string pattern = localBytes(args.first());
    for (qsizetype i = 1; i < args.size(); ++i) {
        const std::string name = localBytes(args[i]);
        // The one-file transfer ignores case when it compares names.
        const bool matches = MatchFileName(pattern, name, /*caseSensitive=*/false);
        printLine((matches ? "match\t" : "no match\t") + name);
    }
    return 0;
}

} // namespace taskhaul
