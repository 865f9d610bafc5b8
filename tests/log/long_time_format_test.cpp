#include "log/long_time_format.h"

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

LongTimeFormat twentyFour(bool leadingZero = true)
{
    LongTimeFormat f;
    f.leadingZeroHour = leadingZero;
    return f;
}

LongTimeFormat twelve(bool leadingZero, bool designatorFirst, QString am = QStringLiteral("AM"),
    QString pm = QStringLiteral("PM"))
{
    LongTimeFormat f;
    f.leadingZeroHour = leadingZero;
    f.twelveHour = true;
    f.designatorFirst = designatorFirst;
    f.amDesignator = std::move(am);
    f.pmDesignator = std::move(pm);
    return f;
}

TEST(LongTimeFormat, DerivesItsFactsFromTheLocalesPattern)
{
    struct Case {
        const char* locale;
        LongTimeFormat expected;
    };
    const Case cases[] = {
        { "en_US", twelve(false, false) }, // h:mm:ss AP
        { "de_DE", twentyFour(true) }, // HH:mm:ss
        { "ja_JP", twentyFour(false) }, // H時mm分ss秒
        { "ko_KR", twelve(false, true, QStringLiteral("오전"), QStringLiteral("오후")) }, // AP h시 m분 s초
        { "en_AU", twelve(false, false, QStringLiteral("am"), QStringLiteral("pm")) },
    };
    for (const Case& c : cases)
        EXPECT_EQ(LongTimeFormat::fromLocale(QLocale(QString::fromLatin1(c.locale))), c.expected) << c.locale;
}

TEST(LongTimeFormat, WritesTheHourAsTheLocaleAsks)
{
    struct Case {
        LongTimeFormat format;
        QTime time;
        const char* expected;
    };
    const Case cases[] = {
        { twentyFour(true), QTime(14, 5, 9), "14:05:09" },
        { twentyFour(true), QTime(9, 5, 9, 999), "09:05:09" },
        { twentyFour(false), QTime(9, 5, 9), "9:05:09" },
        { twentyFour(false), QTime(0, 0, 0), "0:00:00" },
        { twelve(false, false), QTime(14, 5, 9), "2:05:09 PM" },
        { twelve(true, false), QTime(14, 5, 9), "02:05:09 PM" },
        { twelve(false, false), QTime(0, 30, 0), "12:30:00 AM" },
        { twelve(false, false), QTime(12, 0, 0), "12:00:00 PM" },
        { twelve(false, false), QTime(11, 59, 59), "11:59:59 AM" },
        { twelve(false, true, QStringLiteral("오전"), QStringLiteral("오후")), QTime(23, 1, 2),
            "오후 11:01:02" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.format.format(c.time), QString::fromUtf8(c.expected)) << c.expected;
}

TEST(LongTimeFormat, ReadsBackEverySecondOfTheDay)
{
    const LongTimeFormat formats[] = {
        twentyFour(true),
        twentyFour(false),
        twelve(false, false),
        twelve(true, false),
        twelve(false, true, QStringLiteral("오전"), QStringLiteral("오후")),
        twelve(false, false, QStringLiteral("a. m."), QStringLiteral("p. m.")),
    };
    for (const LongTimeFormat& format : formats) {
        for (int second = 0; second < 24 * 3600; ++second) {
            const QTime time = QTime(0, 0).addSecs(second);
            const QString text = format.format(time);
            ASSERT_EQ(format.parse(text), time) << text.toStdString();
        }
    }
}

TEST(LongTimeFormat, ReadsTheLenientFormsAndRefusesTheRest)
{
    const LongTimeFormat usFormat = twelve(false, false);
    const LongTimeFormat plain = twentyFour(true);
    EXPECT_EQ(plain.parse(QStringLiteral("14:05")), QTime(14, 5, 0));
    EXPECT_EQ(plain.parse(QStringLiteral(" 7:05:00 ")), QTime(7, 5, 0));
    // A time written under a 12-hour locale is still read under a 24-hour one, and vice versa.
    EXPECT_EQ(plain.parse(QStringLiteral("2:05:00 PM")), QTime(14, 5, 0));
    EXPECT_EQ(usFormat.parse(QStringLiteral("14:05:00")), QTime(14, 5, 0));
    EXPECT_EQ(usFormat.parse(QStringLiteral("2:05:00pm")), QTime(14, 5, 0));
    EXPECT_EQ(usFormat.parse(QStringLiteral("12:00:00 am")), QTime(0, 0, 0));

    for (const char* bad : { "", "   ", "abc", "14", "24:00:00", "12:60:00", "12:00:60", "13:00:00 PM",
             "1:2:3:4", "123:00:00", "-1:00:00", "12:00:00 XM", "1 2:00:00", "+1:00:00" }) {
        EXPECT_EQ(usFormat.parse(QString::fromLatin1(bad)), std::nullopt) << bad;
        EXPECT_EQ(plain.parse(QString::fromLatin1(bad)), std::nullopt) << bad;
    }
}

} // namespace
} // namespace taskhaul
