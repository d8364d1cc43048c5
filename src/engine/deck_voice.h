#pragma once

#include <cstdint>

#include "engine/audio_source.h"

struct DeckStream;

// The audio callback's side of one deck: plays the stream's current epoch with the deck's gain.
class DeckVoice final : public AudioSource {
public:
    explicit DeckVoice(DeckStream& stream) : stream(stream) {}

    // Audio callback only: no locks, no allocation, no I/O.
    void mixInto(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept override;
    bool isPlaying() const noexcept override;
    std::string playingName() const override;

private:
    // Gives back the ring up to `read`; wakes the decoder when that takes the fill below the
    // refill mark.
    void releaseTo(std::uint64_t read, std::uint64_t write) noexcept;

    DeckStream& stream;
    // Audio thread only.
    float appliedGain = 1.0f;
    bool sounding = false;            // the last buffer played this deck
    std::uint64_t cuedAt = ~0ull;     // ring index where the cued file began, while Cued
    std::uint64_t passedEnd = ~0ull;  // the end mark the cued file went on behind
};
