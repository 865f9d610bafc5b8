#include "transfer/transfer_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace taskhaul {
namespace {

TEST(CompletedByteCount, GroupsTheBytesReceived)
{
    struct Case {
        std::int64_t received;
        const char* shown;
    };
    const Case cases[] = {
        { 1536, "1,536" }, { 999, "999" }, { 1000, "1,000" }, { 1234567, "1,234,567" },
        { 0, "0" }, // an empty file says so
        { 5000000000LL, "5,000,000,000" }, // beyond 32 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(completedByteCount(c.received, QStringLiteral(",")), QLatin1String(c.shown)) << c.received;
    EXPECT_EQ(groupThousands(1234567, QStringLiteral(".")), QStringLiteral("1.234.567"));
    EXPECT_EQ(groupThousands(1234567, QString(QChar(0x202F))), QStringLiteral("1\u202F234\u202F567"));
}

TEST(SafeLocalName, RefusesNamesThatLeaveTheFolderOrNameNoFile)
{
    for (const std::string& name : { std::string(), std::string("."), std::string(".."),
             std::string("../etc"), std::string("a/b"), std::string("/abs"), std::string("a\0b", 3) })
        EXPECT_FALSE(isSafeLocalName(name)) << name;
    for (const char* name : { "a", "...", ".hidden", "a..b", "name with blanks", "back\\slash" })
        EXPECT_TRUE(isSafeLocalName(name)) << name;
}

TEST(LocalFolderSeparator, AddsOneSlashUnlessTheFolderEndsWithOne)
{
    EXPECT_EQ(localFolderSeparator(QStringLiteral("/data")), QStringLiteral("/"));
    EXPECT_EQ(localFolderSeparator(QStringLiteral("/data/")), QString());
    EXPECT_EQ(localFolderSeparator(QStringLiteral("/")), QString());
    EXPECT_EQ(localFolderSeparator(QString()), QString());
}

TEST(DisplayName, ShowsControlCharactersEscapedAndTheRestAsItIs)
{
    struct Case {
        std::string name;
        const char* shown;
    };
    const Case cases[] = {
        { "report.csv", "report.csv" },
        { "x\ny.txt", "x\\ny.txt" },
        { "a\r\n\tb", "a\\r\\n\\tb" },
        { "\x1b[31mred", "\\x1B[31mred" },
        { std::string("nul\0", 4), "nul\\x00" },
        { "del\x7f", "del\\x7F" },
        { "c1\xc2\x85", "c1\\x85" }, // NEL, a C1 control
        { "ls\xe2\x80\xa8", "ls\\u2028" }, // the line separator
        { "caf\xc3\xa9 back\\slash", "caf\u00e9 back\\slash" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(displayName(c.name), QString::fromUtf8(c.shown)) << c.name;
}

TEST(RemoteFolderAddress, NamesThePortOnlyWhereTheSchemeDoesNotImplyIt)
{
    struct Case {
        const char* scheme;
        const char* host;
        int port;
        int schemePort;
        const char* folder;
        const char* address;
    };
    const Case cases[] = {
        { "ftp://", "ftp.example.org", 21, 21, "/pub/reports", "ftp://ftp.example.org/pub/reports/" },
        { "ftp://", "ftp.example.org", 21, 21, "pub/reports", "ftp://ftp.example.org/pub/reports/" },
        { "ftp://", "127.0.0.1", 2121, 21, "pub", "ftp://127.0.0.1:2121/pub/" },
        { "ftp://", "127.0.0.1", 990, 21, "", "ftp://127.0.0.1:990/" },
        { "ftp://", "h", 21, 21, "/", "ftp://h/" }, { "ftp://", "h", 21, 21, "/pub/", "ftp://h/pub/" },
        { "sftp://", "h", 22, 22, "/srv/data", "sftp://h/srv/data/" },
        { "sftp://", "h", 2222, 22, "data", "sftp://h:2222/data/" },
        { "ftp://", "::1", 2121, 21, "pub", "ftp://[::1]:2121/pub/" },
        { "ftp://", "h", 0, 0, "pub", "ftp://h/pub/" }, // a site that does not know its port
    };
    for (const Case& c : cases)
        EXPECT_EQ(remoteFolderAddress(QString::fromLatin1(c.scheme), QString::fromLatin1(c.host), c.port,
                      c.schemePort, QString::fromLatin1(c.folder)),
            QString::fromLatin1(c.address))
            << c.host << " " << c.port << " " << c.folder;
}

TEST(ParseIntegerField, ReadsDecimalIntegersAndNamesTheBadText)
{
    EXPECT_EQ(parseIntegerField(QStringLiteral("21")), 21);
    EXPECT_EQ(parseIntegerField(QStringLiteral("0021")), 21);
    EXPECT_EQ(parseIntegerField(QStringLiteral("-5")), -5);
    EXPECT_EQ(parseIntegerField(QStringLiteral("2147483647")), 2147483647);
    for (const char* bad : { "", "2l", " 21", "21 ", "+-1", "0x15", "2147483648", "-" }) {
        try {
            parseIntegerField(QLatin1String(bad));
            ADD_FAILURE() << "accepted " << bad;
        } catch (const InvalidIntegerError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

} // namespace
} // namespace taskhaul
