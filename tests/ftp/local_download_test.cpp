// The local side of a download: the temporary file beside the target, its
// move into place and its removal.

#include "client_fixture.h"

#include "ftp/ftp_local_file.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

TEST(LocalDownload, TemporariesFollowCreationCommitAndDestruction)
{
    TempFolder folder;
    auto a = std::make_unique<TLocalDownload>(folder.File("a"), TLocalDownload::Mode::NewFile);
    auto b = std::make_unique<TLocalDownload>(folder.File("b"), TLocalDownload::Mode::NewFile);
    auto c = std::make_unique<TLocalDownload>(folder.File("c"), TLocalDownload::Mode::NewFile);
    const std::string pathB = b->TemporaryPath();
    const auto name = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
    EXPECT_THAT(folder.Entries(),
        UnorderedElementsAre(name(a->TemporaryPath()), name(pathB), name(c->TemporaryPath())));
    EXPECT_EQ(std::filesystem::path(pathB).parent_path(), folder.Path());

    // Dropped uncommitted: its file goes, the others stay.
    b.reset();
    EXPECT_THAT(folder.Entries(), UnorderedElementsAre(name(a->TemporaryPath()), name(c->TemporaryPath())));

    c->Write("data", 4);
    c->Commit(false);
    EXPECT_TRUE(c->TemporaryPath().empty());
    c.reset();
    a.reset();
    EXPECT_THAT(folder.Entries(), ElementsAre("c"));
    EXPECT_EQ(ReadFile(folder.File("c")), "data");
}

// The clean-up after a crash knows a temporary by its mark, not by its name.
TEST(LocalDownload, TheTemporaryCarriesTheProgramsMark)
{
    TempFolder folder;
    const TLocalDownload download(folder.File("a"), TLocalDownload::Mode::NewFile);
    const std::string name = std::filesystem::path(download.TemporaryPath()).filename();
    WriteFile(folder.File(".b.taskhaul-abcdefgh"), "a user's file");
    const int dir = ::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    EXPECT_TRUE(IsMarkedDownloadTemporary(dir, name.c_str()));
    EXPECT_FALSE(IsMarkedDownloadTemporary(dir, ".b.taskhaul-abcdefgh"));
    EXPECT_FALSE(IsMarkedDownloadTemporary(dir, "missing"));
    ::close(dir);
}

// A file-size limit (ulimit -f) fails the write like a full disk; it does not
// end the process. Tried in a child, whose limit stays its own.
TEST(LocalDownload, AFileSizeLimitFailsTheWriteAndLeavesNoTemporary)
{
    TempFolder folder;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit { 1024, 1024 };
        int result = ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? 2 : 3;
        {
            TLocalDownload download(folder.File("big"), TLocalDownload::Mode::NewFile);
            const std::string data(4096, 'x');
            try {
                download.Write(data.data(), data.size());
            } catch (const EFileError& error) {
                result = std::string(error.what()).find("File too large") != std::string::npos ? 0 : 4;
            }
        }
        if (result == 0 && !folder.Entries().empty())
            result = 5;
        ::_exit(result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LocalDownload, FailedCommitKeepsTheTargetAndRemovesTheTemporary)
{
    TempFolder folder;
    WriteFile(folder.File("t"), "old");
    {
        TLocalDownload download(folder.File("t"), TLocalDownload::Mode::NewFile);
        download.Write("new", 3);
        EXPECT_THROW(download.Commit(false), EFileAlreadyExists);
        // Still on disk until the object goes.
        EXPECT_TRUE(std::filesystem::exists(download.TemporaryPath()));
    }
    EXPECT_THAT(folder.Entries(), ElementsAre("t"));
    EXPECT_EQ(ReadFile(folder.File("t")), "old");

    // Appending has no temporary: the file grows in place.
    TLocalDownload append(folder.File("t"), TLocalDownload::Mode::Append);
    EXPECT_EQ(append.Position(), 3);
    EXPECT_TRUE(append.TemporaryPath().empty());
    EXPECT_THAT(folder.Entries(), ElementsAre("t"));
    append.Write("er", 2);
    append.Commit(false);
    EXPECT_EQ(ReadFile(folder.File("t")), "older");
}

// Every connection's thread writes its own downloads at the same time: no
// download may touch another's state (ThreadSanitizer watches this test), and
// each ends as its thread decided.
TEST(LocalDownload, DownloadsOnSeveralThreadsAtOnceStayApart)
{
    TempFolder folder;
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&folder, t] {
            for (int round = 0; round < kRounds; ++round) {
                const std::string name = std::to_string(t) + "-" + std::to_string(round);
                TLocalDownload download(folder.File(name), TLocalDownload::Mode::NewFile);
                download.Write(name.data(), name.size());
                // Every other download is dropped uncommitted, as a failed one is.
                if (round % 2 == 0)
                    download.Commit(false);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const auto entries = folder.Entries();
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kRounds / 2));
    for (const auto& name : entries) {
        EXPECT_EQ(std::stoi(name.substr(name.find('-') + 1)) % 2, 0) << name;
        EXPECT_EQ(ReadFile(folder.File(name)), name);
    }
}

TEST_F(ClientTest, ARetrievalKeepsItsTemporaryOnlyWhileItRuns)
{
    TempFolder folder;
    server.addFile("a.txt", "content");
    server.addFile("b.txt", "never");
    DataPlan failing;
    failing.final = "451 Disk trouble.\r\n";
    server.setDataPlan("b.txt", failing);
    Connect();
    std::vector<std::string> seen;
    client.OnWork = [&](TWorkMode, std::int64_t) {
        for (const auto& name : folder.Entries())
            seen.push_back(name);
    };
    client.RetrieveFile("a.txt", folder.File("a.txt"), false);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].starts_with(".a.txt.taskhaul-")) << seen[0];
    EXPECT_THAT(folder.Entries(), ElementsAre("a.txt"));

    seen.clear();
    EXPECT_THROW(client.RetrieveFile("b.txt", folder.File("b.txt"), false), EFtpReplyError);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].starts_with(".b.txt.taskhaul-")) << seen[0];
    EXPECT_THAT(folder.Entries(), ElementsAre("a.txt"));
}

} // namespace
} // namespace taskhaul::ftp::testing
