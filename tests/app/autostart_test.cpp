// "Start Taskhaul when I log in": the autostart entry, its quoting, and the
// window keeping it in step with the check box.
#include "app/autostart_entry.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>

namespace taskhaul::test {
namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeAll(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

TEST(AutostartEntry, LivesInTheAutostartFolderOfTheConfigHome)
{
    EXPECT_EQ(AutostartEntry::path(),
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/org.velmora.Taskhaul.desktop"));
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(AutostartEntry::path(),
        QDir::homePath() + QStringLiteral("/.config/autostart/org.velmora.Taskhaul.desktop"));
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(AutostartEntry, ExecArgumentsAreQuotedAsDesktopEntriesWant)
{
    struct Case {
        const char* argument;
        const char* written; // as it stands in the file
    };
    const Case cases[] = {
        { "/usr/bin/taskhaul", "/usr/bin/taskhaul" },
        { "/home/ann/My Programs/taskhaul", "\"/home/ann/My Programs/taskhaul\"" },
        { "/opt/a\"b/taskhaul", "\"/opt/a\\\\\"b/taskhaul\"" },
        { "/opt/$HOME/taskhaul", "\"/opt/\\\\$HOME/taskhaul\"" },
        { "/opt/back\\slash/taskhaul", "\"/opt/back\\\\\\\\slash/taskhaul\"" },
        { "/opt/100%/taskhaul", "/opt/100%%/taskhaul" },
        { "/opt/it's/taskhaul", "\"/opt/it's/taskhaul\"" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(AutostartEntry::execArgument(QString::fromUtf8(c.argument)), QString::fromUtf8(c.written))
            << c.argument;
}

TEST(AutostartEntry, TheEntryStartsTheProgramHiddenWithTheScheduler)
{
    const QString text = AutostartEntry::content(QStringLiteral("/home/ann/My Programs/taskhaul"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    EXPECT_EQ(lines.first(), QStringLiteral("[Desktop Entry]"));
    for (const char* line :
        { "Type=Application", "Name=Taskhaul", "Exec=\"/home/ann/My Programs/taskhaul\" -r -m",
            "X-GNOME-Autostart-enabled=true", "Hidden=false" })
        EXPECT_TRUE(lines.contains(QString::fromUtf8(line))) << line;
    EXPECT_TRUE(AutostartEntry::isOurs(text));
}

TEST(AutostartEntry, WrittenAndRemovedButAnEntryOfTheUsersOwnStays)
{
    const QString path = AutostartEntry::path();
    QFile::remove(path);
    ASSERT_TRUE(AutostartEntry::apply(true, QStringLiteral("/usr/bin/taskhaul")));
    EXPECT_EQ(readAll(path), AutostartEntry::content(QStringLiteral("/usr/bin/taskhaul")));
    ASSERT_TRUE(AutostartEntry::apply(false));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(AutostartEntry::apply(false)); // nothing to remove

    const QString own = QStringLiteral("[Desktop Entry]\nType=Application\nName=Mine\nExec=taskhaul\n");
    writeAll(path, own);
    EXPECT_TRUE(AutostartEntry::apply(false));
    EXPECT_TRUE(AutostartEntry::apply(true, QStringLiteral("/usr/bin/taskhaul")));
    EXPECT_EQ(readAll(path), own);
    QFile::remove(path);
}

TEST(AutostartEntry, ProgramPathIsAnAbsoluteExecutable)
{
    const QFileInfo program(AutostartEntry::programPath());
    EXPECT_TRUE(program.isAbsolute());
    EXPECT_TRUE(program.isExecutable());
}

class StartAtLoginWindow : public WindowTest {
protected:
    void SetUp() override { QFile::remove(AutostartEntry::path()); }
    void TearDown() override { QFile::remove(AutostartEntry::path()); }
    QCheckBox* box() const { return child<QCheckBox>("chkStartAtLogin"); }
};

TEST_F(StartAtLoginWindow, TheBoxWritesAndRemovesTheEntryAndMarksTheJobChanged)
{
    createWindow();
    ASSERT_NE(box(), nullptr);
    EXPECT_EQ(box()->text(), QStringLiteral("Start Taskhaul when I log in"));
    EXPECT_FALSE(box()->isChecked());
    EXPECT_FALSE(QFileInfo::exists(AutostartEntry::path()));

    box()->setChecked(true);
    EXPECT_TRUE(AutostartEntry::isOurs(readAll(AutostartEntry::path())));
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
    trigger(Command::SaveConfiguration);
    EXPECT_TRUE(store().load(JobSettings {}).settings.startAtLogin);

    box()->setChecked(false);
    EXPECT_FALSE(QFileInfo::exists(AutostartEntry::path()));
}

TEST_F(StartAtLoginWindow, LoadingAJobWithTheOptionPutsBackAMissingEntry)
{
    JobSettings job;
    job.startAtLogin = true;
    store().save(job);
    createWindow();
    EXPECT_FALSE(QFileInfo::exists(AutostartEntry::path())); // nothing loaded yet
    trigger(Command::OpenConfiguration);
    EXPECT_TRUE(box()->isChecked());
    ASSERT_TRUE(QFileInfo::exists(AutostartEntry::path()));

    QFile::remove(AutostartEntry::path());
    trigger(Command::OpenConfiguration); // unchanged box: the load alone writes it
    EXPECT_TRUE(QFileInfo::exists(AutostartEntry::path()));
}

} // namespace
} // namespace taskhaul::test
