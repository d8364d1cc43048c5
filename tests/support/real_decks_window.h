#pragma once

#include <string>

#include "app/form1.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"
#include "shared/settings_paths.h"

class ErrorSink;

// The real window on the real decks and SDL's output (the tests point SDL at its disk driver),
// with fakes for the mixer, the joystick and the dialogs.
struct RealDecksWindow {
    RealDecksWindow(ErrorSink& errors, const SettingsPaths& settings)
        : output(errors),
          deck1(output, errors),
          deck2(output, errors),
          form({deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors}, settings) {}

    FakeMixer mixer;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    SdlOutput output;
    Mp3Deck deck1, deck2;
    Form1 form;
};
