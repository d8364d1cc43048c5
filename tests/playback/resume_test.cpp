// The real window on test doubles, started again after it ended with a resume chosen: both
// decks come back where they were, what is gone is reported, and neither a path from outside
// nor a disk that does not answer is held up by the resume.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/remote_control.h"
#include "playback/resume_start.h"
#include "shared/ini_lines.h"
#include "support/file_text.h"
#include "support/form1_fixture.h"
#include "support/hanging_mount.h"
#include "support/mount_watchdog.h"
#include "support/serving_process.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;
constexpr double kLength = 300;  // every fake track's

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ResumeTest : public Form1Fixture {
protected:
    // A window on fresh decks that know their tracks' length, as a new start has them.
    void restart() {
        form.reset();
        deck1 = FakeDeck{};
        deck2 = FakeDeck{};
        deck1.length = deck2.length = kLength;
        make();
    }
    // Ends the window the normal way, its saves on disk.
    void end() { form->Form_Unload(); }
    std::string stored(const std::string& key) {
        return IniLines::valueOf(fileText(settingsFile()), "Resume", key).value_or("-");
    }
    void doubleClick(int row) {
        ui().List4->setCurrentRow(row);
        emit ui().List4->itemDoubleClicked(ui().List4->item(row));
    }
};

// The whole round: played, ended, started again.
struct Round {
    const char* name;
    const char* atStart;
    int deck1StateAtEnd;
    std::vector<std::string> deck1Calls;  // after its file is set
    int deck1State;
    PlayerState word;
    std::vector<std::string> deck2Calls;
    int deck2State;
};

void PrintTo(const Round& r, std::ostream* out) {
    *out << r.name;
}

class ResumeRound : public ResumeTest, public ::testing::WithParamInterface<Round> {};

