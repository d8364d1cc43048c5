#pragma once

#include <QDBusConnection>
#include <QString>
#include <string>

// What came of a hand-over: nothing wrong, or why not, and whether the player is there but did
// not answer in time (it will still act on the call once it does).
struct Handover {
    QString error;
    bool unanswered = false;
};

// A second start while a player owns the MPRIS name: the path (if any) goes to that player
// as OpenUri, then its window is raised.
Handover handOverToRunningPlayer(QDBusConnection& bus, const std::string& path);
