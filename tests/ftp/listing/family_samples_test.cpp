// The captured sample listings of the less common formats: the registry must pick
// each listing's own format, and that format must turn the lines into the entries
// the sample expects.

#include "ftp/listing/list_parser.h"
#include "sample_listings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace taskhaul::ftp {
namespace {

using samples::SampleCase;
using samples::SampleFile;
using samples::SampleRow;

constexpr ListDateTime kToday { 2026, 6, 15, 12, 0, 0, 0 };
constexpr std::string_view kSystem = "UNIX Type: L8";

// Formats whose parsers live elsewhere; their samples only matter here as listings
// the less common formats must leave alone.
const std::set<std::string> kCoreIdents = { "NLIST", "MLST", "Windows NT", "Unix", "Unitree" };

// Where this parser knowingly gives another value than the sample's source did.
struct Deviation {
    std::string slug;
    int caseNumber;
    std::size_t row;
    SampleRow ours;
    const char* why;
};

const std::vector<Deviation> kDeviations = {
    { "vms", 3, 0, { "39-vms-notime-file;1", "file", "3072", "-" },
        "\"JUI\" is no English month; juin and juillet both shorten to it, so the date stays unknown" },
};

std::vector<SampleFile> familySampleFiles()
{
    std::vector<SampleFile> files;
    for (const std::string& slug : samples::sampleSlugs()) {
        SampleFile file = samples::readSampleFile(slug);
        if (!kCoreIdents.count(file.ident))
            files.push_back(std::move(file));
    }
    return files;
}

const ListParser* parserNamed(std::string_view ident)
{
    for (const auto& parser : listParserRegistry())
        if (parser->ident() == ident)
            return parser.get();
    return nullptr;
}

std::size_t registryIndex(std::string_view ident)
{
    const auto& registry = listParserRegistry();
    for (std::size_t i = 0; i < registry.size(); ++i)
        if (registry[i]->ident() == ident)
            return i;
    return registry.size();
}

std::string describe(const SampleRow& row)
{
    return row.name + " | " + row.kind + " | " + row.size + " | " + row.date;
}

TEST(FamilySamples, RegistryChoosesTheSampleFormat)
{
    const auto files = familySampleFiles();
    ASSERT_FALSE(files.empty());
    for (const SampleFile& file : files) {
        for (const SampleCase& sample : file.cases) {
            const ListParser* chosen = chooseListParser(listParserRegistry(), sample.lines, kSystem);
            EXPECT_EQ(chosen ? chosen->ident() : "(none)", file.ident) << file.slug << ": " << sample.header;
        }
    }
}

// The common formats come first or are more general: a less common format placed
// before them must not take their listings.
TEST(FamilySamples, EarlierFormatsLeaveTheCommonFormatsAlone)
{
    const auto& registry = listParserRegistry();
    for (const std::string& slug : samples::sampleSlugs()) {
        const SampleFile file = samples::readSampleFile(slug);
        if (!kCoreIdents.count(file.ident))
            continue;
        // NLST and MLSD answers never reach the registry with details requested; no
        // long-listing format may take them for its own either.
        const bool bareNames = file.ident == "NLIST";
        const std::size_t limit = file.ident == "MLST" ? registry.size() : registryIndex(file.ident);
        for (const SampleCase& sample : file.cases) {
            for (std::size_t i = 0; i < limit && i < registry.size(); ++i) {
                if (kCoreIdents.count(std::string(registry[i]->ident())))
                    continue;
                if (bareNames && registry[i]->ident() == "MVS:  Partitioned Data Set")
                    continue; // a member list without statistics is bare names too
                EXPECT_FALSE(registry[i]->check(sample.lines, kSystem, true))
                    << registry[i]->ident() << " takes " << file.slug << ": " << sample.header;
            }
        }
    }
}

TEST(FamilySamples, ParseGivesTheSampleEntries)
{
    for (const SampleFile& file : familySampleFiles()) {
        const ListParser* parser = parserNamed(file.ident);
        ASSERT_NE(parser, nullptr) << file.ident;
        for (const SampleCase& sample : file.cases) {
            SCOPED_TRACE(file.slug + ": " + sample.header);
            TFtpListItems items;
            parser->parse(sample.lines, ListParseContext { kToday, kSystem }, items);
            const auto expected = sample.entries();
            EXPECT_EQ(items.count(), static_cast<int>(expected.size()));
            if (items.count() != static_cast<int>(expected.size()))
                continue;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                const TFtpListItem& item = items[static_cast<int>(i)];
                const SampleRow actual = samples::rowOf(item);
                const auto deviation
                    = std::find_if(kDeviations.begin(), kDeviations.end(), [&](const Deviation& d) {
                          return d.slug == file.slug && d.caseNumber == sample.number && d.row == i;
                      });
                if (deviation != kDeviations.end()) {
                    EXPECT_EQ(describe(actual), describe(deviation->ours)) << deviation->why;
                    continue;
                }
                const SampleRow& want = expected[i];
                const bool dateOk = want.date == "-" ? actual.date == "-"
                                                     : item.ModifiedAvailable
                        && samples::sampleDateMatches(want.date, item.ModifiedDate, kToday);
                EXPECT_TRUE(actual.name == want.name && actual.kind == want.kind && actual.size == want.size
                    && dateOk)
                    << "row " << i << "\n  expected " << describe(want) << "\n  actual   "
                    << describe(actual);
                EXPECT_FALSE(item.Data.empty());
            }
        }
    }
}

} // namespace
} // namespace taskhaul::ftp
