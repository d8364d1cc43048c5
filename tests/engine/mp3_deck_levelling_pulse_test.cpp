// Levelling as it is heard: two decks into the private sound server's null sink, recorded with
// parec. These tests hold the "pulse" lock (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <span>
#include <sstream>
#include <thread>
#include <vector>

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

// Where the first window (10 ms) in which `frequencyHz` outweighs `otherHz` begins; npos if none.
std::size_t firstWindowOf(std::span<const float> mono, double frequencyHz, double otherHz) {
    constexpr std::size_t kWindow = kRate / 100;
    for (std::size_t at = 0; at + kWindow <= mono.size(); at += kWindow) {
        const std::span<const float> window = mono.subspan(at, kWindow);
        if (toneAmplitude(window, kRate, frequencyHz) > 0.02 &&
            toneAmplitude(window, kRate, frequencyHz) > 2 * toneAmplitude(window, kRate, otherHz))
            return at;
    }
    return std::string::npos;
}

// The level of `frequencyHz` in the last 300 ms before `join`, in 50 ms windows and in dB over
// `own`, short of the join by the join's own window.
std::vector<double> endLevels(std::span<const float> mono, std::size_t join, double frequencyHz,
                              double own) {
    constexpr std::size_t kWindow = kRate / 20;
    std::vector<double> levels;
    for (std::size_t at = join - kRate / 100 - 6 * kWindow; at + kWindow <= join - kRate / 100;
         at += kWindow)
        levels.push_back(dB(toneAmplitude(mono.subspan(at, kWindow), kRate, frequencyHz) / own));
    return levels;
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The server's output, which writes again what the server holds when the volume jumps; SDL's
// holds next to nothing, and each file's level is the voice's there anyway.
class LevellingGaplessMp3DeckPulse : public HeardOnEachOutput {};

TEST_P(LevellingGaplessMp3DeckPulse, AGaplessAdvanceGivesTheNextTracksLevelToItsFramesAlone) {
    // Loud (0 dB), quiet (-12 dB), loud again, each run on into the next as the playlist's watch
    // takes it up: the end of each keeps its own level, and the next starts at its own.
    const struct {
        const char* name;
        double frequencyHz;
        const char* gain;
        double db;
    } tracks[] = {{"1 loud660.mp3", 660, "0.00 dB", 0},
                  {"2 quiet440.mp3", 440, "-12.00 dB", -12},
                  {"3 loud880.mp3", 880, "0.00 dB", 0}};
    std::vector<std::string> paths;
    for (const auto& track : tracks)
        paths.push_back(taggedTone(dir, track.name, track.frequencyHz, track.gain));
    SinkRecorder recorder;
    RecordingErrorSink errors;
    LoudnessService service;
    {
        LoadedDecks decks(errors, paths[0], paths[1], GetParam());
        Mp3Deck& deck = decks.deck1;
        for (Mp3Deck* each : {&decks.deck1, &decks.deck2}) {  // deck 2 has the second measured
            each->useLoudness(service);
            each->setLevelling(Deck::Levelling::Track, 0);
        }
        ASSERT_TRUE(waitFor(
            [&] {
                return service.gain(paths[0], LevellingMode::Track, 0).has_value() &&
                       service.gain(paths[1], LevellingMode::Track, 0).has_value();
            },
            10s));
        decks.deck2.setFileName(paths[2]);
        ASSERT_TRUE(waitFor(
            [&] { return service.gain(paths[2], LevellingMode::Track, 0).has_value(); }, 10s));
        deck.followOutput();
        deck.play();
        // The watch, as each tick runs it: the next entry cued near the end, taken up and
        // played once the deck no longer plays the one before.
        for (std::size_t next = 1; next < paths.size(); ++next)
            ASSERT_TRUE(waitFor(
                [&] {
                    deck.followOutput();
                    if (deck.playState() == Deck::Playing) {
                        if (deck.duration() - deck.currentPosition() < 2.0)
                            deck.cueNext(paths[next]);
                        return false;
                    }
                    deck.setFileName(paths[next]);
                    deck.play();
                    return true;
                },
                20s));
        std::this_thread::sleep_for(1500ms);
        deck.stop();
        std::this_thread::sleep_for(100ms);
    }
    const auto left = channelOf(recorder.stop(), 2, 0);
    EXPECT_TRUE(errors.taken().empty());
    std::size_t start = firstAbove(left, 0.01f);
    for (std::size_t i = 0; i < std::size(tracks); ++i) {
        SCOPED_TRACE(tracks[i].name);
        const std::span<const float> heard = std::span<const float>(left).subspan(start);
        ASSERT_GT(heard.size(), std::size_t{kRate}) << "not heard";
        // Its own level, from its middle.
        const double own =
            medianOverWindows(heard.subspan(kRate / 4, kRate / 2), kRate, tracks[i].frequencyHz);
        EXPECT_NEAR(dB(own / 0.25), tracks[i].db, 0.5);
        if (i + 1 == std::size(tracks)) break;
        const std::size_t join =
            firstWindowOf(heard, tracks[i + 1].frequencyHz, tracks[i].frequencyHz);
        ASSERT_NE(join, std::string::npos) << "the next track was not heard";
        ASSERT_GT(join, std::size_t{kRate}) << "the track was cut short";
        // A dropout of a loaded server may spoil a window; the median tells the level.
        const std::vector<double> ends = endLevels(heard, join, tracks[i].frequencyHz, own);
        EXPECT_NEAR(median(ends), 0, 0.5) << "the end of the track took the next one's level";
        for (const double end : ends) EXPECT_LT(end, 0.5) << "the end of the track was raised";
        start += join;
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, LevellingMp3DeckPulse,
                         ::testing::Values(OutputKind::Pulse, OutputKind::Sdl), outputName);

INSTANTIATE_TEST_SUITE_P(Outputs, LevellingGaplessMp3DeckPulse,
                         ::testing::Values(OutputKind::Pulse), outputName);

}  // namespace
