#include "desktop/command_line.h"

#include <gtest/gtest.h>

#include <QProcess>

namespace {
using Action = CommandLine::Action;

TEST(CommandLineParser, EveryKindOfCommandLine) {
    struct Case {
        std::vector<std::string> args;
        Action action;
        std::string path;
        const char* textHas;  // part of the printed text; "" for none
    } cases[] = {
        {{"player"}, Action::Run, "", ""},
        {{}, Action::Run, "", ""},
        {{"player", "/music/"}, Action::Run, "/music/", ""},
        {{"player", "song.MP3"}, Action::Run, "song.MP3", ""},
        // A name that is not valid text reaches the window byte for byte.
        {{"player", "/m/\xe9t\xe9.mp3"}, Action::Run, "/m/\xe9t\xe9.mp3", ""},
        {{"player", "--", "-odd name.mp3"}, Action::Run, "-odd name.mp3", ""},
        {{"player", "-"}, Action::Run, "-", ""},
        {{"player", "--help"}, Action::ShowHelp, "", "[PATH]"},
        {{"player", "-h"}, Action::ShowHelp, "", "--version"},
        {{"player", "/music/", "--help"}, Action::ShowHelp, "", "Play Dir"},
        {{"player", "--version"}, Action::ShowVersion, "", ""},
        {{"player", "-v"}, Action::ShowVersion, "", ""},
        {{"player", "--volume=3"}, Action::UsageError, "", "volume"},
        {{"player", "-x", "/music/"}, Action::UsageError, "", "[PATH]"},
        {{"player", "a.mp3", "b.mp3"}, Action::UsageError, "", "Only one"},
        // Qt's own options, which the application object takes later, are passed over.
        {{"player", "-platform", "offscreen", "/music/"}, Action::Run, "/music/", ""},
        {{"player", "/music/", "--style=fusion", "-reverse"}, Action::Run, "/music/", ""},
        {{"player", "-session", "1234", "--version"}, Action::ShowVersion, "", ""},
        {{"player", "--", "-platform"}, Action::Run, "-platform", ""},
    };
    for (const auto& c : cases) {
        const CommandLine result = parseCommandLine(c.args);
        std::string words;
        for (const auto& a : c.args) words += a + " ";
        EXPECT_EQ(result.action, c.action) << words;
        EXPECT_EQ(result.path, c.path) << words;
        EXPECT_TRUE(result.text.contains(QString::fromUtf8(c.textHas)))
            << words << "\n"
            << result.text.toStdString();
    }
}

// Over SSH or from a console there is no display: what prints and ends must still work.
TEST(CommandLineProgram, PrintsAndEndsWithoutADisplay) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* stdoutHas;
        const char* stderrHas;
    } cases[] = {
        {{"--help"}, 0, "Usage: velmor-mp3-player [options] [PATH]", ""},
        {{"--version"}, 0, "velmor-mp3-player " VELMOR_VERSION_FOR_TESTS, ""},
        {{"--bogus"}, 2, "", "Unknown option 'bogus'"},
        {{"a.mp3", "b.mp3"}, 2, "", "Only one folder or file"},
        {{}, 1, "", "no display to show the window on"},  // a start needs one
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess player;
        player.setProcessEnvironment(env);
        player.start(VELMOR_PLAYER_BINARY, c.args);
        ASSERT_TRUE(player.waitForFinished(20000));
        EXPECT_EQ(player.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(player.exitCode(), c.exitCode);
        EXPECT_TRUE(player.readAllStandardOutput().contains(c.stdoutHas));
        EXPECT_TRUE(player.readAllStandardError().contains(c.stderrHas));
    }
}

}  // namespace
