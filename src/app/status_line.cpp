#include "app/status_line.h"

#include <QPainter>
#include <QStatusBar>
#include <QStyle>

namespace taskhaul {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent)
    , mode_(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), mode_, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    return { fontMetrics().averageCharWidth() * 8, QLabel::sizeHint().height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { 0, QLabel::minimumSizeHint().height() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
        isEnabled(), shownText(), foregroundRole());
}

StatusLine::StatusLine(QStatusBar* bar)
    : status_(new ElidedLabel(Qt::ElideMiddle, bar))
    , hint_(new ElidedLabel(Qt::ElideRight, bar))
{
    status_->setObjectName(QStringLiteral("StatusText"));
    hint_->setObjectName(QStringLiteral("HintText"));
    // Both stay when the bar shows a message of its own; the status line keeps
    // the left end, the hint takes the right half while it is shown.
    bar->addPermanentWidget(status_, 1);
    bar->addPermanentWidget(hint_, 1);
    hint_->hide();
}

void StatusLine::setText(const QString& text)
{
    status_->setText(text);
}

void StatusLine::setHint(const QString& hint)
{
    hint_->setText(hint);
    hint_->setVisible(!hint.isEmpty());
}

} // namespace taskhaul
