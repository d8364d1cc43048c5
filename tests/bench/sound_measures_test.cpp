#include "sound_measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 48000;

// Tones one after the other, each starting at phase 0, with `gapFrames` of silence between
// them; `dropoutAt` (a fraction of the first tone) cuts `dropoutFrames` out of it.
std::vector<float> tones(const std::vector<double>& frequencies, double seconds, int gapFrames,
                         double dropoutAt = -1, int dropoutFrames = 0) {
    std::vector<float> out(kRate / 10, 0.0f);  // silence before, as a recording has it
    for (std::size_t k = 0; k < frequencies.size(); ++k) {
        if (k > 0) out.insert(out.end(), std::size_t(gapFrames), 0.0f);
        const int frames = int(seconds * kRate);
        for (int i = 0; i < frames; ++i) {
            const bool cut = k == 0 && dropoutAt >= 0 && i >= int(dropoutAt * frames) &&
                             i < int(dropoutAt * frames) + dropoutFrames;
            out.push_back(
                cut ? 0.0f
                    : float(0.5 * std::sin(2 * std::numbers::pi * frequencies[k] * i / kRate)));
        }
    }
    out.insert(out.end(), kRate / 10, 0.0f);
    return out;
}

TEST(SoundMeasures, SilenceAtEachJoinAndDropoutsElsewhere) {
    struct Case {
        const char* what;
        std::vector<double> played;  // the frequencies in the recording
        int gapFrames;
        double dropoutAt;
        int dropoutFrames;
        std::size_t joins;
        double gapMs;
        double dropoutMs;
        bool complete;
    } cases[] = {
        {"joined without a gap", {440, 660, 880}, 0, -1, 0, 2, 0.0, 0.0, true},
        {"8 ms at every join", {440, 660, 880}, 384, -1, 0, 2, 8.0, 0.0, true},
        {"one frame is no gap", {440, 660, 880}, 1, -1, 0, 2, 0.0, 0.0, true},
        {"a dropout inside the first tone", {440, 660, 880}, 0, 0.5, 96, 2, 0.0, 2.0, true},
        {"the last tone missing", {440, 660}, 0, -1, 0, 1, 0.0, 0.0, false},
        {"starting with the wrong tone", {660, 880}, 0, -1, 0, 0, 0.0, 0.0, false},
        {"the playlist starting over", {440, 660, 880, 440}, 480, -1, 0, 2, 10.0, 0.0, true},
    };
    const std::vector<double> expected = {440, 660, 880};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float> recording =
            tones(c.played, 0.5, c.gapFrames, c.dropoutAt, c.dropoutFrames);
        const ToneSequence measured = measureToneSequence(recording, kRate, expected);
        EXPECT_EQ(measured.complete, c.complete);
        ASSERT_EQ(measured.joins.size(), c.joins);
        for (std::size_t j = 0; j < measured.joins.size(); ++j) {
            EXPECT_EQ(measured.joins[j].fromHz, expected[j]);
            EXPECT_EQ(measured.joins[j].toHz, expected[j + 1]);
            EXPECT_NEAR(measured.joins[j].silenceMs, c.gapMs, 0.05) << j;
        }
        EXPECT_NEAR(measured.longestDropoutMs, c.dropoutMs, 0.05);
    }
}

}  // namespace
