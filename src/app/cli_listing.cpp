// --parse-listing FILE [--syst TEXT]: shows how a saved LIST (or MLSD) output is understood,
// for users whose server's listing the program does not take.

#include "app/headless.h"

#include "app/cli_support.h"

#include "ftp/listing/list_parser.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>

#include <cstdio>
#include <string>

namespace taskhaul {

namespace {

using cli::localBytes;
using cli::printLine;
using cli::usageError;

std::string Row(const ftp::TFtpListItem& item)
{
    std::string row = item.FileName;
    row += '\t';
    row += ftp::itemTypeName(item.ItemType);
    row += '\t';
    row += item.SizeAvailable ? std::to_string(item.Size) : "-";
    row += '\t';
    row += item.ModifiedAvailable && !item.ModifiedDate.isZero() ? item.ModifiedDate.toString() : "-";
    return row;
}

ftp::ListDateTime Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return { date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), time.msec() };
}

} // namespace

int runParseListing(const QStringList& args)
{
    if (args.isEmpty())
        return usageError("--parse-listing needs a file with a saved listing (or - for standard input)");
    const QString path = args.first();
    std::string systemDescription;
    for (qsizetype i = 1; i < args.size(); i += 2) {
        if (args[i] != QLatin1String("--syst"))
            return usageError("unknown word after the listing file: " + localBytes(args[i]));
        if (i + 1 >= args.size())
            return usageError("missing value after --syst");
        systemDescription = localBytes(args[i + 1]);
    }

    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened)
        return usageError("cannot read " + localBytes(path) + ": " + localBytes(file.errorString()));
    const QByteArray text = file.readAll();

    const ftp::ListingLines lines
        = ftp::splitListingLines(std::string_view(text.constData(), std::size_t(text.size())));
    ftp::TFtpListItems items;
    std::optional<std::string> ident;
    std::string failure;
    try {
        // An MLSD or MLST answer saved by itself: its fact lines tell it apart.
        if (ftp::isMachineListing(lines)) {
            ident = "MLST";
            ftp::parseMachineListing(lines, items);
        } else {
            ident = ftp::parseListing(lines, systemDescription, Now(), items);
        }
    } catch (const ftp::EListParseError& error) {
        // The parser was chosen; show what it made before the failure.
        if (!ident) {
            const ftp::ListParser* chosen
                = ftp::chooseListParser(ftp::listParserRegistry(), lines, systemDescription);
            ident = chosen ? std::string(chosen->ident()) : std::string("none");
        }
        failure = error.what();
    }

    printLine(ident.value_or("none"));
    for (const ftp::TFtpListItem& item : items)
        printLine(Row(item));
    std::fflush(stdout);
    if (!failure.empty()) {
        std::fprintf(stderr, "taskhaul: the listing could not be parsed to its end: %s\n", failure.c_str());
        return 1;
    }
    return 0;
}

} // namespace taskhaul
