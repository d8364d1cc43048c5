// The playback watch tells deck 1 which file the next-file step will give it, near the end of
// a track that the watch is going to follow.
#include <gtest/gtest.h>

#include <QTest>

#include "support/form1_fixture.h"

namespace {

using S = PlayerState;

class GaplessCue : public Form1Fixture {
protected:
    std::string music;
    void SetUp() override {
        make();
        music = makeFiles("music", {"1 a.mp3", "2 b.mp3", "3 c.mp3"});
        playDirDialog.answer = music + "1 a.mp3";
        QTest::mouseClick(ui().Command6, Qt::LeftButton);  // "Play Dir"
    }
};

TEST_F(GaplessCue, TheWatchCuesTheNextEntryNearTheEndOfAPlayingTrack) {
    struct Case {
        const char* name;
        S word;
        int deckState;
        double length, position;
        int trackNumber;
        const char* cue;  // nullptr: none
    } cases[] = {
        {"near the end", S::Playing, Deck::Playing, 100, 98, 1, "2 b.mp3"},
        {"the last entry: the first", S::Playing, Deck::Playing, 100, 99.5, 3, "1 a.mp3"},
        {"a short track", S::Playing, Deck::Playing, 1.5, 0, 2, "3 c.mp3"},
        {"too early", S::Playing, Deck::Playing, 100, 90, 1, nullptr},
        {"length unknown", S::Playing, Deck::Playing, 0, 0, 1, nullptr},
        {"paused", S::Paused, Deck::Playing, 100, 98, 1, nullptr},
        {"stopped", S::Stopped, Deck::Playing, 100, 98, 1, nullptr},
    };
    for (const auto& c : cases) {
        state().playerState = c.word;
        state().TrackNumber = c.trackNumber;
        deck1.state = c.deckState;
        deck1.length = c.length;
        deck1.position = c.position;
        deck1.cues.clear();
        deck1.calls.clear();
        form->Timer1_Timer();
        const std::vector<std::string> expected =
            c.cue ? std::vector<std::string>{music + c.cue} : std::vector<std::string>{};
        EXPECT_EQ(deck1.cues, expected) << c.name;
        EXPECT_TRUE(deck1.transport().empty()) << c.name;  // nothing else is done to the deck
    }
}

TEST_F(GaplessCue, TheNextFileStepLoadsWhatWasCued) {
    deck1.length = 10;
    for (int track = 1; track <= 3; ++track) {
        state().TrackNumber = track;
        deck1.state = Deck::Playing;
        deck1.position = 9;
        deck1.cues.clear();
        form->Timer1_Timer();
        ASSERT_EQ(deck1.cues.size(), 1u) << track;
        deck1.state = Deck::Stopped;  // the track ended
        form->Timer1_Timer();
        EXPECT_EQ(deck1.loaded, deck1.cues[0]) << track;
    }
}

}  // namespace
