#include "update/version_compare.h"

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

struct VersionCase {
    TVersionFormat format;
    const char* installed;
    const char* published;
    bool newer;
};

void PrintTo(const VersionCase& c, std::ostream* out)
{
    *out << c.installed << " -> " << c.published;
}

class VersionOrder : public ::testing::TestWithParam<VersionCase> { };

TEST_P(VersionOrder, TellsWhetherThePublishedVersionIsNewer)
{
    const VersionCase& c = GetParam();
    EXPECT_EQ(
        isNewerVersion(QString::fromLatin1(c.installed), QString::fromLatin1(c.published), c.format), c.newer)
        << c.installed << " -> " << c.published;
}

constexpr auto S = TVersionFormat::vfStandard;
constexpr auto T = TVersionFormat::vfString;
constexpr auto N = TVersionFormat::vfNumber;

INSTANTIATE_TEST_SUITE_P(Standard, VersionOrder,
    ::testing::Values(VersionCase { S, "1.1.9", "1.1.9", false }, VersionCase { S, "1.1.9", "1.1.10", true },
        VersionCase { S, "1.1.9", "1.2.0", true }, VersionCase { S, "1.1.9", "1.1.8", false },
        VersionCase { S, "1.1.9", "2", true }, VersionCase { S, "1.1.9", "1.1", false },
        // Unequal lengths: a missing part counts as 0.
        VersionCase { S, "1.1", "1.1.1", true }, VersionCase { S, "1.2.0", "1.2", false },
        VersionCase { S, "1.2", "1.2.0", false }, VersionCase { S, "1.1.9", "1.1.9.1", true },
        // A part that is not a number counts as 0.
        VersionCase { S, "1.1.9", "1.1.beta", false }, VersionCase { S, "1.x.9", "1.0.10", true }));

INSTANTIATE_TEST_SUITE_P(String, VersionOrder,
    ::testing::Values(VersionCase { T, "1.1.9", "1.1.9", false }, VersionCase { T, "1.1.9", "1.1.10", false },
        VersionCase { T, "1.1.9", "1.2", true }, VersionCase { T, "B", "a", true },
        VersionCase { T, "a", "B", false }, VersionCase { T, "1.1", "1.1a", true }));

INSTANTIATE_TEST_SUITE_P(Number, VersionOrder,
    ::testing::Values(VersionCase { N, "1.5", "1.25", false }, VersionCase { N, "1.25", "1.5", true },
        VersionCase { N, "2", "10", true }, VersionCase { N, "3", "3.0", false },
        VersionCase { N, "1.1.9", "2", false }, VersionCase { N, "1", "two", false },
        VersionCase { N, "1", "", false }));

} // namespace
} // namespace taskhaul
