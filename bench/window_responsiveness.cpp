// How responsive the main window stays while it downloads one large file with
// its progress shown: a 10 ms timer runs beside the download, and the gaps
// between its ticks are measured (the FTP and SFTP clients let the event loop
// run while they wait and between chunks).
//
//   window_responsiveness HOST PORT USER PASSWORD REMOTE LOCAL_FOLDER
//                         [sftp KEY_FILE REMOTE_FOLDER]
//
// With "sftp" the job uses SFTP, signs in with KEY_FILE and fetches REMOTE
// from REMOTE_FOLDER; the host key must be in ~/.ssh/known_hosts.
// Prints the download time, the number of ticks, and the median, 99th
// percentile and largest gap. Used by window_responsiveness.py, which starts
// the server; the goal is a 99th percentile of 60 ms or less.

#include "app/main_window.h"
#include "app/main_window_form.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "log/user_messages.h"
#include "settings/settings_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A benchmark has nobody to answer a box: each is printed and taken as Yes.
class PrintedBoxes : public taskhaul::MessageBoxes {
public:
    void information(const QString&, const QString& text) override { print(text); }
    void error(const QString&, const QString& text) override { print(text); }
    Answer confirm(const QString&, const QString& text) override
    {
        print(text);
        return Answer::Yes;
    }

private:
    static void print(const QString& text) { std::fprintf(stderr, "box: %s\n", qPrintable(text)); }
};

double percentile(std::vector<qint64> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, std::size_t(fraction * double(values.size() - 1) + 0.5));
    return double(values[index]);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const bool sftp = arguments.size() == 10 && arguments[7] == QLatin1String("sftp");
    if (arguments.size() != 7 && !sftp) {
        std::fprintf(stderr,
            "usage: %s HOST PORT USER PASSWORD REMOTE LOCAL_FOLDER [sftp KEY_FILE REMOTE_FOLDER]\n", argv[0]);
        return 2;
    }
    QTemporaryDir scratch;
    const taskhaul::LongTimeFormat timeFormat;
    taskhaul::ActivityLog log(scratch.filePath(QStringLiteral("dunmark.txt")), timeFormat);
    taskhaul::SettingsStore store(scratch.filePath(QStringLiteral("Taskhaul.conf")), timeFormat);
    PrintedBoxes boxes;
    taskhaul::MainWindowServices services;
    services.log = &log;
    services.store = &store;
    services.messageBoxes = &boxes;
    taskhaul::MainWindow window(services);
    const taskhaul::MainWindowForm& form = window.testHooks().form();
    if (sftp) {
        form.protocol->setCurrentIndex(1);
        form.keyFile->setText(arguments[8]);
        form.remoteFolder->setText(arguments[9]);
    }
    form.host->setText(arguments[1]);
    form.port->setText(arguments[2]);
    form.userName->setText(arguments[3]);
    form.password->setText(arguments[4]);
    form.oneFile->setChecked(true);
    form.fileName->setText(arguments[5]);
    form.localFolder->setText(arguments[6]);
    // Several connections: the remote name is then a pattern for several files.
    if (const int connections = qEnvironmentVariableIntValue("BENCH_CONNECTIONS"); connections > 1)
        form.connections->setValue(connections);
    if (qEnvironmentVariableIntValue("BENCH_PASSIVE") == 1)
        form.passive->setChecked(true);
    window.show();

    std::vector<qint64> gaps;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { gaps.push_back(sinceTick.restart()); });

    QTimer::singleShot(0, [&] {
        window.runCommand(taskhaul::Command::Connect);
        QElapsedTimer download;
        download.start();
        sinceTick.start();
        ticker.start();
        window.runCommand(taskhaul::Command::Transfer);
        ticker.stop();
        const double seconds = double(download.elapsed()) / 1000.0;
        window.runCommand(taskhaul::Command::Disconnect);
        if (!gaps.empty())
            gaps.erase(gaps.begin()); // the first tick measures the start, not a gap
        std::printf("download %.2f s, %zu ticks, gap median %.0f ms, p99 %.0f ms, max %.0f ms\n", seconds,
            gaps.size(), percentile(gaps, 0.5), percentile(gaps, 0.99), percentile(gaps, 1.0));
        QApplication::quit();
    });
    return QApplication::exec();
}
