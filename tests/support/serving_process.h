#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

// A client run to its end while this process's event loop goes on, so that a service in this
// process (the window on a private bus) can answer it.
struct ClientRun {
    int exitCode = -1;  // -1: did not start or did not end in time
    QString out;
    QString err;
};
ClientRun runServing(const QString& program, const QStringList& args,
                     const QProcessEnvironment& env, int timeoutMs = 15000,
                     const QString& workingDirectory = QString());

// Runs the event loop until `done` holds or the time is up; returns `done()`.
bool serveUntil(const std::function<bool()>& done, int timeoutMs = 5000);
