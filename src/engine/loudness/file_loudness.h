#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/loudness/measured_loudness.h"

// Decodes a whole MP3 file, as the decks play it, and measures it with libebur128. Reads the
// file and takes its time: never on the UI thread or an audio callback.
namespace FileLoudness {

struct Progress {
    // Asked between steps (a second or so of sound each): true abandons the file.
    std::function<bool()> stop;
    // Told after each step, with the frames decoded so far.
    std::function<void(std::int64_t frames)> stepDone;
};

// Absent when the file cannot be opened, fails to decode part-way, ends well before the
// length its header gives (cut short), or was abandoned.
std::optional<MeasuredLoudness> measure(const std::string& path, const Progress& progress = {});

}  // namespace FileLoudness
