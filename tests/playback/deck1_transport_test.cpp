#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "support/form1_fixture.h"

namespace {
using S = PlayerState;
}

class Transport : public Form1Fixture {
protected:
    void SetUp() override { make(); }
    void click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
};

TEST_F(Transport, PlayStopPauseFollowTheTables) {
    struct Case {
        const char* what;
        S before;
        std::string currentFile;
        int deck2State;
        QPushButton* Form1Controls::*button;
        S after;
        int nextDeckBefore, nextDeckAfter;
        std::vector<std::string> deck1Calls;
    } cases[] = {
        {"play while stopped",
         S::Stopped,
         "a.mp3",
         0,
         &Form1Controls::Command1,
         S::Playing,
         1,
         2,
         {"setFileName /m/a.mp3", "play"}},
        {"play while paused",
         S::Paused,
         "a.mp3",
         0,
         &Form1Controls::Command1,
         S::Playing,
         1,
         2,
         {"setFileName /m/a.mp3", "play"}},
        {"play while playing",
         S::Playing,
         "a.mp3",
         0,
         &Form1Controls::Command1,
         S::Playing,
         1,
         1,
         {}},
        {"play without a file", S::Stopped, "", 0, &Form1Controls::Command1, S::Stopped, 1, 1, {}},
        {"play a full path",
         S::Stopped,
         "/other/b.mp3",
         0,
         &Form1Controls::Command1,
         S::Playing,
         1,
         2,
         {"setFileName /other/b.mp3", "play"}},
        {"stop, deck 2 idle",
         S::Playing,
         "a.mp3",
         0,
         &Form1Controls::Command3,
         S::Stopped,
         2,
         2,
         {"stop"}},
        {"stop, deck 2 plays",
         S::Playing,
         "a.mp3",
         2,
         &Form1Controls::Command3,
         S::Stopped,
         2,
         1,
         {"stop"}},
        {"stop, deck 2 paused",
         S::Paused,
         "a.mp3",
         1,
         &Form1Controls::Command3,
         S::Stopped,
         2,
         2,
         {"stop"}},
        {"stop while stopped",
         S::Stopped,
         "",
         0,
         &Form1Controls::Command3,
         S::Stopped,
         2,
         2,
         {"stop"}},
        {"pause while playing",
         S::Playing,
         "a.mp3",
         0,
         &Form1Controls::Command4,
         S::Paused,
         1,
         1,
         {"pause"}},
        {"resume while paused",
         S::Paused,
         "a.mp3",
         0,
         &Form1Controls::Command4,
         S::Playing,
         1,
         1,
         {"play"}},
        {"pause while stopped",
         S::Stopped,
         "a.mp3",
         0,
         &Form1Controls::Command4,
         S::Stopped,
         1,
         1,
         {}},
    };
    for (const auto& c : cases) {
        deck1.calls.clear();
        state().PlaylistDir = "/m/";
        state().playerState = c.before;
        state().CurrentFile = c.currentFile;
        state().NextDeck = c.nextDeckBefore;
        deck2.state = c.deck2State;
        click(ui().*c.button);
        EXPECT_EQ(state().playerState, c.after) << c.what;
        EXPECT_EQ(state().NextDeck, c.nextDeckAfter) << c.what;
        EXPECT_EQ(deck1.calls, c.deck1Calls) << c.what;
        EXPECT_EQ(state().CurrentFile, c.currentFile) << c.what;
    }
}

TEST_F(Transport, RefreshShowsFilesStatesAndCaption) {
    state().PlaylistDir = "/m/";
    state().CurrentFile = "a.mp3";
    deck2.loaded = "/m/b.mp3";
    deck2.state = Deck::Paused;
    ui().List2->addItem("stale");
    click(ui().Command1);
    EXPECT_EQ(text(ui().Label2), "a.mp3");
    EXPECT_EQ(text(ui().Label11), "b.mp3");
    EXPECT_EQ(text(ui().Label19), "Playing");
    EXPECT_EQ(text(ui().Label14), "Paused");
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - a.mp3"));
    EXPECT_EQ(ui().List2->count(), 0);

    // "II" does not refresh: the label keeps "Playing".
    click(ui().Command4);
    EXPECT_EQ(text(ui().Label19), "Playing");

    // A state other than 0, 1, 2 leaves the label as it was.
    deck1.state = 6;
    state().CurrentFile = "";
    form->UpdateForm1Once();
    EXPECT_EQ(text(ui().Label19), "Playing");
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Velmor´s MP3-Player - "));
}

TEST_F(Transport, FileThatFailsToOpenStillLeavesTheWordPlaying) {
    deck1.opens = false;
    state().CurrentFile = "/m/broken.mp3";
    click(ui().Command1);
    EXPECT_EQ(state().playerState, S::Playing);
    EXPECT_EQ(text(ui().Label19), "Stopped");
}
