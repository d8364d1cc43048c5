#pragma once

#include <QDBusConnection>
#include <string>

class Form1;
class SleepInhibitor;

// The desktop around the window: one player per session bus under the MPRIS name, MPRIS
// itself, error notifications, and the sleep inhibitor on the system bus. Without a session bus the
// player runs on its own and says so once on standard error.
class DesktopSession {
public:
    // Error notifications go out at most once per `notificationIntervalMs`.
    DesktopSession(QDBusConnection sessionBus, QDBusConnection systemBus,
                   int notificationIntervalMs = 5000);

    // Refused: a player owns the name but did not answer in time; this process ends (1).
    enum class Start { AsThePlayer, HandedOver, Refused };
    // Before the window exists: takes the MPRIS name, or hands `path` to the player that has
    // it and raises that player's window (this process then ends).
    Start start(const std::string& path);

    // Once the window exists.
    void attach(Form1& form);
    // As the program ends, before the window goes: gives up the MPRIS name and the sleep
    // inhibitor at once, as a process with threads stuck in a hung disk cannot end and would
    // hold them until the disk answers. Waits on no answer of either bus.
    void end();

private:
    void releaseNameWithoutWaiting();
    void notifyErrorsOf(Form1& form);
    void holdSleepWhilePlaying(Form1& form);

    QDBusConnection session;
    QDBusConnection system;
    int notificationIntervalMs;
    bool ownsName = false;
    SleepInhibitor* inhibitor = nullptr;  // owned by the window
};
