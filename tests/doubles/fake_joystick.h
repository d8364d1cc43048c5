#pragma once

#include <cstdint>

#include "components/joystick.h"

class FakeJoystick : public Joystick {
public:
    bool present = false;
    int32_t x = 32767, y = 32767;
    uint32_t buttons = 0;
    int reads = 0;

    bool read(int32_t& ox, int32_t& oy, uint32_t& ob) override {
        ++reads;
        if (!present) return false;
        ox = x;
        oy = y;
        ob = buttons;
        return true;
    }
};
