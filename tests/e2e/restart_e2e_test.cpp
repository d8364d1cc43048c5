// The real window with the real decks and mixer on a sound server of the test's own, which
// goes away while both decks play and comes back.
// Each deck plays a sweep, so the frequency heard tells where in its file it is.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/audio_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "shared/shared_state.h"
#include "support/own_pulse_server.h"
#include "support/scoped_env.h"
#include "support/scroll_drag.h"
#include "support/shell_command.h"
#include "support/sink_recorder.h"
#include "support/sweep.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

constexpr int kRate = SinkRecorder::kRate;
constexpr double kSweepSeconds = 12;  // longer than the test: no deck reaches its end
// Deck 1's sweep and deck 2's, far enough apart to be told apart in one recording.
constexpr double kLowFrom = 300, kLowTo = 700;
constexpr double kHighFrom = 1500, kHighTo = 2300;

template <typename Condition>
bool waitFor(Condition condition, int milliseconds) {
    for (int waited = 0; !condition(); waited += 20) {
        if (waited > milliseconds) return false;
        QTest::qWait(20);
    }
    return true;
}

class ServerRestartEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // ALSA's "default" reaches a PulseAudio server (ours) under the test script's
        // PulseAudio pass only; the PipeWire pass routes it to PipeWire.
        if (!underTestScript || std::getenv("ALSA_CONFIG_PATH"))
            GTEST_SKIP() << "needs ALSA's default on PulseAudio (scripts/private_pulse.sh)";
        ToneOptions options;
        options.amplitude = 0.3;
        low = makeSweepMp3(music.path(), "1 low.mp3", kLowFrom, kLowTo, kSweepSeconds, options);
        makeToneMp3(music.path(), "2 plain.mp3", 1000, 2, options);
        high = makeSweepMp3(music.path(), "3 high.mp3", kHighFrom, kHighTo, kSweepSeconds, options);
    }
    void TearDown() override {
        form.reset();
        deck1.reset();
        deck2.reset();
        mixer.reset();
        output.reset();
    }
    // The player, as main wires it, on whatever server is there now.
    void startPlayer() {
        output = chooseAudioOutput(errors);
        deck1 = std::make_unique<Mp3Deck>(*output, errors, "Deck 1");
        deck2 = std::make_unique<Mp3Deck>(*output, errors, "Deck 2");
        mixer = std::make_unique<AlsaMixer>(errors, std::vector<std::string>{"default"});
        form = std::make_unique<Form1>(
            Components{*deck1, *deck2, *mixer, playFileDialog, playDirDialog, joystick, errors},
            music.file("velmor-mp3-player.ini"));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void playDir() {
        playDirDialog.answer = low;
        QTest::mouseClick(form->controls().Command6, Qt::LeftButton);
    }
    void doubleClickEntry(int row) {
        QListWidget* list = form->controls().List4;
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }

    const bool underTestScript = SinkRecorder::available();  // before PULSE_SERVER is ours
    TempDir music;
    TempDir runtime;
    OwnPulseServer server{runtime.path()};
    ScopedEnv driver{"SDL_AUDIODRIVER", "pulseaudio"};
    ScopedEnv address{"PULSE_SERVER", server.address()};
    std::string low, high;
    RecordingErrorSink errors;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<Mp3Deck> deck1, deck2;
    std::unique_ptr<AlsaMixer> mixer;
    std::unique_ptr<Form1> form;
};

}  // namespace

TEST_F(ServerRestartEndToEnd, BothDecksComeBackWhereTheyStoppedAndTheMasterWorksAgain) {
    ASSERT_TRUE(server.start());
    startPlayer();
    ASSERT_NE(form->state().MasterVolumeDevice, 0);
    playDir();
    doubleClickEntry(2);
    ASSERT_EQ(deck2->playState(), Deck::Playing);
    ASSERT_TRUE(waitFor([&] { return deck1->currentPosition() > 2.0; }, 6000));
    const int track = form->state().TrackNumber;
    const std::string entry = form->state().CurrentFile;

    server.kill();
    ASSERT_TRUE(waitFor([&] { return !errors.taken().empty(); }, 3000));
    const double stopped1 = deck1->currentPosition();
    const double stopped2 = deck2->currentPosition();
    QTest::qWait(1500);  // ticks go on; the watch must not take the silence for an end
    EXPECT_EQ(deck1->playState(), Deck::Playing);
    // Still (the deck goes on from where it was heard: a frame of the file, within 1 ms).
    EXPECT_NEAR(deck1->currentPosition(), stopped1, 0.001);
    EXPECT_EQ(form->state().playerState, PlayerState::Playing);
    EXPECT_EQ(form->state().TrackNumber, track);
    EXPECT_EQ(form->state().CurrentFile, entry);

    ASSERT_TRUE(server.start());
    SinkRecorder recorder;
    // The clocks go on from where they stood, never from anywhere else.
    double resumed1 = stopped1, resumed2 = stopped2;
    ASSERT_TRUE(waitFor(
        [&] {
            if (resumed1 == stopped1) resumed1 = deck1->currentPosition();
            if (resumed2 == stopped2) resumed2 = deck2->currentPosition();
            return deck1->currentPosition() > stopped1 + 1.5;
        },
        8000));
    EXPECT_NEAR(resumed1, stopped1, 0.3);
    EXPECT_NEAR(resumed2, stopped2, 0.3);
    const double clock1 = deck1->currentPosition();
    const double clock2 = deck2->currentPosition();
    const std::vector<float> left = channelOf(recorder.stop(), SinkRecorder::kChannels, 0);
    ASSERT_GT(left.size(), std::size_t(kRate));

    // What is heard is where the clocks are: the last 200 ms of the recording, about 150 ms
    // behind them (the window's middle, and the server's latency)...
    const Sweep sweep1(low, kLowFrom, kLowTo), sweep2(high, kHighFrom, kHighTo);
    const std::span<const float> last(left.data() + left.size() - kRate / 5, kRate / 5);
    EXPECT_TRUE(sweep1.soundsAt(last, clock1 - 0.15, 0.5));
    EXPECT_TRUE(sweep2.soundsAt(last, clock2 - 0.15, 0.5));
    // ... and, where the recording began before the sound came back, the first sound is
    // where each deck stopped.
    const std::size_t back = firstAbove(left, 0.05f);
    if (back > std::size_t(kRate / 10) && back + kRate / 2 < left.size()) {
        const std::span<const float> first(left.data() + back + kRate / 10, kRate / 5);
        EXPECT_TRUE(sweep1.soundsAt(first, stopped1 + 0.2, 0.5));
        EXPECT_TRUE(sweep2.soundsAt(first, stopped2 + 0.2, 0.5));
    }
    EXPECT_EQ(form->state().TrackNumber, track);
    EXPECT_EQ(deck1->fileName(), "1 low.mp3");

    // The master bar reaches the new server.
    dragThumb(form->controls().VScroll1, 0.5);
    EXPECT_NEAR(sinkPercent(), 50, 3);

    const auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 2u) << lines.back();
    EXPECT_EQ(lines[0], "Sound output lost while playing " + low + " and " + high);
    EXPECT_EQ(lines[1], "Sound output is back");
}
