// Wildcard comparison of a long remote name against a pattern full of stars:
// a retrying walk would take exponential time here; the comparison must stay
// within milliseconds.
#include "transfer/file_template.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

// 10,000 characters of "a" and "b" from a fixed seed, ending in "a".
std::string LongName()
{
    std::mt19937 random(42);
    std::string name(10000, 'a');
    for (char& c : name)
        c = (random() % 2) ? 'a' : 'b';
    name.back() = 'a';
    return name;
}

// 50 stars, each followed by a letter: 100 characters.
std::string StarPattern(char last)
{
    std::string pattern;
    for (int n = 0; n < 49; ++n)
        pattern += n % 2 ? "*a" : "*b";
    return pattern + '*' + last;
}

void BM_StarPatternAgainstLongName(benchmark::State& state, char last)
{
    const std::string name = LongName();
    const std::string pattern = StarPattern(last);
    bool matched = false;
    for (auto _ : state) {
        matched = taskhaul::WildcardMatch(pattern, name);
        benchmark::DoNotOptimize(matched);
    }
    state.SetLabel(matched ? "match" : "no match");
}

void BM_NoMatch(benchmark::State& state)
{
    BM_StarPatternAgainstLongName(state, 'c');
}

void BM_Match(benchmark::State& state)
{
    BM_StarPatternAgainstLongName(state, 'a');
}

// Names of all "a" against "*a*a...*b": every star has thousands of places to try.
void BM_WorstCaseNoMatch(benchmark::State& state)
{
    const std::string name(10000, 'a');
    std::string pattern;
    for (int n = 0; n < 49; ++n)
        pattern += "*a";
    pattern += "*b";
    for (auto _ : state)
        benchmark::DoNotOptimize(taskhaul::WildcardMatch(pattern, name));
}

} // namespace

BENCHMARK(BM_NoMatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Match)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorstCaseNoMatch)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
