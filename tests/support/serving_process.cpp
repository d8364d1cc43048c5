#include "support/serving_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

ClientRun runServing(const QString& program, const QStringList& args,
                     const QProcessEnvironment& env, int timeoutMs,
                     const QString& workingDirectory) {
    ClientRun run;
    QProcess process;
    process.setProcessEnvironment(env);
    if (!workingDirectory.isEmpty()) process.setWorkingDirectory(workingDirectory);
    process.start(program, args);
    if (!process.waitForStarted(5000)) return run;
    const bool ended =
        serveUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished(1000);
    }
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (ended && process.exitStatus() == QProcess::NormalExit) run.exitCode = process.exitCode();
    return run;
}

bool serveUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}
