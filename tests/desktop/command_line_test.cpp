#include "desktop/command_line.h"

#include <gtest/gtest.h>

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

}  // namespace
