#include "log/one_line.h"

#include <gtest/gtest.h>

#include <string>

namespace taskhaul {
namespace {

struct OneLineCase {
    const char* what;
    std::string input; // bytes, as a server might send them
    const char* expected; // UTF-8
};

class OneLineTest : public ::testing::TestWithParam<OneLineCase> { };

TEST_P(OneLineTest, GivesOneReadableLine)
{
    const OneLineCase& c = GetParam();
    EXPECT_EQ(oneLine(std::string_view(c.input)).toStdString(), std::string(c.expected));
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(Texts, OneLineTest,
    ::testing::Values(OneLineCase { "plain", "550 No such file.", "550 No such file." },
        OneLineCase { "trailingCrLf", "550 No such file.\r\n", "550 No such file." },
        OneLineCase { "multiLineReply", "530-Login incorrect.\r\n530-Try again.\r\n530 Bye.\r\n",
            "530-Login incorrect. / 530-Try again. / 530 Bye." },
        OneLineCase { "bareLineFeedsAndBlankLines", "one\n\n  two  \n\n", "one / two" },
        OneLineCase { "loneCarriageReturn", "over\rwritten", "over / written" },
        OneLineCase { "nulAndOtherControls",
            "a\0b\x07"
            "c\x1b[31md\x7f"s,
            "a b c [31md" },
        OneLineCase { "c1Controls",
            "x\xc2\x9b"
            "2Jy",
            "x 2Jy" },
        OneLineCase { "tabsInside", "a\tb", "a b" },
        OneLineCase { "invalidUtf8KeptVisible", "caf\xe9 \xff", "caf\xef\xbf\xbd \xef\xbf\xbd" },
        OneLineCase { "validUtf8Unchanged",
            "gr\xc3\xbc\xc3\x9f"
            "e",
            "gr\xc3\xbc\xc3\x9f"
            "e" },
        OneLineCase { "userNameWithCrLf", "bob\r\nEVIL connected to x", "bob / EVIL connected to x" },
        OneLineCase { "onlyBreaks", "\r\n\r\n", "" }),
    [](const auto& info) { return std::string(info.param.what); });

TEST(OneLineLongText, KeepsA64KbReplyWholeOnOneLine)
{
    std::string reply;
    for (int i = 0; i < 1000; ++i)
        reply += "226-" + std::string(60, 'x') + "\r\n";
    reply += "226 Done\r\n";
    const QString line = oneLine(std::string_view(reply));
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));
    EXPECT_FALSE(line.contains(QLatin1Char('\r')));
    EXPECT_EQ(line.count(QStringLiteral(" / ")), 1000);
    EXPECT_TRUE(line.endsWith(QStringLiteral("226 Done")));
}

} // namespace
} // namespace taskhaul
