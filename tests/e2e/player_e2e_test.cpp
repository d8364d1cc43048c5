// The real window with the real decks, playing into the private PulseAudio's null sink, whose
// monitor is recorded: each track is a tone of its own, so the recording tells which played.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <memory>

#include "app/form1.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/audio_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "sound_measures.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

constexpr double kTones[] = {440, 660, 880};

// The strongest of the three tones in each quarter second, runs of the same one merged.
std::vector<double> toneSequence(const std::vector<float>& recording) {
    const std::vector<float> left = channelOf(recording, SinkRecorder::kChannels, 0);
    const size_t window = SinkRecorder::kRate / 4;
    std::vector<double> sequence;
    for (size_t start = 0; start + window <= left.size(); start += window) {
        std::span<const float> part(left.data() + start, window);
        double best = 0, bestAmplitude = 0.05;  // below this the window is silence
        for (double f : kTones) {
            const double a = toneAmplitude(part, SinkRecorder::kRate, f);
            if (a > bestAmplitude) {
                best = f;
                bestAmplitude = a;
            }
        }
        if (best != 0 && (sequence.empty() || sequence.back() != best)) sequence.push_back(best);
    }
    return sequence;
}

class EndToEndPulse : public ::testing::Test {
protected:
    RecordingErrorSink errors;
    FakeMixer mixer;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    TempDir music;
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<Mp3Deck> deck1, deck2;
    std::unique_ptr<Form1> form;

