#include "desktop/error_notifier.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>

ErrorNotifier::ErrorNotifier(QDBusConnection bus, std::function<bool()> listInView, int intervalMs,
                             QObject* parent)
    : QObject(parent),
      bus(std::move(bus)),
      listInView(std::move(listInView)),
      throttle(intervalMs) {
    clock.start();
    dueTimer.setSingleShot(true);
    dueTimer.setTimerType(Qt::PreciseTimer);
    connect(&dueTimer, &QTimer::timeout, this, &ErrorNotifier::sendDue);
}

void ErrorNotifier::errorLine(const QString& line) {
    if (listInView()) return;
    if (auto body = throttle.add(line, clock.elapsed())) {
        send(*body);
        return;
    }
    if (!dueTimer.isActive()) startDueTimer();
}

void ErrorNotifier::startDueTimer() {
    if (const auto due = throttle.dueAt())
        dueTimer.start(int(std::max<qint64>(0, *due - clock.elapsed())));
}

void ErrorNotifier::sendDue() {
    if (auto body = throttle.takeDue(clock.elapsed()))
        send(*body);
    else
        startDueTimer();  // woken a little early
}

void ErrorNotifier::send(const QString& body) {
    QDBusMessage notify = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                         "/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "Notify");
    const QVariantMap hints{{"desktop-entry", QStringLiteral("velmor-mp3-player")},
                            {"urgency", QVariant::fromValue(uchar(1))}};
    notify << QStringLiteral("Velmor´s MP3-Player") << uint(0) << QString()
           << QStringLiteral("Error") << body << QStringList() << hints << int(-1);
    // No reply awaited: a missing service must not hold anything up.
    bus.send(notify);
}
