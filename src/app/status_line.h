#pragma once

#include <QLabel>
#include <QStringList>

class QProgressBar;
class QStatusBar;

namespace taskhaul {

// A one-line label that never needs more width than it is given: a text too
// long for it is shown in a shorter form when it has one, else shortened with
// "…" in the place chosen, and text() keeps the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    // Shorter forms of the text, tried in turn when the text itself does not
    // fit; the last one is shortened when none fits.
    void setShorterForms(const QStringList& forms);
    // The text as it is drawn at the label's present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int widthFor(const QString& text) const;

    Qt::TextElideMode mode_;
    QStringList shorterForms_;
};

// The main window's status bar: the status line, which only the program sets
// (connection and transfer texts), and beside it the long hint of the command or
// control under the mouse, shown only while there is one. A hint never covers
// or wipes the status line.
class StatusLine {
public:
    explicit StatusLine(QStatusBar* bar);

    QString text() const { return status_->text(); }
    void setText(const QString& text);
    QString hint() const { return hint_->text(); }
    // An empty hint hides the hint area.
    void setHint(const QString& hint);
    // A download in progress: a bar (percent 0..100, or -1 for a size not
    // known) and its text beside it, or `shortText` where the text does not
    // fit. Both hide when `shown` is false.
    void setProgress(bool shown, int percent = -1, const QString& text = {}, const QString& shortText = {});
    QString progressText() const;
    // Why the activity log cannot be written, shown while that lasts, whole or
    // in its short form; an empty text hides it.
    void setLogProblem(const QString& text, const QString& shortText = {});
    QString logProblem() const;
    // While the scheduler is on: when the next run is due and how the last one
    // ended. An empty text hides it.
    void setSchedule(const QString& text);
    QString schedule() const;

private:
    ElidedLabel* status_; // objectName "StatusText"
    QProgressBar* bar_; // objectName "TransferProgress"
    ElidedLabel* progress_; // objectName "ProgressText"
    ElidedLabel* schedule_; // objectName "ScheduleText"
    ElidedLabel* logProblem_; // objectName "LogProblemText"
    ElidedLabel* hint_; // objectName "HintText"
};

} // namespace taskhaul
