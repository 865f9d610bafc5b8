// Fetches every file of one remote folder with the transfer engine, as a
// scheduled all-files run does (connect, enter the folder, fetch, disconnect),
// writing the activity log as the program does, and prints the files per second.
//
//   transfer_all_files_bench HOST PORT USER PASSWORD REMOTE LOCAL LOG [passive|active]

#include "log/activity_log.h"
#include "log/silent_stop.h"
#include "site/ftp_site.h"
#include "transfer/transfer_engine.h"
#include "transfer/windowless_transfer_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>

#include <cstdio>
#include <exception>

namespace {

using namespace taskhaul;

class NoBoxes : public MessageBoxes {
public:
    void information(const QString&, const QString&) override { }
    void error(const QString&, const QString&) override { }
    Answer confirm(const QString&, const QString&) override { return Answer::No; }
};

class BenchHost : public WindowlessTransferHost {
public:
    BenchHost(JobSettings job, ActivityLog& log)
        : WindowlessTransferHost(std::move(job))
        , log_(log)
    {
    }

    void writeLog(const QString& text) override { log_.write(text); }
    MessageBoxes& messageBoxes() override { return boxes_; }

private:
    ActivityLog& log_;
    NoBoxes boxes_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 8) {
        std::fputs(
            "usage: transfer_all_files_bench HOST PORT USER PASSWORD REMOTE LOCAL LOG [passive|active]\n",
            stderr);
        return 2;
    }
    JobSettings job;
    job.host = args[1];
    job.port = args[2];
    job.userName = args[3];
    job.password = args[4];
    job.remoteFolder = args[5];
    job.localFolder = args[6];
    job.fileKind = JobSettings::FileKind::AllFiles;
    job.overwrite = true;
    job.passive = args.size() < 9 || args[8] != QLatin1String("active");

    ActivityLog log(args[7], LongTimeFormat::fromLocale(QLocale()));
    BenchHost host(job, log);
    // As in the program: the site lets the event loop run after every wait
    // and every write.
    FtpSite site([] { QCoreApplication::processEvents(); });
    TransferEngine engine(host, site);

    QElapsedTimer timer;
    timer.start();
    try {
        engine.siteConnect();
        engine.changeFolder();
        engine.transferAllFiles();
        site.disconnect();
    } catch (const SilentStop&) {
        std::fputs("the run stopped; see the log\n", stderr);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const auto files = QDir(job.localFolder).entryList(QDir::Files).size();
    std::printf("files %lld seconds %.3f files_per_second %.1f\n", static_cast<long long>(files), seconds,
        static_cast<double>(files) / seconds);
    return 0;
}
