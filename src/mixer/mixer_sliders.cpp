#include "mixer/mixer_sliders.h"

#include <QScrollBar>
#include <string>

#include "components/deck.h"
#include "components/error_sink.h"
#include "components/mixer.h"
#include "shared/scroll_scale.h"
#include "shared/shared_state.h"

int mixerBarLevel(int barPosition) {
    return 99 - barPosition / ScrollScale::kPerHundredthUp;
}

int deckBarVolume(int barPosition) {
    const int k = barPosition / ScrollScale::kPerHundredthDown;
    return -(k * k);
}

MixerSliders::MixerSliders(Controls controls, const SharedState& state, Mixer& mixer, Deck& deck1,
                           Deck& deck2, ErrorSink& errors)
    : ui(controls),
      state(state),
      BWMixer1(mixer),
      MediaPlayer1(deck1),
      MediaPlayer2(deck2),
      errors(errors) {}

// sliderMoved comes before the value follows the thumb: read the thumb itself.
void MixerSliders::sendLevel(QScrollBar* bar, int32_t deviceNumber) {
    // 0: the line was never reported; any other number would move an unrelated line.
    if (deviceNumber == 0) return;
    if (BWMixer1.setLineLevel(deviceNumber, float(mixerBarLevel(bar->sliderPosition())))) {
        if (refusedDevice == deviceNumber) refusedDevice = 0;
    } else if (refusedDevice != deviceNumber) {
        refusedDevice = deviceNumber;
        errors.report("Mixer line " + std::to_string(deviceNumber) + " refused a new level");
    }
}

void MixerSliders::VScroll1_Scroll() {
    sendLevel(ui.VScroll1, state.MasterVolumeDevice);
}
void MixerSliders::VScroll2_Scroll() {
    sendLevel(ui.VScroll2, state.WaveOutputDevice);
}
void MixerSliders::VScroll3_Scroll() {
    sendLevel(ui.VScroll3, state.BassDevice);
}
void MixerSliders::VScroll4_Scroll() {
    sendLevel(ui.VScroll4, state.TrebleDevice);
}
void MixerSliders::VScroll5_Scroll() {
    MediaPlayer1.setVolume(deckBarVolume(ui.VScroll5->sliderPosition()));
}
void MixerSliders::VScroll6_Scroll() {
    MediaPlayer2.setVolume(deckBarVolume(ui.VScroll6->sliderPosition()));
}