TEST_P(ResumeRound, BothDecksComeBackWhereTheyWere) {
    const Round& r = GetParam();
    const std::string music = makeFiles("music", {"4 d.mp3", "1 a.mp3", "3 c.mp3", "2 b.mp3"});
    writeFile(settingsFile(), std::string("[Resume]\nAtStart=") + r.atStart + "\n");
    restart();
    form->Form_Activate();
    form->openPath(music);
    ui().Command10->click();
    ui().Command10->click();
    doubleClick(1);  // "2 b" into deck 2, which names it the current file as well
    ASSERT_EQ(deck1.loaded, music + "3 c.mp3");
    ASSERT_EQ(deck2.loaded, music + "2 b.mp3");
    deck1.position = 20;
    deck1.state = r.deck1StateAtEnd;
    deck2.position = 10;
    end();

    restart();
    form->resumeAtStart();
    Names deck1Expected{"setFileName " + music + "3 c.mp3"};
    deck1Expected.insert(deck1Expected.end(), r.deck1Calls.begin(), r.deck1Calls.end());
    EXPECT_EQ(deck1.transport(), deck1Expected);
    Names deck2Expected{"setFileName " + music + "2 b.mp3"};
    deck2Expected.insert(deck2Expected.end(), r.deck2Calls.begin(), r.deck2Calls.end());
    EXPECT_EQ(deck2.transport(), deck2Expected);
    EXPECT_EQ(deck1.state, r.deck1State);
    EXPECT_DOUBLE_EQ(deck1.position, 20);
    EXPECT_EQ(deck2.state, r.deck2State);
    EXPECT_DOUBLE_EQ(deck2.position, 10);

    // The playlist as "Play Dir" builds it, the entry selected, the state as the deck's.
    ASSERT_EQ(ui().List4->count(), 4);
    EXPECT_EQ(ui().List4->item(0)->text().toStdString(), "1 a.mp3");
    EXPECT_EQ(ui().List4->currentRow(), 2);
    EXPECT_EQ(state().CurrentFile, "3 c.mp3");
    EXPECT_EQ(state().TrackNumber, 3);
    EXPECT_EQ(state().TrackCount, 4);
    EXPECT_EQ(state().PlaylistDir, music);
    EXPECT_EQ(state().Deck2File, music + "2 b.mp3");
    EXPECT_EQ(state().playerState, r.word);
    EXPECT_EQ(form->remote().status(), r.deck1State == Deck::Paused
                                           ? RemoteControl::Status::Paused
                                           : RemoteControl::Status::Playing);
    EXPECT_DOUBLE_EQ(form->remote().position(), 20);
    EXPECT_EQ(form->remote().trackPath(), music + "3 c.mp3");
    EXPECT_TRUE(errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(
    AtStart, ResumeRound,
    ::testing::Values(Round{"PausedAfterPlaying",
                            "Paused",
                            Deck::Playing,
                            {"pauseAt 20000"},
                            Deck::Paused,
                            PlayerState::Paused,
                            {"pauseAt 10000"},
                            Deck::Paused},
                      Round{"PlayingAfterPlaying",
                            "Playing",
                            Deck::Playing,
                            {"seek 20000", "play"},
                            Deck::Playing,
                            PlayerState::Playing,
                            {"seek 10000", "play"},
                            Deck::Playing},
                      // What the user had paused stays paused; deck 2 plays on as asked.
                      Round{"PlayingAfterAPause",
                            "Playing",
                            Deck::Paused,
                            {"pauseAt 20000"},
                            Deck::Paused,
                            PlayerState::Paused,
                            {"seek 10000", "play"},
                            Deck::Playing}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ResumeTest, WhatIsKeptAtTheEndForEachDeckSituation) {
    const std::string music = makeFiles("music", {"1 a.mp3", "2 b.mp3"});
    const std::string single = makeFiles("other", {"x.mp3"}) + "x.mp3";
    struct Case {
        const char* name;
        std::function<void()> play;
        std::string deck1Folder, deck1Entry, deck1File, deck1Position, deck1Played;
        std::string deck2File, deck2Position;
    };
    const Case cases[] = {
        {"playlist, deck 2 empty", [&] { form->openPath(music); }, music, "1 a.mp3", "", "20.000",
         "Yes", "", "0.000"},
        {"single file after a playlist, deck 2 from it",
         [&] {
             form->openPath(music);
             doubleClick(1);
             playFileDialog.answer = single;
             ui().Command2->click();
         },
         "", "", single, "20.000", "Yes", music + "2 b.mp3", "10.000"},
        {"nothing", [] {}, "", "", "", "0.000", "No", "", "0.000"},
        {"a playlist whose folder gave nothing", [&] { form->openPath(dir.path().toStdString()); },
         "", "", "", "0.000", "No", "", "0.000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(settingsFile(), "[Resume]\nAtStart=Paused\n");
        restart();
        form->Form_Activate();
        c.play();
        if (!deck1.loaded.empty()) deck1.position = 20;
        if (!deck2.loaded.empty()) deck2.position = 10;
        end();
        EXPECT_EQ(stored("Deck1Folder"), c.deck1Folder);
        EXPECT_EQ(stored("Deck1Entry"), c.deck1Entry);
        EXPECT_EQ(stored("Deck1File"), c.deck1File);
        EXPECT_EQ(stored("Deck1Position"), c.deck1Position);
        EXPECT_EQ(stored("Deck1Played"), c.deck1Played);
        EXPECT_EQ(stored("Deck2File"), c.deck2File);
        EXPECT_EQ(stored("Deck2Position"), c.deck2Position);
    }
}

TEST_F(ResumeTest, AFreshStartTouchesNoDeckAndWritesNoPoint) {
    const std::string music = makeFiles("music", {"1 a.mp3"});
    writeFile(settingsFile(),
              "[Resume]\nDeck1Folder=" + music + "\nDeck1Entry=1 a.mp3\nDeck1Position=5\n");
    restart();
    form->resumeAtStart();
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_TRUE(deck2.calls.empty());
    EXPECT_EQ(ui().List4->count(), 0);
    form->openPath(music);
    deck1.position = 50;
    end();
    EXPECT_EQ(stored("Deck1Position"), "5");  // what was there stays as it was
    EXPECT_EQ(stored("AtStart"), "-");
}

TEST_F(ResumeTest, WhatIsGoneGivesOneLineAndTheRestComesBack) {
    const std::string music = makeFiles("music", {"1 a.mp3", "2 b.mp3"});
    const std::string other = makeFiles("other", {"x.mp3"});
    struct Case {
        const char* name;
        std::string deck1;  // the [Resume] lines for deck 1
        std::string deck2File;
        std::string line;     // the one error line holds it
        Names deck1Calls;     // what deck 1 is told
        int listed;           // the playlist's entries
        std::string current;  // the entry selected
        bool deck2Back;
    };
    const Case cases[] = {
        {"entry gone",
         "Deck1Folder=" + music + "\nDeck1Entry=9 z.mp3\n",
         other + "x.mp3",
         "9 z.mp3: it is no longer there",
         {},
         2,
         "1 a.mp3",
         true},
        {"folder gone",
         "Deck1Folder=" + music + "gone/\nDeck1Entry=1 a.mp3\n",
         other + "x.mp3",
         "Deck 1 not resumed: Cannot read the directory " + music + "gone/",
         {},
         0,
         "",
         true},
        {"single file gone",
         "Deck1File=" + other + "y.mp3\n",
         other + "x.mp3",
         "Deck 1 not resumed: " + other + "y.mp3: No such file",
         {},
         0,
         "",
         true},
        {"deck 2's file gone",
         "Deck1Folder=" + music + "\nDeck1Entry=2 b.mp3\n",
         other + "y.mp3",
         "Deck 2 not resumed: " + other + "y.mp3: No such file",
         {"setFileName " + music + "2 b.mp3", "pauseAt 7000"},
         2,
         "2 b.mp3",
         false},
        {"deck 2's file is a folder",
         "Deck1File=" + other + "x.mp3\n",
         music,
         "Deck 2 not resumed: " + music + ": not a file",
         {"setFileName " + other + "x.mp3", "pauseAt 7000"},
         0,
         other + "x.mp3",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(settingsFile(), "[Resume]\nAtStart=Paused\n" + c.deck1 +
                                      "Deck1Position=7\nDeck2File=" + c.deck2File +
                                      "\nDeck2Position=3\n");
        const size_t before = errors.count();
        restart();
        form->resumeAtStart();
        const Names all = errors.taken();
        const Names lines(all.begin() + long(before), all.end());
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.line), std::string::npos) << lines[0];
        EXPECT_EQ(deck1.transport(), c.deck1Calls);
        EXPECT_EQ(ui().List4->count(), c.listed);
        EXPECT_EQ(state().CurrentFile, c.current);
        if (c.listed > 0) {
            EXPECT_EQ(ui().List4->currentRow(), c.current == "1 a.mp3" ? 0 : 1);
        }
        if (c.deck2Back) {
            EXPECT_EQ(deck2.transport(), (Names{"setFileName " + c.deck2File, "pauseAt 3000"}));
            EXPECT_EQ(deck2.state, Deck::Paused);
        } else {
            EXPECT_TRUE(deck2.transport().empty());
        }
        // The word is deck 1's: a deck 2 that set it would have the watch start deck 1.
        EXPECT_EQ(state().playerState,
                  c.deck1Calls.empty() ? PlayerState::Stopped : PlayerState::Paused);
    }
}

// The real window on doubles, deck 1's folder on a disk that does not answer until told (or
// 20 s after it was mounted, and the test then fails).
class ResumeOnAHungDisk : public ResumeTest {
protected:
    bool mountHanging() {
        std::filesystem::create_directories(shared.file("hang folder"));
        for (const char* name : {"1 a.mp3", "2 b.mp3"})
            std::ofstream(shared.file("hang folder") + "/" + name) << "";
        mount = std::make_unique<HangingMount>(shared.path(), fuse.path());
        if (!mount->available()) return false;
        releaser = std::make_unique<MountWatchdog>(*mount);
        return true;
    }
    std::string hungFolder() const { return mount->path("hang folder") + "/"; }
    void storeHungPoint(const std::string& deck2File) {
        writeFile(settingsFile(), "[Resume]\nAtStart=Playing\nDeck1Folder=" + hungFolder() +
                                      "\nDeck1Entry=2 b.mp3\nDeck1Position=20.000\n"
                                      "Deck1Played=Yes\nDeck2File=" +
                                      deck2File + "\nDeck2Position=10.000\n");
    }

    TempDir shared, fuse;
    std::unique_ptr<HangingMount> mount;
    std::unique_ptr<MountWatchdog> releaser;  // goes first: lets the disk answer before it unmounts
};

TEST_F(ResumeOnAHungDisk, TheWindowGoesOnDeck2ComesBackAndAnEndKeepsDeck1sPoint) {
    if (!mountHanging()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string local = makeFiles("local", {"x.mp3"}) + "x.mp3";
    storeHungPoint(local);
    restart();
    form->resumeAtStart();
    ASSERT_TRUE(serveUntil([&] { return deck2.state == Deck::Playing; }, 10000));
    EXPECT_TRUE(mount->holds("hang folder"));
    EXPECT_FALSE(releaser->fired()) << "the window waited for the disk";
    EXPECT_TRUE(deck1.calls.empty());
    EXPECT_EQ(state().playerState, PlayerState::Stopped);  // deck 1's, still to come

    deck2.position = 42;
    end();
    EXPECT_FALSE(releaser->fired()) << "the end waited for the disk";
    EXPECT_EQ(stored("Deck1Folder"), hungFolder());
    EXPECT_EQ(stored("Deck1Entry"), "2 b.mp3");
    EXPECT_EQ(stored("Deck1Position"), "20.000");
    EXPECT_EQ(stored("Deck1Played"), "Yes");
    EXPECT_EQ(stored("Deck2Position"), "42.000");
}

TEST_F(ResumeOnAHungDisk, APathFromOutsideWinsOverAResumeStillUnderWay) {
    if (!mountHanging()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    const std::string other = makeFiles("other", {"y.mp3", "x.mp3"});
    storeHungPoint(other + "x.mp3");
    restart();
    form->resumeAtStart();
    ASSERT_TRUE(serveUntil([&] { return mount->holds("hang folder"); }, 10000));
    form->openPath(other);  // as a second start hands it over
    EXPECT_EQ(deck1.transport(), (Names{"setFileName " + other + "x.mp3", "play"}));

    releaser->releaseNow();
    // The listing answers now; its answer is dropped as it comes back.
    ASSERT_TRUE(serveUntil([&] { return !mount->holds("hang folder"); }, 10000));
    serveUntil([] { return false; }, 300);
    EXPECT_EQ(deck1.transport(), (Names{"setFileName " + other + "x.mp3", "play"}));
    EXPECT_EQ(state().PlaylistDir, other);
    EXPECT_EQ(ui().List4->count(), 2);
    deck1.position = 3;
    end();
    EXPECT_EQ(stored("Deck1Folder"), other);
    EXPECT_EQ(stored("Deck1Entry"), "x.mp3");
    EXPECT_EQ(stored("Deck1Position"), "3.000");
}

}  // namespace
