#include "ui/about_box.h"

#include "log/log_commands.h"
#include "log/shell.h"

#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace taskhaul {

namespace {

constexpr int kPictureSize = 48;

// A plain label that looks and acts like a web link: blue, underlined, a hand
// cursor, and a left click runs `onClick`.
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, std::function<void()> onClick, QWidget* parent)
        : QLabel(text, parent)
        , onClick_(std::move(onClick))
    {
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
        QPalette blue = palette();
        blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
        setPalette(blue);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick_();
        QLabel::mouseReleaseEvent(event);
    }

private:
    std::function<void()> onClick_;
};

QLabel* NamedLabel(const char* objectName, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    return label;
}

void MakeBold(QLabel* label, qreal scale)
{
    QFont font = label->font();
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
}

} // namespace

AboutBox::AboutBox(Shell& shell, QWidget* parent)
    : AboutBox(shell, SystemFacts::current(), parent)
{
}

AboutBox::AboutBox(Shell& shell, const SystemFacts& facts, QWidget* parent)
    : QDialog(parent)
    , shell_(shell)
{
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("About Taskhaul"));
    buildLayout();
    fillIn(facts);
}

void AboutBox::buildLayout()
{
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setFixedSize(kPictureSize, kPictureSize);
    const QIcon icon = windowIcon();
    if (!icon.isNull())
        picture->setPixmap(icon.pixmap(kPictureSize, kPictureSize));

    auto* maker = NamedLabel("Label1", QStringLiteral("Velmora"), this);
    MakeBold(maker, 1.5);
    auto* product = NamedLabel("Label8", QStringLiteral("Taskhaul"), this);
    MakeBold(product, 2.2);
    auto* edition = NamedLabel("Label7", QStringLiteral("Oskra Edition"), this);
    MakeBold(edition, 1.0);
    versionLabel_ = NamedLabel("Label4", AboutVersionText(std::nullopt), this);
    auto* copyright = NamedLabel(
        "Label2", QString::fromUtf8("Copyright \u00a9 2026 Velmora. All rights reserved."), this);
    auto* company = NamedLabel("Label9", QStringLiteral("Velmora"), this);
    auto* link = new LinkLabel(
        QUrl(QLatin1String(makerSiteUrl)).host(), [this] { openWebSite(); }, this);
    link->setObjectName(QStringLiteral("Label6"));
    link->setToolTip(QLatin1String(makerSiteUrl));

    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("Bevel1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    osLabel_ = NamedLabel("Label5", QStringLiteral("os"), this);
    auto* memoryCaption = NamedLabel("Label3", QStringLiteral("Memory Available to Linux:"), this);
    memoryLabel_ = NamedLabel("PhysMem", QStringLiteral("0"), this);
    memoryLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("OKButton"));
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept); // Esc rejects, which closes too

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(maker);
    texts->addWidget(product);
    texts->addWidget(edition);
    texts->addSpacing(6);
    texts->addWidget(versionLabel_);
    texts->addSpacing(10);
    texts->addWidget(copyright);
    texts->addWidget(company);
    texts->addWidget(link, 0, Qt::AlignLeft);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto* memoryRow = new QHBoxLayout;
    memoryRow->addWidget(memoryCaption);
    memoryRow->addStretch(1);
    memoryRow->addWidget(memoryLabel_);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(okButton_);
    buttonRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(line);
    layout->addSpacing(4);
    layout->addWidget(osLabel_);
    layout->addLayout(memoryRow);
    layout->addSpacing(10);
    layout->addLayout(buttonRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::fillIn(const SystemFacts& facts)
{
    osLabel_->setText(AboutOsText(facts.productName, facts.kernelVersion));
    if (facts.physicalMemoryBytes)
        memoryLabel_->setText(AboutMemoryText(*facts.physicalMemoryBytes, QLocale()));
    if (facts.programVersion)
        versionLabel_->setText(AboutVersionText(facts.programVersion));
}

QString AboutBox::versionText() const
{
    return versionLabel_->text();
}

QString AboutBox::osText() const
{
    return osLabel_->text();
}

QString AboutBox::memoryText() const
{
    return memoryLabel_->text();
}

void AboutBox::openWebSite()
{
    shell_.open(QUrl(QLatin1String(makerSiteUrl)));
}

void AboutBox::showEvent(QShowEvent* event)
{
    // Centred on the screen, wherever the main window stands.
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

} // namespace taskhaul
