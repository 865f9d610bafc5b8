#include "transfer/file_template.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace taskhaul {
namespace {

// The comparison exactly as the procedure reads, step by step: a walk over both
// strings that, at a star, retries the rest against every later position. Its
// time grows exponentially with the number of stars, so it serves only to check
// the real one on short strings.
bool ProcedureMatch(const std::string& a, const std::string& b)
{
    if (a.empty() && b.empty())
        return true;
    if (a.empty())
        return b[0] == '*';
    if (b.empty())
        return a[0] == '*';

    std::size_t i = 0;
    std::size_t j = 0;
    bool result = true;
    while (result && i < a.size() && j < b.size()) {
        if (a[i] == '?' || b[j] == '?') {
            ++i;
            ++j;
        } else if (a[i] == '*') {
            ++i;
            if (i == a.size()) {
                j = b.size();
            } else {
                bool found = false;
                for (std::size_t k = j; k < b.size() && !found; ++k)
                    found = ProcedureMatch(a.substr(i), b.substr(k));
                result = found;
                if (found) {
                    i = a.size();
                    j = b.size();
                }
            }
        } else if (b[j] == '*') {
            ++j;
            if (j == b.size()) {
                i = a.size();
            } else {
                bool found = false;
                for (std::size_t k = i; k < a.size() && !found; ++k)
                    found = ProcedureMatch(a.substr(k), b.substr(j));
                result = found;
                if (found) {
                    i = a.size();
                    j = b.size();
                }
            }
        } else if (a[i] == b[j]) {
            ++i;
            ++j;
        } else {
            result = false;
        }
    }
    if (i >= a.size()) {
        while (j < b.size() && b[j] == '*')
            ++j;
        if (j < b.size())
            result = false;
    }
    if (j >= b.size()) {
        while (i < a.size() && a[i] == '*')
            ++i;
        if (i < a.size())
            result = false;
    }
    return result;
}

std::vector<std::string> AllStrings(std::size_t maxLength)
{
    std::vector<std::string> all { "" };
    for (std::size_t from = 0; all[from].size() < maxLength; ++from)
        for (char c : std::string("ab*?"))
            all.push_back(all[from] + c);
    return all;
}

TEST(WildcardMatch, AgreesWithTheProcedureOnEveryShortPair)
{
    const std::vector<std::string> all = AllStrings(4);
    ASSERT_EQ(all.size(), 341u);
    int matches = 0;
    for (const std::string& a : all) {
        for (const std::string& b : all) {
            const bool expected = ProcedureMatch(a, b);
            ASSERT_EQ(WildcardMatch(a, b), expected) << '"' << a << "\" vs \"" << b << '"';
            matches += expected;
        }
    }
    EXPECT_GT(matches, 0);
}

TEST(WildcardMatch, AgreesWithTheProcedureOnRandomLongerPairs)
{
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> length(5, 10);
    std::discrete_distribution<int> letter({ 4, 3, 2, 1 }); // a b * ? (stars and "?" rarer)
    const auto draw = [&] {
        std::string text(std::size_t(length(random)), ' ');
        for (char& c : text)
            c = "ab*?"[letter(random)];
        return text;
    };
    int matches = 0;
    for (int n = 0; n < 40000; ++n) {
        const std::string a = draw();
        const std::string b = draw();
        const bool expected = ProcedureMatch(a, b);
        ASSERT_EQ(WildcardMatch(a, b), expected) << '"' << a << "\" vs \"" << b << '"';
        matches += expected;
    }
    EXPECT_GT(matches, 1000);
}

struct MatchCase {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(WildcardMatch, CommonPatterns)
{
    const MatchCase cases[] = {
        { "*", "", true },
        { "?", "", false },
        { "**", "", true },
        { "", "", true },
        { "", "a", false },
        { "a*", "a", true },
        { "*.*", "abc", false },
        { "*.*", "abc.txt", true },
        { "a?c", "ac", false },
        { "a?c", "abc", true },
        { "file", "file.txt", false },
        { "file.txt", "file", false },
        { "file.txt", "file.txt", true },
        { "*.csv", "data.csv.bak", false },
        { "data_2024*.csv", "data_2024_final.csv", true },
        { "*day*", "yesterday.log", true },
        { "report.txt", "REPORT.TXT", false }, // bytes compare exactly here
        // Wildcards in the name count as well.
        { "abc", "a*", true },
        { "abc", "a?c", true },
        { "abc", "b*", false },
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches)
            << '"' << c.pattern << "\" vs \"" << c.name << '"';
}

TEST(WildcardMatch, LongNamesAndManyStars)
{
    // Far past 255 characters, and a pattern whose stars would make a retrying
    // walk run for ages when the name does not match.
    const std::string name = std::string(3000, 'a') + ".txt";
    EXPECT_TRUE(WildcardMatch("*.txt", name));
    EXPECT_FALSE(WildcardMatch("*.csv", name));
    EXPECT_TRUE(WildcardMatch(name, name));

    std::string manyStars;
    for (int n = 0; n < 40; ++n)
        manyStars += "*a";
    EXPECT_TRUE(WildcardMatch(manyStars + "*.txt", name));
    EXPECT_FALSE(WildcardMatch(manyStars + "*b", name));
    EXPECT_FALSE(WildcardMatch(manyStars, std::string(39, 'a')));
}

TEST(MatchFileName, CaseFlag)
{
    EXPECT_TRUE(MatchFileName("*.TXT", "report.txt", false));
    EXPECT_FALSE(MatchFileName("*.TXT", "report.txt", true));
    EXPECT_TRUE(MatchFileName("Report_??.csv", "REPORT_01.CSV", false));
    EXPECT_FALSE(MatchFileName("Report_??.csv", "REPORT_01.CSV", true));
    // Only a to z fold: other bytes must be equal.
    EXPECT_FALSE(MatchFileName("caf\xe9", "CAF\xc9", false));
    EXPECT_TRUE(MatchFileName("caf\xe9", "CAF\xe9", false));
}

TEST(MatchFileName, ExpandedTemplateKeepsItsWildcards)
{
    const std::string pattern = ExpandFileTemplate("data_[yyyy]*.csv", { 2024, 6, 3, 10, 0, 0 }, 0);
    EXPECT_TRUE(MatchFileName(pattern, "data_2024_final.csv", false));
    EXPECT_FALSE(MatchFileName(pattern, "data_2023_final.csv", false));
}

} // namespace
} // namespace taskhaul
