#include "base/companion_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace taskhaul::base {
namespace {

TEST(CompanionFile, IsBesideTheProgramElseInTheLibexecFolderBesideItsOwn)
{
    char pattern[] = "/tmp/companion-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string beside = folder + "/taskhaul-keyring.so";
    std::FILE* file = std::fopen(beside.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);

    struct Case {
        const char* what;
        std::string programFolder;
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        { "beside (a build folder, libexec)", folder, "taskhaul-keyring.so", beside },
        { "folder given with its slash", folder + "/", "taskhaul-keyring.so", beside },
        { "not beside (bin)", folder, "taskhaul-window", folder + "/../libexec/taskhaul/taskhaul-window" },
        { "the program cannot be located", "", "taskhaul-window", "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(companionFilePath(c.name, c.programFolder), c.expected) << c.what;

    std::remove(beside.c_str());
    ::rmdir(folder.c_str());
}

} // namespace
} // namespace taskhaul::base
