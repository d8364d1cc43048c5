#include "engine/deck/spsc_ring.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

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
