// MPRIS through a real client, playerctl, against the real window (on test doubles of the
// decks) on a private bus.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUrl>

#include "app/remote_control.h"
#include "desktop/mpris_service.h"
#include "mixer/mixer_sliders.h"
#include "support/form1_fixture.h"
#include "support/hanging_mount.h"
#include "support/private_bus.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

class MprisTest : public Form1Fixture {
protected:
    PrivateBus bus;
    QDBusConnection connection{QString()};
    std::string music;

    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
        if (QStandardPaths::findExecutable("playerctl").isEmpty()) GTEST_SKIP() << "no playerctl";
        music = dir.filePath("music").toStdString();
        QDir().mkpath(QString::fromStdString(music));
        ToneOptions tagged;
        tagged.title = "First Song";
        tagged.artist = "Ann Example";
        tagged.album = "Tones";
        makeToneMp3(music, "1 first.mp3", 440, 0.5, tagged);
        makeToneMp3(music, "2 second.mp3", 660, 0.5);
        makeToneMp3(music, "3 third.mp3", 880, 0.5);
        music += "/";
        deck1.length = 200;

        make();
        connection = bus.connect("mpris-test");
        ASSERT_TRUE(connection.registerService(MprisService::kServiceName));
        auto* service = new MprisService(form->remote(), connection, form.get());
        ASSERT_TRUE(service->publish());
    }

    ClientRun playerctl(QStringList args) {
        args.prepend("velmor_mp3_player");
        args.prepend("-p");
        return runServing("playerctl", args, bus.sessionEnvironment());
    }
    std::string playerctlOut(const QStringList& args) {
        const ClientRun run = playerctl(args);
        EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString() << ": " << run.err.toStdString();
        return run.out.trimmed().toStdString();
    }
};

TEST_F(MprisTest, StatusAndMetadataFollowDeckOne) {
    EXPECT_EQ(playerctlOut({"status"}), "Stopped");
    form->openPath(music);
    EXPECT_EQ(playerctlOut({"status"}), "Playing");
    const QString format = "{{mpris:length}}|{{xesam:url}}|{{title}}|{{artist}}|{{album}}";
    EXPECT_EQ(playerctlOut({"metadata", "--format", format}),
              "200000000|file://" +
                  QUrl::toPercentEncoding(QString::fromStdString(music), "/").toStdString() +
                  "1%20first.mp3|First Song|Ann Example|Tones");

    playerctlOut({"next"});
    // Untagged: the file name is the title.
    EXPECT_EQ(playerctlOut({"metadata", "--format", "{{title}}|{{artist}}"}), "2 second.mp3|");
    EXPECT_NE(playerctlOut({"metadata", "mpris:trackid"}), "");
}

