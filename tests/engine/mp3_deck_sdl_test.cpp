// The real deck through SDL: the disk driver (faster than real time, exact samples), and sound
// servers of the tests' own that are missing at the start, go away or hang while decks play.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/mp3_deck.h"
#include "engine/sdl_output.h"
#include "support/file_text.h"
#include "support/kept_up.h"
#include "support/loaded_decks.h"
#include "support/own_pulse_server.h"
#include "support/scoped_env.h"
#include "support/shell_command.h"
#include "support/spectrum.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

// What the disk driver was handed, and how much of it the decks could not fill in time.
struct DiskRun {
    std::vector<float> samples;
    std::uint64_t underruns = 0;
};

TEST(Mp3DeckSdl, DiskDriverGetsBothDecksMixedAtTheirVolumes) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 2, {.rate = 44100});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 2, {.rate = 22050, .channels = 1});
    const std::string raw = dir.file("out.raw");
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", raw);
    ScopedEnv delay("SDL_DISKAUDIODELAY", "4");  // ms per 21.3 ms buffer: five times real time
    const DiskRun run = firstRunThatKeptUp([&] {
        DiskRun result;
        {
            RecordingErrorSink errors;
            LoadedDecks decks(errors, a, b);
            Mp3Deck& deck1 = decks.deck1;
            Mp3Deck& deck2 = decks.deck2;
            deck2.setVolume(-600);
            deck1.play();
            deck2.play();
            EXPECT_EQ(deck1.playState(), Deck::Playing);
            EXPECT_EQ(deck2.playState(), Deck::Playing);
            EXPECT_TRUE(waitFor([&] { return deck1.currentPosition() > 0; }, 2000ms));
            EXPECT_TRUE(waitFor(
                [&] {
                    return deck1.playState() == Deck::Stopped && deck2.playState() == Deck::Stopped;
                },
                10000ms));
            EXPECT_TRUE(errors.taken().empty());
            result.underruns = deck1.underrunFrames() + deck2.underrunFrames();
        }
        result.samples = fileFloats(raw);
        return result;
    });
    ASSERT_EQ(run.underruns, 0u) << "the machine was too busy to judge the sound";
    const auto left = channelOf(run.samples, 2, 0);
    const std::size_t start = firstAbove(left, 1e-3f);
    ASSERT_LT(start + 48000, left.size());
    const std::span<const float> second(left.data() + start + 24000, 48000);
    EXPECT_NEAR(20 * std::log10(toneAmplitude(second, 48000, 440) / 0.5), 0.0, 0.5);
    EXPECT_NEAR(20 * std::log10(toneAmplitude(second, 48000, 880) / 0.5), -6.0, 0.5);
}

// A 44.1 kHz file through the 48 kHz device: the tone keeps its level, and its images and
// aliases stay more than 90 dB below it.
TEST(Mp3DeckSdl, ResamplingKeepsTheToneAndAddsNothingAbove90DecibelsBelowIt) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 15000, 4, {.rate = 44100});
    const DecodedAudio reference = decodeWithMpg123(mp3);
    const auto referenceLeft = channelOf(reference.samples, reference.channels, 0);
    const double referenceLevel =
        toneAmplitude(std::span(referenceLeft).subspan(44100 / 2, 3 * 44100), 44100, 15000);
    const std::string raw = dir.file("out.raw");
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", raw);
    ScopedEnv delay("SDL_DISKAUDIODELAY", "4");
    const DiskRun run = firstRunThatKeptUp([&] {
        DiskRun result;
        {
            RecordingErrorSink errors;
            SdlOutput output(errors);
            Mp3Deck deck(output, errors);
            deck.setFileName(mp3);
            deck.play();
            EXPECT_TRUE(waitFor([&] { return deck.playState() == Deck::Stopped; }, 20000ms));
            EXPECT_TRUE(errors.taken().empty());
            result.underruns = deck.underrunFrames();
        }
        result.samples = fileFloats(raw);
        return result;
    });
    ASSERT_EQ(run.underruns, 0u) << "the machine was too busy to judge the sound";
    const auto left = channelOf(run.samples, 2, 0);
    const std::size_t start = firstAbove(left, 1e-3f);
    ASSERT_LT(start + 3 * 48000, left.size());
    const std::span<const float> middle(left.data() + start + 48000 / 2, 3 * 48000);
    const double level = toneAmplitude(middle, 48000, 15000);
    EXPECT_NEAR(20 * std::log10(level / referenceLevel), 0.0, 0.1);
    const Spectrum spectrum = spectrumOf(middle, 48000);
    const double rest = spectrum.peakOutside(14900, 15100, 24000);
    std::printf("15 kHz tone %+.3f dB against mpg123, everything else %.1f dB below it\n",
                20 * std::log10(level / referenceLevel), 20 * std::log10(level / rest));
    EXPECT_LT(20 * std::log10(rest / level), -90);
}

