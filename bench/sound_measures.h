#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Measures on a recording of tone tracks, each a sine of its own frequency with no silence in
// it, played one after the other.

struct Silence {
    std::size_t start = 0;  // first silent frame
    std::size_t frames = 0;
};

// The longest run of frames whose magnitude stays below `threshold` in [from, to); a sine
// crosses zero too fast to leave more than a frame below it.
Silence longestSilence(std::span<const float> mono, std::size_t from, std::size_t to,
                       float threshold);

struct Join {
    double fromHz = 0, toHz = 0;
    double silenceMs = 0;  // longest silence where one tone gives way to the next
};

struct ToneSequence {
    std::vector<Join> joins;      // one per change of tone that was heard, in order
    double longestDropoutMs = 0;  // longest silence within a tone, away from the joins
    bool complete = false;        // every tone was heard, in the order given
};

// Finds where each tone of `frequencies` gives way to the next and the silence there.
// Tones are told apart by their zero crossings in 10 ms windows; sound starts and ends where
// the magnitude first and last reaches 0.05.
ToneSequence measureToneSequence(std::span<const float> mono, int rate,
                                 std::span<const double> frequencies);
