#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/deck/stereo_frame.h"

// The overlap of a crossfade: the last frames of the track that ends, falling on an
// equal-power curve under the first frames of the file that follows, which rise on the
// complementary one. Two unrelated sounds keep their summed power through it. Decoder thread
// only; it allocates.
class CrossfadeOverlap {
public:
    // Frames the overlap lasts at `rate`: `seconds`, shortened to half of either file where a
    // file is shorter than twice that. Lengths are frames at each file's own rate; 0 for a
    // length not known.
    static std::size_t framesFor(double seconds, int rate, std::int64_t endingLength,
                                 int endingRate, std::int64_t nextLength, int nextRate);

    // Takes the ending track's last frames. `levelRatio` brings them from the level the next
    // file's frames are played at to their own.
    void begin(std::span<const StereoFrame> tail, float levelRatio);
    // Fades the following file's next frames in, in place, with the tail's falling under them.
    void mixInto(std::span<StereoFrame> next);
    // What is left of the tail, falling alone: the following file ended within the overlap.
    void finish(std::vector<StereoFrame>& out);
    bool active() const { return position < tail.size(); }
    void clear();

    // The gains at `t` in [0, 1] of the overlap: cos² + sin² = 1.
    static float fallingGain(double t);
    static float risingGain(double t);

private:
    double progress(std::size_t at) const;

    std::vector<StereoFrame> tail;
    std::size_t position = 0;
    float ratio = 1.0f;
};
