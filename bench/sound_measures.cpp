#include "sound_measures.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr float kSilent = 1e-3f;  // a tone at half scale is below this for under a frame
constexpr float kSound = 0.05f;

// Frequency from the rising zero crossings in [from, to), interpolated between frames; 0
// with fewer than two.
double crossingFrequency(std::span<const float> mono, std::size_t from, std::size_t to, int rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (!(mono[i - 1] < 0 && mono[i] >= 0)) continue;
        const double at = double(i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
        if (first < 0) first = at;
        last = at;
        ++crossings;
    }
    return crossings < 2 ? 0 : (crossings - 1) * rate / (last - first);
}

// The tone of `frequencies` a window holds, if any: crossings within 10 % of it and no
// silence inside.
std::optional<std::size_t> toneOf(std::span<const float> mono, std::size_t from, std::size_t to,
                                  int rate, std::span<const double> frequencies) {
    if (longestSilence(mono, from, to, kSilent).frames > 2) return std::nullopt;
    const double measured = crossingFrequency(mono, from, to, rate);
    for (std::size_t k = 0; k < frequencies.size(); ++k)
        if (std::fabs(measured - frequencies[k]) <= 0.1 * frequencies[k]) return k;
    return std::nullopt;
}

double milliseconds(std::size_t frames, int rate) {
    return 1000.0 * double(frames) / rate;
}

void noteDropout(ToneSequence& sequence, const Silence& silence, int rate) {
    if (silence.frames > 2)
        sequence.longestDropoutMs =
            std::max(sequence.longestDropoutMs, milliseconds(silence.frames, rate));
}

}  // namespace

Silence longestSilence(std::span<const float> mono, std::size_t from, std::size_t to,
                       float threshold) {
    Silence longest, current;
    to = std::min(to, mono.size());
    for (std::size_t i = from; i < to; ++i) {
        if (std::fabs(mono[i]) < threshold) {
            if (current.frames == 0) current.start = i;
            ++current.frames;
            if (current.frames > longest.frames) longest = current;
        } else {
            current.frames = 0;
        }
    }
    return longest;
}

ToneSequence measureToneSequence(std::span<const float> mono, int rate,
                                 std::span<const double> frequencies) {
    ToneSequence result;
    std::size_t begin = 0;
    while (begin < mono.size() && std::fabs(mono[begin]) < kSound) ++begin;
    std::size_t end = mono.size();
    while (end > begin && std::fabs(mono[end - 1]) < kSound) --end;
    if (begin >= end) return result;

    // Label 10 ms windows with their tone; a join lies between the last window of one tone and
    // the first of the next.
    const std::size_t window = std::size_t(rate) / 100;
    std::vector<std::optional<std::size_t>> labels;
    for (std::size_t at = begin; at + window <= end; at += window)
        labels.push_back(toneOf(mono, at, at + window, rate, frequencies));

    std::size_t expected = 0;  // the tone now playing
    std::size_t lastOfTone = 0;
    bool started = false;
    std::vector<std::pair<std::size_t, std::size_t>> joinRegions;  // frames
    for (std::size_t w = 0; w < labels.size(); ++w) {
        if (!labels[w]) continue;
        if (!started) {
            if (*labels[w] != 0) return result;
            started = true;
        }
        if (*labels[w] == expected) {
            lastOfTone = w;
        } else if (expected + 1 < frequencies.size() && *labels[w] == expected + 1) {
            joinRegions.emplace_back(begin + (lastOfTone + 1) * window, begin + w * window);
            ++expected;
            lastOfTone = w;
        }
    }
    result.complete = started && expected + 1 == frequencies.size();
    // What follows the last tone (a playlist starting over) is no part of the sequence.
    end = std::min(end, begin + (lastOfTone + 1) * window);

    // Joins: the silence around each change, a window to either side; dropouts: silences
    // anywhere else between the first and the last sound.
    std::size_t outside = begin;
    for (std::size_t j = 0; j < joinRegions.size(); ++j) {
        const std::size_t from =
            joinRegions[j].first > begin + window ? joinRegions[j].first - window : begin;
        const std::size_t to = std::min(joinRegions[j].second + window, end);
        const Silence gap = longestSilence(mono, from, to, kSilent);
        result.joins.push_back(Join{frequencies[j], frequencies[j + 1],
                                    gap.frames > 2 ? milliseconds(gap.frames, rate) : 0.0});
        noteDropout(result, longestSilence(mono, outside, from, kSilent), rate);
        outside = to;
    }
    noteDropout(result, longestSilence(mono, outside, end, kSilent), rate);
    return result;
}
