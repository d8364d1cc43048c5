#pragma once

#include <cstdint>

#include "components/stereo_frame.h"

// Something the audio output mixes: a deck. Both calls come from the audio thread and must
// never block, allocate, lock, log or touch a file.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Adds the source's next frames, with its gain, to out. With frames == 0 it only drops
    // data it will never play. deviceTime: the steady clock (ns) when the device asked for
    // the buffer; 0 when the output is driven by hand, without a clock.
    virtual void mixInto(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept = 0;
    // The device is gone: whatever plays has ended (the clock stops with the sound).
    virtual void outputLost() noexcept = 0;
};
