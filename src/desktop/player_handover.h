#pragma once

#include <QDBusConnection>
#include <QString>
#include <string>

// A second start while a player owns the MPRIS name: the path (if any) goes to that player
// as OpenUri, then its window is raised. "" when done, else why not.
QString handOverToRunningPlayer(QDBusConnection& bus, const std::string& path);
