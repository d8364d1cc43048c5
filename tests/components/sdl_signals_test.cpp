// SDL catches SIGINT and SIGTERM for its event queue unless told not to. The player drains no
// SDL events, so a caught signal would be lost: Ctrl+C, kill and the end of the desktop
// session would leave it running.
#include <SDL.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>

#include "components/sdl_joystick.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/sdl/sdl_output.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

bool takenOver(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    return action.sa_handler != SIG_DFL;
}

TEST(SdlComponents, LeaveInterruptAndTerminateToTheProcess) {
    TempDir dir;
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    const struct {
        const char* component;
        std::function<std::shared_ptr<void>(ErrorSink&)> start;
    } cases[] = {
        {"joystick", [](ErrorSink& errors) { return std::make_shared<SdlJoystick>(errors); }},
        {"sound output",
         [](ErrorSink& errors) {
             auto output = std::make_shared<SdlOutput>(errors);
             EXPECT_TRUE(output->ensureOpen());
             return output;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.component);
        SDL_ResetHints();  // each component on its own, not on the one before
        ASSERT_EQ(SDL_WasInit(0), 0u);
        ASSERT_FALSE(takenOver(SIGINT));
        ASSERT_FALSE(takenOver(SIGTERM));
        RecordingErrorSink errors;
        const auto component = c.start(errors);
        ASSERT_NE(SDL_WasInit(0), 0u) << "SDL was started";
        EXPECT_FALSE(takenOver(SIGINT));
        EXPECT_FALSE(takenOver(SIGTERM));
        EXPECT_TRUE(errors.taken().empty());
    }
}

}  // namespace
