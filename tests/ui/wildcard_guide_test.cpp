#include "ui/wildcard_guide.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace taskhaul {
namespace {

const QStringList kCardTexts = {
    "*",
    "multi-character",
    "?",
    "single character",
    "[d]",
    "day ",
    "[pd]",
    "previous day",
    "[dd]",
    "day (2 digit)",
    "[pdd]",
    "previous day (2 digit)",
    "[M]",
    "month",
    "[pM]",
    "previous month",
    "[MM]",
    "month (2 digit)",
    "[pMM]",
    "previous month (2 digit)",
    "[yy]",
    "year (2 digit)",
    "[pyy]",
    "previous year",
    "[yyyy]",
    "year (4 digit)",
    "[pyyyy]",
    "previous year (4 digit)",
    "[H]",
    "hour",
    "[mm]",
    "minutes (2 digit)",
    "[HH]",
    "hour (2 digit)",
    "[s]",
    "seconds",
    "[m]",
    "minutes",
    "[ss]",
    "seconds (2 digit)",
    "[seq]",
    "number sequence (0,1,2,3...)",
};

// The labels of the card in reading order: top to bottom, then left to right.
std::vector<QLabel*> LabelsInReadingOrder(const QWidget& guide)
{
    std::vector<QLabel*> labels;
    for (QLabel* label : guide.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            labels.push_back(label);
    std::sort(labels.begin(), labels.end(), [](const QLabel* a, const QLabel* b) {
        return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
    });
    return labels;
}

TEST(WildcardGuide, RowsInOrder)
{
    QStringList fromData;
    for (const auto& row : WildcardGuide::rows()) {
        fromData << row.code << row.description;
        if (*row.secondCode)
            fromData << row.secondCode << row.secondDescription;
    }
    EXPECT_EQ(fromData, kCardTexts);

    WildcardGuide guide;
    guide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guide));
    QStringList shown;
    for (const QLabel* label : LabelsInReadingOrder(guide))
        shown << label->text();
    EXPECT_EQ(shown, kCardTexts);
}

TEST(WildcardGuide, RowsStand24PixelsApartWithGapsBeforeTimeAndSequence)
{
    WildcardGuide guide;
    guide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guide));
    std::vector<int> tops; // of the code column, one per row
    for (const QLabel* label : LabelsInReadingOrder(guide))
        if (tops.empty() || label->y() != tops.back())
            tops.push_back(label->y());
    ASSERT_EQ(tops.size(), 11u);
    for (std::size_t i = 1; i < tops.size(); ++i) {
        const int expected = (i == 7 || i == 10) ? 24 + 16 : 24;
        EXPECT_EQ(tops[i] - tops[i - 1], expected) << "before row " << i;
    }
    EXPECT_GT(guide.findChild<QPushButton*>(QStringLiteral("Button1"))->y(), tops.back() + 16);
}

TEST(WildcardGuide, SmallToolWindowOnTop)
{
    WildcardGuide guide;
    EXPECT_EQ(guide.objectName(), "Twild");
    EXPECT_EQ(guide.windowTitle(), "File name wildcards");
    EXPECT_EQ(guide.windowType(), Qt::Tool);
    EXPECT_TRUE(guide.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(guide.minimumSize(), guide.maximumSize()); // not resizable
    EXPECT_GE(guide.width(), 362);
    EXPECT_GE(guide.height(), 353);
    EXPECT_FALSE(guide.isVisible()); // created hidden

    auto* close = guide.findChild<QPushButton*>(QStringLiteral("Button1"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Close");
    EXPECT_TRUE(close->isDefault());
    guide.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guide));
    // Every text of the card can be read in full.
    for (const QLabel* label : guide.findChildren<QLabel*>()) {
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        EXPECT_TRUE(guide.rect().contains(label->geometry())) << label->text().toStdString();
    }
    QTest::keyClick(&guide, Qt::Key_Return);
    EXPECT_FALSE(guide.isVisible());
}

TEST(WildcardGuide, OpensAtTheSameOffsetWhereverTheMainWindowStands)
{
    QMainWindow main;
    main.resize(640, 480);
    WildcardGuide guide(&main);
    for (const QPoint corner : { QPoint(0, 0), QPoint(200, 120), QPoint(731, 15), QPoint(-40, -10) }) {
        main.move(corner);
        EXPECT_EQ(WildcardGuide::placementFor(main.pos()), corner + QPoint(300, 50));

        QPoint whileShown;
        bool wasModal = false;
        QTimer::singleShot(0, &guide, [&] {
            whileShown = guide.pos();
            wasModal = guide.isModal() || guide.windowModality() != Qt::NonModal;
            guide.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        guide.showBeside(main.pos()); // returns once closed
        EXPECT_EQ(whileShown, corner + QPoint(300, 50));
        EXPECT_TRUE(wasModal);
        EXPECT_FALSE(guide.isVisible());
    }
}

} // namespace
} // namespace taskhaul
