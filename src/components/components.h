#pragma once

class Deck;
class ErrorSink;
class FileDialog;
class Joystick;
class Mixer;

// The outside components the window drives; main hands in the real ones, tests doubles.
// Not owned by the window.
struct Components {
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    Mixer& BWMixer1;
    FileDialog& CommonDialog1;  // "Play File"
    FileDialog& CommonDialog2;  // "Play Dir"
    Joystick& joystick;
    ErrorSink& errors;
};
