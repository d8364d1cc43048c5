#pragma once

#include <cstdint>

class Deck;
class ErrorSink;
class Mixer;
class QScrollBar;
struct SharedState;

// Mixer line level (percent, 99 at the top) for a mixer bar position 0..32767.
int mixerBarLevel(int barPosition);
// Deck volume (hundredths of a dB) for a deck bar position dragged by hand.
int deckBarVolume(int barPosition);

// The six bars, acting only while the user drags a thumb.
class MixerSliders {
public:
    struct Controls {
        QScrollBar* VScroll1;
        QScrollBar* VScroll2;
        QScrollBar* VScroll3;
        QScrollBar* VScroll4;
        QScrollBar* VScroll5;
        QScrollBar* VScroll6;
    };
    MixerSliders(Controls controls, const SharedState& state, Mixer& mixer, Deck& deck1,
                 Deck& deck2, ErrorSink& errors);

    void VScroll1_Scroll();  // master
    void VScroll2_Scroll();  // wave
    void VScroll3_Scroll();  // bass
    void VScroll4_Scroll();  // treble
    void VScroll5_Scroll();  // deck 1
    void VScroll6_Scroll();  // deck 2

private:
    void sendLevel(QScrollBar* bar, int32_t deviceNumber);

    Controls ui;
    const SharedState& state;
    Mixer& BWMixer1;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    ErrorSink& errors;
    int32_t refusedDevice = 0;  // last line that refused a level, reported once
};
