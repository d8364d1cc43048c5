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
#include "engine/mp3_deck.h"
#include "support/loaded_decks.h"
#include "support/output_kinds.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
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

class Mp3DeckCuts : public ::testing::TestWithParam<OutputKind> {
protected:
    void SetUp() override {
        if (!SinkRecorder::available())
            GTEST_SKIP() << "PULSE_SERVER is not set: run through scripts/test.sh, or source "
                            "scripts/private_pulse.sh and start_private_pulse first";
    }
    TempDir dir;
};

TEST_P(Mp3DeckCuts, NoCommandClicks) {
    // A loud 1 kHz tone (-6 dBFS): its own largest step is 0.065.
    const std::string loud = makeToneMp3(dir.path(), "loud.mp3", 1000, 30, {.rate = 48000});
    const std::string other = makeToneMp3(dir.path(), "other.mp3", 700, 30, {.rate = 48000});
    SinkRecorder recorder;
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
        EXPECT_LE(step, 1.5f * own) << cuts[i].what;
    }
    EXPECT_TRUE(errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(Outputs, Mp3DeckCuts, ::testing::Values(OutputKind::Sdl), outputName);
// The server's streams fade by writing over what the server holds, placed by its timing: a cut
// still clicks now and then where that timing is off by more than the margin (PipeWire's more
// often than PulseAudio's), so this runs by hand
// (--gtest_also_run_disabled_tests) and bench/run.sh reports the clicks; a pass that may fail
// by chance would hold every other test's verdict hostage.
INSTANTIATE_TEST_SUITE_P(DISABLED_Server, Mp3DeckCuts, ::testing::Values(OutputKind::Pulse),
                         outputName);

}  // namespace
