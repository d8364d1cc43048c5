#include "engine/output/pulse/remembered_sinks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

OutputDevice sink(int i) {
    return {"sink" + std::to_string(i), "Sink " + std::to_string(i)};
}

// Sinks that come and go for ever (headsets, docks, screens) keep a bounded list: what a deck
// chose, and the newest of the rest.
TEST(RememberedSinks, KeepWhatWasChosenAndTheNewestOfTheRest) {
    constexpr int kGone = 40;
    const struct {
        const char* situation;
        std::vector<std::string> chosen;
        std::vector<int> back;  // there again after all went
        std::vector<int> described;
        std::vector<int> forgotten;
    } cases[] = {
        {"none chosen",
         {},
         {},
         {kGone - 1, kGone - int(RememberedSinks::kOthers)},
         {0, kGone - int(RememberedSinks::kOthers) - 1}},
        {"the first chosen", {"sink0"}, {}, {0, kGone - 1}, {1}},
        {"one back", {}, {kGone - 1}, {kGone - 2}, {kGone - 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        RememberedSinks remembered;
        remembered.choose(c.chosen);
        for (int i = 0; i < kGone; ++i) remembered.remember(sink(i));
        for (const int i : c.back) remembered.forget(sink(i).name);
        EXPECT_LE(remembered.size(), RememberedSinks::kOthers + c.chosen.size());
        for (const int i : c.described) {
            const std::string* description = remembered.describe(sink(i).name);
            ASSERT_NE(description, nullptr) << sink(i).name;
            EXPECT_EQ(*description, sink(i).description);
        }
        for (const int i : c.forgotten) EXPECT_EQ(remembered.describe(sink(i).name), nullptr);
    }
}

// A choice given up lets its sink be forgotten with the rest.
TEST(RememberedSinks, AChoiceGivenUpIsTrimmedWithTheRest) {
    RememberedSinks remembered;
    remembered.choose({"sink0"});
    for (int i = 0; i <= int(RememberedSinks::kOthers); ++i) remembered.remember(sink(i));
    ASSERT_NE(remembered.describe("sink0"), nullptr);
    remembered.choose({});
    EXPECT_EQ(remembered.describe("sink0"), nullptr);
    EXPECT_EQ(remembered.size(), RememberedSinks::kOthers);
}

}  // namespace
