#include "desktop/sleep_inhibitor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <cstdio>

SleepInhibitor::SleepInhibitor(QDBusConnection systemBus, QObject* parent)
    : QObject(parent), bus(std::move(systemBus)) {
    if (!bus.isConnected())
        giveUp(QStringLiteral("no system bus (%1)").arg(bus.lastError().message()));
    else if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        giveUp(QStringLiteral("the system bus cannot pass file descriptors"));
}

void SleepInhibitor::giveUp(const QString& why) {
    unavailable = true;
    say(why);
}

void SleepInhibitor::say(const QString& why) {
    std::fprintf(stderr, "The computer may sleep while music plays: %s.\n",
                 why.toLocal8Bit().constData());
}

void SleepInhibitor::setPlaying(bool playing) {
    if (!playing) refusedThisPlay = false;  // the next play asks again
    wanted = playing;
    if (unavailable) return;
    if (wanted && !held.isValid() && !pending && !refusedThisPlay) request();
    if (!wanted) held = QDBusUnixFileDescriptor();
}

void SleepInhibitor::request() {
    QDBusMessage inhibit =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit");
    inhibit << QStringLiteral("idle:sleep") << QStringLiteral("Velmor´s MP3-Player")
            << QStringLiteral("Playing music") << QStringLiteral("block");
    pending = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        w->deleteLater();
        gotReply(reply.isError() ? QDBusUnixFileDescriptor() : reply.value(),
                 reply.isError() ? reply.error().message() : QString());
    });
}

void SleepInhibitor::gotReply(const QDBusUnixFileDescriptor& lock, const QString& error) {
    pending = false;
    if (!error.isEmpty()) {
        // logind may come (or come back) later: asked again at the next play, not before.
        refusedThisPlay = true;
        if (!refusalTold) say(QStringLiteral("logind did not take the inhibitor (%1)").arg(error));
        refusalTold = true;
        return;
    }
    refusalTold = false;
    // Playing may have ended while the answer was on its way: then the lock goes at once.
    if (wanted) held = lock;
}
