// The captured sample listings of the formats parsed in full (bare names, MLSD,
// Windows NT, Unix): which parser the registry picks for each, and what the
// parse makes of every line.

#include "ftp/listing/list_parser.h"
#include "sample_listings.h"

#include <gtest/gtest.h>

#include <map>

namespace taskhaul::ftp {
namespace {

using samples::SampleCase;
using samples::SampleFile;
using samples::SampleRow;

const ListDateTime kToday { 2024, 6, 15, 12, 0, 0, 0 };

const ListParser& parserNamed(std::string_view ident)
{
    for (const auto& parser : listParserRegistry())
        if (parser->ident() == ident)
            return *parser;
    throw std::runtime_error("no parser " + std::string(ident));
}

// Where the samples (read by other programs' rules) and our rules for the Unix
// format part ways. Every other case must match the sample exactly.
enum class Deviation {
    NotTaken, // the Unix check rejects the listing (unknown type letter, localised layout)
    NoDate, // a date the calendar cannot take (localised month, "24:00"): item without date
    LeadingBlank, // a padded year column: the name keeps the extra blank
    Differs, // a layout the rules do not foresee: name, size or date come out otherwise
    DeviceSize, // "major, minor" of a device: size 0 where the sample gives none
};

const std::map<int, Deviation> kUnixDeviations = {
    { 6, Deviation::Differs }, // "33.5k" size is not a number: 0
    { 10, Deviation::NotTaken }, // "26. Juli, 20:10"
    { 11, Deviation::NoDate }, // "2.   Okt.  2003"
    { 13, Deviation::Differs }, // "2004.07.15   name": the blanks padding the name stay in it
    { 14, Deviation::Differs }, // group and size run together: size 0
    { 16, Deviation::Differs }, // "0125039": a link count of 0 glued to an owner
    { 17, Deviation::NoDate }, // "30. Jan., 12:40"
    { 18, Deviation::Differs }, // no date column at all
    { 19, Deviation::NoDate }, // "24:00"
    { 22, Deviation::NotTaken }, // type letter "f"
    { 27, Deviation::DeviceSize }, { 43, Deviation::NoDate }, // "23 май 2011"
    { 44, Deviation::NotTaken }, // type letter "a"
    { 45, Deviation::NotTaken }, // "drwx--l---"
    { 46, Deviation::Differs }, // text glued to the month
    { 53, Deviation::LeadingBlank }, { 54, Deviation::LeadingBlank },
    { 58, Deviation::NotTaken }, // "Gesamt" total line
    { 63, Deviation::NotTaken }, // an error message instead of a listing
    { 64, Deviation::Differs }, // group and size run together
    { 66, Deviation::NoDate }, // "15 апр"
};

std::optional<Deviation> deviationOf(const SampleFile& file, const SampleCase& c)
{
    if (file.slug != "unix")
        return std::nullopt;
    const auto found = kUnixDeviations.find(c.number);
    return found == kUnixDeviations.end() ? std::nullopt : std::optional(found->second);
}

void expectRowsMatch(const SampleCase& c, const TFtpListItems& items, std::optional<Deviation> deviation)
{
    const std::vector<SampleRow> expected = c.entries();
    ASSERT_EQ(items.count(), static_cast<int>(expected.size()));
    for (int i = 0; i < items.count(); ++i) {
        const TFtpListItem& item = items[i];
        const SampleRow& want = expected[static_cast<std::size_t>(i)];
        const SampleRow got = samples::rowOf(item);
        SCOPED_TRACE("entry " + std::to_string(i) + ": " + item.Data);
        EXPECT_EQ(got.name, deviation == Deviation::LeadingBlank ? " " + want.name : want.name);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.size, deviation == Deviation::DeviceSize && want.size == "-" ? "0" : want.size);
        if (deviation == Deviation::NoDate || want.date == "-")
            EXPECT_EQ(got.date, "-");
        else
            EXPECT_TRUE(samples::sampleDateMatches(want.date, item.ModifiedDate, kToday))
                << "date " << got.date << ", expected " << want.date;
    }
}

class FullFormatSamples : public ::testing::TestWithParam<std::string> { };

TEST_P(FullFormatSamples, RegistryChoosesTheFormatOfEachListing)
{
    const SampleFile file = samples::readSampleFile(GetParam());
    for (const SampleCase& c : file.cases) {
        SCOPED_TRACE(c.header);
        const ListParser* chosen = chooseListParser(listParserRegistry(), c.lines, "UNIX Type: L8");
        if (file.ident == "NLIST" || file.ident == "MLST") {
            // Never asked for here: neither takes a detailed listing by its check;
            // bare names are taken when only names were asked for.
            EXPECT_FALSE(parserNamed(file.ident).check(c.lines, "", true));
            EXPECT_EQ(parserNamed(file.ident).check(c.lines, "", false), file.ident == "NLIST");
            continue;
        }
        if (c.entries().empty() || deviationOf(file, c) == Deviation::NotTaken) {
            EXPECT_TRUE(chosen == nullptr || chosen->ident() != file.ident);
            continue;
        }
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->ident(), file.ident);
    }
}

