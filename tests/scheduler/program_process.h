#pragma once

// The built program run as a child process by the command-line tests.
#include <gtest/gtest.h>

#include <QProcess>
#include <QString>

namespace taskhaul::test {

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

// Waits for `process` to end and collects what it printed. A program that is
// still running after a minute, or that crashed, is a test failure (and killed).
inline Finished finishProgram(QProcess& process)
{
    Finished finished;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "the program did not end normally";
        return finished;
    }
    finished.exitCode = process.exitCode();
    finished.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    finished.err = QString::fromLocal8Bit(process.readAllStandardError());
    return finished;
}

} // namespace taskhaul::test
