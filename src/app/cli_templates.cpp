#include "app/headless.h"

#include "transfer/file_template.h"

#include <QByteArray>
#include <QDate>
#include <QTime>

#include <cstdio>
#include <optional>
#include <string>

namespace taskhaul {

namespace {

int UsageError(const char* message)
{
    std::fprintf(stderr, "taskhaul: %s\nTry 'taskhaul --help' for more information.\n", message);
    return 2;
}

// Command-line words are passed on as the bytes the user typed.
std::string Bytes(const QString& word)
{
    const QByteArray bytes = word.toLocal8Bit();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

void PrintLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

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
    return LocalDateTime{date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
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
        return UsageError("--expand needs a name template");
    const QString nameTemplate = args.first();
    std::optional<LocalDateTime> moment;
    int sequence = 0;
    for (qsizetype i = 1; i < args.size(); i += 2) {
        const QString& option = args[i];
        if (option != QLatin1String("--at") && option != QLatin1String("--seq"))
            return UsageError(("unknown word after the template: " + Bytes(option)).c_str());
        if (i + 1 >= args.size())
            return UsageError(("missing value after " + Bytes(option)).c_str());
        const QString& value = args[i + 1];
        if (option == QLatin1String("--at")) {
            moment = ParseMoment(value);
            if (!moment)
                return UsageError("--at needs a valid moment written \"YYYY-MM-DD HH:MM:SS\"");
        } else {
            const auto parsed = ParseSequence(value);
            if (!parsed)
                return UsageError("--seq needs a whole number from 0 to 999999");
            sequence = *parsed;
        }
    }
    PrintLine(ExpandFileTemplate(Bytes(nameTemplate), moment.value_or(CurrentLocalDateTime()), sequence));
    return 0;
}

// --match PATTERN NAME...
int runMatch(const QStringList& args)
{
    if (args.size() < 2)
        return UsageError("--match needs a pattern and at least one name");
    const std::string pattern = Bytes(args.first());
    for (qsizetype i = 1; i < args.size(); ++i) {
        const std::string name = Bytes(args[i]);
        // The one-file transfer ignores case when it compares names.
        const bool matches = MatchFileName(pattern, name, /*caseSensitive=*/false);
        PrintLine((matches ? "match\t" : "no match\t") + name);
    }
    return 0;
}

} // namespace taskhaul
