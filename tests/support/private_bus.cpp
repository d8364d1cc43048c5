#include "support/private_bus.h"

#include <QDeadlineTimer>
#include <QFile>

namespace {
// Anyone may own any name and eavesdrop; no service directories, so no activation.
constexpr const char* kConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}  // namespace

PrivateBus::PrivateBus() {
    const QString config = dir.filePath("bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QString::fromLatin1(kConfig).arg(dir.path()).toUtf8());
    file.close();
    daemon.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(5000)) return;
    const QDeadlineTimer deadline(5000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && daemon.waitForReadyRead(500))
        out += daemon.readAllStandardOutput();
    busAddress = QString::fromUtf8(out).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connectionNames) QDBusConnection::disconnectFromBus(name);
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        if (!daemon.waitForFinished(3000)) daemon.kill();
        daemon.waitForFinished(1000);
    }
}

QDBusConnection PrivateBus::connect(const QString& name) {
    connectionNames << name;
    return QDBusConnection::connectToBus(busAddress, name);
}

QProcessEnvironment PrivateBus::sessionEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    return env;
}

QProcessEnvironment PrivateBus::systemEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", busAddress);
    return env;
}
