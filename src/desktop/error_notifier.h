#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

#include "desktop/notification_throttle.h"

// Error lines the user cannot see in the window go out as desktop notifications, at most one
// per interval, lines in between gathered into the next. Without a notification service the
// calls fail quietly and nothing else changes. UI thread only.
class ErrorNotifier : public QObject {
    Q_OBJECT
public:
    // `listInView` says whether the "Errors:" list is where the user can see it.
    ErrorNotifier(QDBusConnection bus, std::function<bool()> listInView, int intervalMs = 5000,
                  QObject* parent = nullptr);

    void errorLine(const QString& line);

private:
    void startDueTimer();
    void sendDue();
    void send(const QString& body);

    QDBusConnection bus;
    std::function<bool()> listInView;
    NotificationThrottle throttle;
    QElapsedTimer clock;
    QTimer dueTimer;
};
