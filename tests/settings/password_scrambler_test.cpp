#include "settings/password_scrambler.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <random>

namespace taskhaul {
namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    return bytes;
}

TEST(PasswordScrambler, MatchesVectorsWorkedOutByHand)
{
    // "a": 0x61 ^ high byte of 28417 (0x6F) = 0x0E; key := (0x0E + 28417) * 39173 + 30757
    // = 0x9A70, so "b" becomes 0x62 ^ 0x9A = 0xF8, and so on.
    const std::pair<QByteArray, QByteArray> vectors[] = {
        { "abc", QByteArray::fromHex("0ef8ca") },
        { "o", QByteArray::fromHex("00") },
        { "secret", QByteArray::fromHex("1c9d92eb6e22") },
        { "p\xc3\xa4ssw\xc3\xb6rd", QByteArray::fromHex("1f00a3afe98666b4cbe0") }, // "pässwörd" in UTF-8
        { "", "" },
    };
    for (const auto& [plain, scrambled] : vectors) {
        EXPECT_EQ(scrambleBytes(plain).toHex(), scrambled.toHex()) << plain.constData();
        EXPECT_EQ(unscrambleBytes(scrambled), plain) << plain.constData();
    }
}

TEST(PasswordScrambler, UnscramblingUndoesScramblingForAnyBytes)
{
    std::mt19937 random(20260307);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 64);
    for (int round = 0; round < 500; ++round) {
        QByteArray plain;
        for (int i = length(random); i > 0; --i)
            plain.append(static_cast<char>(byte(random)));
        const QByteArray scrambled = scrambleBytes(plain);
        ASSERT_EQ(scrambled.size(), plain.size());
        ASSERT_EQ(unscrambleBytes(scrambled), plain);
    }
}

TEST(PasswordScrambler, StoredFormHoldsEveryByteValueWithoutACharacterZero)
{
    const QByteArray bytes = allByteValues();
    const QString stored = storedFromBytes(bytes);
    ASSERT_EQ(stored.size(), 256);
    EXPECT_FALSE(stored.contains(QChar(0)));
    EXPECT_EQ(stored.at(0), QChar(0x0100));
    for (int b = 1; b < 256; ++b)
        EXPECT_EQ(stored.at(b), QChar(b)) << b; // Latin-1
    EXPECT_EQ(bytesFromStored(stored), bytes);
}

TEST(PasswordScrambler, PasswordsRoundTripThroughTheirStoredForm)
{
    QStringList passwords { QString(), QStringLiteral("pässwörd"), QStringLiteral("密码 €"),
        QStringLiteral("o"), QStringLiteral("with space and \"quotes\", commas; = signs") };
    for (char c = 1; c < 127; ++c)
        passwords << QString(QLatin1Char(c));
    for (const QString& password : passwords) {
        const QString stored = scramblePassword(password);
        EXPECT_EQ(stored.size(), password.toUtf8().size());
        EXPECT_EQ(unscramblePassword(stored), password) << password.toStdString();
    }
    EXPECT_EQ(scramblePassword(QStringLiteral("o")), QString(QChar(0x0100))); // scrambles to a 0 byte
    EXPECT_TRUE(scramblePassword(QString()).isEmpty());
}

} // namespace
} // namespace taskhaul
