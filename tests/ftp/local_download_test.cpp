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
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
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

// The free space of the file system that holds `path`, as statvfs tells it.
std::uint64_t FreeBytes(const std::filesystem::path& path)
{
    struct statvfs info { };
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0);
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

constexpr std::uint64_t kMiB = 1024 * 1024;

// The reserve is measured against the real free space of the test's file
// system: set just below what is free now, it lets a small write through and
// stops a large one before a byte of it is written.
TEST(LocalDownload, AWriteIntoTheDiskReserveFailsAndWritesNothing)
{
    TempFolder folder;
    const std::string small(kMiB, 's');
    const std::string large(32 * kMiB, 'l');
    struct Case {
        const char* what;
        TDiskReserve reserve;
        bool smallPasses;
        bool largePasses;
    };
    const std::uint64_t margin = FreeBytes(folder.Path()) - 16 * kMiB;
    const Case cases[] = {
        { "16 MiB left above the reserve", { margin, 100 }, true, false },
        { "the reserve is all of the disk", { UINT64_MAX, 100 }, false, false },
        { "no reserve", { 0, 1 }, true, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TLocalDownload download(folder.File("t"), TLocalDownload::Mode::NewFile, c.reserve);
        std::int64_t written = 0;
        for (const auto& [data, passes] :
            { std::pair { &small, c.smallPasses }, { &large, c.largePasses } }) {
            const std::string error = ErrorOf([&] { download.Write(data->data(), data->size()); });
            if (passes) {
                EXPECT_EQ(error, "");
                written += static_cast<std::int64_t>(data->size());
            } else {
                EXPECT_THAT(error,
                    AllOf(StartsWith("Cannot write file \"" + folder.File("t")
                              + "\". Download stopped: the local disk "
                                "would have less than "),
                        EndsWith(" MiB free.")));
            }
            EXPECT_EQ(download.Position(), written);
            EXPECT_EQ(
                std::filesystem::file_size(download.TemporaryPath()), static_cast<std::uintmax_t>(written));
        }
    }
    EXPECT_THAT(folder.Entries(), IsEmpty());
}

// A server that announces one size and sends without end stops at the
// reserve: the file fails with the reason, its temporary goes, and the
// connection serves the next file. (Other programs write on the same disk
// meanwhile: the reserve leaves 4 MiB, the server sends 32 MiB.)
TEST_F(ClientTest, ADownloadThatWouldFillTheDiskStopsAtTheReserve)
{
    TempFolder folder;
    server.addFile("endless.bin", std::string(32 * kMiB, 'e'));
    DataPlan endless;
    endless.preliminary = "150 Opening BINARY mode data connection for endless.bin (1048576 bytes).\r\n";
    server.setDataPlan("endless.bin", endless);
    server.addFile("small.txt", "small");
    TFtpLimits limits = ShortLimits();
    // Copying the file's bytes takes the server a while in a sanitizer's build.
    limits.ReplyTimeout = limits.DataIdleTimeout = 20s;
    limits.DiskReserve = { FreeBytes(folder.Path()) - 4 * kMiB, 100 };
    client.SetLimits(limits);
    Connect();
    std::int64_t received = 0;
    client.OnWork = [&](TWorkMode, std::int64_t count) { received = count; };

    const std::string error
        = ErrorOf([&] { client.RetrieveFile("endless.bin", folder.File("endless.bin"), false); });
    EXPECT_THAT(error, HasSubstr("Download stopped: the local disk would have less than "));
    EXPECT_LT(received, static_cast<std::int64_t>(24 * kMiB));
    EXPECT_THAT(folder.Entries(), IsEmpty());

    limits.DiskReserve.Bytes = 0;
    client.SetLimits(limits);
    EXPECT_NO_THROW(client.RetrieveFile("small.txt", folder.File("small.txt"), false));
    EXPECT_EQ(ReadFile(folder.File("small.txt")), "small");
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
