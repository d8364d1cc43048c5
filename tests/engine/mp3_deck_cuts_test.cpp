// No command clicks: every cut of sound that plays fades out and every start fades in, while a
// track that runs on into the next stays untouched. Recorded from the private sound server's
// null sink; these tests hold the "pulse" lock (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <span>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/heard_test.h"
#include "support/loaded_decks.h"
#include "support/null_sink.h"
#include "support/output_kinds.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

using namespace std::chrono_literals;
constexpr int kRate = SinkRecorder::kRate;

// The largest step between two neighbouring samples: a cut from full swing to silence is many
// times the tone's own.
float largestStep(std::span<const float> mono) {
    float largest = 0;
    for (std::size_t i = 1; i < mono.size(); ++i)
        largest = std::max(largest, std::fabs(mono[i] - mono[i - 1]));
    return largest;
}

// Where a click lies and what the sound does around it: peaks of 0.25 ms, the click's marked.
void printAround(std::span<const float> mono, std::size_t from, std::size_t to, float step) {
    std::size_t at = from + 1;
    while (at + 1 < to && std::fabs(mono[at] - mono[at - 1]) < step) ++at;
    std::printf("  %zu frames into the span:", at - from);
    constexpr std::size_t kPiece = kRate / 4000;
    for (std::size_t b = std::max(at, 24 * kPiece) - 24 * kPiece;
         b < std::min(at + 24 * kPiece, mono.size() - kPiece); b += kPiece) {
        float peak = 0;
        for (std::size_t k = b; k < b + kPiece; ++k) peak = std::max(peak, std::fabs(mono[k]));
        std::printf(" %.2f%s", peak, b <= at && at < b + kPiece ? "*" : "");
    }
    std::printf("\n");
}

class Mp3DeckCuts : public HeardOnEachOutput {};

TEST_P(Mp3DeckCuts, NoCommandClicks) {
    // A loud 1 kHz tone (-6 dBFS): its own largest step is 0.065.
    const std::string loud = makeToneMp3(dir.path(), "loud.mp3", 1000, 30, {.rate = 48000});
    const std::string other = makeToneMp3(dir.path(), "other.mp3", 700, 30, {.rate = 48000});
    // PulseAudio's null sink renders ahead by its smallest client's piece, and its monitor
    // passes that on at once: a rewind into it, which a sound card's sink plays as rewritten,
    // reaches the recording as a splice of old and new. Pieces of 1 ms keep what is rendered
    // ahead short of where any rewrite starts. PipeWire rewinds nothing; pieces that short
    // would only shrink its graph's step until it drops out.
    SinkRecorder recorder("velmor_null.monitor",
                          testServerIsPipeWire() ? SinkRecorder::defaultLatencyMs() : 1);
    // Another output, at another rate: the deck sent there is heard leaving this one.
    NullSink elsewhere("velmor_cuts_other", "Elsewhere", "rate=44100");
    RecordingErrorSink errors;
    LoadedDecks decks(errors, loud, other, GetParam());
    Mp3Deck& deck = decks.deck1;
    decks.output.ensureOpen();
    std::this_thread::sleep_for(200ms);
    const struct {
        const char* what;
        std::function<void()> act;
    } cuts[] = {
        {"play", [&] { deck.play(); }},
        {"pause", [&] { deck.pause(); }},
        {"play after pause", [&] { deck.play(); }},
        {"step forward", [&] { deck.stepForward(); }},
        {"step back", [&] { deck.stepBack(); }},
        {"seek", [&] { deck.seek(3.3337); }},
        {"volume down at once", [&] { deck.setVolume(-1200); }},
        {"volume up at once", [&] { deck.setVolume(0); }},
        {"another file",
         [&] {
             deck.setFileName(other);
             deck.play();
         }},
        {"back to the first",
         [&] {
             deck.setFileName(loud);
             deck.play();
         }},
        {"another output", [&] { decks.output.chooseDevice("Deck 1", "velmor_cuts_other"); }},
        {"back to its output", [&] { decks.output.chooseDevice("Deck 1", ""); }},
        {"stop", [&] { deck.stop(); }},
        {"play after stop", [&] { deck.play(); }},
    };
    std::vector<std::size_t> marks;
    for (const auto& cut : cuts) {
        marks.push_back(recorder.frames());
        cut.act();
        for (int tick = 0; tick < 40; ++tick) {  // 400 ms of the window's tick
            deck.followOutput();
            std::this_thread::sleep_for(10ms);
        }
    }
    marks.push_back(recorder.frames());
    const std::vector<float> left = channelOf(recorder.stop(), 2, 0);
    ASSERT_GE(left.size(), marks.back());
    // The tone's own, where it plays steadily: the end of the first play.
    const float own = largestStep(std::span(left).subspan(marks[1] - kRate / 5, kRate / 5));
    ASSERT_GT(own, 0.05f);
    for (std::size_t i = 0; i < std::size(cuts); ++i) {
        const float step = largestStep(std::span(left).subspan(marks[i], marks[i + 1] - marks[i]));
        std::printf("%-20s largest step %.2f x the tone's own\n", cuts[i].what, step / own);
        if (step > 1.5f * own) printAround(left, marks[i], marks[i + 1], step);
        EXPECT_LE(step, 1.5f * own) << cuts[i].what;
    }
    EXPECT_TRUE(errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(Outputs, Mp3DeckCuts,
                         ::testing::Values(OutputKind::Sdl, OutputKind::Pulse), outputName);

}  // namespace
