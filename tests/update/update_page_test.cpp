#include "update/update_page.h"

#include "qstring_printer.h"

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

TTagInfo pageTags()
{
    TTagInfo tags;
    tags.Version = QStringLiteral("UPVersion");
    tags.ProductName = QStringLiteral("UPProduct");
    tags.ClientFileName = QStringLiteral("UPClientSideName");
    tags.Download = QStringLiteral("UPDownload");
    return tags;
}

QString versionOf(const QStringList& lines)
{
    return readPageTags(lines, pageTags()).Version;
}

struct TagCase {
    const char* what;
    QStringList lines;
    QString version;
};

void PrintTo(const TagCase& c, std::ostream* out)
{
    *out << c.what;
}

class TagReader : public ::testing::TestWithParam<TagCase> { };

TEST_P(TagReader, ReadsTheVersionTag)
{
    EXPECT_EQ(versionOf(GetParam().lines), GetParam().version) << GetParam().what;
}

const QString k254 = QString(254, QLatin1Char('9'));
const QString k255 = QString(255, QLatin1Char('9'));

INSTANTIATE_TEST_SUITE_P(Lines, TagReader,
    ::testing::Values(TagCase { "as written", { R"(<META NAME="UPVersion" CONTENT="1.2.0">)" }, "1.2.0" },
        TagCase { "meta name in lower case", { R"(<meta name="UPVersion" content="1.2.0">)" }, "" },
        TagCase { "content in any case, value keeps its case",
            { R"(<META NAME="UPVersion" cOnTeNt="Beta-X">)" }, "Beta-X" },
        TagCase { "tag name compared with case", { R"(<META NAME="upversion" CONTENT="1.2.0">)" }, "" },
        TagCase { "the later line counts",
            { R"(<META NAME="UPVersion" CONTENT="1.0">)", "<p>", R"(<META NAME="UPVersion" CONTENT="2.0">)" },
            "2.0" },
        TagCase { "a later line with an empty value replaces",
            { R"(<META NAME="UPVersion" CONTENT="1.0">)", R"(<META NAME="UPVersion" CONTENT="">)" }, "" },
        TagCase { "only the first tag of a line",
            { R"(<META NAME="UPProduct" CONTENT="x"><META NAME="UPVersion" CONTENT="1.2">)" }, "" },
        TagCase {
            "no spaces around the equals sign", { R"(<META NAME = "UPVersion" CONTENT="1.2.0">)" }, "" },
        TagCase { "value closed within 255 characters",
            { R"(<META NAME="UPVersion" CONTENT=")" + k254 + R"(">)" }, k254 },
        TagCase { "value not closed within 255 characters",
            { R"(<META NAME="UPVersion" CONTENT=")" + k255 + R"(">)" }, "" },
        TagCase { "value never closed", { R"(<META NAME="UPVersion" CONTENT="1.2.0)" }, "" },
        TagCase { "no content on the line", { R"(<META NAME="UPVersion">)" }, "" },
        TagCase { "line ends inside the name", { R"(<META NAME="UPVer)" }, "" },
        TagCase { "META NAME at the very end", { "xx META NAME" }, "" }));

TEST(TagReader, ReadsEveryNamedTagOfAPage)
{
    TTagInfo tags = pageTags();
    tags.Author = QStringLiteral("UPAuthor");
    tags.Email = QStringLiteral("UPEmail");
    tags.Redirection = QStringLiteral("UPRedirection");
    tags.RunParameters = QStringLiteral("UPRunParameters");
    const QString page = QStringLiteral("<html><head>\r\n"
                                        "<META NAME=\"UPProduct\" CONTENT=\"Taskhaul\">\r\n"
                                        "<META NAME=\"UPVersion\" CONTENT=\"1.2.0\">\n"
                                        "<META NAME=\"UPDownload\" CONTENT=\"http://host/Setup.exe\">\r"
                                        "<META NAME=\"UPClientSideName\" CONTENT=\"Setup.exe\">\r\n"
                                        "<META NAME=\"UPRunParameters\" CONTENT=\"/S /D=x\">\r\n"
                                        "<META NAME=\"UPAuthor\" CONTENT=\"Velmora\">\r\n"
                                        "<META NAME=\"UPEmail\" CONTENT=\"a@b.example\">\r\n"
                                        "<META NAME=\"UPRedirection\" CONTENT=\"http://elsewhere/p.htm\">\r\n"
                                        "</head></html>");
    const TPageValues values = readPageTags(splitPageLines(page), tags);
    EXPECT_EQ(values,
        (TPageValues { "Velmora", "a@b.example", "Setup.exe", "http://host/Setup.exe", "Taskhaul",
            "http://elsewhere/p.htm", "/S /D=x", "1.2.0" }));
}

TEST(PageLines, SplitAtCarriageReturnLineFeedOrBoth)
{
    EXPECT_EQ(splitPageLines("a\r\nb\rc\nd"), (QStringList { "a", "b", "c", "d" }));
    EXPECT_EQ(splitPageLines("a\n\r\nb\r\n"), (QStringList { "a", "", "b" }));
    EXPECT_EQ(splitPageLines(""), QStringList {});
}

} // namespace
} // namespace taskhaul
