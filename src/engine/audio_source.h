#pragma once

#include <cstdint>
#include <string>

#include "engine/stereo_frame.h"

// Something the audio output mixes: a deck.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Audio callback only: never blocks, allocates, locks, logs or touches a file. Adds the
    // source's next frames, with its gain, to out. With frames == 0 it only drops data it will
    // never play. deviceTime: the steady clock (ns) when the device asked for the buffer; 0
    // when the output is driven by hand, without a clock.
    virtual void mixInto(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept = 0;
    // Any thread: whether the source has sound to play now.
    virtual bool isPlaying() const noexcept = 0;
    // Any thread but the callback's: what the source is playing, for a report; "" when it is
    // not playing.
    virtual std::string playingName() const = 0;
};