    void SetUp() override {
        if (!SinkRecorder::available()) GTEST_SKIP() << "no private PulseAudio (PULSE_SERVER)";
        output = chooseAudioOutput(errors);  // as the program does: the server's own streams
        deck1 = std::make_unique<Mp3Deck>(*output, errors, "Deck 1");
        deck2 = std::make_unique<Mp3Deck>(*output, errors, "Deck 2");
    }
    void TearDown() override {
        form.reset();
        deck1.reset();
        deck2.reset();
        output.reset();
    }
    void makeTracks(double seconds) {
        ToneOptions options;
        options.amplitude = 0.3;
        makeToneMp3(music.path(), "1 low.mp3", kTones[0], seconds, options);
        makeToneMp3(music.path(), "2 mid.mp3", kTones[1], seconds, options);
        makeToneMp3(music.path(), "10 high.mp3", kTones[2], seconds, options);
    }
    void openWindow() {
        form = std::make_unique<Form1>(
            Components{*deck1, *deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
            music.file("velmor-mp3-player.ini"));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void playDir() {
        playDirDialog.answer = music.file("1 low.mp3");
        QTest::mouseClick(form->controls().Command6, Qt::LeftButton);
    }
};

}  // namespace

TEST_F(EndToEndPulse, PlayDirPlaysTheTracksInOrderAndWraps) {
    makeTracks(1.0);
    openWindow();
    SinkRecorder recorder;
    playDir();
    QTest::qWait(3600);
    const std::vector<float> recording = recorder.stop();
    EXPECT_TRUE(errors.taken().empty()) << errors.taken().front();

    const std::vector<double> sequence = toneSequence(recording);
    ASSERT_GE(sequence.size(), 4u);
    EXPECT_EQ(sequence[0], 440);
    EXPECT_EQ(sequence[1], 660);
    EXPECT_EQ(sequence[2], 880);
    EXPECT_EQ(sequence[3], 440);  // after the last entry, the first again
    EXPECT_EQ(form->state().playerState, PlayerState::Playing);
    // Gapless within the deck's stream: no silence where one track gives way to the next.
    const std::vector<float> left = channelOf(recording, SinkRecorder::kChannels, 0);
    const ToneSequence heard = measureToneSequence(left, SinkRecorder::kRate, kTones);
    ASSERT_GE(heard.joins.size(), 2u);
    for (const Join& join : heard.joins)
        EXPECT_LT(join.silenceMs, 1.0) << join.fromHz << " -> " << join.toHz;
}

TEST_F(EndToEndPulse, DoubleClickStartsDeckTwoBesideDeckOne) {
    makeTracks(4.0);
    openWindow();
    playDir();
    QTest::qWait(300);

    // The third entry goes to deck 2 while deck 1 plays the first.
    QListWidget* list = form->controls().List4;
    const QRect r = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_EQ(deck2->playState(), Deck::Playing);
    deck2->setVolume(-600);  // half the amplitude

    QTest::qWait(200);
    SinkRecorder recorder;
    QTest::qWait(1500);
    const std::vector<float> recording = recorder.stop();
    const std::vector<float> left = channelOf(recording, SinkRecorder::kChannels, 0);
    EXPECT_NEAR(medianOverWindows(left, SinkRecorder::kRate, 440), 0.3, 0.05);
    EXPECT_NEAR(medianOverWindows(left, SinkRecorder::kRate, 880, 440), 0.5, 0.06);
    EXPECT_LT(toneAmplitude(left, SinkRecorder::kRate, 660), 0.02);
    EXPECT_EQ(form->state().NextDeck, 1);
}

TEST_F(EndToEndPulse, StopSilencesDeckOneAndNothingAdvances) {
    makeTracks(1.0);
    openWindow();
    playDir();
    QTest::qWait(400);
    QTest::mouseClick(form->controls().Command3, Qt::LeftButton);
    QTest::qWait(150);
    SinkRecorder recorder;
    QTest::qWait(1500);  // longer than what was left of the track
    const std::vector<float> recording = recorder.stop();
    // The monitor hands over what it had buffered first: judge from 100 ms on.
    const std::vector<float> left = channelOf(recording, SinkRecorder::kChannels, 0);
    ASSERT_GT(left.size(), size_t(SinkRecorder::kRate));
    const std::span<const float> after(left.data() + SinkRecorder::kRate / 10,
                                       left.size() - SinkRecorder::kRate / 10);
    EXPECT_LT(rms(after), 0.002);
    EXPECT_EQ(endOfSound(after, 0.01f), 0u);
    EXPECT_EQ(form->state().playerState, PlayerState::Stopped);
    EXPECT_EQ(form->state().TrackNumber, 1);
    EXPECT_EQ(form->state().CurrentFile, "1 low.mp3");
    EXPECT_EQ(deck1->playState(), Deck::Stopped);
}

// A name that is not UTF-8 (Latin-1 "b\xF6.mp3") between two others: the watch's next-file
// step reaches it by its bytes and it is heard in its place.
TEST_F(EndToEndPulse, EntryWhoseNameIsNotUtf8IsHeard) {
    ToneOptions options;
    options.amplitude = 0.3;
    makeToneMp3(music.path(), "a.mp3", kTones[0], 0.8, options);
    makeToneMp3(music.path(), "b.mp3", kTones[1], 0.8, options);
    ASSERT_EQ(std::rename(music.file("b.mp3").c_str(), music.file("b\xF6.mp3").c_str()), 0);
    makeToneMp3(music.path(), "c.mp3", kTones[2], 0.8, options);
    openWindow();
    SinkRecorder recorder;
    playDirDialog.answer = music.file("a.mp3");
    QTest::mouseClick(form->controls().Command6, Qt::LeftButton);
    QTest::qWait(2800);
    const std::vector<float> recording = recorder.stop();
    EXPECT_TRUE(errors.taken().empty()) << errors.taken().front();

    const std::vector<double> sequence = toneSequence(recording);
    ASSERT_GE(sequence.size(), 3u);
    EXPECT_EQ(sequence[0], 440);
    EXPECT_EQ(sequence[1], 660);
    EXPECT_EQ(sequence[2], 880);
}

// "<<" from the last entry onto an empty file: one line for that entry, and the step goes on
// to the first entry, which plays; the watch leaves it there.
TEST_F(EndToEndPulse, BackStepGetsPastAnEntryThatDoesNotStart) {
    ToneOptions options;
    options.amplitude = 0.3;
    makeToneMp3(music.path(), "1 a.mp3", kTones[0], 2.0, options);
    std::fclose(std::fopen(music.file("2 empty.mp3").c_str(), "w"));
    makeToneMp3(music.path(), "3 c.mp3", kTones[2], 2.0, options);
    openWindow();
    playDir();
    QTest::mouseClick(form->controls().Command11, Qt::LeftButton);  // to entry 3
    ASSERT_EQ(form->state().TrackNumber, 3);
    QTest::mouseClick(form->controls().Command11, Qt::LeftButton);
    EXPECT_EQ(form->state().TrackNumber, 1);
    EXPECT_EQ(deck1->playState(), Deck::Playing);
    QTest::qWait(300);
    EXPECT_EQ(form->state().TrackNumber, 1);
    EXPECT_EQ(form->state().playerState, PlayerState::Playing);
    const std::vector<std::string> lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("2 empty.mp3"), std::string::npos) << lines[0];
}
