#pragma once

class ClockAnnouncer;
class JoystickFader;
class LabelTint;
class PaintPacer;
class PlaybackWatch;
class QCheckBox;
class QLabel;
class TimeDisplay;

// The 10 ms tick: joystick, status caption, playback watch, both decks' displays, label tint;
// their paint and their announcement to assistive technology paced.
class Tick {
public:
    struct Steps {
        JoystickFader& joystick;
        PlaybackWatch& watch;
        TimeDisplay& deck1Display;
        TimeDisplay& deck2Display;
        LabelTint& tint;
        PaintPacer& pacer;
        ClockAnnouncer& announcer;
    };
    Tick(QCheckBox* Check1, QLabel* Label22, Steps steps);

    void Timer1_Timer();

private:
    QCheckBox* Check1;
    QLabel* Label22;
    Steps steps;
};
