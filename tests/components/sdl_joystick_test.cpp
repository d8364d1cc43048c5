#include "components/sdl_joystick.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "doubles/recording_error_sink.h"

namespace {

class SdlJoystickTest : public testing::Test {
protected:
    // Driven through a handle of the test's own; SDL shares one open joystick between them.
    SDL_Joystick* attach(int axes = 2, int buttons = 4) {
        const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, axes, buttons, 0);
        EXPECT_GE(index, 0) << SDL_GetError();
        SDL_Joystick* stick = SDL_JoystickOpen(index);
        EXPECT_NE(stick, nullptr) << SDL_GetError();
        return stick;
    }
    void detach(SDL_Joystick* stick) {
        const SDL_JoystickID id = SDL_JoystickInstanceID(stick);
        SDL_JoystickClose(stick);
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
    }

    RecordingErrorSink errors;
    SdlJoystick joystick{errors};
    int32_t x = -7, y = -7;
    uint32_t buttons = 0xdead;
};

TEST_F(SdlJoystickTest, FindsAPluggedJoystickReadsItAndLetsGoWhenUnplugged) {
    ASSERT_FALSE(joystick.read(x, y, buttons));
    EXPECT_EQ(x, -7);
    EXPECT_EQ(buttons, 0xdeadu);

    SDL_Joystick* stick = attach();
    ASSERT_TRUE(joystick.read(x, y, buttons)) << "a joystick plugged in later is found";
    EXPECT_EQ(x, 32768);
    EXPECT_EQ(y, 32768);
    EXPECT_EQ(buttons, 0u);

    const struct {
        int16_t x, y;
        int32_t wantX, wantY;
    } axes[] = {
        {-32768, 32767, 0, 65535},
        {0, 0, 32768, 32768},
        {32767, -32768, 65535, 0},
        {-1, 16383, 32767, 49151},
    };
    for (const auto& a : axes) {
        SDL_JoystickSetVirtualAxis(stick, 0, a.x);
        SDL_JoystickSetVirtualAxis(stick, 1, a.y);
        ASSERT_TRUE(joystick.read(x, y, buttons));
        EXPECT_EQ(x, a.wantX) << a.x;
        EXPECT_EQ(y, a.wantY) << a.y;
    }

    const struct {
        std::initializer_list<int> pressed;
        uint32_t mask;
    } presses[] = {{{0}, 0x1}, {{2}, 0x4}, {{0, 3}, 0x9}, {{0, 1, 2, 3}, 0xf}, {{}, 0x0}};
    for (const auto& p : presses) {
        for (int b = 0; b < 4; ++b) SDL_JoystickSetVirtualButton(stick, b, SDL_RELEASED);
        for (int b : p.pressed) SDL_JoystickSetVirtualButton(stick, b, SDL_PRESSED);
        ASSERT_TRUE(joystick.read(x, y, buttons));
        EXPECT_EQ(buttons, p.mask);
    }

    detach(stick);
    x = -7;
    EXPECT_FALSE(joystick.read(x, y, buttons));
    EXPECT_EQ(x, -7) << "the caller keeps the last position";

    SDL_Joystick* again = attach();
    EXPECT_TRUE(joystick.read(x, y, buttons)) << "plugged in again";
    detach(again);
    EXPECT_FALSE(joystick.read(x, y, buttons));
    EXPECT_TRUE(errors.taken().empty());
}

TEST_F(SdlJoystickTest, MissingAxisReadsAsCentred) {
    SDL_Joystick* stick = attach(1, 0);
    SDL_JoystickSetVirtualAxis(stick, 0, -32768);
    ASSERT_TRUE(joystick.read(x, y, buttons));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 32768);
    EXPECT_EQ(buttons, 0u);
    detach(stick);
}

TEST(SdlJoystickLifetime, EndingLeavesOtherSdlUsersRunning) {
    // Stand-ins for the audio engine's own SDL use, started before the joystick.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    const int eventState = SDL_JoystickEventState(SDL_QUERY);
    {
        RecordingErrorSink errors;
        SdlJoystick joystick(errors);
        int32_t x, y;
        uint32_t buttons;
        joystick.read(x, y, buttons);
    }
    EXPECT_EQ(SDL_WasInit(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK),
              static_cast<Uint32>(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK));
    EXPECT_EQ(SDL_JoystickEventState(SDL_QUERY), eventState);
    SDL_QuitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u) << "ours was released too";
}

}  // namespace
