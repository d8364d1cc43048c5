#include "engine/output_choice.h"

#include <chrono>
#include <cstdlib>
#include <string>

#include "engine/pulse_output.h"
#include "engine/sdl_output.h"

namespace {
// A local server answers within a few milliseconds; one that takes longer is not much of a
// choice, and the window waits for it.
constexpr std::chrono::milliseconds kServerPatience{500};
}  // namespace

std::unique_ptr<AudioOutput> chooseAudioOutput(ErrorSink& errors) {
    const char* forced = std::getenv("VELMOR_AUDIO_OUTPUT");
    if (!forced || std::string(forced) != "sdl") {
        std::string cause;
        if (auto pulse =
                PulseOutput::connect(errors, PulseOutput::Options{}, kServerPatience, cause))
            return pulse;
    }
    return std::make_unique<SdlOutput>(errors);
}
