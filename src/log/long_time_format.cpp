#include "log/long_time_format.h"

#include <QStringList>

namespace taskhaul {

namespace {

// The pieces of a Qt time pattern that matter here: the first hour field and
// the AM/PM field, with their positions. Quoted literal text is skipped.
struct PatternFacts {
    QChar hourLetter; // 'h' or 'H', null when the pattern has no hour
    int hourWidth = 0;
    int hourPosition = -1;
    int designatorPosition = -1;
};

PatternFacts scanPattern(const QString& pattern)
{
    PatternFacts facts;
    bool quoted = false;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if ((c == QLatin1Char('h') || c == QLatin1Char('H')) && facts.hourPosition < 0) {
            facts.hourLetter = c;
            facts.hourPosition = i;
            int end = i;
            while (end < pattern.size() && pattern.at(end) == c)
                ++end;
            facts.hourWidth = end - i;
        } else if ((c == QLatin1Char('a') || c == QLatin1Char('A')) && facts.designatorPosition < 0) {
            facts.designatorPosition = i;
        }
    }
    return facts;
}

// One or two ASCII digits, nothing else.
std::optional<int> smallNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 2)
        return std::nullopt;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// Removes `word` from the start or the end of `text` (letter case ignored).
bool stripWord(QString& text, const QString& word)
{
    if (word.isEmpty())
        return false;
    if (text.startsWith(word, Qt::CaseInsensitive)) {
        text = text.mid(word.size()).trimmed();
        return true;
    }
    if (text.endsWith(word, Qt::CaseInsensitive)) {
        text.chop(word.size());
        text = text.trimmed();
        return true;
    }
    return false;
}

} // namespace

LongTimeFormat LongTimeFormat::fromLocale(const QLocale& locale)
{
    const PatternFacts facts = scanPattern(locale.timeFormat(QLocale::LongFormat));
    LongTimeFormat result;
    result.leadingZeroHour = facts.hourWidth != 1;
    result.twelveHour = facts.hourLetter == QLatin1Char('h') && facts.designatorPosition >= 0;
    if (result.twelveHour) {
        result.designatorFirst = facts.designatorPosition < facts.hourPosition;
        result.amDesignator = locale.amText();
        result.pmDesignator = locale.pmText();
    }
    return result;
}

QString LongTimeFormat::format(const QTime& time) const
{
    int hour = time.hour();
    if (twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    const QLatin1Char zero('0');
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(hour, leadingZeroHour ? 2 : 1, 10, zero)
                       .arg(time.minute(), 2, 10, zero)
                       .arg(time.second(), 2, 10, zero);
    if (!twelveHour)
        return text;
    const QString& designator = time.hour() < 12 ? amDesignator : pmDesignator;
    if (designator.isEmpty())
        return text;
    return designatorFirst ? designator + QLatin1Char(' ') + text : text + QLatin1Char(' ') + designator;
}

std::optional<QTime> LongTimeFormat::parse(const QString& input) const
{
    QString text = input.trimmed();
    enum class Half { None, Am, Pm } half = Half::None;
    if (stripWord(text, pmDesignator) || stripWord(text, QStringLiteral("PM")))
        half = Half::Pm;
    else if (stripWord(text, amDesignator) || stripWord(text, QStringLiteral("AM")))
        half = Half::Am;

    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    const auto hour = smallNumber(parts.at(0));
    const auto minute = smallNumber(parts.at(1));
    const auto second = parts.size() == 3 ? smallNumber(parts.at(2)) : std::optional<int>(0);
    if (!hour || !minute || !second || *minute > 59 || *second > 59)
        return std::nullopt;

    int h = *hour;
    if (half == Half::None) {
        if (h > 23)
            return std::nullopt;
    } else {
        if (h > 12)
            return std::nullopt;
        if (h == 12)
            h = 0;
        if (half == Half::Pm)
            h += 12;
    }
    return QTime(h, *minute, *second);
}

} // namespace taskhaul
