// The window's mixer bars, deck bars and joystick fader on the real mixer, decks and joystick.
#include <SDL.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <memory>
#include <string>

#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/sdl_joystick.h"
#include "doubles/fake_deck.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "mixer/mixer_sliders.h"
#include "support/output_kinds.h"
#include "support/scroll_drag.h"
#include "support/shell_command.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

class ShownForm {
public:
    explicit ShownForm(Components components, const std::string& settings)
        : form(std::make_unique<Form1>(components, settings)) {
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    std::unique_ptr<Form1> form;
};

}  // namespace

TEST(EndToEndPulseControls, DraggingVolSetsTheSoundServersVolume) {
    if (!SinkRecorder::available()) GTEST_SKIP() << "no private PulseAudio (PULSE_SERVER)";
    commandOutput("pactl set-sink-volume @DEFAULT_SINK@ 100%");
    RecordingErrorSink errors;
    AlsaMixer mixer(errors);
    FakeDeck deck1, deck2;
    FakeFileDialog dialog1, dialog2;
    FakeJoystick joystick;
    TempDir dir;
    ShownForm shown({deck1, deck2, mixer, dialog1, dialog2, joystick, errors},
                    dir.file("velmor-mp3-player.ini"));
    Form1& form = *shown.form;
    ASSERT_NE(form.state().MasterVolumeDevice, 0) << "the server's Master line was reported";

    QScrollBar* vol = form.controls().VScroll1;
    dragThumb(vol, 0.5);
    const int expected = mixerBarLevel(vol->value());
    EXPECT_NEAR(expected, 50, 3);
    EXPECT_NEAR(sinkPercent(), expected, 1);

    dragThumb(vol, 1.0);
    EXPECT_EQ(sinkPercent(), 0);
    commandOutput("pactl set-sink-volume @DEFAULT_SINK@ 100%");
}

// Each output: the server's own stream volume, and SDL's gain in the mix.
class EndToEndPulseDeckBar : public ::testing::TestWithParam<OutputKind> {};

TEST_P(EndToEndPulseDeckBar, DraggingADeckBarChangesThatDecksLoudness) {
    if (!SinkRecorder::available()) GTEST_SKIP() << "no private PulseAudio (PULSE_SERVER)";
    commandOutput("pactl set-sink-volume @DEFAULT_SINK@ 100%");
    RecordingErrorSink errors;
    TempDir dir;
    ToneOptions options;
    options.amplitude = 0.4;
    const std::string low = makeToneMp3(dir.path(), "low.mp3", 440, 6, options);
    const std::string high = makeToneMp3(dir.path(), "high.mp3", 880, 6, options);
    const std::unique_ptr<AudioOutput> output = makeOutput(GetParam(), errors);
    Mp3Deck deck1(*output, errors), deck2(*output, errors);
    FakeMixer mixer;
    FakeFileDialog dialog1, dialog2;
    FakeJoystick joystick;
    ShownForm shown({deck1, deck2, mixer, dialog1, dialog2, joystick, errors},
                    dir.file("velmor-mp3-player.ini"));
    Form1& form = *shown.form;

    deck1.setFileName(low);
    deck2.setFileName(high);
    deck1.play();
    deck2.play();
    dragThumb(form.controls().VScroll5, 0.3);  // deck 1 softer, deck 2 untouched
    const int volume = deckBarVolume(form.controls().VScroll5->value());
    ASSERT_LT(volume, -500);
    QTest::qWait(150);

    SinkRecorder recorder;
    QTest::qWait(1000);
    const std::vector<float> left = channelOf(recorder.stop(), SinkRecorder::kChannels, 0);
    // Deck 2 at full volume is the reference, so a moment the server fell behind (seen on
    // PipeWire) cannot read as a wrong gain.
    const double ratio = medianOverWindows(left, SinkRecorder::kRate, 440, 880);
    std::string said;
    for (const std::string& line : errors.taken()) said += line + "\n";
    SCOPED_TRACE("errors: " + said + "streams: " + commandOutput("pactl list sink-inputs"));
    EXPECT_NEAR(20 * std::log10(ratio), volume / 100.0, 0.5);
    EXPECT_NEAR(medianOverWindows(left, SinkRecorder::kRate, 880), 0.4, 0.03);
}

INSTANTIATE_TEST_SUITE_P(Outputs, EndToEndPulseDeckBar,
                         ::testing::Values(OutputKind::Pulse, OutputKind::Sdl), outputName);

TEST(EndToEndJoystick, VirtualJoystickFadesTheDecksAndItsButtonActsOnce) {
    RecordingErrorSink errors;
    SdlJoystick joystick(errors);
    FakeDeck deck1, deck2;
    FakeMixer mixer;
    FakeFileDialog dialog1, dialog2;
    TempDir dir;
    for (const char* name : {"1.mp3", "2.mp3"})
        std::fclose(std::fopen(dir.file(name).c_str(), "w"));
    Form1 form({deck1, deck2, mixer, dialog1, dialog2, joystick, errors},
               dir.file("velmor-mp3-player.ini"));
    dialog2.answer = dir.file("1.mp3");
    QTest::mouseClick(form.controls().Command6, Qt::LeftButton);
    form.controls().Check1->setCheckState(Qt::Checked);

    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 2, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* stick = SDL_JoystickOpen(index);
    ASSERT_NE(stick, nullptr) << SDL_GetError();
    SDL_JoystickSetVirtualAxis(stick, 0, -32768);         // X fully left: deck 2 silent
    SDL_JoystickSetVirtualAxis(stick, 1, 16383 - 32768);  // Y a quarter down
    form.Timer1_Timer();
    EXPECT_EQ(form.controls().VScroll6->value(), 32767);
    EXPECT_EQ(form.controls().VScroll5->value(), 16384);
    EXPECT_EQ(deck2.volume, -10000);
    EXPECT_EQ(deck1.volume, -2500);

    SDL_JoystickSetVirtualButton(stick, 0, SDL_PRESSED);  // next entry, held over three ticks
    for (int i = 0; i < 3; ++i) form.Timer1_Timer();
    SDL_JoystickSetVirtualButton(stick, 0, SDL_RELEASED);
    form.Timer1_Timer();
    EXPECT_EQ(form.state().TrackNumber, 2);
    EXPECT_TRUE(errors.taken().empty());

    SDL_JoystickClose(stick);
    SDL_JoystickDetachVirtual(index);
}
