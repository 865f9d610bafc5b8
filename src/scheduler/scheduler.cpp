#include "scheduler/scheduler.h"

#include "log/user_messages.h"
#include "transfer/leftovers.h"

#include <algorithm>
#include <exception>
#include <optional>

namespace taskhaul {

namespace {

const QString kSiteRequired = QStringLiteral("FTP site information required.");
const QString kFileRequired = QStringLiteral("A file to download must be specified.");
const QString kNewNameRequired = QStringLiteral("The new name of the file donwloaded must be specified.");
const QString kNoWildcardsInRename
    = QStringLiteral("The * and ? wildcards are not allowed in the renamed file.");
const QString kStartedTail = QStringLiteral(" --------+");

} // namespace

QString startRefusal(const JobSettings& job)
{
    if (!job.siteFieldsFilled())
        return kSiteRequired;
    if (job.fileKind != JobSettings::FileKind::OneFile)
        return {};
    if (job.fileName.isEmpty())
        return kFileRequired;
    if (job.rename && job.renameTo.isEmpty())
        return kNewNameRequired;
    if (job.rename && (job.renameTo.contains(QLatin1Char('*')) || job.renameTo.contains(QLatin1Char('?'))))
        return kNoWildcardsInRename;
    return {};
}

int clampedInterval(int minutes)
{
    return std::clamp(minutes, Scheduler::kMinInterval, Scheduler::kMaxInterval);
}

QString Scheduler::folderInUseLine(const QString& localFolder)
{
    return QStringLiteral("Scheduled transfer skipped: another Taskhaul run is using %1.").arg(localFolder);
}

const QString& Scheduler::skippedLine()
{
    static const QString text
        = QStringLiteral("Scheduled transfer skipped: the previous transfer is still running.");
    return text;
}

const QString& Scheduler::hintOn()
{
    static const QString text = QStringLiteral("Taskhaul - Scheduler is ON");
    return text;
}

const QString& Scheduler::hintOff()
{
    static const QString text = QStringLiteral("Taskhaul - Scheduler is OFF");
    return text;
}

Scheduler::Scheduler(SchedulerHost& host, RunSteps& steps, const SchedulerClock& clock,
    SchedulerTimer& dailyTimer, SchedulerTimer& intervalTimer, LongTimeFormat timeFormat)
    : host_(host)
    , steps_(steps)
    , clock_(clock)
    , dailyTimer_(dailyTimer)
    , interval_(intervalTimer, clock)
    , timeFormat_(std::move(timeFormat))
{
    dailyTimer_.setHandler([this] { dailyTick(); });
    interval_.onTick = [this] { intervalTick(); };
}

void Scheduler::start()
{
    stopTimers();
    const JobSettings job = host_.job();
    if (const QString refusal = startRefusal(job); !refusal.isEmpty()) {
        writeMessage(host_.messageBoxes(), refusal);
        return;
    }
    host_.setTrayHint(hintOn());
    if (job.scheduleKind == JobSettings::ScheduleKind::DailyTime) {
        host_.writeLog(QStringLiteral("Scheduled transfer started for ") + timeFormat_.format(job.dailyTime)
            + kStartedTail);
        host_.controlsSchedon();
        dailyTrigger_.restart(clock_.localNow());
        dailyOn_ = true;
        dailyTimer_.start(kDailyTickMs);
    } else {
        const int minutes = clampedInterval(job.intervalMinutes);
        host_.writeLog(QStringLiteral("Scheduled transfer started, ") + QString::number(minutes)
            + QStringLiteral(" minutes intervals") + kStartedTail);
        host_.controlsSchedon();
        interval_.start(qint64(minutes) * 60 * 1000);
    }
}

void Scheduler::stop()
{
    host_.setTrayHint(hintOff());
    stopTimers();
    host_.writeLog(QStringLiteral("Scheduled transfer stopped at ")
        + timeFormat_.format(clock_.localNow().time()) + kStartedTail);
    host_.controlsStandby();
}

void Scheduler::startStop()
{
    if (host_.startEnabled())
        start();
    else if (host_.stopEnabled())
        stop();
}

void Scheduler::resetTimers()
{
    const QTime now = clock_.localNow().time();
    host_.setDailyTime(QTime(now.hour(), now.minute(), now.second()));
    host_.writeLog(QStringLiteral("Timers reset"));
}

void Scheduler::setRetryTimer(SchedulerTimer* timer)
{
    retryTimer_ = timer;
    if (retryTimer_)
        retryTimer_->setHandler([this] { retryTick(); });
}

void Scheduler::stopTimers()
{
    dailyOn_ = false;
    dailyTimer_.stop();
    interval_.stop();
    if (retryTimer_)
        retryTimer_->stop();
}

void Scheduler::dailyTick()
{
    if (!dailyOn_)
        return;
    // Re-armed first: the run below may last longer than a second, and its
    // ticks must go on (they find a later second and do nothing).
    dailyTimer_.start(kDailyTickMs);
    if (dailyTrigger_.tick(clock_.localNow(), clock_.elapsedMs(), host_.job().dailyTime))
        runDue(RunKind::Daily);
}

void Scheduler::intervalTick()
{
    runDue(RunKind::Interval);
}

void Scheduler::runDue(RunKind kind)
{
    // The connection is in use, or a retry of the last run is waiting; a second
    // run would pull the connection from under the first one, or fetch what the
    // retry is to fetch. The next due tick tries again.
    if (running_ || steps_.busy() || retryPending()) {
        log(skippedLine());
        return;
    }
    attempts_ = RunAttempts {};
    runAttempt(kind);
}

void Scheduler::retryTick()
{
    if (running_ || steps_.busy()) {
        log(skippedLine());
        return;
    }
    attempts_.prepareRetry(steps_);
    runAttempt(retryKind_);
}

void Scheduler::runAttempt(RunKind kind)
{
    // Another run into the same local folder (--run-once from cron, a second
    // window) would fetch the same files at the same time: this one waits for
    // the next due tick.
    const QString folder = host_.job().localFolder;
    std::optional<LocalFolderRun> folderRun;
    if (!folder.isEmpty() && !folderRun.emplace(folder).alone()) {
        log(folderInUseLine(folder));
        return;
    }
    RunOutcome outcome = RunOutcome::Failed;
    {
        running_ = true;
        steps_.useFolderRun(folderRun ? &*folderRun : nullptr);
        struct RunEnd {
            bool& running;
            RunSteps& steps;
            ~RunEnd()
            {
                running = false;
                steps.useFolderRun(nullptr);
            }
        } runEnd { running_, steps_ };
        outcome = performUnattendedRun(kind, host_, steps_);
    }
    host_.runFinished(outcome);
    if (outcome == RunOutcome::Incomplete)
        return;
    if (retryTimer_ && isOn()) {
        if (const std::optional<int> minutes = attempts_.afterAttempt(host_, steps_)) {
            retryKind_ = kind;
            retryTimer_->start(qint64(*minutes) * 60 * 1000);
        }
    }
    // Back to the scheduler-on state, unless the scheduler was turned off while
    // the run went on (Stop Transfer frees Start/Stop, and a refused Start leaves
    // the timers off): the controls must not claim a schedule that is not there.
    if (isOn())
        host_.controlsSchedon();
    else
        host_.controlsStandby();
}

void Scheduler::log(const QString& text)
{
    try {
        host_.writeLog(text);
    } catch (const std::exception&) {
        // A tick has nobody to show the failure to.
    }
}

} // namespace taskhaul
