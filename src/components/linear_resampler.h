#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "components/stereo_frame.h"

// Converts a stream of frames from one rate to another by linear interpolation, chunk by
// chunk. Positions are kept as exact fractions, so the pitch and the length never drift.
class LinearResampler {
public:
    void reset(int fromRate, int toRate);
    // Appends the output for the next input chunk to out.
    void process(std::span<const StereoFrame> in, std::vector<StereoFrame>& out);
    // At the end of the stream: the output frames that fall after the last input frame,
    // holding its value, so that the output lasts as long as the input.
    void finish(std::vector<StereoFrame>& out);

private:
    std::int64_t from = 1;
    std::int64_t to = 1;
    // Position of the next output frame in 1/to input frames, counted from `previous`, the last
    // frame of the chunk before (index 0); the chunk's frames are indices 1..n.
    std::int64_t position = 0;
    StereoFrame previous;
};
