#include "engine/decode/crossfade_overlap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TEST(CrossfadeOverlap, LastsItsSecondsOrHalfOfAShorterFile) {
    struct Case {
        const char* what;
        double seconds;
        int rate;
        std::int64_t ending;
        int endingRate;
        std::int64_t next;
        int nextRate;
        std::size_t frames;
    };
    // clang-format off
    const Case cases[] = {
        {"long files",                 4, 48000, 48000 * 60, 48000, 48000 * 60, 48000, 192000},
        {"off",                        0, 48000, 48000 * 60, 48000, 48000 * 60, 48000, 0},
        {"ending file of 6 s",         4, 48000, 48000 * 6,  48000, 48000 * 60, 48000, 144000},
        {"next file of 5 s",           8, 48000, 48000 * 60, 48000, 48000 * 5,  48000, 120000},
        {"a file at another rate",     8, 48000, 44100 * 6,  44100, 48000 * 60, 48000, 144000},
        {"next length not known yet",  2, 44100, 44100 * 60, 44100, 0,          0,     88200},
        {"exactly twice the crossfade", 4, 48000, 48000 * 8, 48000, 48000 * 8,  48000, 192000},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CrossfadeOverlap::framesFor(c.seconds, c.rate, c.ending, c.endingRate, c.next,
                                              c.nextRate),
                  c.frames);
    }
}

// Two unrelated tones of one power keep that power through the overlap, and each side of it
// meets its own file without a step.
TEST(CrossfadeOverlap, KeepsThePowerOfTwoUnrelatedSoundsAndMeetsEachFileSmoothly) {
    constexpr std::size_t kFrames = 48000;
    auto tone = [](double hz, std::size_t i) {
        return float(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / 48000));
    };
    std::vector<StereoFrame> tail(kFrames), next(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        tail[i] = {tone(440, i), tone(440, i)};
        next[i] = {tone(661, i), tone(661, i)};
    }
    struct Case {
        float ratio;  // the falling file's level against the rising one's
    };
    for (const Case c : {Case{1.0f}, Case{0.25f}}) {
        SCOPED_TRACE(c.ratio);
        CrossfadeOverlap overlap;
        overlap.begin(tail, c.ratio);
        std::vector<StereoFrame> mixed = next;
        // In pieces, as the decoder hands its chunks over.
        overlap.mixInto(std::span(mixed).first(1000));
        overlap.mixInto(std::span(mixed).subspan(1000));
        EXPECT_FALSE(overlap.active());
        // The first frame is the falling file at its level, the last the rising one.
        EXPECT_NEAR(mixed.front().left, tail.front().left * c.ratio + next.front().left * 0, 1e-4);
        EXPECT_NEAR(mixed.back().left, next.back().left, 1e-4);
        // The middle tenth: the two powers' half each.
        double power = 0;
        for (std::size_t i = kFrames * 9 / 20; i < kFrames * 11 / 20; ++i)
            power += double(mixed[i].left) * mixed[i].left;
        power /= double(kFrames / 10);
        const double expected = 0.125 * (c.ratio * c.ratio + 1) / 2;
        EXPECT_NEAR(10 * std::log10(power / expected), 0, 0.1);
    }
}

TEST(CrossfadeOverlap, ANextFileThatEndsWithinTheOverlapLeavesTheRestFallingAlone) {
    CrossfadeOverlap overlap;
    overlap.begin(std::vector<StereoFrame>(100, {1.0f, -1.0f}), 1.0f);
    std::vector<StereoFrame> next(40);  // silence
    overlap.mixInto(next);
    overlap.finish(next);
    ASSERT_EQ(next.size(), 100u);
    EXPECT_FALSE(overlap.active());
    for (std::size_t i = 0; i < next.size(); ++i) {
        const float expected = CrossfadeOverlap::fallingGain((double(i) + 0.5) / 100);
        EXPECT_FLOAT_EQ(next[i].left, expected);
        EXPECT_FLOAT_EQ(next[i].right, -expected);
    }
    // Nothing begun, nothing mixed.
    CrossfadeOverlap none;
    std::vector<StereoFrame> untouched(3, {0.5f, 0.5f});
    none.mixInto(untouched);
    none.finish(untouched);
    EXPECT_EQ(untouched.size(), 3u);
    EXPECT_EQ(untouched[0].left, 0.5f);
}

}  // namespace
