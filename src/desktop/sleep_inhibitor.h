#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

// Keeps the computer from sleeping while a deck plays: a logind "block" inhibitor, taken
// once when playing begins and released when no deck plays. Without a system bus or logind
// it says so once on standard error and does nothing more. UI thread only.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QDBusConnection systemBus, QObject* parent = nullptr);

    void setPlaying(bool playing);

private:
    void request();
    void gotReply(const QDBusUnixFileDescriptor& lock, const QString& error);
    void giveUp(const QString& why);

    QDBusConnection bus;
    bool wanted = false;
    bool pending = false;  // an Inhibit call awaits its answer
    bool unavailable = false;
    QDBusUnixFileDescriptor held;  // closing the last copy releases the inhibitor
};
