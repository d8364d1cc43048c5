#pragma once

#include <cmath>

// What measuring a file's sound gives: its EBU R128 integrated loudness and its sample peak.
struct MeasuredLoudness {
    double integratedLufs = 0;  // -infinity for a file that is silent throughout
    double samplePeak = 0;      // linear, of full scale

    bool operator==(const MeasuredLoudness&) const = default;
};

namespace LoudnessBounds {

// A decoded MP3 overshoots full scale where its encoder's filters ring on a clipped master: a
// few dB at most. Twice full scale (+6 dBFS) leaves room for that; a peak beyond it is damage,
// and believing it would hold the file near silence.
constexpr double kMaxSamplePeak = 2.0;
// R128's absolute gate: quieter blocks are not counted, so a measure below it is silence
// (-infinity) or not a measure.
constexpr double kGateLufs = -70.0;
// A sine measures its peak level, a square or a bright mix a few LU above it at most: a
// loudness further above its own peak was not measured from that sound.
constexpr double kMostAbovePeakLu = 10.0;

inline bool plausiblePeak(double peak) {
    return std::isfinite(peak) && peak > 0 && peak <= kMaxSamplePeak;
}

// Whether `measured` could come from measuring a decoded MP3: what is kept of a measure, or
// read back, is held to this before it levels a file.
inline bool plausible(const MeasuredLoudness& measured) {
    const double lufs = measured.integratedLufs;
    if (std::isinf(lufs) && lufs < 0)
        return std::isfinite(measured.samplePeak) && measured.samplePeak >= 0 &&
               measured.samplePeak <= kMaxSamplePeak;
    return std::isfinite(lufs) && lufs >= kGateLufs && plausiblePeak(measured.samplePeak) &&
           lufs <= 20 * std::log10(measured.samplePeak) + kMostAbovePeakLu;
}

}  // namespace LoudnessBounds
