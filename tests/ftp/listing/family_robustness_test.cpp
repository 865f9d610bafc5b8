// Random and mangled listings through every parser: nothing may crash, hang or throw
// anything but a parse error. Fixed seed, so a failure repeats.

#include "family_fuzz_one.h"
#include "sample_listings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace taskhaul::ftp {
namespace {

// Bytes that listings are made of, heavier on the separators parsers look for.
constexpr std::string_view kListingBytes = "0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefxyz"
                                           "    ----////::::..,,;;<>[]()*+'\"\t\r\n\n\n$#@~";

TEST(FamilyRobustness, RandomBytesPassEveryParser)
{
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> length(0, 300);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<std::size_t> listingByte(0, kListingBytes.size() - 1);
    for (int run = 0; run < 2000; ++run) {
        std::string input;
        const int n = length(random);
        const bool raw = run % 4 == 0; // every fourth input is plain noise, NUL and 8-bit bytes included
        for (int i = 0; i < n; ++i)
            input.push_back(raw ? static_cast<char>(anyByte(random)) : kListingBytes[listingByte(random)]);
        SCOPED_TRACE(::testing::PrintToString(input));
        EXPECT_NO_THROW(fuzzing::exerciseListingParsers(input));
    }
}

// Lines of all formats, cut at random places and mixed into one listing, with a
// line of one format as the answer to SYST now and then.
TEST(FamilyRobustness, MangledSampleLinesPassEveryParser)
{
    std::vector<std::string> pool;
    for (const std::string& slug : samples::sampleSlugs())
        for (const samples::SampleCase& sample : samples::readSampleFile(slug).cases)
            pool.insert(pool.end(), sample.lines.begin(), sample.lines.end());
    pool.push_back("TOPS20 monitor");
    pool.push_back("Cisco IOS Software");
    ASSERT_FALSE(pool.empty());
    std::mt19937 random(4242);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> lineCount(1, 6);
    for (int run = 0; run < 1500; ++run) {
        std::string input;
        const int count = lineCount(random);
        for (int i = 0; i < count; ++i) {
            const std::string& line = pool[pick(random)];
            const std::size_t from = std::uniform_int_distribution<std::size_t>(0, line.size())(random);
            const std::size_t to = std::uniform_int_distribution<std::size_t>(from, line.size())(random);
            input += run % 2 ? line.substr(from, to - from) : line.substr(0, to);
            input += "\r\n";
        }
        SCOPED_TRACE(::testing::PrintToString(input));
        EXPECT_NO_THROW(fuzzing::exerciseListingParsers(input));
    }
}

} // namespace
} // namespace taskhaul::ftp
