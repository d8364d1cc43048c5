#include "engine/output/pulse/held_audio.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frame i carries i + 1 on the left, so that what comes out tells which frame it was.
std::vector<StereoFrame> numbered(std::size_t count, std::size_t from = 0) {
    std::vector<StereoFrame> frames(count);
    for (std::size_t i = 0; i < count; ++i)
        frames[i] = {static_cast<float>(from + i + 1), -static_cast<float>(from + i + 1)};
    return frames;
}

TEST(HeldAudio, KeepsWhatWasWrittenAndGivesItsGainsBackOnARewrite) {
    const struct {
        const char* name;
        std::size_t capacity;
        std::size_t written;
        float startGain;
        float target;  // of the frames written
        float step;
        std::size_t rewritten;
        float aim;  // of the rewrite; < 0: a fade out
        std::size_t glide;
        // Frames written, by their number, and the gain each must come out with.
        std::vector<std::pair<float, float>> expected;
    } cases[] = {
        {"a glide in the frames written",
         8,
         4,
         1.0f,
         0.5f,
         0.25f,
         4,
         1.0f,
         1,
         {{1, 1.0f}, {2, 1.0f}, {3, 1.0f}, {4, 1.0f}}},
        {"a rewrite glides from each frame's own gain",
         8,
         4,
         0.0f,
         1.0f,
         0.25f,
         4,
         0.0f,
         4,
         {{1, 0.25f * 0.75f}, {2, 0.5f * 0.5f}, {3, 0.75f * 0.25f}, {4, 0.0f}}},
        {"frames already at the aim come out as written",
         8,
         4,
         0.5f,
         0.5f,
         0.1f,
         2,
         0.5f,
         2,
         {{3, 0.5f}, {4, 0.5f}}},
        {"a fade out ends in silence and stays there",
         8,
         6,
         1.0f,
         1.0f,
         0.0f,
         5,
         -1.0f,
         2,
         {{2, 0.5f}, {3, 0.0f}, {4, 0.0f}, {5, 0.0f}, {6, 0.0f}}},
        {"the ring keeps the newest frames",
         4,
         10,
         1.0f,
         1.0f,
         0.0f,
         4,
         0.5f,
         1,
         {{7, 0.5f}, {8, 0.5f}, {9, 0.5f}, {10, 0.5f}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HeldAudio held;
        held.reserve(c.capacity);
        held.restart(c.startGain);
        std::vector<StereoFrame> frames = numbered(c.written);
        held.keep(frames.data(), frames.size(), c.target, c.step);
        EXPECT_EQ(held.count(), std::min(c.written, c.capacity));
        std::vector<StereoFrame> out(c.rewritten);
        if (c.aim < 0)
            held.fadeOut(c.rewritten, c.glide, out.data());
        else
            held.rewrite(c.rewritten, c.aim, c.glide, out.data());
        ASSERT_EQ(out.size(), c.expected.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            const auto [number, gain] = c.expected[i];
            EXPECT_FLOAT_EQ(out[i].left, number * gain) << "frame " << number;
            EXPECT_FLOAT_EQ(out[i].right, -number * gain) << "frame " << number;
        }
    }
}

TEST(HeldAudio, TheFramesWrittenFirstGlideToTheTargetAStepAFrame) {
    HeldAudio held;
    held.reserve(16);
    held.restart(0.0f);
    std::vector<StereoFrame> frames(5, StereoFrame{1.0f, 1.0f});
    held.keep(frames.data(), frames.size(), 0.5f, 0.2f);
    const float expected[] = {0.2f, 0.4f, 0.5f, 0.5f, 0.5f};
    for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_FLOAT_EQ(frames[i].left, expected[i]);
    EXPECT_FLOAT_EQ(held.applied(), 0.5f);
}

TEST(HeldAudio, ARewriteGoesOnFromWhereTheLastLeftItsFrames) {
    // A fade written, then a rewrite of the same frames: it starts from the faded gains, not
    // from those first written (which the server no longer holds).
    HeldAudio held;
    held.reserve(8);
    held.restart(1.0f);
    std::vector<StereoFrame> frames(4, StereoFrame{1.0f, 1.0f});
    held.keep(frames.data(), frames.size(), 1.0f, 0.0f);
    std::vector<StereoFrame> out(4);
    held.fadeOut(4, 1, out.data());
    held.rewrite(4, 1.0f, 4, out.data());
    const float expected[] = {0.25f, 0.5f, 0.75f, 1.0f};
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_FLOAT_EQ(out[i].left, expected[i]);
}

TEST(HeldAudio, ARewriteOfNothingAimsTheNextFramesWithoutMovingTheLastWrittenGain) {
    HeldAudio held;
    held.reserve(8);
    held.restart(1.0f);
    held.rewrite(0, 0.5f, 4, nullptr);
    EXPECT_FLOAT_EQ(held.rewritten(), 0.5f);
    EXPECT_FLOAT_EQ(held.applied(), 1.0f);
    held.forget();
    EXPECT_EQ(held.count(), 0u);
}

}  // namespace
