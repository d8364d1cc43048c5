#pragma once

#include "components/components.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"

// The real decks on an output without a sound device, and doubles for the rest: what the
// end-to-end tests hand the real window.
struct DevicelessWindowParts {
    Components components() {
        return Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors};
    }
    static SdlOutput::Options noDevice() {
        SdlOutput::Options options;
        options.useDevice = false;
        return options;
    }

    RecordingErrorSink errors;
    FakeMixer mixer;
    FakeJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    SdlOutput output{errors, noDevice()};
    Mp3Deck deck1{output, errors}, deck2{output, errors};
};