// Between two callbacks the position moves on with the clock, never past what the device was
// handed, and it stands still while paused.
TEST(Mp3DeckSdl, ThePositionMovesBetweenCallbacksAndStandsStillWhilePaused) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4, {.rate = 48000});
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "21");  // about real time
    RecordingErrorSink errors;
    SdlOutput output(errors);
    Mp3Deck deck(output, errors);
    deck.setFileName(mp3);
    deck.play();
    ASSERT_TRUE(waitFor([&] { return deck.currentPosition() > 0.1; }, 3000ms));
    auto handedSeconds = [&] {
        const std::uint64_t played = deck.stream().played().playedMark;
        const std::uint64_t segment = deck.stream().segment();
        return double(DeckStream::distance(DeckStream::indexOf(segment),
                                           DeckStream::indexOf(played))) /
               48000;
    };
    std::set<double> positions;
    std::set<std::uint64_t> callbacks;
    double last = 0;
    for (int i = 0; i < 500; ++i) {
        const double position = deck.currentPosition();
        EXPECT_GE(position, last);
        EXPECT_LE(position, handedSeconds() + 1e-9);
        last = position;
        positions.insert(position);
        callbacks.insert(deck.stream().played().playedMark);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_GT(positions.size(), 2 * callbacks.size()) << "the position moves only with callbacks";

    deck.pause();
    const double pausedAt = deck.currentPosition();
    EXPECT_LE(pausedAt - last, 0.03);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(deck.currentPosition(), pausedAt);
    deck.play();
    ASSERT_TRUE(waitFor([&] { return deck.currentPosition() > pausedAt + 0.05; }, 3000ms));
    EXPECT_TRUE(errors.taken().empty());
}

TEST(Mp3DeckSdl, NoSoundServerAtStartThenOneComesUp) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4);
    OwnPulseServer server(dir.path());
    ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio");
    ScopedEnv address("PULSE_SERVER", server.address());
    RecordingErrorSink errors;
    SdlOutput output(errors);
    Mp3Deck deck(output, errors);
    deck.setFileName(mp3);
    deck.play();
    EXPECT_EQ(deck.playState(), Deck::Playing);  // the file opened; the watch must not skip it
    auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("No sound output: ", 0), 0u) << lines[0];
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(deck.currentPosition(), 0);  // no sound, no clock
    deck.pause();
    deck.play();  // tried again in the background; said once
    EXPECT_EQ(errors.taken().size(), 1u);
    deck.stop();

    // The server comes up while the deck is stopped: "Play" finds it.
    ASSERT_TRUE(server.start());
    deck.play();
    EXPECT_TRUE(waitFor([&] { return deck.currentPosition() > 0.1; }, 5000ms));
    EXPECT_TRUE(output.isOpen());
    lines = errors.taken();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Sound output is back");
}

// A device through which nothing plays for a while is closed without a word; "Play" opens one
// again and the deck goes on from where it was paused.
TEST(Mp3DeckSdl, AnUnusedDeviceIsClosedAndPlayOpensOneAgain) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 4, {.rate = 48000});
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "21");  // about real time
    RecordingErrorSink errors;
    SdlOutput::Options options;
    options.restAfter = 300ms;
    SdlOutput output(errors, options);
    Mp3Deck deck(output, errors);
    deck.setFileName(mp3);
    deck.play();
    ASSERT_TRUE(waitFor([&] { return deck.currentPosition() > 0.3; }, 3000ms));
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(output.isOpen()) << "closed while a deck played";
    deck.pause();
    const double pausedAt = deck.currentPosition();
    EXPECT_TRUE(waitFor([&] { return !output.isOpen(); }, 2000ms));
    deck.play();
    EXPECT_TRUE(waitFor([&] { return deck.currentPosition() > pausedAt + 0.2; }, 3000ms));
    EXPECT_TRUE(output.isOpen());
    EXPECT_GE(deck.currentPosition(), pausedAt);
    EXPECT_TRUE(errors.taken().empty());
}

