// The real window with the real decks on the private PulseAudio, ended while both decks play
// and started again with a resume chosen: each deck is back where it was, paused in silence or
// heard from there. Deck 1's entry and deck 2's file are sweeps, so the frequency heard tells
// where in its file each one is.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "app/form1.h"
#include "app/remote_control.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/audio_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "support/sink_recorder.h"
#include "support/sweep.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

constexpr int kRate = SinkRecorder::kRate;
constexpr double kSweepSeconds = 40;                // longer than the test: no deck reaches its end
constexpr double kLowFrom = 300, kLowTo = 700;      // deck 1's third entry
constexpr double kHighFrom = 1500, kHighTo = 2300;  // deck 2's file
constexpr double kDeck1At = 20, kDeck2At = 10;

// Serves the window's events (its tick among them) until `condition` holds, or a guard
// against a hang has passed.
template <typename Condition>
bool waitFor(Condition condition, int milliseconds) {
    for (int waited = 0; !condition(); waited += 20) {
        if (waited > milliseconds) return false;
        QTest::qWait(20);
    }
    return true;
}

class ResumeEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SinkRecorder::available()) GTEST_SKIP() << "no private PulseAudio (PULSE_SERVER)";
        ToneOptions options;
        options.amplitude = 0.3;
        makeToneMp3(music.path(), "1 a.mp3", 440, 2, options);
        makeToneMp3(music.path(), "2 b.mp3", 1000, 2, options);
        low = makeSweepMp3(music.path(), "3 c.mp3", kLowFrom, kLowTo, kSweepSeconds, options);
        high = makeSweepMp3(music.path(), "4 d.mp3", kHighFrom, kHighTo, kSweepSeconds, options);
    }
    void TearDown() override { endPlayer(); }
    // The player as main wires it: a fresh output and fresh decks, as a new process has them.
    void startPlayer() {
        output = chooseAudioOutput(errors);
        deck1 = std::make_unique<Mp3Deck>(*output, errors, "Deck 1");
        deck2 = std::make_unique<Mp3Deck>(*output, errors, "Deck 2");
        form = std::make_unique<Form1>(
            Components{*deck1, *deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
            settingsFile());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void endPlayer() {
        form.reset();
        deck1.reset();
        deck2.reset();
        output.reset();
    }
    std::string settingsFile() const { return music.file("velmor-mp3-player.ini"); }
    void doubleClickEntry(int row) {
        QListWidget* list = form->controls().List4;
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    // Deck 1 on the third entry at 0:20 and deck 2 on the fourth at 0:10, both playing; then
    // the window is closed. Where each deck was just before it closed.
    std::pair<double, double> playAndClose(const char* atStart) {
        std::ofstream(settingsFile()) << "[Resume]\nAtStart=" << atStart << "\n";
        startPlayer();
        playDirDialog.answer = music.file("1 a.mp3");
        QTest::mouseClick(form->controls().Command6, Qt::LeftButton);
        QTest::mouseClick(form->controls().Command10, Qt::LeftButton);
        QTest::mouseClick(form->controls().Command10, Qt::LeftButton);
        EXPECT_EQ(deck1->fileName(), "3 c.mp3");
        doubleClickEntry(3);
        EXPECT_EQ(deck2->fileName(), "4 d.mp3");
        deck1->seek(kDeck1At);
        deck2->seek(kDeck2At);
        EXPECT_TRUE(waitFor([&] { return deck1->currentPosition() > kDeck1At; }, 5000));
        EXPECT_EQ(deck1->playState(), Deck::Playing);
        EXPECT_EQ(deck2->playState(), Deck::Playing);
        const std::pair<double, double> at{deck1->currentPosition(), deck2->currentPosition()};
        form->close();
        endPlayer();
        return at;
    }
    double storedPosition(int deck) {
        std::ifstream in(settingsFile());
        const std::string key = "Deck" + std::to_string(deck) + "Position=";
        for (std::string line; std::getline(in, line);)
            if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size()));
        return -1;
    }

    RecordingErrorSink errors;
    FakeMixer mixer;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    TempDir music;
    std::string low, high;
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<Mp3Deck> deck1, deck2;
    std::unique_ptr<Form1> form;
};

}  // namespace

