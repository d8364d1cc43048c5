#include "engine/output/pulse/held_audio.h"

#include <algorithm>
#include <cassert>

void HeldAudio::reserve(std::size_t frames) {
    ring = std::make_unique<Kept[]>(frames);
    size = frames;
    end = 0;
    held = 0;
}

void HeldAudio::restart(float gain) {
    held = 0;
    appliedGain = gain;
    rewrittenGain = gain;
}

void HeldAudio::keep(StereoFrame* frames, std::size_t count, float target, float step) {
    for (std::size_t i = 0; i < count; ++i) {
        if (appliedGain != target)
            appliedGain = appliedGain < target ? std::min(target, appliedGain + step)
                                               : std::max(target, appliedGain - step);
        ring[end] = {frames[i], appliedGain};
        end = (end + 1) % size;
        frames[i].left *= appliedGain;
        frames[i].right *= appliedGain;
    }
    held = std::min(held + count, size);
}

template <typename Aim>
void HeldAudio::rewriteWith(std::size_t frames, std::size_t glide, StereoFrame* out, Aim aim) {
    assert(frames <= held && glide > 0);
    std::size_t at = (end + size - frames) % size;
    for (std::size_t i = 0; i < frames; ++i, at = (at + 1) % size) {
        Kept& kept = ring[at];
        const float share = std::min(1.0f, static_cast<float>(i + 1) / static_cast<float>(glide));
        kept.gain = aim(kept.gain, share);
        out[i] = {kept.frame.left * kept.gain, kept.frame.right * kept.gain};
    }
}

void HeldAudio::rewrite(std::size_t frames, float gain, std::size_t glide, StereoFrame* out) {
    rewrittenGain = gain;
    if (frames == 0) return;  // the next frames glide to it
    rewriteWith(frames, glide, out,
                [gain](float was, float share) { return was + (gain - was) * share; });
    appliedGain = gain;
}

void HeldAudio::fadeOut(std::size_t frames, std::size_t glide, StereoFrame* out) {
    rewriteWith(frames, glide, out, [](float was, float share) { return was * (1.0f - share); });
}