TEST_F(MprisTest, EachCommandRunsTheWindowsOwnHandler) {
    using S = PlayerState;
    struct Case {
        std::vector<QStringList> commands;
        S state;
        int track;
        const char* deck1File;  // the entry deck 1 was last given
        int deck1State;
        double position;
        const char* status;
    } cases[] = {
        {{{"next"}}, S::Playing, 2, "2 second.mp3", Deck::Playing, 0, "Playing"},
        {{{"previous"}}, S::Playing, 3, "3 third.mp3", Deck::Playing, 0, "Playing"},
        {{{"next"}, {"next"}, {"next"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 0, "Playing"},
        {{{"play-pause"}}, S::Paused, 1, "1 first.mp3", Deck::Paused, 0, "Paused"},
        {{{"play-pause"}, {"play-pause"}},
         S::Playing,
         1,
         "1 first.mp3",
         Deck::Playing,
         0,
         "Playing"},
        {{{"pause"}, {"play"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 0, "Playing"},
        {{{"pause"}, {"pause"}}, S::Paused, 1, "1 first.mp3", Deck::Paused, 0, "Paused"},
        {{{"stop"}}, S::Stopped, 1, "1 first.mp3", Deck::Stopped, 0, "Stopped"},
        {{{"stop"}, {"play-pause"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 0, "Playing"},
        {{{"position", "30"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 30, "Playing"},
        {{{"position", "30"}, {"position", "5-"}},
         S::Playing,
         1,
         "1 first.mp3",
         Deck::Playing,
         25,
         "Playing"},
        {{{"position", "-5"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 0, "Playing"},
        // A position outside the track is ignored; a seek past its end is a Next.
        {{{"position", "250"}}, S::Playing, 1, "1 first.mp3", Deck::Playing, 0, "Playing"},
        {{{"position", "250+"}}, S::Playing, 2, "2 second.mp3", Deck::Playing, 0, "Playing"},
    };
    for (const auto& c : cases) {
        form->openPath(music);
        deck1.position = 0;
        std::string trace;
        for (const QStringList& command : c.commands) {
            trace += command.join(' ').toStdString() + "; ";
            playerctlOut(command);
        }
        SCOPED_TRACE(trace);
        serveUntil([&] { return state().TrackNumber == c.track; }, 1000);
        EXPECT_EQ(state().playerState, c.state);
        EXPECT_EQ(state().TrackNumber, c.track);
        EXPECT_EQ(deck1.loaded, music + c.deck1File);
        EXPECT_EQ(deck1.state, c.deck1State);
        EXPECT_DOUBLE_EQ(deck1.position, c.position);
        EXPECT_EQ(playerctlOut({"status"}), c.status);
    }

    // Stopped, the player says it cannot pause, and the client does not ask.
    playerctlOut({"stop"});
    EXPECT_NE(playerctl({"pause"}).exitCode, 0);
    EXPECT_EQ(state().playerState, S::Stopped);
}

// The next entry is replaced by a FIFO while the first plays, or lies on a disk whose reads
// hang: its tags are read off the window's thread, and MPRIS and the tick go on.
TEST_F(MprisTest, AnEntryThatCannotBeReadStallsNeitherMprisNorTheTick) {
    TempDir shared;
    makeToneMp3(shared.path(), "2 hang.mp3", 660, 0.5);
    HangingMount mount(shared.path(), dir.path().toStdString());
    const std::string second = music + "2 second.mp3";
    const struct {
        const char* what;
        std::string folder;
        const char* title;
    } cases[] = {
        {"a FIFO", music, "2 second.mp3"},
        {"a hanging disk", mount.path(""), "2 hang.mp3"},
    };
    for (const auto& c : cases) {
        if (c.folder != music && !mount.available()) continue;  // no FUSE here
        form->openPath(c.folder);
        if (c.folder == music) {
            std::remove(second.c_str());
            ASSERT_EQ(::mkfifo(second.c_str(), 0600), 0);
        }
        playerctlOut({"next"});  // on the hanging disk, its one entry again
        EXPECT_EQ(playerctlOut({"metadata", "--format", "{{title}}"}), c.title) << c.what;
        for (int i = 0; i < 10; ++i) form->Timer1_Timer();
        EXPECT_EQ(playerctlOut({"status"}), "Playing") << c.what;
    }
    mount.release();
}

// Deck 2's buttons set the window's shared state word too; MPRIS shows and drives deck 1 alone.
TEST_F(MprisTest, DeckTwosPauseIsNotThePlayers) {
    form->openPath(music);
    state().Deck2File = "2 second.mp3";
    ui().Command13->click();
    ui().Command15->click();  // deck 2's "II"
    ASSERT_EQ(deck2.state, Deck::Paused);
    EXPECT_EQ(playerctlOut({"status"}), "Playing");
    playerctlOut({"play-pause"});
    EXPECT_EQ(deck1.state, Deck::Paused);
    EXPECT_EQ(playerctlOut({"status"}), "Paused");
    playerctlOut({"play-pause"});
    EXPECT_EQ(deck1.state, Deck::Playing);
    EXPECT_EQ(deck2.state, Deck::Paused);
}

TEST_F(MprisTest, VolumeIsDeckOnesBar) {
    form->openPath(music);
    struct Case {
        const char* set;
        int bar;
    } cases[] = {{"0.5", 16384}, {"1", 0}, {"0", 32767}, {"1.7", 0}, {"0.25", 24575}};
    for (const auto& c : cases) {
        playerctlOut({"volume", c.set});
        EXPECT_EQ(ui().VScroll5->value(), c.bar) << c.set;
        EXPECT_EQ(deck1.volume, deckBarVolume(c.bar)) << c.set;
    }
    ui().VScroll5->setValue(8192);
    EXPECT_EQ(playerctlOut({"volume"}), "0.749992");
}

// Properties as D-Bus names them, through a client of its own: a value of another type than
// the property's is refused, not converted, and so is a rate the player does not have.
TEST_F(MprisTest, PropertiesRefuseWrongTypesAndValuesByName) {
    QDBusConnection client = bus.connect("properties-client");
    const QString player = "org.mpris.MediaPlayer2.Player";
    const QString root = "org.mpris.MediaPlayer2";
    auto call = [&](const QString& method, const QVariantList& args) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(MprisService::kServiceName, MprisService::kObjectPath,
                                           "org.freedesktop.DBus.Properties", method);
        message.setArguments(args);
        QDBusPendingCall pending = client.asyncCall(message);
        serveUntil([&] { return pending.isFinished(); }, 5000);
        return pending.reply();
    };
    auto set = [&](const QString& interface, const QString& name, const QVariant& value) {
        return call("Set", {interface, name, QVariant::fromValue(QDBusVariant(value))});
    };
    form->openPath(music);
    ui().VScroll5->setValue(8192);
    const struct {
        QString interface;
        const char* name;
        QVariant value;
        const char* error;  // empty: accepted
        int deck1State;
        int bar;
    } cases[] = {
        {player, "Volume", QVariant(0), "InvalidArgs", Deck::Playing, 8192},
        {player, "Volume", QVariant(QString("0")), "InvalidArgs", Deck::Playing, 8192},
        {player, "Volume", QVariant(0.5), "", Deck::Playing, 16384},
        {player, "Rate", QVariant(QString("abc")), "InvalidArgs", Deck::Playing, 16384},
        {player, "Rate", QVariant(2.0), "InvalidArgs", Deck::Playing, 16384},
        {player, "Rate", QVariant(1.0), "", Deck::Playing, 16384},
        {player, "Rate", QVariant(0.0), "", Deck::Paused, 16384},  // as Pause
        {root, "Identity", QVariant(QString("x")), "PropertyReadOnly", Deck::Paused, 16384},
        {player, "Loudness", QVariant(1.0), "UnknownProperty", Deck::Paused, 16384},
        {"org.example.None", "Rate", QVariant(1.0), "UnknownInterface", Deck::Paused, 16384},
    };
    for (const auto& c : cases) {
        const QDBusMessage reply = set(c.interface, c.name, c.value);
        const QString expected =
            *c.error ? QString("org.freedesktop.DBus.Error.") + c.error : QString();
        EXPECT_EQ(reply.errorName().toStdString(), expected.toStdString())
            << c.name << " " << c.value.toString().toStdString();
        EXPECT_EQ(deck1.state, c.deck1State) << c.name;
        EXPECT_EQ(ui().VScroll5->value(), c.bar) << c.name;
    }

    // Reading goes on as before, with or without the interface named.
    EXPECT_EQ(call("Get", {player, "PlaybackStatus"})
                  .arguments()
                  .value(0)
                  .value<QDBusVariant>()
                  .variant(),
              QVariant(QString("Paused")));
    EXPECT_EQ(call("Get", {"", "Identity"}).arguments().value(0).value<QDBusVariant>().variant(),
              QVariant(QString("Velmor´s MP3-Player")));
    const QDBusMessage all = call("GetAll", {root});
    EXPECT_TRUE(qdbus_cast<QVariantMap>(all.arguments().value(0)).contains("SupportedMimeTypes"));
    EXPECT_EQ(call("GetAll", {"org.example.None"}).errorName().toStdString(),
              "org.freedesktop.DBus.Error.UnknownInterface");

    QDBusMessage introspect =
        QDBusMessage::createMethodCall(MprisService::kServiceName, MprisService::kObjectPath,
                                       "org.freedesktop.DBus.Introspectable", "Introspect");
    QDBusPendingCall pending = client.asyncCall(introspect);
    serveUntil([&] { return pending.isFinished(); }, 5000);
    EXPECT_EQ(pending.reply().arguments().value(0).toString().count(
                  "interface name=\"org.freedesktop.DBus.Properties\""),
              1);
}

// Counts the signals on the player's object that a monitor of the bus has seen.
class SignalMonitor {
public:
    SignalMonitor(PrivateBus& bus, QDBusConnection& connection) : connection(connection) {
        monitor.start("dbus-monitor",
                      {"--address", bus.address(), "type='signal',path='/org/mpris/MediaPlayer2'"});
        monitor.waitForStarted(5000);
        sync();
    }
    ~SignalMonitor() {
        monitor.kill();
        monitor.waitForFinished(1000);
    }
    // Waits until the monitor has shown everything sent so far: it shows a marker signal.
    void sync() {
        const QString marker = QString("Marker%1").arg(++markers);
        // Sent again until seen: the monitor may not have subscribed yet.
        for (int attempt = 0; attempt < 50 && !seen.contains("member=" + marker); ++attempt) {
            connection.send(
                QDBusMessage::createSignal("/org/mpris/MediaPlayer2", "org.velmor.Test", marker));
            serveUntil(
                [&] {
                    seen += QString::fromUtf8(monitor.readAllStandardOutput());
                    return seen.contains("member=" + marker);
                },
                100);
        }
    }
    // Signals of `member` since the last call.
    int taken(const QString& member) {
        sync();
        const int count = seen.count("member=" + member) - counted.value(member);
        counted[member] += count;
        return count;
    }

private:
    QDBusConnection& connection;
    QProcess monitor;
    QString seen;
    int markers = 0;
    QMap<QString, int> counted;
};

TEST_F(MprisTest, SignalsOnChangesOnlyNoneWhilePlayingOn) {
    if (QStandardPaths::findExecutable("dbus-monitor").isEmpty()) GTEST_SKIP() << "no dbus-monitor";
    SignalMonitor monitor(bus, connection);
    form->openPath(music);
    serveUntil([] { return false; }, 100);
    // The change, then the first track's tags as they arrive from the reader's thread.
    EXPECT_EQ(monitor.taken("PropertiesChanged"), 2);
    playerctlOut({"next"});  // untagged: the name stands for the title at once
    serveUntil([] { return false; }, 100);
    EXPECT_EQ(monitor.taken("PropertiesChanged"), 1);
    EXPECT_EQ(monitor.taken("Seeked"), 0);

    // A second of ticks while the track plays on.
    serveUntil([] { return false; }, 1000);
    EXPECT_EQ(monitor.taken("PropertiesChanged"), 0);

    playerctlOut({"position", "30"});
    ui().Command7->click();  // ">": 10 seconds on
    serveUntil([] { return false; }, 100);
    EXPECT_EQ(monitor.taken("Seeked"), 2);
    EXPECT_EQ(monitor.taken("PropertiesChanged"), 0);
}

}  // namespace
