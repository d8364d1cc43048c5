#include "engine/output/pulse/graph_step.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Read indices as a server's timings report them, and the step learnt from them.
TEST(GraphStep, IsTheLargestStepThatDividesEveryMoveOfAWholeRound) {
    const struct {
        const char* name;
        std::vector<std::int64_t> indices;
        std::int64_t step;
    } cases[] = {
        {"nothing seen", {}, 0},
        {"a round not yet whole", {0, 8192, 16384, 24576}, 0},
        {"moves of two and three 1024-frame steps",
         {0, 16384, 40960, 57344, 81920, 98304, 122880, 139264, 163840},
         8192},
        {"a standing index (corked) moves nothing",
         {4096, 4096, 8192, 8192, 12288, 16384, 20480, 24576, 28672, 32768, 36864},
         4096},
        {"a flush that sets the index back is no move",
         {0, 8192, 4096, 12288, 20480, 28672, 36864, 45056, 53248, 61440},
         8192},
        {"a second round learns the step afresh: larger once a small client left",
         {0, 4096, 8192, 12288, 16384, 20480, 24576, 28672, 32768,      // 4096
          49152, 65536, 81920, 98304, 114688, 131072, 147456, 163840},  // 16384
         16384},
    };
    for (const auto& c : cases) {
        GraphStep step;
        for (const std::int64_t index : c.indices) step.see(index);
        EXPECT_EQ(step.bytes(), c.step) << c.name;
        step.forget();
        EXPECT_EQ(step.bytes(), 0) << c.name;
    }
}

}  // namespace
