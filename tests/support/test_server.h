#pragma once

#include <cstdlib>
#include <string_view>

// The private server the sound tests run on: PulseAudio unless scripts/pipewire_tests.sh says
// PipeWire, whose timing moves in its graph's steps and whose streams are named its own way.
inline bool testServerIsPipeWire() {
    const char* server = std::getenv("VELMOR_TEST_SERVER");
    return server && std::string_view(server) == "pipewire";
}
