#pragma once

// Runs the real tarnell program as a second start next to this test's running copy.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace tarnell::testing {

struct SecondStartResult {
    bool finished = false;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray errors;
};

// Starts `tarnell` with this environment and waits for it while this process keeps
// answering requests (the second start talks to us before it ends).
inline SecondStartResult runSecondStart(const QProcessEnvironment& environment,
                                        const QStringList& arguments = {}, int timeoutMs = 20000) {
    QProcess process;
    process.setProcessEnvironment(environment);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(QStringLiteral(TARNELL_PROGRAM), arguments);
    loop.exec();

    SecondStartResult result;
    result.finished = process.state() == QProcess::NotRunning;
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.errors = process.readAllStandardError();
    return result;
}

} // namespace tarnell::testing
