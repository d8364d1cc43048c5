// Second starts of the program itself, handing over to the window under test on a private
// bus; and a start without any session bus.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnectionInterface>
#include <QListWidget>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <thread>

#include "desktop/desktop_session.h"
#include "desktop/mpris_service.h"
#include "support/form1_fixture.h"
#include "support/private_bus.h"
#include "support/serving_process.h"
#include "support/wait_for.h"

namespace {

class SingleInstanceTest : public Form1Fixture {
protected:
    PrivateBus bus;
    QDBusConnection connection{QString()};
    std::unique_ptr<DesktopSession> session;

    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "no dbus-daemon";
        make();
        connection = bus.connect("first-start");
        session = std::make_unique<DesktopSession>(connection, connection);
        ASSERT_EQ(session->start(""), DesktopSession::Start::AsThePlayer);
        session->attach(*form);
    }
    ClientRun secondStart(const QStringList& args, const QString& workingDirectory) {
        QProcessEnvironment env = bus.sessionEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return runServing(VELMOR_PLAYER_BINARY, args, env, 20000, workingDirectory);
    }
};

TEST_F(SingleInstanceTest, SecondStartHandsItsPathOverAndRaisesTheWindow) {
    const std::string music = makeFiles("music", {"a.mp3", "b.mp3"});
    makeFiles("other", {"song.mp3", "notes.txt"});
    const std::string root = dir.path().toStdString() + "/";
    struct Case {
        QStringList args;
        std::string currentFile;  // "" when nothing is opened
        std::string playlistDir;
        std::string errorHas;
    } cases[] = {
        {{"music"}, "a.mp3", music, ""},  // relative to the second start's directory
        {{QString::fromStdString(root + "other/song.mp3")}, root + "other/song.mp3", "", ""},
        {{}, "", "", ""},
        {{"other/notes.txt"}, "", "", "not a folder or an .mp3 file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        form->hide();
        state().CurrentFile.clear();
        state().PlaylistDir.clear();
        const size_t errorsBefore = errors.taken().size();

        const ClientRun run = secondStart(c.args, dir.path());
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        serveUntil([&] { return form->isVisible(); });
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(state().CurrentFile, c.currentFile);
        EXPECT_EQ(state().PlaylistDir, c.playlistDir);
        if (!c.currentFile.empty()) {
            EXPECT_EQ(deck1.state, Deck::Playing);
        }
        const auto lines = errors.taken();
        if (c.errorHas.empty()) {
            EXPECT_EQ(lines.size(), errorsBefore);
        } else {
            ASSERT_EQ(lines.size(), errorsBefore + 1);
            EXPECT_NE(lines.back().find(c.errorHas), std::string::npos) << lines.back();
        }
    }
}

// The first player stalls past the second start's patience (stopped, or its disk hangs): the
// second says so and plays nothing; the first, once it runs again, plays the file once.
TEST_F(SingleInstanceTest, ASecondStartThatGetsNoAnswerLeavesTheFileToTheFirst) {
    makeFiles("music", {"a.mp3"});
    QProcess second;
    QProcessEnvironment env = bus.sessionEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(dir.path());
    second.start(VELMOR_PLAYER_BINARY, {"music"});
    // Blocks this process's event loop: the first player answers nothing meanwhile.
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.readAllStandardError().indexOf("does not answer"), -1);

    EXPECT_TRUE(serveUntil([&] { return deck1.state == Deck::Playing; }));
    const auto calls = deck1.transport();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "play"), 1);
    EXPECT_EQ(state().CurrentFile, "a.mp3");
}

// A quit while the session bus hangs: the name is given up without waiting for the bus, and
// goes once the bus runs again.
TEST_F(SingleInstanceTest, EndGivesUpTheNameWithoutWaitingForAHungBus) {
    QDBusConnection watcher = bus.connect("name-watcher");
    auto owned = [&] {
        return watcher.interface()->isServiceRegistered(MprisService::kServiceName).value();
    };
    ASSERT_TRUE(owned());
    const pid_t daemon = pid_t(bus.daemonPid());
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    std::atomic<bool> ended = false, gaveUp = false;
    std::jthread guard([&] {
        // Only against a hang: a call that waits for the bus would wait here.
        if (!waitFor([&] { return ended.load(); }, std::chrono::seconds(20))) gaveUp = true;
        ::kill(daemon, SIGCONT);
    });
    session->end();
    ended = true;
    guard.join();
    EXPECT_FALSE(gaveUp) << "the quit waited for the stopped bus";
    EXPECT_TRUE(serveUntil([&] { return !owned(); }, 10000)) << "the name is still owned";
}

TEST(SingleInstance, WithoutASessionBusTheProgramRunsAndSaysSoOnce) {
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmor-test-bus");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    player.setProcessEnvironment(env);
    player.start(VELMOR_PLAYER_BINARY, {});
    ASSERT_TRUE(player.waitForStarted(5000));
    QString err;
    serveUntil(
        [&] {
            err += QString::fromLocal8Bit(player.readAllStandardError());
            return err.contains("session bus") || player.state() == QProcess::NotRunning;
        },
        10000);
    serveUntil([] { return false; }, 1000);  // it goes on running, and says nothing more of it
    err += QString::fromLocal8Bit(player.readAllStandardError());
    EXPECT_EQ(player.state(), QProcess::Running);
    player.kill();
    player.waitForFinished(3000);
    EXPECT_EQ(err.count("session bus"), 1) << err.toStdString();
}

}  // namespace
