#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QString>
#include <QStringList>

class RemoteControl;

// The MPRIS root interface: who the player is, and Raise and Quit.
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    MprisRoot(QObject* service, RemoteControl& remote, QDBusConnection bus);

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Velmor´s MP3-Player"); }
    QString desktopEntry() const { return QStringLiteral("velmor-mp3-player"); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {QStringLiteral("audio/mpeg")}; }

public slots:
    void Raise();
    void Quit();

private:
    RemoteControl& remote;
    QDBusConnection bus;
};
