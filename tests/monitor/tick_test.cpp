#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "monitor/joystick_fader.h"
#include "monitor/label_tint.h"
#include "monitor/paint_pacer.h"
#include "monitor/time_text.h"
#include "playback/playlist_navigation.h"
#include "support/form1_fixture.h"

namespace {
using S = PlayerState;
}

TEST(TimeText, ElapsedTime) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {83.456, "00:01:23.456"},  {83.4, "00:01:23.400"},    {83.5, "00:01:23.500"},
        {12, "00:00:12.000"},      {59.5, "00:00:59.500"},    {3725.25, "01:02:05.250"},
        {0, "00:00:00.000"},       {-3, "00:00:00.000"},      {0.0004, "00:00:00.000"},
        {150.25, "00:02:30.250"},  {32767.5, "09:06:07.500"}, {400000.999, "111:06:40.999"},
        {59.9999, "00:00:59.999"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(elapsedTimeText(positionMilliseconds(c.seconds)).toStdString(), c.text)
            << c.seconds;
}

TEST(TimeText, ElapsedTimeAtTheEdges) {
    struct Case {
        int64_t milliseconds;
        const char* text;
    } cases[] = {
        {0, "00:00:00.000"},
        {-5, "00:00:00.000"},
        {359999999, "99:59:59.999"},
        {360000000, "100:00:00.000"},
        {INT64_MAX, "2562047788015:12:55.807"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(elapsedTimeText(c.milliseconds).toStdString(), c.text) << c.milliseconds;
}

TEST(TimeText, Percent) {
    struct Case {
        double position, length;
        int percent;
    } cases[] = {{83.456, 200, 42}, {83.4, 200, 42}, {12, 200, 6},   {0, 200, 0},
                 {150.25, 300, 50}, {1, 200, 0},     {5, 200, 2},    {7, 200, 4},
                 {250, 200, 100},   {-5, 200, 0},    {200, 200, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(progressPercent(c.position, c.length), c.percent)
            << c.position << "/" << c.length;
}

TEST(LabelTintColours, FollowTheVolumeBars) {
    struct Case {
        int v;
        unsigned time, fileName;
    } cases[] = {{0, 1023, 65535},   {16384, 973, 65485}, {164, 1022, 65534},
                 {163, 1023, 65535}, {32767, 923, 65435}, {491, 1022, 65533}};
    for (const auto& c : cases) {
        EXPECT_EQ(timeLabelTint(c.v), c.time) << c.v;
        EXPECT_EQ(fileNameLabelTint(c.v), c.fileName) << c.v;
    }
}

TEST(JoystickMapping, AxisToBarToVolume) {
    struct Case {
        int32_t axis;
        int bar, volume;
    } cases[] = {{0, 32767, -10000},  {8191, 24576, -5625}, {16383, 16384, -2500},
                 {24575, 8192, -625}, {32766, 1, 0},        {32767, 0, 0},
                 {65535, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(axisToBarPosition(c.axis), c.bar) << c.axis;
        EXPECT_EQ(joystickVolume(c.bar), c.volume) << c.axis;
    }
    EXPECT_EQ(joystickVolume(32699), -9959);
}

class TickTest : public Form1Fixture {
protected:
    std::string music;
    void SetUp() override {
        make();
        music = makeFiles("music", {"1 a.mp3", "2 b.mp3", "3 c.mp3"});
        playDirDialog.answer = music + "1 a.mp3";
    }
    void playDir() { QTest::mouseClick(ui().Command6, Qt::LeftButton); }
};

TEST_F(TickTest, WatchAdvancesOnlyWhilePlaying) {
    struct Case {
        S word;
        int deckState;
        bool advances;
    } cases[] = {
        {S::Playing, 2, false}, {S::Playing, 0, true}, {S::Playing, 1, true},
        {S::Paused, 0, false},  {S::Paused, 2, false}, {S::Stopped, 0, false},
        {S::Stopped, 1, false}, {S::Pstart, 0, false},
    };
    playDir();
    for (const auto& c : cases) {
        state().playerState = c.word;
        state().TrackNumber = 1;
        deck1.state = c.deckState;
        deck1.calls.clear();
        form->Timer1_Timer();
        EXPECT_EQ(state().TrackNumber, c.advances ? 2 : 1);
        EXPECT_EQ(!deck1.transport().empty(), c.advances);
        if (c.advances) {
            EXPECT_EQ(deck1.transport(),
                      (std::vector<std::string>{"setFileName " + music + "2 b.mp3", "play"}));
            EXPECT_EQ(state().playerState, S::Playing);
        }
    }
}

TEST_F(TickTest, PlaylistRepeatsAfterTheLastEntry) {
    playDir();
    std::vector<std::string> started;
    for (int i = 0; i < 4; ++i) {
        deck1.state = Deck::Stopped;  // the track ended
        form->Timer1_Timer();
        started.push_back(state().CurrentFile);
        form->Timer1_Timer();  // still playing: nothing more
    }
    EXPECT_EQ(started, (std::vector<std::string>{"2 b.mp3", "3 c.mp3", "1 a.mp3", "2 b.mp3"}));
}

TEST_F(TickTest, BrokenPlaylistStopsAfterOnePass) {
    deck1.opens = false;
    playDir();
    for (int i = 0; i < 10; ++i) form->Timer1_Timer();
    EXPECT_EQ(state().playerState, S::Stopped);
    size_t starts = 0;
    for (const auto& c : deck1.calls) starts += c == "play";
    EXPECT_EQ(starts, 4u);  // "Play Dir" and one pass of the watch
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("playback stopped"), std::string::npos);
}

// A stop ends a run of failures: after a new start the watch still tries a whole pass, and
// reaches the one entry that plays.
TEST_F(TickTest, FailureCountStartsAfreshAfterAStop) {
    const std::string list =
        makeFiles("mostly broken", {"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3", "6.mp3"});
    for (const char* b : {"1", "2", "3", "4", "5"}) deck1.unplayable.push_back(list + b + ".mp3");
    playDirDialog.answer = list + "1.mp3";
    struct Case {
        QPushButton* Form1Controls::*pause;  // "Stop" or "II" between the two starts
        int ticksBefore;
    } cases[] = {{&Form1Controls::Command3, 3},
                 {&Form1Controls::Command3, 4},
                 {&Form1Controls::Command4, 3}};
    for (const auto& c : cases) {
        playDir();
        for (int i = 0; i < c.ticksBefore; ++i) form->Timer1_Timer();
        QTest::mouseClick(ui().*c.pause, Qt::LeftButton);
        form->Timer1_Timer();
        playDir();
        for (int i = 0; i < 6; ++i) form->Timer1_Timer();
        EXPECT_EQ(state().playerState, S::Playing) << c.ticksBefore;
        EXPECT_EQ(state().TrackNumber, 6) << c.ticksBefore;
        EXPECT_TRUE(errors.taken().empty());
        QTest::mouseClick(ui().Command3, Qt::LeftButton);
        form->Timer1_Timer();
    }
}

TEST_F(TickTest, TicksGoOnWhileTheDialogIsOpen) {
    playDir();
    deck1.calls.clear();
    playFileDialog.answer = "/elsewhere/solo.mp3";
    playFileDialog.duringShow = [&] {
        deck1.state = Deck::Stopped;  // the playlist's track ends meanwhile
        form->Timer1_Timer();
        EXPECT_EQ(state().CurrentFile, "2 b.mp3");
    };
    QTest::mouseClick(ui().Command2, Qt::LeftButton);
    EXPECT_EQ(state().CurrentFile, "/elsewhere/solo.mp3");
    EXPECT_EQ(deck1.transport(),
              (std::vector<std::string>{"setFileName " + music + "2 b.mp3", "play",
                                        "setFileName /elsewhere/solo.mp3", "play"}));
    // The word stayed "Playing": when the file ends the playlist goes on after track 2.
    deck1.state = Deck::Stopped;
    form->Timer1_Timer();
    EXPECT_EQ(state().CurrentFile, "3 c.mp3");
}

TEST_F(TickTest, DisplaysShowBothDecks) {
    deck1.length = 200;
    deck1.position = 83.456;
    deck1.state = Deck::Playing;
    deck2.length = 300;
    deck2.position = 150.25;
    form->Timer1_Timer();
    EXPECT_EQ(ui().Slider1->value(), 42);
    EXPECT_EQ(text(ui().Label13), "42%");
    EXPECT_EQ(text(ui().Label15), "00:01:23.456");
    EXPECT_EQ(ui().Slider2->value(), 50);
    EXPECT_EQ(text(ui().Label12), "50%");
    EXPECT_EQ(text(ui().Label10), "00:02:30.250");
    EXPECT_EQ(text(ui().Label22), "Player busy ? : ??? not yet");

    // A deck with no known length keeps its displays.
    deck1.length = 0;
    deck1.position = 5;
    ui().Slider1->setValue(7);  // dragged by hand
    form->Timer1_Timer();
    EXPECT_EQ(text(ui().Label15), "00:01:23.456");
    EXPECT_EQ(ui().Slider1->value(), 7);
    deck1.length = 200;
    form->Timer1_Timer();
    EXPECT_EQ(ui().Slider1->value(), 2);
    EXPECT_EQ(text(ui().Label13), "2%");

    // Beyond the end the slider stays at 100.
    deck2.position = 400;
    form->Timer1_Timer();
    EXPECT_EQ(text(ui().Label12), "100%");
}

TEST_F(TickTest, TintFollowsTheDeckBars) {
    ui().VScroll5->setValue(16384);
    ui().VScroll6->setValue(164);
    form->Timer1_Timer();
    auto colour = [](const QLabel* l) { return l->palette().color(QPalette::WindowText); };
    EXPECT_EQ(colour(ui().Label15), QColor(973 & 0xff, 973 >> 8, 0));
    EXPECT_EQ(colour(ui().Label2), QColor(65485 & 0xff, 255, 0));
    EXPECT_EQ(colour(ui().Label10), QColor(1022 & 0xff, 3, 0));
    EXPECT_EQ(colour(ui().Label11), QColor(254, 255, 0));
}

class JoystickStep : public Form1Fixture {
protected:
    void SetUp() override {
        make();
        ui().Check1->setCheckState(Qt::Checked);
    }
};

TEST_F(JoystickStep, AxesDriveBarsAndVolumes) {
    joystick.present = true;
    joystick.x = 0;
    joystick.y = 16383;
    form->Timer1_Timer();
    EXPECT_EQ(ui().VScroll6->value(), 32767);
    EXPECT_EQ(ui().VScroll5->value(), 16384);
    EXPECT_EQ(deck2.volume, -10000);
    EXPECT_EQ(deck1.volume, -2500);

    // Grayed or unchecked: not read at all; bars stay where the stick left them.
    for (Qt::CheckState s : {Qt::PartiallyChecked, Qt::Unchecked}) {
        ui().Check1->setTristate(true);
        ui().Check1->setCheckState(s);
        const int reads = joystick.reads;
        joystick.y = 32767;
        form->Timer1_Timer();
        EXPECT_EQ(joystick.reads, reads);
        EXPECT_EQ(ui().VScroll5->value(), 16384);
    }
}

TEST_F(JoystickStep, MissingJoystickLeavesVolumesAndSaysSoOnce) {
    ui().VScroll5->setValue(100);
    for (int i = 0; i < 5; ++i) form->Timer1_Timer();
    EXPECT_EQ(ui().VScroll5->value(), 100);
    EXPECT_EQ(ui().VScroll6->value(), 0);
    EXPECT_TRUE(deck1.calls.empty());
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("no joystick"), std::string::npos);
}

TEST_F(JoystickStep, ButtonsActOncePerPress) {
    const std::string music = makeFiles("music", {"1 a.mp3", "2 b.mp3", "3 c.mp3"});
    playDirDialog.answer = music + "1 a.mp3";
    QTest::mouseClick(ui().Command6, Qt::LeftButton);
    joystick.present = true;

    joystick.buttons = 1;  // next entry, held for three ticks
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(state().TrackNumber, 2);
    EXPECT_EQ(state().playerState, S::Playing);

    joystick.buttons = 0;
    form->Timer1_Timer();
    joystick.buttons = 2;  // while playing: stop
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(state().playerState, S::Stopped);
    EXPECT_EQ(deck1.transport().back(), "stop");
    EXPECT_EQ(state().TrackNumber, 2);

    joystick.buttons = 0;
    form->Timer1_Timer();
    joystick.buttons = 2;  // while stopped: back one entry, not played
    form->Timer1_Timer();
    EXPECT_EQ(state().TrackNumber, 1);
    EXPECT_EQ(deck1.transport().back(), "setFileName " + music + "1 a.mp3");

    joystick.buttons = 0;
    form->Timer1_Timer();
    joystick.buttons = 1;  // while stopped: start the current entry
    form->Timer1_Timer();
    EXPECT_EQ(deck1.transport().back(), "play");
    EXPECT_EQ(state().playerState, S::Playing);
    EXPECT_EQ(state().TrackNumber, 1);
}

TEST_F(JoystickStep, NextButtonOnAPlaylistThatCannotPlayStopsOnce) {
    const std::string music = makeFiles("music", {"1 a.mp3", "2 b.mp3"});
    playDirDialog.answer = music + "1 a.mp3";
    QTest::mouseClick(ui().Command6, Qt::LeftButton);
    deck1.unplayable = {music + "1 a.mp3", music + "2 b.mp3"};
    joystick.present = true;
    joystick.buttons = 1;
    deck1.calls.clear();
    form->Timer1_Timer();
    EXPECT_EQ(state().playerState, S::Stopped);
    size_t starts = 0;
    for (const auto& c : deck1.calls) starts += c == "play";
    EXPECT_EQ(starts, 2u);  // one pass, not the current entry once more
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_EQ(errors.taken()[0], PlaylistNavigation::kNothingPlayable);
}

// Near the end of a track that the watch is going to follow, it tells deck 1 which file the
// next-file step will give it.
TEST_F(TickTest, TheWatchCuesTheNextEntryNearTheEndOfAPlayingTrack) {
    playDir();
    struct Case {
        const char* name;
        S word;
        int deckState;
        double length, position;
        int trackNumber;
        const char* cue;  // nullptr: none
        double crossfade = 0;
    } cases[] = {
        {"near the end", S::Playing, Deck::Playing, 100, 98, 1, "2 b.mp3"},
        {"the last entry: the first", S::Playing, Deck::Playing, 100, 99.5, 3, "1 a.mp3"},
        {"a short track", S::Playing, Deck::Playing, 1.5, 0, 2, "3 c.mp3"},
        {"too early", S::Playing, Deck::Playing, 100, 90, 1, nullptr},
        {"length unknown", S::Playing, Deck::Playing, 0, 0, 1, nullptr},
        {"paused", S::Paused, Deck::Playing, 100, 98, 1, nullptr},
        {"stopped", S::Stopped, Deck::Playing, 100, 98, 1, nullptr},
        // A crossfade starts the next entry earlier: its open is asked as much earlier.
        {"crossfade 8 s, 10 s left", S::Playing, Deck::Playing, 100, 90, 1, "2 b.mp3", 8},
        {"crossfade 4 s, 10 s left", S::Playing, Deck::Playing, 100, 90, 1, nullptr, 4},
    };
    for (const auto& c : cases) {
        state().playerState = c.word;
        state().TrackNumber = c.trackNumber;
        deck1.state = c.deckState;
        deck1.length = c.length;
        deck1.position = c.position;
        deck1.crossfadeSeconds = c.crossfade;
        deck1.cues.clear();
        deck1.calls.clear();
        form->Timer1_Timer();
        const std::vector<std::string> expected =
            c.cue ? std::vector<std::string>{music + c.cue} : std::vector<std::string>{};
        EXPECT_EQ(deck1.cues, expected) << c.name;
        EXPECT_TRUE(deck1.transport().empty()) << c.name;  // nothing else is done to the deck
    }
}

TEST_F(TickTest, TheNextFileStepLoadsWhatWasCued) {
    playDir();
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

namespace {
// Counts the paints a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};
}  // namespace

// Deck 1's clock runs for 60 ticks (600 ms): its label reads the position after every tick,
// but is painted at the pacer's pace at most, and never while the window is minimized.
TEST_F(TickTest, TheClockIsSetEveryTickAndPaintedAtTheScreensPace) {
    struct Case {
        const char* what;
        bool minimized;
        int fewestPaints, mostPaints;
    } cases[] = {
        {"shown", false, 10, 60 / PaintPacer::kTicksPerPaint + 1},
        {"minimized", true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        make();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ui().Timer1->stop();  // the test ticks by hand
        if (c.minimized) form->showMinimized();
        QTest::qWait(50);
        deck1.state = Deck::Playing;
        deck1.length = 100;
        PaintCounter counter(ui().Label15);
        for (int tick = 1; tick <= 60; ++tick) {
            deck1.position = tick * 0.01;
            form->Timer1_Timer();
            EXPECT_EQ(ui().Label15->text(), elapsedTimeText(positionMilliseconds(tick * 0.01)))
                << "tick " << tick;
            QCoreApplication::processEvents();
        }
        QTest::qWait(20);
        EXPECT_GE(counter.paints, c.fewestPaints);
        EXPECT_LE(counter.paints, c.mostPaints);
        form.reset();
    }
}
