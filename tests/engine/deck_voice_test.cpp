// The callback's side of a deck on a stream fed by hand, so that the order in which the
// decoder's data and the UI's commands arrive is the test's to choose.
#include "engine/deck/deck_voice.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/deck/deck_stream.h"

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

// A track of 400 frames ends with the cued file announced behind it, but the cued file's first
// frames come only after the UI has taken it up: the deck plays on into it, it does not take
// the old boundary for a second end (which made the watch skip the file it had just started).
TEST(DeckVoice, ACuedFileTakenUpBeforeItsFirstFramesArriveGoesOnPlaying) {
    DeckStream stream;
    DeckVoice voice(stream);
    setPhase(stream, Phase::Playing);
    // As the decoder publishes: the segment, the frames, the continuation, then the end.
    DeckStream::DecoderSide decoder = stream.decoderSide();
    decoder.markSegment(kEpoch, 0);
    feed(stream, 400, 0.5f);
    decoder.markContinuation(kEpoch, 400);
    decoder.markEnd(kEpoch);

    std::vector<StereoFrame> out(512);
    voice.mixInto(out.data(), 512, MixTiming{});
    EXPECT_EQ(out[399].left, 0.5f);  // past the start's fade-in
    EXPECT_EQ(out[400].left, 0.0f);
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

// Every start from silence rises over the fade's frames, and a cut falls over as many where the
// output does not fade cuts itself; what the output fades itself, and a track that runs on, is
// left alone.
TEST(DeckVoice, StartsRiseAndCutsFallWhereTheOutputLeavesItToTheDeck) {
    constexpr int kFade = DeckVoice::kFadeFrames;
    enum Cut { Pause, NewEpoch };
    const struct {
        Cut cut;
        bool outputFades;
        int fadedFrames;  // of the old sound after the cut
    } cases[] = {
        {Pause, false, kFade},
        {NewEpoch, false, kFade},
        {Pause, true, 0},
        {NewEpoch, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cut == Pause ? "pause" : "new epoch") +
                     (c.outputFades ? ", the output fades" : ""));
        DeckStream stream;
        DeckVoice voice(stream);
        MixTiming timing;
        timing.outputFadesCuts = c.outputFades;
        setPhase(stream, Phase::Playing);
        stream.decoderSide().markSegment(kEpoch, 0);
        feed(stream, 4096, 0.5f);

        std::vector<StereoFrame> out(512);
        ASSERT_EQ(voice.mixInto(out.data(), 512, timing), 512);
        EXPECT_FLOAT_EQ(out[0].left, 0.5f / kFade);  // rises from silence
        EXPECT_FLOAT_EQ(out[kFade / 2 - 1].left, 0.25f);
        EXPECT_FLOAT_EQ(out[kFade - 1].left, 0.5f);

        if (c.cut == Pause) {
            setPhase(stream, Phase::Paused);
        } else {
            stream.uiSide().changeControl([](Word) -> std::optional<Word> {
                return Word{kEpoch + 1, Phase::Playing};
            });
        }
        out.assign(512, {});
        EXPECT_EQ(voice.mixInto(out.data(), 512, timing), c.fadedFrames);
        if (c.fadedFrames > 0) {
            EXPECT_FLOAT_EQ(out[0].left, 0.5f * (kFade - 1) / kFade);  // falls to silence
            EXPECT_FLOAT_EQ(out[kFade - 1].left, 0.0f);
        }
        EXPECT_EQ(out[kFade].left, 0.0f);

        if (c.cut == Pause) {
            // Resumed where it paused, the frames faded out not used up, and risen again.
            setPhase(stream, Phase::Playing);
            out.assign(512, {});
            ASSERT_EQ(voice.mixInto(out.data(), 512, timing), 512);
            EXPECT_FLOAT_EQ(out[0].left, 0.5f / kFade);
            EXPECT_FLOAT_EQ(out[kFade - 1].left, 0.5f);
        }
    }
}

// Audio made for one rate is given only to an output that plays at it (or says no rate): at
// another it would sound at another pitch, and it waits, kept, for the epoch made anew.
TEST(DeckVoice, AnEpochIsPlayedOnlyAtTheRateItWasMadeFor) {
    const struct {
        int epochRate;   // 0: no rate named for the epoch
        int outputRate;  // 0: the output takes whatever comes
        bool played;
    } cases[] = {
        {44100, 44100, true},  {48000, 48000, true},  {44100, 0, true},
        {44100, 48000, false}, {48000, 44100, false}, {0, 48000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.epochRate) + " Hz epoch, output at " +
                     std::to_string(c.outputRate));
        DeckStream stream;
        DeckVoice voice(stream);
        if (c.epochRate) stream.uiSide().setEpochRate(kEpoch, c.epochRate);
        setPhase(stream, Phase::Playing);
        stream.decoderSide().markSegment(kEpoch, 0);
        feed(stream, 512, 0.5f);
        std::vector<StereoFrame> out(256);
        MixTiming timing;
        timing.rate = c.outputRate;
        EXPECT_EQ(voice.mixInto(out.data(), 256, timing), c.played ? 256 : 0);
        EXPECT_EQ(stream.underruns(), 0u);
        // Nothing of it is used up while it waits.
        EXPECT_EQ(stream.publishedWriteIndex() - stream.outputSide().readIndex(),
                  c.played ? 256u : 512u);
    }
}

}  // namespace