TEST_F(ResumeEndToEnd, ResumePausedPutsBothDecksBackSilentWhereTheyWere) {
    const auto [at1, at2] = playAndClose("Paused");
    const double kept1 = storedPosition(1), kept2 = storedPosition(2);
    EXPECT_NEAR(kept1, at1, 0.05);
    EXPECT_NEAR(kept2, at2, 0.05);

    startPlayer();
    SinkRecorder recorder;
    form->resumeAtStart();
    ASSERT_EQ(deck1->playState(), Deck::Paused);
    ASSERT_EQ(deck2->playState(), Deck::Paused);
    EXPECT_EQ(form->state().playerState, PlayerState::Paused);
    EXPECT_EQ(form->state().CurrentFile, "3 c.mp3");
    EXPECT_EQ(form->controls().List4->currentRow(), 2);
    EXPECT_EQ(deck1->fileName(), "3 c.mp3");
    EXPECT_EQ(deck2->fileName(), "4 d.mp3");
    EXPECT_NEAR(deck1->currentPosition(), at1, 0.1);
    EXPECT_NEAR(deck2->currentPosition(), at2, 0.1);
    EXPECT_EQ(form->remote().status(), RemoteControl::Status::Paused);
    EXPECT_NEAR(form->remote().position(), kept1, 0.001);

    // Ticks go on; nothing sounds and nothing moves.
    QTest::qWait(600);
    const std::vector<float> left = channelOf(recorder.stop(), SinkRecorder::kChannels, 0);
    EXPECT_LT(rms(left), 0.001);
    EXPECT_NEAR(deck1->currentPosition(), kept1, 0.001);
    EXPECT_NEAR(deck2->currentPosition(), kept2, 0.001);

    // "II" goes on from there.
    SinkRecorder after;
    QTest::mouseClick(form->controls().Command4, Qt::LeftButton);
    EXPECT_EQ(deck1->playState(), Deck::Playing);
    std::optional<std::size_t> start;
    ASSERT_TRUE(waitFor([&] { return (start = after.firstAbove(0, 0.05f)).has_value(); }, 5000));
    ASSERT_TRUE(waitFor([&] { return after.frames() > *start + kRate / 2; }, 5000));
    const std::vector<float> heard = channelOf(after.stop(), SinkRecorder::kChannels, 0);
    const Sweep sweep1(low, kLowFrom, kLowTo);
    EXPECT_TRUE(sweep1.soundsAt(
        std::span<const float>(heard.data() + *start + kRate / 10, kRate / 5), kept1 + 0.2, 0.5));
    EXPECT_TRUE(errors.taken().empty()) << errors.taken().front();
}

TEST_F(ResumeEndToEnd, ResumePlayingIsHeardFromWhereEachDeckWas) {
    const auto [at1, at2] = playAndClose("Playing");
    const double kept1 = storedPosition(1), kept2 = storedPosition(2);
    EXPECT_NEAR(kept1, at1, 0.05);
    EXPECT_NEAR(kept2, at2, 0.05);

    startPlayer();
    SinkRecorder recorder;
    const auto asked = SinkRecorder::Clock::now();
    form->resumeAtStart();
    EXPECT_EQ(deck1->playState(), Deck::Playing);
    EXPECT_EQ(deck2->playState(), Deck::Playing);
    EXPECT_EQ(form->state().playerState, PlayerState::Playing);
    // Playing already, so each clock has moved on by however long the start took on a busy
    // machine: where they went on from is judged by the sweep heard, below.
    EXPECT_GE(deck1->currentPosition(), at1 - 0.1);
    EXPECT_GE(deck2->currentPosition(), at2 - 0.1);
    std::optional<std::size_t> first;
    ASSERT_TRUE(waitFor([&] { return (first = recorder.firstAbove(0, 0.05f)).has_value(); }, 5000));
    const auto heardAfter =
        std::chrono::duration<double, std::milli>(recorder.timeOf(*first) - asked);
    std::printf("resume playing: first sound at the sink %.0f ms after the resume began\n",
                heardAfter.count());
    ASSERT_TRUE(waitFor([&] { return recorder.frames() > *first + kRate; }, 5000));
    const std::vector<float> left = channelOf(recorder.stop(), SinkRecorder::kChannels, 0);

    // The first sound is where each deck was, not the start of its file.
    const std::span<const float> opening(left.data() + *first + kRate / 10, kRate / 5);
    const Sweep sweep1(low, kLowFrom, kLowTo), sweep2(high, kHighFrom, kHighTo);
    EXPECT_TRUE(sweep1.soundsAt(opening, kept1 + 0.2, 0.5));
    EXPECT_TRUE(sweep2.soundsAt(opening, kept2 + 0.2, 0.5));
    EXPECT_GT(deck1->currentPosition(), kept1);
    EXPECT_EQ(form->remote().status(), RemoteControl::Status::Playing);
    EXPECT_TRUE(errors.taken().empty()) << errors.taken().front();
}
