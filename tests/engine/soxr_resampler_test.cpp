#include "engine/decode/soxr_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "support/spectrum.h"
#include "support/tone_analysis.h"

namespace {

std::vector<StereoFrame> tone(int rate, double frequency, int frames) {
    std::vector<StereoFrame> out;
    for (int i = 0; i < frames; ++i) {
        const float v = float(0.5 * std::sin(2 * std::numbers::pi * frequency * i / rate));
        out.push_back({v, -v});
    }
    return out;
}

TEST(SoxrResampler, SameRatePassesThrough) {
    SoxrResampler r;
    ASSERT_TRUE(r.reset(44100, 44100));
    std::vector<StereoFrame> out;
    const auto in = tone(44100, 440, 1000);
    r.process(in, out);
    r.finish(out);
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i].left, in[i].left);
}

// The output lasts as long as the input, whatever the chunks, and is in phase with it: a tone
// at output frame k has the value the input tone has at instant k / to.
TEST(SoxrResampler, LengthIsExactChunksDoNotMatterAndPhaseIsKept) {
    for (const auto& [from, to] :
         {std::pair{44100, 48000}, {22050, 48000}, {48000, 44100}, {32000, 48000}, {8000, 48000}}) {
        const auto in = tone(from, 440, from + 7);  // a second and a bit
        const std::size_t exact = std::size_t(std::llround(double(in.size()) * to / from));
        SoxrResampler whole;
        ASSERT_TRUE(whole.reset(from, to));
        std::vector<StereoFrame> one;
        whole.process(in, one);
        whole.finish(one);
        EXPECT_EQ(one.size(), exact) << from << "->" << to;

        SoxrResampler chunked;
        chunked.reset(from, to);
        std::vector<StereoFrame> many;
        std::mt19937 random(from);
        for (std::size_t at = 0; at < in.size();) {
            const std::size_t n = std::min<std::size_t>(1 + random() % 3000, in.size() - at);
            chunked.process(std::span(in).subspan(at, n), many);
            at += n;
        }
        chunked.finish(many);
        ASSERT_EQ(many.size(), one.size());
        double worstChunk = 0;
        double worstPhase = 0;
        for (std::size_t k = 0; k < one.size(); ++k) {
            worstChunk = std::max(worstChunk, double(std::fabs(many[k].left - one[k].left)));
            if (k > std::size_t(to / 100) && k + to / 100 < one.size())  // away from the ends
                worstPhase = std::max(
                    worstPhase,
                    std::fabs(one[k].left - 0.5 * std::sin(2 * std::numbers::pi * 440 * k / to)));
        }
        EXPECT_LT(worstChunk, 1e-6) << from << "->" << to;
        EXPECT_LT(worstPhase, 1e-4) << from << "->" << to;
    }
}

// Everything but the tone lies more than 90 dB below it: images, aliases, noise.
TEST(SoxrResampler, ImagesAndAliasesStayBelowMinus90Decibels) {
    for (const auto& [from, to, frequency] : {std::tuple{44100, 48000, 15000.0},
                                              {44100, 48000, 19000.0},
                                              {48000, 44100, 20000.0},
                                              {22050, 48000, 9000.0}}) {
        SoxrResampler r;
        ASSERT_TRUE(r.reset(from, to));
        std::vector<StereoFrame> out;
        r.process(tone(from, frequency, 3 * from), out);
        r.finish(out);
        std::vector<float> left;
        for (std::size_t i = std::size_t(to) / 2; i < out.size(); ++i) left.push_back(out[i].left);
        const Spectrum spectrum = spectrumOf(left, to);
        const double level = toneAmplitude(left, to, frequency);
        EXPECT_NEAR(20 * std::log10(level / 0.5), 0.0, 0.01)
            << from << "->" << to << " at " << frequency;
        const double rest = spectrum.peakOutside(frequency - 100, frequency + 100, to / 2.0);
        EXPECT_LT(20 * std::log10(rest / level), -90) << from << "->" << to << " at " << frequency;
    }
}

}  // namespace
