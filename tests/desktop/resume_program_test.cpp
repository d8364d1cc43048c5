// The program itself, with a resume chosen, ended by SIGTERM and started again, seen through a
// real MPRIS client: it comes back paused where it was; a path on the command line wins.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <fstream>
#include <string>

#include "desktop/mpris_service.h"
#include "shared/file_uri.h"
#include "shared/ini_lines.h"
#include "support/file_text.h"
#include "support/private_bus.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

class ResumeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
        if (QStandardPaths::findExecutable("playerctl").isEmpty()) GTEST_SKIP() << "no playerctl";
        QDir().mkpath(QString::fromStdString(dir.file("bin")));
        QDir().mkpath(QString::fromStdString(dir.file("music")));
        // Beside the program: its settings file goes there.
        ASSERT_TRUE(QFile::copy(VELMOR_PLAYER_BINARY, program));
        for (const char* name : {"1 a.mp3", "2 b.mp3", "3 c.mp3"})
            makeToneMp3(dir.file("music"), name, 440, 8);
        env = bus.sessionEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.file("config")));
        if (!env.contains("PULSE_SERVER")) env.insert("SDL_AUDIODRIVER", "dummy");
        connection = bus.connect("resume-program-test");
    }
    void TearDown() override {
        if (player.state() != QProcess::NotRunning) {
            player.kill();
            player.waitForFinished(5000);
        }
    }
    void start(const QStringList& args) {
        player.setProcessEnvironment(env);
        player.start(program, args);
        ASSERT_TRUE(player.waitForStarted(5000));
        ASSERT_TRUE(serveUntil(
            [&] {
                return connection.interface()->servicePid(MprisService::kServiceName).value() ==
                       uint(player.processId());
            },
            20000))
            << player.readAllStandardError().toStdString();
    }
    // The end a session's manager or `kill` gives it.
    void terminate() {
        ::kill(pid_t(player.processId()), SIGTERM);
        ASSERT_TRUE(serveUntil([&] { return player.state() == QProcess::NotRunning; }, 20000));
        EXPECT_EQ(player.exitCode(), 0);
    }
    std::string playerctl(QStringList args) {
        args.prepend("velmor_mp3_player");
        args.prepend("-p");
        const ClientRun run = runServing("playerctl", args, bus.sessionEnvironment());
        return run.exitCode == 0 ? run.out.trimmed().toStdString()
                                 : "(" + run.err.toStdString() + ")";
    }
    bool waitForStatus(const std::string& status) {
        return serveUntil([&] { return playerctl({"status"}) == status; }, 20000);
    }
    double position() { return std::stod(playerctl({"position"})); }
    std::string stored(const std::string& key) {
        return IniLines::valueOf(fileText(settings), "Resume", key).value_or("-");
    }
    std::string url(const std::string& name) { return fileUriOf(dir.file("music/" + name)); }

    PrivateBus bus;
    TempDir dir;
    const QString program = QString::fromStdString(dir.file("bin/velmor-mp3-player"));
    const std::string settings = dir.file("bin/velmor-mp3-player.ini");
    QProcessEnvironment env;
    QDBusConnection connection{QString()};
    QProcess player;
};

}  // namespace

TEST_F(ResumeProgram, ASigtermKeepsWhereDeck1WasTheNextStartResumesThereAndAPathGivenWins) {
    std::ofstream(settings) << "[Resume]\nAtStart=Paused\nDeck1Folder=" << dir.file("music/")
                            << "\nDeck1Entry=2 b.mp3\nDeck1Position=1.500\nDeck1Played=Yes\n";
    start({});
    ASSERT_TRUE(waitForStatus("Paused")) << playerctl({"status"});
    EXPECT_EQ(playerctl({"metadata", "xesam:url"}), url("2 b.mp3"));
    EXPECT_NEAR(position(), 1.5, 0.1);

    playerctl({"play"});
    ASSERT_TRUE(waitForStatus("Playing"));
    ASSERT_TRUE(serveUntil([&] { return position() > 2.5; }, 20000));
    playerctl({"pause"});
    ASSERT_TRUE(waitForStatus("Paused"));
    const double pausedAt = position();
    terminate();
    EXPECT_EQ(stored("Deck1Folder"), dir.file("music/"));
    EXPECT_EQ(stored("Deck1Entry"), "2 b.mp3");
    EXPECT_NEAR(std::stod(stored("Deck1Position")), pausedAt, 0.002);
    EXPECT_EQ(stored("Deck1Played"), "No");

    start({QString::fromStdString(dir.file("music/3 c.mp3"))});
    ASSERT_TRUE(waitForStatus("Playing")) << playerctl({"status"});
    EXPECT_EQ(playerctl({"metadata", "xesam:url"}), url("3 c.mp3"));
    terminate();
    EXPECT_EQ(stored("Deck1File"), dir.file("music/3 c.mp3"));
    EXPECT_EQ(stored("Deck1Entry"), "");
}
