#include "components/sdl_joystick.h"

#include <SDL.h>

#include <string>

#include "components/error_sink.h"

SdlJoystick::SdlJoystick(ErrorSink& errors) {
    // SDL would otherwise drop stick movements while an SDL window lacks focus; the player's
    // window is Qt's, so any focus rule SDL applies is the wrong one.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would catch SIGINT and SIGTERM as events nobody reads: the player could not be ended.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Ref-counted: the audio engine's own SDL use is not disturbed by ours ending.
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) < 0) {
        errors.report(std::string("Joystick support could not be started: ") + SDL_GetError());
        return;
    }
    initialised = true;
    // Polled instead: events would pile up in SDL's queue, which nothing in the player drains.
    previousEventState = SDL_JoystickEventState(SDL_QUERY);
    SDL_JoystickEventState(SDL_IGNORE);
}

SdlJoystick::~SdlJoystick() {
    if (!initialised) return;
    close();
    SDL_JoystickEventState(previousEventState);
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlJoystick::close() {
    if (joystick) SDL_JoystickClose(joystick);
    joystick = nullptr;
}

bool SdlJoystick::findJoystick() {
    if (joystick && SDL_JoystickGetAttached(joystick)) return true;
    close();
    if (SDL_NumJoysticks() < 1) return false;
    const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(0);
    // A device that refused to open is not retried on every tick; a new one gets a new id.
    if (instance == failedInstance) return false;
    joystick = SDL_JoystickOpen(0);
    if (!joystick) {
        failedInstance = instance;
        return false;
    }
    failedInstance = -1;
    return true;
}

bool SdlJoystick::read(int32_t& x, int32_t& y, uint32_t& buttons) {
    if (!initialised) return false;
    // Detects devices plugged in or out and takes the latest state of the open ones.
    SDL_JoystickUpdate();
    if (!findJoystick()) return false;

    // A missing axis reads as centred (SDL gives 0 for it).
    x = axisPosition(SDL_JoystickGetAxis(joystick, 0));
    y = axisPosition(SDL_JoystickGetAxis(joystick, 1));
    uint32_t mask = 0;
    const int count = SDL_JoystickNumButtons(joystick);
    for (int b = 0; b < count && b < 32; ++b)
        if (SDL_JoystickGetButton(joystick, b)) mask |= 1u << b;
    buttons = mask;
    return true;
}
