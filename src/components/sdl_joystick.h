#pragma once

#include <cstdint>

#include "components/joystick.h"

class ErrorSink;
struct _SDL_Joystick;

// The first joystick through SDL's joystick subsystem, polled: read() runs on every tick, so
// it only pumps SDL's joystick state, opens a device when SDL lists one it has not tried yet
// and closes one that went away. SDL's joystick events are switched off (nobody drains SDL's
// queue in a Qt program) and background input is allowed (the window is not SDL's).
class SdlJoystick : public Joystick {
public:
    explicit SdlJoystick(ErrorSink& errors);
    ~SdlJoystick() override;
    SdlJoystick(const SdlJoystick&) = delete;
    SdlJoystick& operator=(const SdlJoystick&) = delete;

    bool read(int32_t& x, int32_t& y, uint32_t& buttons) override;

    // Maps SDL's signed axis value onto 0..65535.
    static int32_t axisPosition(int16_t sdlValue) { return int32_t{sdlValue} + 32768; }

private:
    bool findJoystick();
    void close();

    bool initialised = false;
    int previousEventState = 0;
    _SDL_Joystick* joystick = nullptr;
    int32_t failedInstance = -1;  // the device that would not open; retried once replugged
};
