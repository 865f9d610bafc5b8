#include "ui/about_box.h"

#include "gui/recording_shell.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTest>

namespace taskhaul {
namespace {

TEST(AboutTexts, VersionFromTheBuild)
{
    EXPECT_EQ(AboutVersionText(ProgramVersion { 1, 1, 1, 9 }), "Version 1.1 (Build 9)");
    EXPECT_EQ(AboutVersionText(ProgramVersion { 12, 0, 3, 4567 }), "Version 12.0 (Build 4567)");
    EXPECT_EQ(AboutVersionText(std::nullopt), "Version 0.2 build 50");

    const auto built = BuiltProgramVersion();
    ASSERT_TRUE(built.has_value());
    EXPECT_EQ(AboutVersionText(built), "Version 1.1 (Build 9)");
}

TEST(AboutTexts, MemoryInKilobytesGroupedByTheLocale)
{
    const quint64 threeGigabytes = 3221225472ull;
    EXPECT_EQ(
        AboutMemoryText(threeGigabytes, QLocale(QLocale::English, QLocale::UnitedStates)), "3,145,728 KB");
    EXPECT_EQ(AboutMemoryText(threeGigabytes, QLocale(QLocale::German, QLocale::Germany)), "3.145.728 KB");
    EXPECT_EQ(AboutMemoryText(threeGigabytes, QLocale::c()), "3,145,728 KB"); // grouped there too
    EXPECT_EQ(AboutMemoryText(16ull << 30, QLocale(QLocale::English)), "16,777,216 KB");
    // Whole kilobytes, rounded.
    EXPECT_EQ(AboutMemoryText(1535, QLocale(QLocale::English)), "1 KB");
    EXPECT_EQ(AboutMemoryText(1536, QLocale(QLocale::English)), "2 KB");
    EXPECT_EQ(AboutMemoryText(999 * 1024, QLocale(QLocale::English)), "999 KB");
    EXPECT_EQ(AboutMemoryText(1000 * 1024, QLocale(QLocale::English)), "1,000 KB");
}

TEST(AboutTexts, SystemNameThenTwoBlanksThenTheKernelBuild)
{
    EXPECT_EQ(AboutOsText("Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64"),
        "Debian GNU/Linux 12 (bookworm)  (Build 6.1.0-18-amd64)");
    EXPECT_EQ(AboutOsText("", "6.8.0"), "Unknown  (Build 6.8.0)");
    EXPECT_EQ(AboutOsText("Fedora Linux 40", ""), "Fedora Linux 40  (Build ");
}

TEST(AboutTexts, TheRunningSystemIsRead)
{
    const SystemFacts facts = SystemFacts::current();
    ASSERT_TRUE(facts.physicalMemoryBytes.has_value());
    EXPECT_GT(*facts.physicalMemoryBytes, quint64(64) << 20);
    EXPECT_FALSE(facts.kernelVersion.isEmpty());
    ASSERT_TRUE(facts.programVersion.has_value());
    EXPECT_EQ(facts.programVersion->build, 9);
}

QString LabelText(const QWidget& box, const char* name)
{
    const auto* label = box.findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

SystemFacts SampleFacts()
{
    SystemFacts facts;
    facts.productName = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    facts.kernelVersion = QStringLiteral("6.1.0-18-amd64");
    facts.physicalMemoryBytes = 3221225472ull;
    facts.programVersion = ProgramVersion { 1, 1, 1, 9 };
    return facts;
}

TEST(AboutBox, ShowsItsTextsFilledInAtCreation)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    test::RecordingShell shell;
    AboutBox box(shell, SampleFacts());

    EXPECT_EQ(box.objectName(), "TAboutBox");
    EXPECT_EQ(box.windowTitle(), "About Taskhaul");
    EXPECT_EQ(LabelText(box, "Label1"), "Velmora");
    EXPECT_EQ(LabelText(box, "Label8"), "Taskhaul");
    EXPECT_EQ(LabelText(box, "Label7"), "Oskra Edition");
    EXPECT_EQ(LabelText(box, "Label4"), "Version 1.1 (Build 9)");
    EXPECT_EQ(LabelText(box, "Label5"), "Debian GNU/Linux 12 (bookworm)  (Build 6.1.0-18-amd64)");
    EXPECT_EQ(LabelText(box, "Label3"), "Memory Available to Linux:");
    EXPECT_EQ(LabelText(box, "PhysMem"), "3,145,728 KB");
    EXPECT_EQ(box.versionText(), "Version 1.1 (Build 9)");
    EXPECT_EQ(box.memoryText(), "3,145,728 KB");
    QLocale::setDefault(QLocale::c());
}

TEST(AboutBox, ShowsTheMemoryTheSystemReports)
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    ASSERT_TRUE(meminfo.open(QIODevice::ReadOnly));
    quint64 totalKilobytes = 0;
    for (const QByteArray& line : meminfo.readAll().split('\n'))
        if (line.startsWith("MemTotal:"))
            totalKilobytes = line.mid(9).trimmed().split(' ').value(0).toULongLong();
    ASSERT_GT(totalKilobytes, 0u);

    test::RecordingShell shell;
    AboutBox box(shell);
    EXPECT_EQ(LabelText(box, "Label3"), "Memory Available to Linux:");
    EXPECT_EQ(box.memoryText(), AboutMemoryText(totalKilobytes * 1024, QLocale()));
}

TEST(AboutBox, KeepsItsFirstTextsWhenNothingIsKnown)
{
    test::RecordingShell shell;
    AboutBox box(shell, SystemFacts {});
    EXPECT_EQ(box.versionText(), "Version 0.2 build 50");
    EXPECT_EQ(box.memoryText(), "0");
    EXPECT_EQ(box.osText(), "Unknown  (Build ");
}

TEST(AboutBox, LinkOpensTheMakersSite)
{
    test::RecordingShell shell;
    AboutBox box(shell, SampleFacts());
    box.show();
    auto* link = box.findChild<QLabel*>(QStringLiteral("Label6"));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(link->font().underline());
    EXPECT_TRUE(shell.opened.empty());

    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened.front(), QUrl(QStringLiteral("https://www.velmora.example")));
}

TEST(AboutBox, OkEnterAndEscapeClose)
{
    test::RecordingShell shell;
    AboutBox box(shell, SampleFacts());
    auto* ok = box.findChild<QPushButton*>(QStringLiteral("OKButton"));
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());

    for (int key : { Qt::Key_Return, Qt::Key_Escape }) {
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        QTest::keyClick(&box, Qt::Key(key));
        EXPECT_FALSE(box.isVisible()) << key;
    }
    box.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(AboutBox, OpensCentredOnTheScreenNotOnTheMainWindow)
{
    QWidget main;
    main.setGeometry(10, 10, 200, 150);
    main.show();
    test::RecordingShell shell;
    AboutBox box(shell, SampleFacts(), &main);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QPoint screenCentre = box.screen()->availableGeometry().center();
    EXPECT_LE((box.frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

} // namespace
} // namespace taskhaul
