// The real deck through SDL: the disk driver (faster than real time, exact samples), and sound
// servers of the tests' own that are missing at the start, go away or hang while decks play.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/deck/audio_source.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"
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

    // No sound, no clock: from the loss's line on, the clock stands until the output is open
    // again. Read before the output is asked, a clock that moved while it was not open ran on.
    std::optional<double> ranOnTo;
    const auto standsUntilOpen = [&] {
        const double now = deck1.currentPosition();
        if (now != stoppedAt && !output.isOpen() && !ranOnTo) ranOnTo = now;
        return now;
    };
    standsUntilOpen();
    ASSERT_TRUE(outage().comeBack(server));
    ASSERT_TRUE(waitFor([&] { return standsUntilOpen() > stoppedAt + 0.3; }, 5000ms));
    EXPECT_FALSE(ranOnTo) << "the clock ran on to " << *ranOnTo << " from " << stoppedAt
                          << " with no sound";
    EXPECT_EQ(deck1.playState(), Deck::Playing);
    EXPECT_EQ(deck2.currentPosition(), pausedAt);
    deck2.play();
    EXPECT_TRUE(waitFor([&] { return deck2.currentPosition() > pausedAt + 0.2; }, 3000ms));
    const auto lines = errors.taken();
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "Sound output is back");
}

// A source that sounds a steady level and notes when its clock is held.
class HoldNotingSource final : public AudioSource {
public:
    int mixInto(StereoFrame* out, int frames, const MixTiming&) noexcept override {
        for (int i = 0; i < frames; ++i) {
            out[i].left += 0.1f;
            out[i].right += 0.1f;
        }
        mixed.fetch_add(frames, std::memory_order_relaxed);
        return frames;
    }
    void holdClock(std::int64_t, int) noexcept override { held.store(true); }
    void retime(const MixTiming&) noexcept override {}
    bool isPlaying() const noexcept override { return true; }
    DeckControl::Word control() const noexcept override { return {1, DeckControl::Phase::Playing}; }
    float gain() const noexcept override { return 1.0f; }
    std::string playingName() const override { return "steady.mp3"; }
    std::string label() const override { return "Deck 1"; }
    std::string title() const override { return "steady.mp3"; }
    std::atomic<bool> held{false};
    std::atomic<long> mixed{0};
};

// Each line, with whether the source's clock was held by the time it was told.
class HoldNotingErrors final : public ErrorSink {
public:
    explicit HoldNotingErrors(const HoldNotingSource& source) : source(source) {}
    void report(std::string_view cause) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(std::string(cause), source.held.load());
    }
    std::vector<std::pair<std::string, bool>> taken() {
        std::lock_guard lock(mutex);
        return lines;
    }

private:
    const HoldNotingSource& source;
    std::mutex mutex;
    std::vector<std::pair<std::string, bool>> lines;
};

// What the output had taken of a source is not heard once the server is gone: the source's
// clock stands where the sound stopped by the time the loss is told, so that whoever reads it
// after the line reads where it stays, not a clock that runs on through its last buffer.
class HeldMp3DeckOutage : public ::testing::TestWithParam<OutputKind> {};
TEST_P(HeldMp3DeckOutage, TheClockStandsBeforeTheLossIsTold) {
    TempDir dir;
    OwnPulseServer server(dir.path());
    ASSERT_TRUE(server.start()) << "cannot start a PulseAudio server of our own";
    ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio");
    ScopedEnv address("PULSE_SERVER", server.address());
    HoldNotingSource source;
    HoldNotingErrors errors(source);
    std::unique_ptr<AudioOutput> output = makeOutput(GetParam(), errors);
    ASSERT_TRUE(output);
    output->addSource(&source);
    output->ensureOpen();
    output->follow(source);
    ASSERT_TRUE(waitFor([&] { return source.mixed.load() > 24000; }, 5000ms)) << "nothing played";
    server.kill();
    ASSERT_TRUE(waitFor([&] { return !errors.taken().empty(); }, 5000ms));
    output->removeSource(&source);
    const auto lines = errors.taken();
    EXPECT_EQ(lines[0].first, "Sound output lost while playing steady.mp3");
    EXPECT_TRUE(lines[0].second) << "the clock ran on after the loss was told";
}

INSTANTIATE_TEST_SUITE_P(Outputs, HeldMp3DeckOutage,
                         ::testing::Values(OutputKind::Sdl, OutputKind::Pulse), outputName);

INSTANTIATE_TEST_SUITE_P(Ways, Mp3DeckOutage,
                         ::testing::Combine(::testing::ValuesIn(kOutages),
                                            ::testing::Values(OutputKind::Sdl, OutputKind::Pulse)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == OutputKind::Sdl ? "Sdl" : "Pulse");
                         });

}  // namespace
