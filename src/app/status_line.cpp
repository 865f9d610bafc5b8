#include "app/status_line.h"

#include <QPainter>
#include <QProgressBar>
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

void ElidedLabel::setShorterForms(const QStringList& forms)
{
    shorterForms_ = forms;
    updateGeometry();
    update();
}

QString ElidedLabel::shownText() const
{
    const int width = contentsRect().width();
    if (text().isEmpty() || shorterForms_.isEmpty() || fontMetrics().horizontalAdvance(text()) <= width)
        return fontMetrics().elidedText(text(), mode_, width);
    for (const QString& form : shorterForms_)
        if (fontMetrics().horizontalAdvance(form) <= width)
            return form;
    return fontMetrics().elidedText(shorterForms_.last(), mode_, width);
}

int ElidedLabel::widthFor(const QString& text) const
{
    const QMargins margins = contentsMargins();
    return fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() + 2 * margin() + 1;
}

QSize ElidedLabel::sizeHint() const
{
    // Unless the layout ignores its wishes, the label asks for room for the
    // whole text, and makes do with its shortest form.
    const bool ignored = sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
    return { ignored ? fontMetrics().averageCharWidth() * 8 : widthFor(text()), QLabel::sizeHint().height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { shorterForms_.isEmpty() ? 0 : widthFor(shorterForms_.last()),
        QLabel::minimumSizeHint().height() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
        isEnabled(), shownText(), foregroundRole());
}

StatusLine::StatusLine(QStatusBar* bar)
    : status_(new ElidedLabel(Qt::ElideMiddle, bar))
    , bar_(new QProgressBar(bar))
    , progress_(new ElidedLabel(Qt::ElideRight, bar))
    , schedule_(new ElidedLabel(Qt::ElideRight, bar))
    , logProblem_(new ElidedLabel(Qt::ElideRight, bar))
    , hint_(new ElidedLabel(Qt::ElideRight, bar))
{
    status_->setObjectName(QStringLiteral("StatusText"));
    bar_->setObjectName(QStringLiteral("TransferProgress"));
    progress_->setObjectName(QStringLiteral("ProgressText"));
    schedule_->setObjectName(QStringLiteral("ScheduleText"));
    logProblem_->setObjectName(QStringLiteral("LogProblemText"));
    hint_->setObjectName(QStringLiteral("HintText"));
    // All stay when the bar shows a message of its own; the status line keeps
    // the left end and twice the share of the schedule and of the hint, which
    // take the right while they are shown. The progress bar has a width of its
    // own and its text is shortened, so a download never makes the window wider.
    bar_->setFixedWidth(bar_->fontMetrics().averageCharWidth() * 14);
    bar_->setMaximumHeight(status_->sizeHint().height());
    bar_->setTextVisible(true);
    bar->addPermanentWidget(status_, 2);
    bar->addPermanentWidget(bar_, 0);
    // The download's text takes the room it needs, down to its short form; the
    // status line gives way, shortened in the middle.
    progress_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    bar->addPermanentWidget(progress_, 0);
    bar->addPermanentWidget(schedule_, 1);
    // So does the log's failure, which matters as long as it lasts.
    logProblem_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    bar->addPermanentWidget(logProblem_, 0);
    bar->addPermanentWidget(hint_, 1);
    bar_->hide();
    progress_->hide();
    schedule_->hide();
    logProblem_->hide();
    hint_->hide();
}

void StatusLine::setProgress(bool shown, int percent, const QString& text, const QString& shortText)
{
    if (percent < 0) {
        bar_->setRange(0, 0); // busy: the size is not known
    } else {
        bar_->setRange(0, 100);
        bar_->setValue(percent);
    }
    progress_->setText(shown ? text : QString());
    progress_->setShorterForms(shown && !shortText.isEmpty() ? QStringList { shortText } : QStringList {});
    bar_->setVisible(shown);
    progress_->setVisible(shown);
}

void StatusLine::setLogProblem(const QString& text, const QString& shortText)
{
    logProblem_->setText(text);
    logProblem_->setShorterForms(shortText.isEmpty() ? QStringList {} : QStringList { shortText });
    logProblem_->setToolTip(text);
    logProblem_->setVisible(!text.isEmpty());
}

QString StatusLine::logProblem() const
{
    return logProblem_->text();
}

void StatusLine::setSchedule(const QString& text)
{
    schedule_->setText(text);
    schedule_->setVisible(!text.isEmpty());
}

QString StatusLine::schedule() const
{
    return schedule_->text();
}

QString StatusLine::progressText() const
{
    return progress_->text();
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
