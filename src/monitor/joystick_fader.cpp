#include "monitor/joystick_fader.h"

#include <QScrollBar>

#include "components/deck.h"
#include "components/error_sink.h"
#include "components/joystick.h"
#include "playback/playlist_navigation.h"
#include "shared/rounding.h"
#include "shared/scroll_scale.h"

int axisToBarPosition(int32_t axis) {
    return axis <= ScrollScale::kBottom ? ScrollScale::kBottom - axis : 0;
}

int joystickVolume(int barPosition) {
    const double percent = barPosition / ScrollScale::kPerHundredth;
    return int(roundHalfEven(-(percent * percent)));
}

JoystickFader::JoystickFader(Controls controls, Joystick& joystick, Deck& deck1, Deck& deck2,
                             PlaylistNavigation& navigation, ErrorSink& errors)
    : ui(controls),
      joystick(joystick),
      MediaPlayer1(deck1),
      MediaPlayer2(deck2),
      navigation(navigation),
      errors(errors) {}

void JoystickFader::step() {
    int32_t x = 0, y = 0;
    uint32_t buttons = 0;
    if (!joystick.read(x, y, buttons)) {
        // Sliders and volumes stay as they are rather than falling silent.
        if (!missingReported) errors.report("Joystick control is on, but no joystick was found");
        missingReported = true;
        heldButtons = 0;
        return;
    }
    missingReported = false;

    ui.VScroll6->setValue(axisToBarPosition(x));
    ui.VScroll5->setValue(axisToBarPosition(y));
    MediaPlayer1.setVolume(joystickVolume(ui.VScroll5->value()));
    MediaPlayer2.setVolume(joystickVolume(ui.VScroll6->value()));

    // Each press acts once, not on every tick it is held.
    const uint32_t pressed = buttons & ~heldButtons;
    heldButtons = buttons;
    if (pressed & 1u) navigation.joystickNextAction();
    if (pressed & 2u) navigation.joystickPreviousAction();
}
