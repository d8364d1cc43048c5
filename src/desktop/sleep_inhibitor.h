#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

// Keeps the computer from sleeping while a deck plays: a logind "block" inhibitor, taken
// once when playing begins and released when no deck plays. Without a system bus it says so
// once on standard error and does nothing more; a logind that refuses or is absent is asked
// again at the next play, and its refusal said once until it takes one. UI thread only.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QDBusConnection systemBus, QObject* parent = nullptr);

    void setPlaying(bool playing);

private:
    void request();
    void gotReply(const QDBusUnixFileDescriptor& lock, const QString& error);
    void giveUp(const QString& why);
    void say(const QString& why);  // on standard error

    QDBusConnection bus;
    bool wanted = false;
    bool pending = false;  // an Inhibit call awaits its answer
    bool unavailable = false;
    bool refusedThisPlay = false;  // asked once per play, never in a loop
    bool refusalTold = false;
    QDBusUnixFileDescriptor held;  // closing the last copy releases the inhibitor
};
