// The program itself ending while a file, or its settings, wait on a hung disk: a thread stuck
// in the disk's read cannot be ended, yet the bus name, the window and the settings must not
// wait for it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <fstream>
#include <sstream>
#include <string>

#include "desktop/mpris_service.h"
#include "support/hanging_mount.h"
#include "support/private_bus.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Some thread of `pid` sits in a read (or pread) of a file whose path holds `name`.
bool readsFrom(qint64 pid, const QString& name) {
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    for (const QString& task : QDir(proc + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::istringstream call(fileText((proc + "/task/" + task + "/syscall").toStdString()));
        long number = -1;
        std::string fd;
        if (!(call >> number >> fd) || (number != 0 && number != 17)) continue;  // read, pread64
        const QString target =
            QFile::symLinkTarget(proc + "/fd/" + QString::number(std::stol(fd, nullptr, 16)));
        if (target.contains(name)) return true;
    }
    return false;
}

// The process's first thread has ended: what is left of it is threads the kernel holds.
bool mainThreadEnded(qint64 pid) {
    const std::string stat = fileText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t afterName = stat.rfind(')');
    return afterName == std::string::npos || stat.compare(afterName + 2, 1, "Z") == 0 ||
           stat.compare(afterName + 2, 1, "X") == 0;
}

TEST(HungDiskQuit, SigtermFreesTheNameAndEndsTheProgramWithoutWaitingForTheDisk) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
    TempDir dir;
    QDir().mkpath(QString::fromStdString(dir.file("music")));
    QDir().mkpath(QString::fromStdString(dir.file("bin")));
    QDir().mkpath(QString::fromStdString(dir.file("disk")));
    std::ofstream(dir.file("music/hang.mp3")) << std::string(4096, '\xff');
    // Beside the program: its settings file goes there.
    const QString player = QString::fromStdString(dir.file("bin/velmor-mp3-player"));
    ASSERT_TRUE(QFile::copy(VELMOR_PLAYER_BINARY, player));

    QProcess first, second;  // before the mount: it is let go before they are waited for
    HangingMount mount(dir.file("music"), dir.file("disk"));
    if (!mount.available()) GTEST_SKIP() << "FUSE cannot be mounted here";
    QProcessEnvironment env = bus.sessionEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.file("config")));
    if (!env.contains("PULSE_SERVER")) env.insert("SDL_AUDIODRIVER", "dummy");
    QDBusConnection connection = bus.connect("hung-quit-test");
    auto nameOwned = [&] {
        return connection.interface()->isServiceRegistered(MprisService::kServiceName).value();
    };

    first.setProcessEnvironment(env);
    first.start(player, {QString::fromStdString(mount.path("hang.mp3"))});
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(serveUntil(nameOwned, 20000)) << first.readAllStandardError().toStdString();
    ASSERT_TRUE(serveUntil([&] { return readsFrom(first.processId(), "hang.mp3"); }, 20000))
        << "the open never reached the hung read";

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(serveUntil([&] { return !nameOwned(); }, 10000)) << "the name is still owned";
    EXPECT_TRUE(serveUntil([&] { return mainThreadEnded(first.processId()); }, 10000));
    const std::string settings = fileText(dir.file("bin/velmor-mp3-player.ini"));
    EXPECT_NE(settings.find("MainVolume="), std::string::npos) << settings;
    EXPECT_EQ(first.state(), QProcess::Running) << "the disk still holds what is left of it";

    // A new start right after is the player, not a second start refused by a frozen first.
    second.setProcessEnvironment(env);
    second.start(player, {});
    ASSERT_TRUE(second.waitForStarted(5000));
    auto ownedBySecond = [&] {
        return connection.interface()->servicePid(MprisService::kServiceName).value() ==
               uint(second.processId());
    };
    EXPECT_TRUE(
        serveUntil([&] { return ownedBySecond() || second.state() != QProcess::Running; }, 20000));
    EXPECT_EQ(second.state(), QProcess::Running) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(ownedBySecond());
    second.terminate();
    EXPECT_TRUE(serveUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));

    mount.release();
    EXPECT_TRUE(serveUntil([&] { return first.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

// The disk of the settings stops answering after the start: the close's values wait on it, yet
// the bus name goes at once, and the program ends after its bound saying what it lost.
TEST(HungDiskQuit, SettingsOnAHungHomeHoldNeitherTheNameNorTheEnd) {
    PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
    TempDir dir;
    QDir().mkpath(QString::fromStdString(dir.file("home/held/velmor-mp3-player")));
    QDir().mkpath(QString::fromStdString(dir.file("prefix/bin")));
    QDir().mkpath(QString::fromStdString(dir.file("prefix/share/metainfo")));
    QDir().mkpath(QString::fromStdString(dir.file("disk")));
    std::ofstream(dir.file("home/held/velmor-mp3-player/velmor-mp3-player.ini"))
        << "[System]\nMainVolume=20\n";
    // Installed: its settings are the user's, under $XDG_CONFIG_HOME.
    std::ofstream(dir.file("prefix/share/metainfo/velmor-mp3-player.metainfo.xml")) << "";
    const QString program = QString::fromStdString(dir.file("prefix/bin/velmor-mp3-player"));
    ASSERT_TRUE(QFile::copy(VELMOR_PLAYER_BINARY, program));

    QProcess player;  // before the mount: it is let go before the player is waited for
    HangingMount mount(dir.file("home"), dir.file("disk"));
    if (!mount.available()) GTEST_SKIP() << "FUSE cannot be mounted here";
    QProcessEnvironment env = bus.sessionEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(mount.path("held")));
    env.insert("XDG_CACHE_HOME", QString::fromStdString(dir.file("cache")));
    if (!env.contains("PULSE_SERVER")) env.insert("SDL_AUDIODRIVER", "dummy");
    QDBusConnection connection = bus.connect("hung-home-test");
    auto nameOwned = [&] {
        return connection.interface()->isServiceRegistered(MprisService::kServiceName).value();
    };
    player.setProcessEnvironment(env);
    player.start(program, {});
    ASSERT_TRUE(player.waitForStarted(5000));
    // Its window's event loop answers: the end signals are the program's own by then.
    auto answers = [&] {
        QDBusMessage get =
            QDBusMessage::createMethodCall(MprisService::kServiceName, "/org/mpris/MediaPlayer2",
                                           "org.freedesktop.DBus.Properties", "Get");
        get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("PlaybackStatus");
        return connection.call(get, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
    };
    ASSERT_TRUE(serveUntil(answers, 20000)) << player.readAllStandardError().toStdString();

    mount.hold();
    ::kill(pid_t(player.processId()), SIGTERM);
    EXPECT_TRUE(serveUntil([&] { return !nameOwned(); }, 10000)) << "the name is still owned";
    EXPECT_FALSE(mainThreadEnded(player.processId())) << "the settings were not waited for";
    EXPECT_TRUE(serveUntil([&] { return mainThreadEnded(player.processId()); }, 20000))
        << "the quit waits for the disk";
    QString err;
    serveUntil(
        [&] {
            err += QString::fromLocal8Bit(player.readAllStandardError());
            return err.contains("Settings not saved");
        },
        5000);
    for (const char* key : {"[System] Data-Path", "[System] WaveVolume", "[System] MainVolume"})
        EXPECT_TRUE(err.contains(key)) << key << " in " << err.toStdString();
    EXPECT_EQ(player.state(), QProcess::Running) << "the disk still holds what is left of it";

    mount.release();
    EXPECT_TRUE(serveUntil([&] { return player.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(player.exitCode(), 0);
}

}  // namespace
