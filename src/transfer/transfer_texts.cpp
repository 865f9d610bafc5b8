#include "transfer/transfer_texts.h"

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

QString completedByteCount(std::int64_t announced, std::int64_t received, const QString& separator)
{
    const std::int64_t count = announced >= 0 ? announced : received;
    return groupThousands(count > 0 ? static_cast<std::uint64_t>(count) : 0, separator);
}

QString displayName(std::string_view name)
{
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace taskhaul
