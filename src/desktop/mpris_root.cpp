#include "desktop/mpris_root.h"

#include <QDBusMessage>
#include <QTimer>

#include "app/remote_control.h"

MprisRoot::MprisRoot(QObject* service, RemoteControl& remote, QDBusConnection bus)
    : QDBusAbstractAdaptor(service), remote(remote), bus(std::move(bus)) {}

void MprisRoot::Raise() {
    remote.raise();
}

void MprisRoot::Quit() {
    // Closing the window ends the process at once. The answer to this call goes out when it
    // returns; a round trip to the bus after that has it delivered before the process ends.
    QTimer::singleShot(0, this, [this] {
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus.Peer", "Ping"),
                 QDBus::Block, 1000);
        remote.quit();
    });
}
