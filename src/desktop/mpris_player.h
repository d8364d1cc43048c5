#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>

#include "components/mp3_tags.h"

class RemoteControl;

// The MPRIS player interface on deck 1 and the playlist: each method runs the window's own
// handler through the remote control.
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoNext)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    // Called once tags asked for have been read: the metadata changed. (Not a signal: an
    // adaptor's signals go out on the bus.)
    void setOnTagsRead(std::function<void()> action) { onTagsRead = std::move(action); }
    MprisPlayer(QObject* service, RemoteControl& remote);

    QString playbackStatus() const;
    double rate() const { return 1.0; }
    void setRate(double rate);
    QVariantMap metadata();
    double volume() const;
    void setVolume(double volume);
    // Whether a Set of a writable property to `value`, of its own type, is one to act on.
    bool accepts(const QString& property, const QVariant& value) const;
    qlonglong position() const;
    bool canGoNext() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;
    bool canControl() const { return true; }

    // The properties whose changes are announced, by name, as they are now.
    QVariantMap announcedProperties();

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath& trackId, qlonglong position);
    void OpenUri(const QString& uri);

signals:
    void Seeked(qlonglong position);

private:
    // Reads the tags on a thread of its own: a file on a disk that does not answer must not
    // stall the window, its tick and MPRIS. The answer comes back to this thread.
    void askForTags(std::uint64_t serial, const std::string& path);
    void tagsRead(std::uint64_t serial, const Mp3Tags& read);

    RemoteControl& remote;
    // Tags of the track last asked about: read once per loading of deck 1, not per request;
    // empty until they have been read.
    std::uint64_t taggedSerial = 0;
    std::string taggedPath;
    Mp3Tags tags;
    std::function<void()> onTagsRead;
};
