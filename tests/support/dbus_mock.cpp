#include "support/dbus_mock.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "support/serving_process.h"

namespace {
// The system's own interpreter: the module comes from the distribution's package.
constexpr const char* kPython = "/usr/bin/python3";
}  // namespace

bool DbusMock::available() {
    QProcess probe;
    probe.start(kPython, {"-c", "import dbusmock"});
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
           probe.exitCode() == 0;
}

DbusMock::DbusMock(const PrivateBus& bus, QDBusConnection watch, const QString& templateName,
                   const QString& service, bool asSystemBus)
    : watch(std::move(watch)), service(service) {
    process.setProcessEnvironment(asSystemBus ? bus.systemEnvironment() : bus.sessionEnvironment());
    QStringList args{"-m", "dbusmock", "--template", templateName};
    if (asSystemBus) args << "--system";
    process.start(kPython, args);
    if (!process.waitForStarted(5000)) return;
    ready = serveUntil(
        [&] { return this->watch.interface()->isServiceRegistered(service).value(); }, 15000);
}

DbusMock::~DbusMock() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(3000)) process.kill();
    process.waitForFinished(1000);
}

QDBusMessage DbusMock::call(const QString& path, const QString& interface, const QString& method,
                            const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return watch.call(message, QDBus::Block, 5000);
}

QList<QVariantList> DbusMock::calls(const QString& path, const QString& method) {
    const QDBusMessage reply = call(path, "org.freedesktop.DBus.Mock", "GetMethodCalls", {method});
    QList<QVariantList> result;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return result;
    const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        qulonglong time = 0;
        QVariantList arguments;
        list.beginStructure();
        list >> time >> arguments;
        list.endStructure();
        result << arguments;
    }
    list.endArray();
    return result;
}
