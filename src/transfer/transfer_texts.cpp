#include "transfer/transfer_texts.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace taskhaul {

InvalidIntegerError::InvalidIntegerError(const QString& text)
    : TaskhaulError(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString())
{
}

int parseIntegerField(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    bool negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    // from_chars would take a second sign; the field holds digits only.
    if (begin == end || *begin < '0' || *begin > '9')
        throw InvalidIntegerError(text);
    long long value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end)
        throw InvalidIntegerError(text);
    if (negative)
        value = -value;
    if (value < INT_MIN || value > INT_MAX)
        throw InvalidIntegerError(text);
    return static_cast<int>(value);
}

QString localFolderSeparator(const QString& localFolder)
{
    if (localFolder.isEmpty() || localFolder.endsWith(QLatin1Char('/')))
        return QString();
    return QStringLiteral("/");
}

bool isSafeLocalName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

QString groupThousands(std::uint64_t value, const QString& separator)
{
    const QString digits = QString::number(value);
    QString grouped;
    grouped.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += separator;
        grouped += digits.at(i);
    }
    return grouped;
}

QString completedByteCount(std::int64_t received, const QString& separator)
{
    return groupThousands(received > 0 ? static_cast<std::uint64_t>(received) : 0, separator);
}

QString displayName(std::string_view name)
{
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const auto control
        = [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; };
    if (std::none_of(text.begin(), text.end(), [&](QChar c) { return control(c.unicode()); }))
        return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (!control(code))
            shown += c;
        else if (code == u'\n')
            shown += QLatin1String("\\n");
        else if (code == u'\r')
            shown += QLatin1String("\\r");
        else if (code == u'\t')
            shown += QLatin1String("\\t");
        else if (code > 0xFF)
            shown += QStringLiteral("\\u%1").arg(static_cast<unsigned>(code), 4, 16);
        else
            shown += QStringLiteral("\\x%1").arg(
                QString::number(static_cast<unsigned>(code), 16).toUpper(), 2, QLatin1Char('0'));
    }
    return shown;
}

QString remoteFolderAddress(
    const QString& scheme, const QString& host, int port, int schemePort, const QString& folder)
{
    QString address = scheme;
    // An IPv6 address's colons would read as the port's.
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        address += QLatin1Char('[') + host + QLatin1Char(']');
    else
        address += host;
    if (port > 0 && schemePort > 0 && port != schemePort)
        address += QLatin1Char(':') + QString::number(port);
    if (!folder.startsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    address += folder;
    if (!address.endsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    return address;
}

} // namespace taskhaul
