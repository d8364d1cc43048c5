#pragma once

#include <cstdint>

// The first joystick.
class Joystick {
public:
    virtual ~Joystick() = default;
    // Axes on 0..65535, buttons as a bit mask (bit 0 = button 1); false when no joystick
    // answers, leaving the arguments untouched.
    virtual bool read(int32_t& x, int32_t& y, uint32_t& buttons) = 0;
};
