// `taskhaul --parse-listing`, run as users run it: the built program, no display.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kProgram = TASKHAUL_BINARY_DIR "/src/app/taskhaul";

struct ProcessResult {
    int exitCode = -1;
    std::string output;
};

// Runs a shell command line and collects its standard output.
ProcessResult runCommand(const std::string& commandLine)
{
    ProcessResult result;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

class ParseListingCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kProgram))
            GTEST_SKIP() << kProgram << " is not built";
        folder_ = fs::temp_directory_path() / ("taskhaul-parse-listing-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override
    {
        if (!folder_.empty())
            fs::remove_all(folder_);
    }

    std::string writeFile(const std::string& name, const std::string& content)
    {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    fs::path folder_;
};

TEST_F(ParseListingCommand, PrintsTheChosenFormatAndOneRowPerItem)
{
    const std::string file = writeFile("unix.txt",
        "total 3\r\n"
        "drwxr-xr-x   2 ftp  ftp      4096 Mar  1  2020 pub\r\n"
        "-rw-r--r--   1 ftp  ftp    120000 Feb  2  2019 read me.txt\r\n"
        "lrwxrwxrwx   1 ftp  ftp         3 Jan  3  2018 docs -> pub/\r\n"
        "crw-rw-rw-   1 root root    1,  3 Jan  4  2017 null\r\n"
        "-rw-r--r--   1 ftp  ftp         9 Okt  5  2016 odd date\r\n");
    const ProcessResult result = runCommand(quoted(kProgram) + " --parse-listing " + quoted(file) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
        "Unix\n"
        "pub\tdir\t4096\t2020-03-01 00:00:00\n"
        "read me.txt\tfile\t120000\t2019-02-02 00:00:00\n"
        "docs\tlinkdir\t3\t2018-01-03 00:00:00\n"
        "null\tchar\t0\t2017-01-04 00:00:00\n"
        "odd date\tfile\t9\t-\n");
}

TEST_F(ParseListingCommand, ReadsStandardInputAndTakesTheSystemDescription)
{
    const std::string file = writeFile("nt.txt",
        "04-27-00  12:09PM       <DIR>          Program Files\n"
        "05-22-97  03:31PM                9,730 notes.txt\n");
    const ProcessResult result
        = runCommand(quoted(kProgram) + " --parse-listing - --syst 'Windows_NT' < " + quoted(file) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
        "Windows NT\n"
        "Program Files\tdir\t-\t2000-04-27 12:09:00\n"
        "notes.txt\tfile\t9730\t1997-05-22 15:31:00\n");
}

// A saved MLSD answer is told apart by its fact lines: times in UTC, names exact.
TEST_F(ParseListingCommand, RecognisesMachineListingLines)
{
    const std::string file = writeFile("mlsd.txt",
        "type=cdir;modify=20240301000000;unique=801U1; /pub\r\n"
        "type=file;size=5;modify=20240301120000;unique=801U2;  two blanks \r\n"
        "type=dir;modify=20240302000000; sub\r\n");
    const ProcessResult result = runCommand(quoted(kProgram) + " --parse-listing " + quoted(file) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
        "MLST\n"
        " two blanks \tfile\t5\t2024-03-01 12:00:00\n"
        "sub\tdir\t-\t2024-03-02 00:00:00\n");
}

// Lines some servers send in an MLSD answer: a fact without its value, the
// name glued to the facts, links (one to a folder). What is no entry at all is
// reported, and the rest is still shown.
TEST_F(ParseListingCommand, ReadsOddMachineLinesAndReportsTheRest)
{
    const std::string file = writeFile("mlsd-odd.txt",
        "type=file;size=5;UNIX.mode;modify=20240301120000; bare fact\r\n"
        "type=file;size=7;glued name.txt\r\n"
        "type=OS.unix=slink:/pub/; to a folder\r\n"
        "type=OS.unix=symlink; plain link\r\n"
        "total 3\r\n");
    const ProcessResult result = runCommand(quoted(kProgram) + " --parse-listing " + quoted(file) + " 2>&1");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output,
        "MLST\n"
        "bare fact\tfile\t5\t2024-03-01 12:00:00\n"
        "glued name.txt\tfile\t7\t-\n"
        "to a folder\tlinkdir\t-\t-\n"
        "plain link\tlink\t-\t-\n"
        "taskhaul: the listing could not be parsed to its end: Line not understood: \"total 3\"\n");
}

TEST_F(ParseListingCommand, UnknownListingPrintsNone)
{
    const std::string file = writeFile("other.txt", "Hello, this is not a listing\n");
    const ProcessResult result = runCommand(quoted(kProgram) + " --parse-listing " + quoted(file) + " 2>&1");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "none\n");
}

TEST_F(ParseListingCommand, UnreadableFileOrStrayWordsAreUsageErrors)
{
    for (const std::string& args : { " --parse-listing " + quoted((folder_ / "missing").string()),
             std::string(" --parse-listing"), std::string(" --parse-listing - --system x") }) {
        const ProcessResult result = runCommand(quoted(kProgram) + args + " </dev/null 2>/dev/null");
        EXPECT_EQ(result.exitCode, 2) << args;
        EXPECT_EQ(result.output, "") << args;
    }
}

} // namespace
