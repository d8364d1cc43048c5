#include "desktop/desktop_session.h"

#include <QAbstractItemModel>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QListWidget>
#include <QThread>
#include <cstdio>

#include "app/form1.h"
#include "app/remote_control.h"
#include "desktop/error_notifier.h"
#include "desktop/mpris_service.h"
#include "desktop/player_handover.h"
#include "desktop/sleep_inhibitor.h"

namespace {
void sayOnStandardError(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}
}  // namespace

DesktopSession::DesktopSession(QDBusConnection sessionBus, QDBusConnection systemBus,
                               int notificationIntervalMs)
    : session(std::move(sessionBus)),
      system(std::move(systemBus)),
      notificationIntervalMs(notificationIntervalMs) {}

DesktopSession::Start DesktopSession::start(const std::string& path) {
    if (!session.isConnected()) {
        sayOnStandardError(
            QStringLiteral("No D-Bus session bus (%1): no media keys, sound menus or single "
                           "instance.")
                .arg(session.lastError().message()));
        return Start::AsThePlayer;
    }
    if (session.registerService(MprisService::kServiceName)) {
        ownsName = true;
        return Start::AsThePlayer;
    }
    const Handover handover = handOverToRunningPlayer(session, path);
    if (handover.error.isEmpty()) return Start::HandedOver;
    if (handover.unanswered) {
        // It holds the call and will act on it once it wakes: a second player would play the
        // same file beside it.
        sayOnStandardError(
            QStringLiteral("The running player does not answer (%1); it will take the request "
                           "once it does. Not starting a second one.")
                .arg(handover.error));
        return Start::Refused;
    }
    sayOnStandardError(
        QStringLiteral("The running player did not take over (%1); starting another, without "
                       "media keys or sound menus.")
            .arg(handover.error));
    return Start::AsThePlayer;
}

void DesktopSession::attach(Form1& form) {
    holdSleepWhilePlaying(form);
    if (!session.isConnected()) return;
    notifyErrorsOf(form);
    if (!ownsName) return;
    auto* mpris = new MprisService(form.remote(), session, &form);
    if (!mpris->publish())
        sayOnStandardError(QStringLiteral("MPRIS could not be put on the session bus: %1")
                               .arg(session.lastError().message()));
}

void DesktopSession::end() {
    if (inhibitor) inhibitor->setPlaying(false);
    if (ownsName) releaseNameWithoutWaiting();
    ownsName = false;
}

void DesktopSession::releaseNameWithoutWaiting() {
    // Not waited for: a hung bus would hold the quit for D-Bus's 25 s. The bus drops the name
    // anyway once the process ends, but a thread stuck in a hung disk can hold that off.
    QDBusMessage release = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName");
    release << MprisService::kServiceName;
    session.send(release);
    // Qt hands the message to its bus thread, which writes it without blocking; once that
    // thread has run an empty call queued behind it, the request is in the socket before any
    // _Exit (or, with the socket full, queued in the process). The bus's own interface object
    // lives on that thread.
    QObject* busThread = session.interface();
    if (busThread && busThread->thread() != QThread::currentThread())
        QMetaObject::invokeMethod(
            busThread, [] {}, Qt::BlockingQueuedConnection);
}

void DesktopSession::notifyErrorsOf(Form1& form) {
    auto* notifier = new ErrorNotifier(
        session, [&form] { return form.errorListInView(); }, notificationIntervalMs, &form);
    QListWidget* list = form.controls().List3;
    // Lines from the start, before the window shows, are news to the user as well.
    for (int row = 0; row < list->count(); ++row) notifier->errorLine(list->item(row)->text());
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, notifier,
                     [notifier, list](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             notifier->errorLine(list->item(row)->text());
                     });
}

void DesktopSession::holdSleepWhilePlaying(Form1& form) {
    inhibitor = new SleepInhibitor(system, &form);
    RemoteControl& remote = form.remote();
    // Queued: the bus is never written to inside a tick.
    QObject::connect(
        &remote, &RemoteControl::changed, inhibitor,
        [held = inhibitor, &remote] { held->setPlaying(remote.anyDeckPlaying()); },
        Qt::QueuedConnection);
    inhibitor->setPlaying(remote.anyDeckPlaying());
}
