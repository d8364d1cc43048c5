#pragma once

#include <cstddef>
#include <memory>

#include "engine/deck/stereo_frame.h"

// What one stream wrote to the sound server since its last flush, each frame before its gain
// and with the gain it was written at: the server holds a large buffer, and a fade or a new
// volume is heard at once only by writing what it holds again, continuing from the gain each
// frame had. Plain arithmetic on a ring, without the server.
//
// Threads: one at a time (the pulse output's, under its main loop's lock). Never allocates
// but in reserve().
class HeldAudio {
public:
    // Room for `frames`, kept from now on; what was held is forgotten. Not in the write path.
    void reserve(std::size_t frames);
    std::size_t capacity() const { return size; }
    // A new stream, or a flush: nothing held; the next frames start at `gain`.
    void restart(float gain);
    void forget() { held = 0; }
    std::size_t count() const { return held; }
    // The gain the newest frame was written at, and the gain of the last rewrite.
    float applied() const { return appliedGain; }
    float rewritten() const { return rewrittenGain; }

    // Keeps `count` frames about to be written and gives them their gain: from the last one's,
    // `step` a frame towards `target`.
    void keep(StereoFrame* frames, std::size_t count, float target, float step);
    // The newest `frames` held, written again into `out`: gliding over `glide` frames from the
    // gain each had to `gain`, or to silence; kept so, so that a later rewrite goes on from
    // there. Frames whose gain does not change come out as they were written. A rewrite of no
    // frames still aims at `gain`: the frames written next glide to it.
    void rewrite(std::size_t frames, float gain, std::size_t glide, StereoFrame* out);
    void fadeOut(std::size_t frames, std::size_t glide, StereoFrame* out);

private:
    struct Kept {
        StereoFrame frame;
        float gain;
    };
    template <typename Aim>
    void rewriteWith(std::size_t frames, std::size_t glide, StereoFrame* out, Aim aim);

    std::unique_ptr<Kept[]> ring;
    std::size_t size = 0;
    std::size_t end = 0;   // one past the newest frame
    std::size_t held = 0;  // at most size
    float appliedGain = 1.0f;
    float rewrittenGain = 1.0f;
};
