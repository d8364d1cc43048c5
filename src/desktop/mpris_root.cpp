#include "desktop/mpris_root.h"

#include "app/remote_control.h"

MprisRoot::MprisRoot(QObject* service, RemoteControl& remote)
    : QDBusAbstractAdaptor(service), remote(remote) {}

void MprisRoot::Raise() {
    remote.raise();
}

void MprisRoot::Quit() {
    remote.quit();
}
