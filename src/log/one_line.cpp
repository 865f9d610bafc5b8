#include "log/one_line.h"

#include <QStringList>

namespace taskhaul {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// One line of the text with its control characters turned into spaces and its
// blanks at both ends dropped.
QString cleanPart(QStringView part)
{
    QString cleaned;
    cleaned.reserve(part.size());
    for (QChar c : part)
        cleaned.append(isControl(c.unicode()) ? QLatin1Char(' ') : c);
    qsizetype begin = 0;
    qsizetype end = cleaned.size();
    while (begin < end && isBlank(cleaned.at(begin)))
        ++begin;
    while (end > begin && isBlank(cleaned.at(end - 1)))
        --end;
    return cleaned.mid(begin, end - begin);
}

} // namespace

QString oneLine(const QString& text)
{
    // The quick way for the common case: nothing to change.
    bool plain = true;
    for (QChar c : text)
        if (isControl(c.unicode())) {
            plain = false;
            break;
        }
    if (plain && (text.isEmpty() || (!isBlank(text.front()) && !isBlank(text.back()))))
        return text;

    QStringList parts;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i <= size; ++i) {
        if (i < size && text.at(i) != QLatin1Char('\n') && text.at(i) != QLatin1Char('\r'))
            continue;
        const QString part = cleanPart(QStringView(text).mid(start, i - start));
        if (!part.isEmpty())
            parts.append(part);
        // CR LF is one break.
        if (i + 1 < size && text.at(i) == QLatin1Char('\r') && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    return parts.join(QStringLiteral(" / "));
}

QString oneLine(std::string_view bytes)
{
    return oneLine(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

} // namespace taskhaul
