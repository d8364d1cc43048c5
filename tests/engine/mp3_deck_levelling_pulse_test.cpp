// Levelling as it is heard: two decks into the private sound server's null sink, recorded with
// parec. These tests hold the "pulse" lock (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/loudness/loudness_service.h"
#include "support/heard_test.h"
#include "support/loaded_decks.h"
#include "support/output_kinds.h"
#include "support/replay_gain_bytes.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

constexpr int kRate = SinkRecorder::kRate;

double dB(double ratio) {
    return 20 * std::log10(ratio);
}

// A tone of peak 0.25 whose ID3 frames give it `gain` ("-6.00 dB") and its peak.
std::string taggedTone(const TempDir& dir, const std::string& name, double frequencyHz,
                       const std::string& gain) {
    const std::string path = makeToneMp3(dir.path(), name, frequencyHz, 3,
                                         {.rate = 44100, .amplitude = 0.25, .replayGain = false});
    std::ifstream in(path, std::ios::binary);
    std::stringstream audio;
    audio << in.rdbuf();
    in.close();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << ReplayGainBytes::id3v24Tag({ReplayGainBytes::txxxFrame("replaygain_track_gain", gain),
                                       ReplayGainBytes::txxxFrame("replaygain_track_peak", "0.3")})
        << audio.str();
    return path;
}

class LevellingMp3DeckPulse : public HeardOnEachOutput {};

TEST_P(LevellingMp3DeckPulse, ATrackInTrackModeIsHeardAtItsTaggedGainAndInOffAtItsOwn) {
    // Deck 1 levels by the tag, deck 2 plays the same tag Off: heard side by side, deck 1 stands
    // the tag's gain above or below deck 2, which plays the file's own level.
    const struct {
        const char* gain;
        double expectedDb;
    } cases[] = {{"-6.00 dB", -6}, {"0.00 dB", 0}, {"+6.00 dB", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gain);
        const std::string tag = std::to_string(static_cast<int>(c.expectedDb));
        const std::string a = taggedTone(dir, "a440" + tag + ".mp3", 440, c.gain);
        const std::string b = taggedTone(dir, "b880" + tag + ".mp3", 880, c.gain);
        SinkRecorder recorder;
        RecordingErrorSink errors;
        LoudnessService service;
        {
            LoadedDecks decks(errors, a, b, GetParam());
            for (Mp3Deck* deck : {&decks.deck1, &decks.deck2}) deck->useLoudness(service);
            decks.deck1.setLevelling(Deck::Levelling::Track, 0);
            decks.deck2.setLevelling(Deck::Levelling::Off, 0);
            ASSERT_TRUE(
                waitFor([&] { return service.gain(a, LevellingMode::Track, 0).has_value(); }, 10s));
            decks.deck1.followOutput();  // takes the level at once: it does not sound yet
            decks.deck1.play();
            decks.deck2.play();
            std::this_thread::sleep_for(1500ms);
            decks.deck1.stop();
            decks.deck2.stop();
            std::this_thread::sleep_for(100ms);
        }
        const auto left = channelOf(recorder.stop(), 2, 0);
        EXPECT_TRUE(errors.taken().empty());
        const std::span<const float> middle = steadySecond(left, kRate);
        ASSERT_FALSE(middle.empty()) << "no sound recorded";
        EXPECT_NEAR(dB(medianOverWindows(middle, kRate, 880) / 0.25), 0.0, 0.5);
        EXPECT_NEAR(dB(medianOverWindows(middle, kRate, 440, 880)), c.expectedDb, 0.2);
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, LevellingMp3DeckPulse,
                         ::testing::Values(OutputKind::Pulse, OutputKind::Sdl), outputName);

}  // namespace
