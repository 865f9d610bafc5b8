#include "base/scope_exit.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace taskhaul::base {
namespace {

TEST(ScopeExit, RunsOnReturnAndOnExceptionButNotAfterRelease)
{
    int runs = 0;
    {
        ScopeExit guard { [&]() noexcept { ++runs; } };
        EXPECT_EQ(runs, 0);
    }
    EXPECT_EQ(runs, 1);

    EXPECT_THROW(
        {
            ScopeExit guard { [&]() noexcept { ++runs; } };
            throw std::runtime_error("unwinding");
        },
        std::runtime_error);
    EXPECT_EQ(runs, 2);

    {
        ScopeExit guard { [&]() noexcept { ++runs; } };
        guard.Release();
    }
    EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace taskhaul::base
