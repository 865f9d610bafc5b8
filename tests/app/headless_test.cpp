#include "app/headless.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::optional<int> run(std::vector<const char*> words)
{
    words.insert(words.begin(), "taskhaul");
    words.push_back(nullptr);
    return taskhaul::runHeadless(int(words.size()) - 1, const_cast<char**>(words.data()));
}

TEST(Headless, NormalStartsAreLeftToTheWindow)
{
    EXPECT_FALSE(run({}).has_value());
    EXPECT_FALSE(run({ "-r" }).has_value());
    EXPECT_FALSE(run({ "-m", "--version" }).has_value()); // only the first word selects an option
    EXPECT_FALSE(run({ "--unknown" }).has_value());
}

} // namespace