// How a sound server goes away and comes back.
struct Outage {
    const char* name;
    void (*leave)(OwnPulseServer&);
    bool (*comeBack)(OwnPulseServer&);
};

const Outage kOutages[] = {
    {"killedAndStarted", [](OwnPulseServer& s) { s.kill(); },
     [](OwnPulseServer& s) { return s.start(); }},
    // No callback comes any more, and SDL says nothing: a restarted PipeWire does this.
    {"hungAndThawed", [](OwnPulseServer& s) { s.freeze(); },
     [](OwnPulseServer& s) {
         s.thaw();
         return true;
     }},
};

void PrintTo(const Outage& outage, std::ostream* out) {
    *out << outage.name;
}

class Mp3DeckOutage : public ::testing::TestWithParam<std::tuple<Outage, OutputKind>> {
protected:
    const Outage& outage() const { return std::get<0>(GetParam()); }
};

TEST_P(Mp3DeckOutage, DecksKeepTheirPlacesAndPlayOnOnceTheSoundIsBack) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 8);
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 8);
    OwnPulseServer server(dir.path());
    ASSERT_TRUE(server.start()) << "cannot start a PulseAudio server of our own";
    ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio");
    ScopedEnv address("PULSE_SERVER", server.address());
    RecordingErrorSink errors;
    LoadedDecks decks(errors, a, b, std::get<1>(GetParam()));
    AudioOutput& output = decks.output;
    Mp3Deck& deck1 = decks.deck1;
    Mp3Deck& deck2 = decks.deck2;
    deck1.play();
    deck2.play();
    ASSERT_TRUE(output.isOpen()) << (errors.taken().empty() ? "" : errors.taken()[0]);
    ASSERT_TRUE(waitFor([&] { return deck2.currentPosition() > 0.2; }, 3000ms));
    deck2.pause();  // paused: not named when the sound goes
    ASSERT_TRUE(waitFor([&] { return deck1.currentPosition() > 0.5; }, 3000ms));
    EXPECT_NE(
        commandOutput("pactl list sink-inputs").find("application.name = \"Velmor´s MP3-Player\""),
        std::string::npos);

    outage().leave(server);
    ASSERT_TRUE(waitFor([&] { return !errors.taken().empty(); }, 3000ms));
    EXPECT_EQ(errors.taken()[0], "Sound output lost while playing " + a);
    EXPECT_EQ(deck1.playState(), Deck::Playing);  // not the end of the track
    EXPECT_EQ(deck2.playState(), Deck::Paused);
    const double stoppedAt = deck1.currentPosition();
    const double pausedAt = deck2.currentPosition();
    EXPECT_GT(stoppedAt, 0.5);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(deck1.currentPosition(), stoppedAt);  // no sound, no clock

    ASSERT_TRUE(outage().comeBack(server));
    ASSERT_TRUE(waitFor([&] { return deck1.currentPosition() > stoppedAt + 0.3; }, 5000ms));
    EXPECT_EQ(deck1.playState(), Deck::Playing);
    EXPECT_EQ(deck2.currentPosition(), pausedAt);
    deck2.play();
    EXPECT_TRUE(waitFor([&] { return deck2.currentPosition() > pausedAt + 0.2; }, 3000ms));
    const auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "Sound output is back");
}

INSTANTIATE_TEST_SUITE_P(Ways, Mp3DeckOutage,
                         ::testing::Combine(::testing::ValuesIn(kOutages),
                                            ::testing::Values(OutputKind::Sdl, OutputKind::Pulse)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == OutputKind::Sdl ? "Sdl" : "Pulse");
                         });

}  // namespace
