// The control word's one compare-and-swap helper under the interleavings that matter: another
// thread changes the word between the moment a command decides and the moment it writes.
#include "engine/deck/deck_control.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using Phase = DeckControl::Phase;
using Word = DeckControl::Word;

struct Interleaving {
    const char* name;
    Phase before;                    // what the seek sees first
    std::optional<Phase> meanwhile;  // what another thread writes before the seek's write
    Phase expected;
};

// A seek decides its phase from the word it replaces: a track that ends while the seek is
// under way stays over (stopped where the seek puts it) instead of playing again.
TEST(DeckControl, ASeekDecidesOnTheWordItReplaces) {
    const Interleaving table[] = {
        {"playing", Phase::Playing, std::nullopt, Phase::Playing},
        {"paused", Phase::Paused, std::nullopt, Phase::Paused},
        {"stopped", Phase::Stopped, std::nullopt, Phase::Stopped},
        {"ended", Phase::Ended, std::nullopt, Phase::Stopped},
        {"endsMeanwhile", Phase::Playing, Phase::Ended, Phase::Stopped},
        {"pausedMeanwhile", Phase::Playing, Phase::Paused, Phase::Paused},
    };
    for (const Interleaving& row : table) {
        DeckControl control;
        control.change([&](Word) -> std::optional<Word> { return Word{7, row.before}; });
        int decisions = 0;
        const Word result = control.change([&](Word seen) -> std::optional<Word> {
            if (decisions++ == 0 && row.meanwhile) {
                EXPECT_EQ(seen, (Word{7, row.before})) << row.name;
                control.change([&](Word) -> std::optional<Word> {
                    return Word{7, *row.meanwhile};
                });
            }
            return Word{8, DeckControl::afterSeek(seen.phase)};
        });
        EXPECT_EQ(result, (Word{8, row.expected})) << row.name;
        EXPECT_EQ(control.load(std::memory_order_acquire), (Word{8, row.expected})) << row.name;
        EXPECT_EQ(decisions, row.meanwhile ? 2 : 1) << row.name;
    }
}

TEST(DeckControl, NothingChangesWhenTheTransitionDeclines) {
    DeckControl control;
    control.change([](Word) -> std::optional<Word> { return Word{3, Phase::Paused}; });
    const Word left = control.change([](Word) -> std::optional<Word> { return std::nullopt; });
    EXPECT_EQ(left, (Word{3, Phase::Paused}));
    // Epochs wrap at 24 bits in the word as in every mark.
    control.change([](Word) -> std::optional<Word> {
        return Word{DeckControl::nextEpoch(DeckControl::kEpochMask), Phase::Playing};
    });
    EXPECT_EQ(control.load(std::memory_order_relaxed), (Word{0, Phase::Playing}));
}

}  // namespace
