#include "settings/password_scrambler.h"

#include <cstdint>

namespace taskhaul {

namespace {

enum class Direction { Scramble, Unscramble };

QByteArray transform(QByteArrayView input, Direction direction)
{
    QByteArray output(input.size(), Qt::Uninitialized);
    std::uint16_t key = 28417;
    for (qsizetype i = 0; i < input.size(); ++i) {
        const auto in = static_cast<std::uint8_t>(input[i]);
        const auto out = static_cast<std::uint8_t>(in ^ (key >> 8));
        output[i] = static_cast<char>(out);
        const std::uint8_t scrambled = direction == Direction::Scramble ? out : in;
        key = static_cast<std::uint16_t>((scrambled + key) * 39173u + 30757u);
    }
    return output;
}

constexpr char16_t zeroByteCharacter = 0x0100;

} // namespace

QByteArray scrambleBytes(QByteArrayView plain)
{
    return transform(plain, Direction::Scramble);
}

QByteArray unscrambleBytes(QByteArrayView scrambled)
{
    return transform(scrambled, Direction::Unscramble);
}

QString storedFromBytes(QByteArrayView bytes)
{
    QString stored(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        stored[i] = QChar(byte == 0 ? zeroByteCharacter : char16_t(byte));
    }
    return stored;
}

QByteArray bytesFromStored(const QString& stored)
{
    QByteArray bytes(stored.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const char16_t c = stored.at(i).unicode();
        bytes[i] = static_cast<char>(c == zeroByteCharacter ? 0 : (c & 0xFF));
    }
    return bytes;
}

QString scramblePassword(const QString& password)
{
    return storedFromBytes(scrambleBytes(password.toUtf8()));
}

QString unscramblePassword(const QString& stored)
{
    return QString::fromUtf8(unscrambleBytes(bytesFromStored(stored)));
}

} // namespace taskhaul
