#include "transfer/file_plan.h"

#include <gtest/gtest.h>

#include <set>

namespace taskhaul {
namespace {

using Decision = PlannedFile::Decision;

RemoteEntry item(const std::string& name, const std::string& kind = "file")
{
    RemoteEntry entry;
    entry.name = name;
    entry.kindName = kind;
    entry.plainFile = kind == "file";
    return entry;
}

struct Expected {
    std::string remoteName;
    Decision decision;
    std::string localName;
};

void expectPlan(const std::vector<PlannedFile>& plan, const std::vector<Expected>& expected)
{
    ASSERT_EQ(plan.size(), expected.size());
    for (std::size_t i = 0; i < plan.size(); ++i) {
        SCOPED_TRACE(expected[i].remoteName);
        EXPECT_EQ(plan[i].remoteName, expected[i].remoteName);
        EXPECT_EQ(plan[i].decision, expected[i].decision);
        EXPECT_EQ(plan[i].localName, expected[i].localName);
    }
}

class FilePlan : public ::testing::Test {
protected:
    FilePlan()
    {
        items.push_back(item("b.txt"));
        items.push_back(item("sub", "dir"));
        items.push_back(item("a.csv"));
        items.push_back(item(".."));
        items.push_back(item("link.txt", "link"));
        items.push_back(item("c.TXT"));
        job.localFolder = QStringLiteral("/in");
    }

    std::vector<PlannedFile> plan() const
    {
        return planFiles(items, job, now, QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC),
            [this](const std::string& name) {
                LocalFileState state;
                state.exists = existing.count(name) > 0;
                return state;
            });
    }

    std::vector<RemoteEntry> items;
    JobSettings job;
    LocalDateTime now { 2026, 3, 1, 12, 0, 0 };
    std::set<std::string> existing;
};

TEST_F(FilePlan, AllFilesTakesEveryPlainSafeFileInListingOrder)
{
    job.fileKind = JobSettings::FileKind::AllFiles;
    job.fileName = QStringLiteral("ignored*");
    expectPlan(plan(),
        { { "b.txt", Decision::Fetch, "b.txt" }, { "sub", Decision::NotPlainFile, "" },
            { "a.csv", Decision::Fetch, "a.csv" }, { "..", Decision::UnsafeName, "" },
            { "link.txt", Decision::NotPlainFile, "" }, { "c.TXT", Decision::Fetch, "c.TXT" } });
}

TEST_F(FilePlan, OneFileMatchesTheTemplateAndRenamesWithTheSequenceOfEachFetch)
{
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("*.txt");
    job.rename = true;
    job.renameTo = QStringLiteral("[yyyy][MM]-[seq].dat");
    job.sequenceStart = 999999;
    const std::vector<PlannedFile> result = plan();
    expectPlan(result,
        { { "b.txt", Decision::Fetch, "202603-999999.dat" }, { "sub", Decision::NotPlainFile, "" },
            { "a.csv", Decision::NoMatch, "" }, { "..", Decision::NoMatch, "" },
            { "link.txt", Decision::NotPlainFile, "" }, { "c.TXT", Decision::Fetch, "202603-0.dat" } });
    EXPECT_EQ(result[0].sequence, 999999);
    EXPECT_EQ(result[5].sequence, 0);
}

TEST_F(FilePlan, ExistingFilesAreKeptOnlyWhenOverwriteIsOff)
{
    job.fileKind = JobSettings::FileKind::AllFiles;
    existing = { "a.csv" };
    job.overwrite = true;
    EXPECT_EQ(plan()[2].decision, Decision::Fetch);
    job.overwrite = false;
    EXPECT_EQ(plan()[2].decision, Decision::ExistsNoOverwrite);
    EXPECT_EQ(plan()[2].localName, "a.csv");
    EXPECT_EQ(plan()[0].decision, Decision::Fetch);
}

// Only a file that is fetched moves the sequence on: one kept because its
// copy exists leaves the next file the same number, as the run does.
TEST_F(FilePlan, AKeptFileLeavesTheSequenceWhereItIs)
{
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("*.txt");
    job.rename = true;
    job.renameTo = QStringLiteral("n[seq]");
    job.sequenceStart = 1;
    existing = { "n1" };
    job.overwrite = false;
    expectPlan(plan(),
        { { "b.txt", Decision::ExistsNoOverwrite, "n1" }, { "sub", Decision::NotPlainFile, "" },
            { "a.csv", Decision::NoMatch, "" }, { "..", Decision::NoMatch, "" },
            { "link.txt", Decision::NotPlainFile, "" }, { "c.TXT", Decision::ExistsNoOverwrite, "n1" } });
    job.overwrite = true;
    expectPlan(plan(),
        { { "b.txt", Decision::Fetch, "n1" }, { "sub", Decision::NotPlainFile, "" },
            { "a.csv", Decision::NoMatch, "" }, { "..", Decision::NoMatch, "" },
            { "link.txt", Decision::NotPlainFile, "" }, { "c.TXT", Decision::Fetch, "n2" } });
}

TEST_F(FilePlan, ALineWithoutANameIsNoEntryAndNamesOfTheTemporaryFormAreUnsafe)
{
    items.clear();
    items.push_back(item(""));
    items.push_back(item(".r.csv.taskhaul-abcd1234"));
    items.push_back(item(".r.csv.taskhaul-ABCD1234")); // not the form downloads use
    items.push_back(item("", "dir"));
    items.push_back(item("d", "dir"));
    job.fileKind = JobSettings::FileKind::AllFiles;
    const std::vector<PlannedFile> result = plan();
    expectPlan(result,
        { { ".r.csv.taskhaul-abcd1234", Decision::UnsafeName, "" },
            { ".r.csv.taskhaul-ABCD1234", Decision::Fetch, ".r.csv.taskhaul-ABCD1234" },
            { "d", Decision::NotPlainFile, "" } });
    EXPECT_EQ(result[2].kindName, "dir");
}

TEST(FilePlanHelpers, SequenceWrapsAndOnlySequencedOneFileJobsAdvance)
{
    EXPECT_EQ(nextSequence(0), 1);
    EXPECT_EQ(nextSequence(999999), 0);
    JobSettings job;
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("a[seq]");
    EXPECT_TRUE(advancesSequence(job));
    job.fileKind = JobSettings::FileKind::AllFiles;
    EXPECT_FALSE(advancesSequence(job));
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("a");
    job.renameTo = QStringLiteral("b[seq]");
    EXPECT_FALSE(advancesSequence(job));
    job.rename = true;
    EXPECT_TRUE(advancesSequence(job));
    job.localFolder = QStringLiteral("/in/");
    EXPECT_EQ(localPathFor(job, "x"), "/in/x");
}

} // namespace
} // namespace taskhaul
