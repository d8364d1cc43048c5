#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QProcess>
#include <QString>
#include <QVariantList>

#include "support/private_bus.h"

// A python3-dbusmock template serving on a private bus (as its session or as its system
// bus), stopped with the object.
class DbusMock {
public:
    // `watch` is this process's connection to the same bus; `service` the name the template
    // takes, awaited before the constructor returns.
    DbusMock(const PrivateBus& bus, QDBusConnection watch, const QString& templateName,
             const QString& service, bool asSystemBus);
    ~DbusMock();
    DbusMock(const DbusMock&) = delete;
    DbusMock& operator=(const DbusMock&) = delete;

    // Whether python3 can load dbusmock at all.
    static bool available();
    bool running() const { return ready; }

    // The recorded calls of `method` on the object at `path`, each as its arguments.
    QList<QVariantList> calls(const QString& path, const QString& method);
    // Calls a method of the mocked service itself.
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});

private:
    QDBusConnection watch;
    QString service;
    QProcess process;
    bool ready = false;
};
