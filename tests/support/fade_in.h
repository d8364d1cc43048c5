#pragma once

#include <cstddef>
#include <vector>

#include "engine/deck/deck_voice.h"

// What the deck's voice makes of sound that starts from silence: it rises over the fade's
// frames. Exact, so that the tests that compare samples still compare every one.
inline float fadeInAt(std::size_t frame) {
    constexpr auto kFade = static_cast<std::size_t>(DeckVoice::kFadeFrames);
    return frame < kFade ? static_cast<float>(frame + 1) / static_cast<float>(kFade) : 1.0f;
}

// Interleaved samples as they sound started from silence.
inline std::vector<float> fadedIn(std::vector<float> interleaved, int channels) {
    for (std::size_t i = 0; i < interleaved.size(); ++i)
        interleaved[i] *= fadeInAt(i / static_cast<std::size_t>(channels));
    return interleaved;
}
