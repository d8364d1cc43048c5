#include "components/linear_resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <thread>

#include "components/spsc_ring.h"

namespace {

std::vector<StereoFrame> ramp(int n) {
    std::vector<StereoFrame> in;
    for (int i = 0; i < n; ++i) in.push_back({float(i), float(-i)});
    return in;
}

TEST(LinearResampler, SameRatePassesThrough) {
    LinearResampler r;
    r.reset(44100, 44100);
    std::vector<StereoFrame> out;
    const auto in = ramp(1000);
    r.process(in, out);
    r.finish(out);
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i].left, in[i].left);
}

TEST(LinearResampler, LengthIsExactAndChunksDoNotMatter) {
    for (const auto [from, to] :
         {std::pair{44100, 48000}, {22050, 48000}, {48000, 44100}, {32000, 48000}, {8000, 48000}}) {
        const auto in = ramp(from);  // one second
        LinearResampler whole;
        whole.reset(from, to);
        std::vector<StereoFrame> one;
        whole.process(in, one);
        whole.finish(one);
        EXPECT_EQ(one.size(), std::size_t(to)) << from << "->" << to;

        LinearResampler chunked;
        chunked.reset(from, to);
        std::vector<StereoFrame> many;
        std::mt19937 random(from);
        for (std::size_t at = 0; at < in.size();) {
            const std::size_t n = std::min<std::size_t>(1 + random() % 700, in.size() - at);
            chunked.process(std::span(in).subspan(at, n), many);
            at += n;
        }
        chunked.finish(many);
        ASSERT_EQ(many.size(), one.size());
        for (std::size_t i = 0; i < one.size(); ++i) {
            ASSERT_EQ(many[i].left, one[i].left) << i;
            ASSERT_EQ(many[i].right, one[i].right) << i;
        }
        // A ramp stays a ramp: output frame k lies at input position k * from / to.
        for (std::size_t k = 0; k < one.size() && double(k) * from / to < from - 1; k += 997)
            EXPECT_NEAR(one[k].left, double(k) * from / to, 1e-2) << k;
    }
}

TEST(SpscRing, CarriesDataBetweenTwoThreadsInOrder) {
    SpscRing<int> ring(1000);
    EXPECT_EQ(ring.capacity(), 1024u);
    constexpr int kCount = 1'000'000;
    std::thread producer([&] {
        int next = 0;
        std::vector<int> chunk;
        while (next < kCount) {
            chunk.clear();
            for (int i = 0; i < 100 && next + i < kCount; ++i) chunk.push_back(next + i);
            next += static_cast<int>(ring.write(chunk));
        }
    });
    int expected = 0;
    while (expected < kCount) {
        const std::uint64_t w = ring.publishedWriteIndex();
        std::uint64_t r = ring.readIndex();
        for (; r < w; ++r) ASSERT_EQ(ring.at(r), expected++);
        ring.releaseTo(r);
    }
    producer.join();
}

}  // namespace
