#include "engine/output/switch/output_choice.h"

#include <cstdlib>
#include <string>

#include "engine/output/sdl/sdl_output.h"
#include "engine/output/switch/switching_output.h"

namespace {
std::unique_ptr<SdlOutput> backgroundSdl(ErrorSink& errors) {
    SdlOutput::Options options;
    options.openInBackground = true;  // a server that hangs must not hold the window
    return std::make_unique<SdlOutput>(errors, options);
}
}  // namespace

std::unique_ptr<AudioOutput> chooseAudioOutput(ErrorSink& errors) {
    const char* forced = std::getenv("VELMOR_AUDIO_OUTPUT");
    if (forced && std::string(forced) == "sdl") return backgroundSdl(errors);
    return std::make_unique<SwitchingOutput>(errors, PulseOutput::Options{},
                                             [&errors] { return backgroundSdl(errors); });
}
