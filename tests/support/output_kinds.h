#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "components/error_sink.h"
#include "engine/output/pulse/pulse_output.h"
#include "engine/output/sdl/sdl_output.h"

// The two outputs a deck may play through: tests of real sound run on each.
enum class OutputKind { Sdl, Pulse };

inline std::unique_ptr<PulseOutput> connectPulse(ErrorSink& errors) {
    std::string cause;
    auto output = PulseOutput::connect(errors, {}, std::chrono::seconds(3), cause);
    if (!output) ADD_FAILURE() << "no sound server: " << cause;
    return output;
}

inline std::unique_ptr<AudioOutput> makeOutput(OutputKind kind, ErrorSink& errors) {
    if (kind == OutputKind::Sdl) return std::make_unique<SdlOutput>(errors);
    return connectPulse(errors);
}

inline std::string outputName(const ::testing::TestParamInfo<OutputKind>& info) {
    return info.param == OutputKind::Sdl ? "Sdl" : "Pulse";
}
