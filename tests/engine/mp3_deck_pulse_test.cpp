// Real sound: the deck through each output (the server's own streams, and SDL) into the private
// sound server's null sink, recorded with parec. These tests hold the "pulse" lock
// (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/heard_test.h"
#include "support/loaded_decks.h"
#include "support/output_kinds.h"
#include "support/shell_command.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = SinkRecorder::kRate;

double dB(double ratio) {
    return 20 * std::log10(ratio);
}

class Mp3DeckPulse : public HeardOnEachOutput {};

TEST_P(Mp3DeckPulse, BothDecksAreHeardAtTheirVolumes) {
    const std::string a = makeToneMp3(dir.path(), "a440.mp3", 440, 3, {.rate = 44100});
    const std::string b = makeToneMp3(dir.path(), "b880.mp3", 880, 3, {.rate = 48000, .vbr = true});
    SinkRecorder recorder;
    RecordingErrorSink errors;
    {
        LoadedDecks decks(errors, a, b, GetParam());
        Mp3Deck& deck1 = decks.deck1;
        Mp3Deck& deck2 = decks.deck2;
        deck1.setVolume(0);
        deck2.setVolume(-600);
        deck1.play();
        deck2.play();
        std::this_thread::sleep_for(1500ms);
        if (GetParam() == OutputKind::Pulse) {
            // The desktop's sound settings list each deck with its title; PulseAudio remembers
            // each deck's routing under an id of its own (PipeWire keeps no such property, and
            // would remember both decks by a role they share: they carry none there).
            const bool pulseAudio = !testServerIsPipeWire();
            const std::string streams = commandOutput("pactl list sink-inputs");
            const struct {
                const char* property;
                bool everywhere;
            } properties[] = {
                {"media.name = \"Deck 1: a440.mp3\"", true},
                {"media.name = \"Deck 2: b880.mp3\"", true},
                {"media.role = \"music\"", false},
                {"application.name = \"Velmor´s MP3-Player\"", true},
                {"module-stream-restore.id = \"velmor-mp3-player-deck-1\"", false},
                {"module-stream-restore.id = \"velmor-mp3-player-deck-2\"", false},
            };
            for (const auto& p : properties) {
                if (p.everywhere || pulseAudio) {
                    EXPECT_NE(streams.find(p.property), std::string::npos) << p.property;
                }
            }
        }
        deck1.stop();
        deck2.stop();
        std::this_thread::sleep_for(100ms);
    }
    const auto left = channelOf(recorder.stop(), 2, 0);
    EXPECT_TRUE(errors.taken().empty());
    const std::span<const float> middle = steadySecond(left, kRate);
    ASSERT_FALSE(middle.empty()) << "no sound recorded";
    EXPECT_NEAR(dB(medianOverWindows(middle, kRate, 440) / 0.5), 0.0, 0.5);
    EXPECT_NEAR(dB(medianOverWindows(middle, kRate, 880, 440)), -6.0, 0.5);  // -600: half
    EXPECT_LT(medianOverWindows(middle, kRate, 660), 0.005);                 // nothing else
}

TEST_P(Mp3DeckPulse, PlaysInRealTimeAndObeysPromptly) {
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4, {.rate = 44100});
    SinkRecorder recorder;
    RecordingErrorSink errors;
    const std::unique_ptr<AudioOutput> output = makeOutput(GetParam(), errors);
    Mp3Deck deck(*output, errors);
    deck.setFileName(mp3);
    output->ensureOpen();  // the device's start-up is not the deck's latency
    std::this_thread::sleep_for(200ms);

    const std::size_t playMark = recorder.frames();
    const auto playedAt = Clock::now();
    deck.play();
    EXPECT_EQ(deck.playState(), Deck::Playing);
    std::this_thread::sleep_for(1000ms);
    const double elapsed = std::chrono::duration<double>(Clock::now() - playedAt).count();
    // The clock counts what is heard; on a loaded machine it may lag a little.
    EXPECT_NEAR(deck.currentPosition(), elapsed, 0.08);

    const std::size_t pauseMark = recorder.frames();
    deck.pause();
    const double pausedAt = deck.currentPosition();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(deck.currentPosition(), pausedAt);
    EXPECT_EQ(deck.playState(), Deck::Paused);

    const std::size_t resumeMark = recorder.frames();
    deck.play();
    std::this_thread::sleep_for(300ms);
    EXPECT_NEAR(deck.currentPosition(), pausedAt + 0.3, 0.08);
    const std::size_t muteMark = recorder.frames();
    deck.setVolume(-10000);
    std::this_thread::sleep_for(200ms);
    deck.setVolume(0);
    std::this_thread::sleep_for(300ms);
    const std::size_t stopMark = recorder.frames();
    deck.stop();
    EXPECT_EQ(deck.currentPosition(), 0);
    std::this_thread::sleep_for(150ms);

    const auto left = channelOf(recorder.stop(), 2, 0);
    ASSERT_GT(left.size(), stopMark + kRate / 10);
    // Each command is heard before the next one is given: sound comes, or silence comes and
    // stays, within the span the command had. How soon is the benchmark's to say (bench/run.sh,
    // sound_bench control); the figures printed here are upper bounds, as the recorder lags.
    const auto between = [&](std::size_t from, std::size_t to) {
        return std::span<const float>(left).subspan(from, to - from);
    };
    const struct {
        const char* what;
        std::span<const float> span;
        bool toSound;
    } commands[] = {
        {"play to sound", between(playMark, pauseMark), true},
        {"pause to silence", between(pauseMark, resumeMark), false},
        {"play again to sound", between(resumeMark, muteMark), true},
        {"volume to silence", between(muteMark, muteMark + kRate / 10), false},  // back at 200 ms
        {"stop to silence", between(stopMark, left.size()), false},
    };
    for (const auto& command : commands) {
        const std::size_t at =
            command.toSound ? firstAbove(command.span, 0.01f) : endOfSound(command.span, 0.01f);
        std::printf("%s %.1f ms (an upper bound)\n", command.what, 1000.0 * double(at) / kRate);
        EXPECT_LT(at, command.span.size()) << command.what << ": not heard before the next";
    }
    // The pause kept the place: the sound resumed, and the tone is there at full level.
    const std::span<const float> tone(left.data() + playMark + kRate / 4, kRate / 2);
    EXPECT_NEAR(dB(medianOverWindows(tone, kRate, 440) / 0.5), 0.0, 0.5);
    const std::span<const float> restored(left.data() + stopMark - kRate / 5, kRate / 10);
    EXPECT_NEAR(dB(medianOverWindows(restored, kRate, 440) / 0.5), 0.0, 0.5);
    EXPECT_TRUE(errors.taken().empty());
}