TEST_P(FullFormatSamples, ParsesEveryEntryAsCaptured)
{
    const SampleFile file = samples::readSampleFile(GetParam());
    for (const SampleCase& c : file.cases) {
        SCOPED_TRACE(c.header);
        const auto deviation = deviationOf(file, c);
        if (deviation == Deviation::NotTaken || deviation == Deviation::Differs)
            continue;
        TFtpListItems items;
        parserNamed(file.ident).parse(c.lines, ListParseContext { kToday, "" }, items);
        expectRowsMatch(c, items, deviation);
    }
}

INSTANTIATE_TEST_SUITE_P(Listing, FullFormatSamples,
    ::testing::Values("nlist", "mlst", "windows-nt", "unix", "unix-layouts"), [](const auto& info) {
        std::string name = info.param;
        std::erase(name, '-');
        return name;
    });

TEST(SampleListings, WindowsNTAndUnixNeverTakeEachOthersListings)
{
    const ListParser& windowsNT = parserNamed("Windows NT");
    const ListParser& unixParser = parserNamed("Unix");
    for (const char* slug : { "unix", "unix-layouts" })
        for (const SampleCase& c : samples::readSampleFile(slug).cases)
            EXPECT_FALSE(windowsNT.check(c.lines, "", true)) << slug << " " << c.header;
    for (const SampleCase& c : samples::readSampleFile("windows-nt").cases)
        EXPECT_FALSE(unixParser.check(c.lines, "", true)) << c.header;
}

// MLSD and MLST answers are known by their fact lines alone; no other format's
// listing looks like one.
TEST(SampleListings, MachineListingsAreKnownByTheirFacts)
{
    for (const std::string& slug : samples::sampleSlugs()) {
        const SampleFile file = samples::readSampleFile(slug);
        for (const SampleCase& c : file.cases)
            EXPECT_EQ(isMachineListing(c.lines), file.ident == "MLST") << slug << " " << c.header;
    }
    // Not fact lines: a blank before any "=", a fact without a name, a bare word.
    for (const ListingLines& lines : std::vector<ListingLines> {
             { "size=1 ;type=file; name" }, { "=1;type=file; name" }, { "README" }, { "" }, {} })
        EXPECT_FALSE(isMachineListing(lines)) << (lines.empty() ? "" : lines.front());

    // Parsed straight away: the lines for the folder and its parent give no item,
    // the unique fact leaves name and kind alone, and the time is exact UTC.
    TFtpListItems items;
    parseMachineListing(
        { "type=cdir;unique=8U1; /pub", "type=pdir;unique=8U0; ..",
            "unique=8U2;type=file;size=0;modify=20240301000000;  a b ", "type=dir;unique=8U3; sub" },
        items);
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, " a b ");
    EXPECT_EQ(items[0].ItemType, ItemType::File);
    EXPECT_TRUE(items[0].SizeAvailable);
    EXPECT_TRUE(items[0].ModifiedExactUtc);
    EXPECT_EQ(items[0].ModifiedDate, (ListDateTime { 2024, 3, 1, 0, 0, 0, 0 }));
    EXPECT_EQ(items[1].FileName, "sub");
    EXPECT_EQ(items[1].ItemType, ItemType::Directory);
    EXPECT_FALSE(items[1].ModifiedExactUtc);
}

