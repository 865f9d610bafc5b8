#include "update/update_page.h"

namespace taskhaul {

namespace {

// A name or value ends at the next double quote, looked for within this many
// characters of its start.
constexpr qsizetype kQuotedTextWindow = 255;

const QString kMetaName = QStringLiteral("META NAME");
const QString kContent = QStringLiteral("CONTENT=");
// `META NAME="` and `CONTENT="`: the text starts right after the quote.
constexpr qsizetype kNameOffset = 11;
constexpr qsizetype kValueOffset = 9;

QString quotedText(const QString& line, qsizetype start)
{
    if (start >= line.size())
        return {};
    const QStringView window = QStringView(line).mid(start, kQuotedTextWindow);
    const qsizetype quote = window.indexOf(QLatin1Char('"'));
    if (quote < 0)
        return {};
    return window.left(quote).toString();
}

QString contentValue(const QString& line)
{
    const qsizetype at = line.indexOf(kContent, 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    return quotedText(line, at + kValueOffset);
}

} // namespace

QStringList splitPageLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

TPageValues readPageTags(const QStringList& lines, const TTagInfo& tags)
{
    TPageValues values;
    const std::pair<const QString*, QString*> targets[] = {
        { &tags.Author, &values.Author },
        { &tags.Email, &values.Email },
        { &tags.ClientFileName, &values.ClientFileName },
        { &tags.Download, &values.Download },
        { &tags.ProductName, &values.ProductName },
        { &tags.Redirection, &values.Redirection },
        { &tags.RunParameters, &values.RunParameters },
        { &tags.Version, &values.Version },
    };
    for (const QString& line : lines) {
        const qsizetype at = line.indexOf(kMetaName);
        if (at < 0)
            continue;
        const QString name = quotedText(line, at + kNameOffset);
        if (name.isEmpty())
            continue;
        for (const auto& [tagName, value] : targets) {
            if (*tagName == name)
                *value = contentValue(line);
        }
    }
    return values;
}

} // namespace taskhaul