// A stream starts only once its buffer holds the server's prebuffer (about 150 ms): a sound
// shorter than that, or the last moments of a track after a seek, must be pushed out.
TEST_P(Mp3DeckPulse, ShortSoundsAreHeard) {
    const std::string blip = makeToneMp3(dir.path(), "blip.mp3", 440, 0.1, {.rate = 48000});
    const std::string tail = makeToneMp3(dir.path(), "tail.mp3", 880, 2, {.rate = 48000});
    SinkRecorder recorder;
    RecordingErrorSink errors;
    LoadedDecks decks(errors, blip, tail, GetParam());
    decks.output.ensureOpen();
    std::this_thread::sleep_for(200ms);

    const std::size_t blipMark = recorder.frames();
    decks.deck1.play();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(decks.deck1.playState(), Deck::Stopped);
    const std::size_t blipEnd = recorder.frames();

    Mp3Deck& deck = decks.deck2;
    deck.play();
    std::this_thread::sleep_for(300ms);
    deck.pause();
    std::this_thread::sleep_for(200ms);
    const std::size_t seekMark = recorder.frames();
    deck.seek(deck.duration() - 0.1);  // paused: the last 100 ms are heard on play
    deck.play();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(deck.playState(), Deck::Stopped);
    const std::size_t tailEnd = recorder.frames();
    deck.seek(0);
    deck.play();
    std::this_thread::sleep_for(300ms);
    const std::size_t playingSeekMark = recorder.frames();
    deck.seek(deck.duration() - 0.12);  // playing: its last 120 ms
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(deck.playState(), Deck::Stopped);

    const auto left = channelOf(recorder.stop(), 2, 0);
    ASSERT_GT(left.size(), playingSeekMark);
    const auto part = [&](std::size_t from, std::size_t to) {
        return std::span<const float>(left.data() + from, to - from);
    };
    // Seconds from the first sound to the last.
    const auto heard = [&](std::span<const float> sound) {
        const std::size_t first = firstAbove(sound, 0.05f);
        return first < sound.size() ? double(endOfSound(sound, 0.05f) - first) / kRate : 0.0;
    };
    const auto peak = [&](std::span<const float> sound, double frequency) {
        const std::size_t first = firstAbove(sound, 0.05f);
        if (first + kRate / 20 > sound.size()) return 0.0;
        return toneAmplitude(sound.subspan(first, kRate / 20), kRate, frequency);
    };
    const auto blipSound = part(blipMark, blipEnd);
    const auto tailSound = part(seekMark, tailEnd);
    std::printf("0.1 s file: %.3f s heard, peak %.3f; the last 100 ms after a seek: %.3f s\n",
                heard(blipSound), peak(blipSound, 440), heard(tailSound));
    EXPECT_GT(peak(blipSound, 440), 0.3);
    EXPECT_NEAR(heard(blipSound), 0.1, 0.03);
    EXPECT_GT(peak(tailSound, 880), 0.3);
    EXPECT_NEAR(heard(tailSound), 0.1, 0.03);
    // What sounded before the seek ends within the recorder's lag; the last 120 ms follow it.
    EXPECT_GT(heard(part(playingSeekMark, left.size())), 0.1);
    EXPECT_TRUE(errors.taken().empty());
}

INSTANTIATE_TEST_SUITE_P(Outputs, Mp3DeckPulse,
                         ::testing::Values(OutputKind::Pulse, OutputKind::Sdl), outputName);

}  // namespace
