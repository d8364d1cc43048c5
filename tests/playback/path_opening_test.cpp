#include <gtest/gtest.h>

#include <QDir>
#include <QListWidget>
#include <filesystem>

#include "support/form1_fixture.h"

namespace {

class PathOpeningTest : public Form1Fixture {};

TEST_F(PathOpeningTest, FolderOrMp3RunsTheButtonsStepsAnythingElseOneErrorLine) {
    const std::string music = makeFiles("music", {"2 b.mp3", "10 c.mp3", "cover.jpg"});
    const std::string other = makeFiles("other", {"song.MP3", "notes.txt"});
    const std::string root = dir.path().toStdString();
    std::filesystem::create_symlink(music, root + "/linked");

    struct Case {
        std::string path;
        std::string deck1Loaded;  // "" when deck 1 is not touched
        std::string currentFile;
        std::string playlistDir;  // "" when "Play Dir" does not run
        std::string errorHas;     // "" when no error
    } cases[] = {
        {music, music + "2 b.mp3", "2 b.mp3", music, ""},
        {root + "/music", music + "2 b.mp3", "2 b.mp3", music, ""},
        {root + "/./other/../music/", music + "2 b.mp3", "2 b.mp3", music, ""},
        {root + "/linked", root + "/linked/2 b.mp3", "2 b.mp3", root + "/linked/", ""},
        {other + "song.MP3", other + "song.MP3", other + "song.MP3", "", ""},
        {"music/10 c.mp3", music + "10 c.mp3", music + "10 c.mp3", "", ""},  // relative
        {other + "notes.txt", "", "", "", "not a folder or an .mp3 file"},
        {root + "/missing.mp3", "", "", "", "No such file"},
        {"", "", "", "", "empty path"},
    };
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    for (const auto& c : cases) {
        deck1 = FakeDeck();
        const size_t seen = errors.taken().size();
        make();
        form->openPath(c.path);
        SCOPED_TRACE(c.path);
        if (c.deck1Loaded.empty()) {
            EXPECT_TRUE(deck1.calls.empty());
            EXPECT_EQ(state().playerState, PlayerState::Stopped);
        } else {
            EXPECT_EQ(deck1.loaded, c.deck1Loaded);
            EXPECT_EQ(deck1.state, Deck::Playing);
        }
        EXPECT_EQ(state().CurrentFile, c.currentFile);
        EXPECT_EQ(state().PlaylistDir, c.playlistDir);
        if (!c.playlistDir.empty()) {
            EXPECT_EQ(state().DataPath, c.playlistDir);
            EXPECT_EQ(state().playerState, PlayerState::Playing);
            EXPECT_EQ(ui().List4->count(), 2);
            EXPECT_EQ(state().TrackNumber, 1);
        }
        auto lines = errors.taken();
        lines.erase(lines.begin(), lines.begin() + long(seen));
        if (c.errorHas.empty()) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(c.errorHas), std::string::npos) << lines[0];
        }
        form.reset();
    }
    QDir::setCurrent(before);
}

}  // namespace
