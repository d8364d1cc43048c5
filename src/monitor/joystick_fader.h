#pragma once

#include <cstdint>

class Deck;
class ErrorSink;
class Joystick;
class PlaylistNavigation;
class QScrollBar;

// Bar position 0..32767 for a joystick axis 0..65535: the low half is the fader's travel,
// the high half a dead band at full volume.
int axisToBarPosition(int32_t axis);
// Deck volume for a bar position set by the joystick: the square of its percentage.
int joystickVolume(int barPosition);

// The joystick as a two-channel fader over the two deck volumes, with two buttons.
class JoystickFader {
public:
    struct Controls {
        QScrollBar* VScroll5;  // deck 1, from Y
        QScrollBar* VScroll6;  // deck 2, from X
    };
    JoystickFader(Controls controls, Joystick& joystick, Deck& deck1, Deck& deck2,
                  PlaylistNavigation& navigation, ErrorSink& errors);

    void step();

private:
    Controls ui;
    Joystick& joystick;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    PlaylistNavigation& navigation;
    ErrorSink& errors;
    uint32_t heldButtons = 0;
    bool missingReported = false;
};
