// The callback's side of a deck on a stream fed by hand, so that the order in which the
// decoder's data and the UI's commands arrive is the test's to choose.
#include "engine/deck_voice.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/deck_stream.h"

namespace {

using Phase = DeckControl::Phase;
using Word = DeckControl::Word;

constexpr std::uint32_t kEpoch = 3;

void setPhase(DeckStream& stream, Phase phase) {
    stream.uiSide().changeControl([&](Word) -> std::optional<Word> { return Word{kEpoch, phase}; });
}

Phase phaseOf(const DeckStream& stream) {
    return stream.control().phase;
}

void feed(DeckStream& stream, std::size_t frames, float value) {
    const std::vector<StereoFrame> data(frames, StereoFrame{value, value});
    ASSERT_EQ(stream.decoderSide().write(data), frames);
}

// A track of 100 frames ends with the cued file announced behind it, but the cued file's first
// frames come only after the UI has taken it up: the deck plays on into it, it does not take
// the old boundary for a second end (which made the watch skip the file it had just started).
TEST(DeckVoice, ACuedFileTakenUpBeforeItsFirstFramesArriveGoesOnPlaying) {
    DeckStream stream;
    DeckVoice voice(stream);
    setPhase(stream, Phase::Playing);
    // As the decoder publishes: the segment, the frames, the continuation, then the end.
    DeckStream::DecoderSide decoder = stream.decoderSide();
    decoder.markSegment(kEpoch, 0);
    feed(stream, 100, 0.5f);
    decoder.markContinuation(kEpoch, 100);
    decoder.markEnd(kEpoch);

    std::vector<StereoFrame> out(256);
    voice.mixInto(out.data(), 256, MixTiming{});
    EXPECT_EQ(out[99].left, 0.5f);
    EXPECT_EQ(out[100].left, 0.0f);
    ASSERT_EQ(phaseOf(stream), Phase::Cued);

    setPhase(stream, Phase::Playing);  // the next-file step took the cued file up
    out.assign(256, {});
    voice.mixInto(out.data(), 256, MixTiming{});  // still nothing of it
    EXPECT_EQ(phaseOf(stream), Phase::Playing);

    feed(stream, 256, 0.25f);
    out.assign(256, {});
    voice.mixInto(out.data(), 256, MixTiming{});
    EXPECT_EQ(phaseOf(stream), Phase::Playing);
    EXPECT_EQ(out[0].left, 0.25f);
    EXPECT_EQ(out[255].left, 0.25f);
}

}  // namespace
