#include "ui/wildcard_guide.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace taskhaul {

namespace {

constexpr std::array<WildcardGuide::Row, 11> kRows { {
    { "*", "multi-character", "?", "single character" },
    { "[d]", "day ", "[pd]", "previous day" },
    { "[dd]", "day (2 digit)", "[pdd]", "previous day (2 digit)" },
    { "[M]", "month", "[pM]", "previous month" },
    { "[MM]", "month (2 digit)", "[pMM]", "previous month (2 digit)" },
    { "[yy]", "year (2 digit)", "[pyy]", "previous year" },
    { "[yyyy]", "year (4 digit)", "[pyyyy]", "previous year (4 digit)" },
    { "[H]", "hour", "[mm]", "minutes (2 digit)" },
    { "[HH]", "hour (2 digit)", "[s]", "seconds" },
    { "[m]", "minutes", "[ss]", "seconds (2 digit)" },
    { "[seq]", "number sequence (0,1,2,3...)", "", "" },
} };

constexpr int kFirstTimeRow = 7;
constexpr int kSequenceRow = 10;
constexpr int kRowPitch = 24;
constexpr int kGroupGap = 16;
constexpr QPoint kOffsetFromMainWindow { 300, 50 };
constexpr QSize kInnerSize { 362, 353 }; // the card's size with a small font

} // namespace

std::span<const WildcardGuide::Row> WildcardGuide::rows()
{
    return kRows;
}

QPoint WildcardGuide::placementFor(const QPoint& mainWindowTopLeft)
{
    return mainWindowTopLeft + kOffsetFromMainWindow;
}

WildcardGuide::WildcardGuide(QWidget* parent)
    : QDialog(parent,
        Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
            | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Twild"));
    setWindowTitle(QStringLiteral("File name wildcards"));

    // Code and description, twice side by side; a narrow empty column between
    // the pairs, and empty rows for the gaps before the time and sequence rows.
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(0);
    grid->setColumnMinimumWidth(2, 6);
    int gridRow = 0;
    for (int i = 0; i < int(kRows.size()); ++i) {
        if (i == kFirstTimeRow || i == kSequenceRow)
            grid->setRowMinimumHeight(gridRow++, kGroupGap);
        const Row& row = kRows[std::size_t(i)];
        grid->setRowMinimumHeight(gridRow, kRowPitch);
        grid->addWidget(new QLabel(QLatin1String(row.code), this), gridRow, 0);
        if (i == kSequenceRow) { // the one long description spreads under the second pair
            grid->addWidget(new QLabel(QLatin1String(row.description), this), gridRow, 1, 1, 4);
        } else {
            grid->addWidget(new QLabel(QLatin1String(row.description), this), gridRow, 1);
            grid->addWidget(new QLabel(QLatin1String(row.secondCode), this), gridRow, 3);
            grid->addWidget(new QLabel(QLatin1String(row.secondDescription), this), gridRow, 4);
        }
        ++gridRow;
    }
    grid->setColumnStretch(5, 1);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Button1"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 12, 10);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);

    // The card's size, or larger where the desktop's font needs more room.
    setFixedSize(layout->sizeHint().expandedTo(kInnerSize));
}

void WildcardGuide::placeBeside(const QPoint& mainWindowTopLeft)
{
    move(placementFor(mainWindowTopLeft));
}

void WildcardGuide::showBeside(const QPoint& mainWindowTopLeft)
{
    placeBeside(mainWindowTopLeft);
    exec();
}

} // namespace taskhaul
