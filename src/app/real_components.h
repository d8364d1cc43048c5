#pragma once

#include "shared/settings_paths.h"

class Form1;

// The window on the real outside components, wired as the program runs it: both decks on one
// sound output, the sound card's mixer, the joystick, the desktop's file dialogs and the error
// log, whose earlier and later lines reach the "Errors:" list. None of it is ever destroyed:
// ending the program must not wait for the sound server to release the audio device.
Form1* createWindowOnRealComponents(const SettingsPaths& settingsFiles);
