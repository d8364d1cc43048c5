#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "support/sink_recorder.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

// The strongest frequency between `from` and `to`, to 2 Hz.
inline double strongest(std::span<const float> window, int rate, double from, double to) {
    double best = from, bestAmplitude = 0;
    for (double f = from; f <= to; f += 2) {
        const double a = toneAmplitude(window, rate, f);
        if (a > bestAmplitude) {
            best = f;
            bestAmplitude = a;
        }
    }
    return best;
}

// A sweep's file, decoded, to tell which frequency sounds where (sox's sweeps are not quite
// linear in time).
class Sweep {
public:
    Sweep(const std::string& mp3, double from, double to) : from(from), to(to) {
        const DecodedAudio audio = decodeWithMpg123(mp3);
        rate = audio.rate;
        left = channelOf(audio.samples, audio.channels, 0);
    }
    // The frequency 200 ms of the file around `seconds` sound at.
    double frequencyAt(double seconds) const {
        const auto start = static_cast<std::size_t>(std::max(0.0, seconds - 0.1) * rate);
        return strongest(std::span<const float>(left).subspan(start, rate / 5), rate, from, to);
    }
    // True when `window` of a recording sounds like the file at `seconds`, give or take
    // `tolerance` seconds.
    bool soundsAt(std::span<const float> window, double seconds, double tolerance) const {
        const double heard = strongest(window, SinkRecorder::kRate, from, to);
        const bool ok =
            heard >= frequencyAt(seconds - tolerance) && heard <= frequencyAt(seconds + tolerance);
        if (!ok)
            ADD_FAILURE() << heard << " Hz is not between " << frequencyAt(seconds - tolerance)
                          << " and " << frequencyAt(seconds + tolerance) << " Hz";
        return ok;
    }

private:
    std::vector<float> left;
    int rate = 0;
    double from, to;
};