// Lines that bend the form: each is read as shown, or is no entry, and a line
// that is no entry is reported once the others are parsed.
TEST(SampleListings, MachineLinesThatBendTheFormAreReadOrReported)
{
    struct Case {
        std::string line;
        std::string name; // empty: no entry
        ItemType type;
        std::string linkTarget;
    };
    constexpr ItemType kFile = ItemType::File;
    const std::vector<Case> cases = {
        { "type=file;UNIX.mode;size=3; bare fact", "bare fact", kFile, "" },
        { "type=file;size=3;glued", "glued", kFile, "" },
        { "type=file;size=3;glued with blanks", "glued with blanks", kFile, "" },
        { "type=OS.unix=slink:/srv/pub/; folder link", "folder link", ItemType::SymbolicLinkToDirectory,
            "/srv/pub" },
        { "type=OS.unix=slink:notes.txt; file link", "file link", ItemType::SymbolicLink, "notes.txt" },
        { "Type=OS.UNIX=symlink; bare link", "bare link", ItemType::SymbolicLink, "" },
        { "type=OS.unix=slinky; not a link", "not a link", kFile, "" },
        { "type=file;size=3;", "", kFile, "" },
        { "type=file;size=3;modify=20240301000000", "", kFile, "" },
        { "total 3", "", kFile, "" },
        { "README", "", kFile, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        TFtpListItems items;
        if (c.name.empty()) {
            try {
                parseMachineListing({ c.line }, items);
                ADD_FAILURE() << "not reported";
            } catch (const EListParseError& error) {
                EXPECT_EQ(std::string(error.what()), "Line not understood: \"" + c.line + "\"");
            }
            EXPECT_EQ(items.count(), 0);
            continue;
        }
        EXPECT_TRUE(isMachineListing({ c.line }));
        parseMachineListing({ c.line }, items);
        ASSERT_EQ(items.count(), 1);
        EXPECT_EQ(items[0].FileName, c.name);
        EXPECT_EQ(items[0].ItemType, c.type);
        EXPECT_EQ(items[0].extras().LinkTarget, c.linkTarget);
    }

    // Several lines that are no entry: counted, the first named, the entries kept.
    TFtpListItems items;
    try {
        parseMachineListing({ "total 2", "type=file; a", "README", "type=dir; b" }, items);
        ADD_FAILURE() << "not reported";
    } catch (const EListParseError& error) {
        EXPECT_EQ(std::string(error.what()), "2 lines not understood, the first: \"total 2\"");
    }
    EXPECT_EQ(items.count(), 2);
}

// No parser may crash, loop or make more items than lines on another format's
// listing; a parse error is the only failure allowed.
TEST(SampleListings, EveryParserSurvivesEveryListing)
{
    for (const std::string& slug : samples::sampleSlugs()) {
        for (const SampleCase& c : samples::readSampleFile(slug).cases) {
            for (const auto& parser : listParserRegistry()) {
                SCOPED_TRACE(slug + " " + c.header + " / " + std::string(parser->ident()));
                for (const bool details : { true, false })
                    (void)parser->check(c.lines, "", details);
                TFtpListItems items;
                try {
                    parser->parse(c.lines, ListParseContext { kToday, "" }, items);
                } catch (const EListParseError&) {
                }
                EXPECT_LE(items.count(), static_cast<int>(c.lines.size()));
            }
        }
    }
}

} // namespace
} // namespace taskhaul::ftp
