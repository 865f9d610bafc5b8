// Parsing of long directory listings: 100,000 generated lines in the Unix and the
// Windows NT format, split from the received text and parsed as a listing is
// after LIST (parser choice included).

#include "ftp/listing/list_parser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

using namespace taskhaul::ftp;

constexpr int kLines = 100000;
const ListDateTime kToday { 2024, 6, 15, 12, 0, 0, 0 };
const char* const kMonths[]
    = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };

// Deterministic pseudo-random numbers below `n`.
class Dice {
public:
    unsigned operator()(unsigned n) { return static_cast<unsigned>(engine_() % n); }

private:
    std::mt19937 engine_ { 20240615 };
};

std::string unixListing()
{
    Dice random;
    std::string text = "total 123456\r\n";
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        const bool folder = random(10) == 0;
        const bool recent = random(2) == 0;
        char when[32];
        if (recent)
            std::snprintf(when, sizeof when, "%s %2u %02u:%02u", kMonths[random(12)], 1 + random(28),
                random(24), random(60));
        else
            std::snprintf(
                when, sizeof when, "%s %2u  %u", kMonths[random(12)], 1 + random(28), 1995 + random(29));
        std::snprintf(line, sizeof line, "%s %3u %-8s %-8s %12llu %s %s_%06d.dat\r\n",
            folder ? "drwxr-xr-x" : "-rw-r--r--", 1 + random(40), "ftpuser", "ftpgroup",
            static_cast<unsigned long long>(random(1u << 30)) * 17, when, folder ? "folder" : "file data", i);
        text += line;
    }
    return text;
}

std::string windowsNTListing()
{
    Dice random;
    std::string text;
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        const bool folder = random(10) == 0;
        const unsigned hour = 1 + random(12);
        std::snprintf(line, sizeof line, "%02u-%02u-%02u  %02u:%02u%s       %s %s_%06d.dat\r\n",
            1 + random(12), 1 + random(28), random(100), hour, random(60), random(2) ? "PM" : "AM",
            folder ? "<DIR>         " : "      12345678", folder ? "folder" : "file data", i);
        text += line;
    }
    return text;
}

void parse(benchmark::State& state, const std::string& text, const char* expectedIdent)
{
    for (auto _ : state) {
        const ListingLines lines = splitListingLines(text);
        TFtpListItems items;
        const auto ident = parseListing(lines, "", kToday, items);
        if (ident != expectedIdent || items.count() != kLines) {
            state.SkipWithError("listing not understood");
            break;
        }
        benchmark::DoNotOptimize(items);
    }
    state.SetItemsProcessed(state.iterations() * kLines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void BM_ParseUnixListing(benchmark::State& state)
{
    static const std::string text = unixListing();
    parse(state, text, "Unix");
}
BENCHMARK(BM_ParseUnixListing)->Unit(benchmark::kMillisecond);

void BM_ParseWindowsNTListing(benchmark::State& state)
{
    static const std::string text = windowsNTListing();
    parse(state, text, "Windows NT");
}
BENCHMARK(BM_ParseWindowsNTListing)->Unit(benchmark::kMillisecond);

void BM_SplitListingLines(benchmark::State& state)
{
    static const std::string text = unixListing();
    for (auto _ : state)
        benchmark::DoNotOptimize(splitListingLines(text));
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_SplitListingLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
