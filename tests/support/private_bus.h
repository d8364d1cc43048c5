#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, without service activation, so that nothing but what the
// test starts answers on it. Stopped with the object.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return !busAddress.isEmpty(); }
    const QString& address() const { return busAddress; }
    // The daemon's process, for a test that stops it as a hung bus.
    qint64 daemonPid() const { return daemon.processId(); }

    // A connection of this process to the bus, known to Qt by `name`; closed with the bus.
    QDBusConnection connect(const QString& name);
    // The environment of a child process whose session bus (or system bus) this is.
    QProcessEnvironment sessionEnvironment() const;
    QProcessEnvironment systemEnvironment() const;

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
    QStringList connectionNames;
};
