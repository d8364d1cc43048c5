#include "engine/decode/crossfade_overlap.h"

#include <algorithm>
#include <cmath>
#include <numbers>

std::size_t CrossfadeOverlap::framesFor(double seconds, int rate, std::int64_t endingLength,
                                        int endingRate, std::int64_t nextLength, int nextRate) {
    if (seconds <= 0 || rate <= 0) return 0;
    double frames = seconds * rate;
    auto halfOf = [rate](std::int64_t length, int ownRate) {
        return length > 0 && ownRate > 0 ? 0.5 * static_cast<double>(length) * rate / ownRate
                                         : INFINITY;
    };
    frames = std::min({frames, halfOf(endingLength, endingRate), halfOf(nextLength, nextRate)});
    return static_cast<std::size_t>(std::floor(frames));
}

void CrossfadeOverlap::begin(std::span<const StereoFrame> frames, float levelRatio) {
    tail.assign(frames.begin(), frames.end());
    position = 0;
    ratio = levelRatio;
}

double CrossfadeOverlap::progress(std::size_t at) const {
    // Mid-frame, so that the curve is symmetric about the overlap's middle.
    return (static_cast<double>(at) + 0.5) / static_cast<double>(tail.size());
}

void CrossfadeOverlap::mixInto(std::span<StereoFrame> next) {
    for (StereoFrame& frame : next) {
        if (!active()) return;
        const double t = progress(position);
        const float rise = risingGain(t);
        const float fall = fallingGain(t) * ratio;
        const StereoFrame& old = tail[position++];
        frame.left = frame.left * rise + old.left * fall;
        frame.right = frame.right * rise + old.right * fall;
    }
}

void CrossfadeOverlap::finish(std::vector<StereoFrame>& out) {
    const std::size_t left = tail.size() - position;
    const std::size_t at = out.size();
    out.resize(at + left);
    mixInto(std::span<StereoFrame>(out).subspan(at));
}

void CrossfadeOverlap::clear() {
    tail.clear();
    position = 0;
}

float CrossfadeOverlap::fallingGain(double t) {
    return static_cast<float>(std::cos(std::clamp(t, 0.0, 1.0) * std::numbers::pi / 2));
}

float CrossfadeOverlap::risingGain(double t) {
    return static_cast<float>(std::sin(std::clamp(t, 0.0, 1.0) * std::numbers::pi / 2));
}
