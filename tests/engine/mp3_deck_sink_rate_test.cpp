// Each deck's stream runs at the rate of the sink it plays on: a file at that rate passes
// through bit-exact, a file at another is resampled once, by the deck. Null sinks of the test's
// own, recorded with parec at their own rates. The suite's name takes the "pulse" lock; it runs
// on PulseAudio and on PipeWire's pulse server.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/deck_ticks.h"
#include "support/fade_in.h"
#include "support/heard_test.h"
#include "support/null_sink.h"
#include "support/output_kinds.h"
#include "support/shell_command.h"
#include "support/sink_inputs.h"
#include "support/sink_recorder.h"
#include "support/spectrum.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// On PipeWire, the rate its graph runs at while this lives.
class GraphRate {
public:
    explicit GraphRate(int rate) {
        if (testServerIsPipeWire())
            commandOutput("pw-metadata -n settings 0 clock.force-rate " + std::to_string(rate));
    }
    ~GraphRate() {
        if (testServerIsPipeWire()) commandOutput("pw-metadata -n settings 0 clock.force-rate 0");
    }
    GraphRate(const GraphRate&) = delete;
    GraphRate& operator=(const GraphRate&) = delete;
};

// The window's tick until `done` holds, asked every 200 ms; false when `guard` ran out first.
bool tickUntil(Mp3Deck& deck, const std::function<bool()>& done, std::chrono::seconds guard) {
    for (const auto end = Clock::now() + guard; Clock::now() < end;) {
        if (done()) return true;
        tickFor(deck, 200ms);
    }
    return done();
}

// Where the reference's frames from `from` on lie in the recording, matched sample for sample
// over `span` frames; nullopt when nowhere.
std::optional<std::size_t> exactlyAt(const std::vector<float>& recorded,
                                     const DecodedAudio& reference, std::size_t from,
                                     std::size_t span) {
    const std::size_t frames = recorded.size() / 2;
    for (std::size_t at = 0; at + span <= frames; ++at) {
        bool same = true;
        for (std::size_t i = 0; i < span && same; ++i)
            same = recorded[2 * (at + i)] == reference.samples[2 * (from + i)] &&
                   recorded[2 * (at + i) + 1] == reference.samples[2 * (from + i) + 1];
        if (same) return at;
    }
    return std::nullopt;
}

// The first image of a tone at `hz` from `fromRate`, as it folds into `toRate`'s band.
double imageOf(double hz, int fromRate, int toRate) {
    double image = std::fmod(fromRate - hz, toRate);
    return image > toRate / 2.0 ? toRate - image : image;
}

class SinkRateMp3DeckPulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SinkRecorder::available()) GTEST_SKIP() << kNoPrivateServer;
    }
    TempDir dir;
    RecordingErrorSink errors;
};

// At full volume and levelling Off, what the sink gets after the fade-in is libmpg123's decode
// itself where file and sink agree; where they do not, the stream still runs at the sink's rate
// and the one conversion leaves the tone's image far below it. Chosen as the deck's output, or
// as the server's default.
TEST_F(SinkRateMp3DeckPulse, AFileIsResampledOnlyWhereItsRateIsNotTheSinks) {
    const struct {
        int sinkRate;
        int fileRate;
        bool chosen;  // else the server's default sink
    } cases[] = {
        {44100, 44100, true}, {44100, 44100, false}, {48000, 48000, true},
        {44100, 48000, true}, {48000, 44100, false},
    };
    constexpr double kToneHz = 15000;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fileRate) + " Hz file on a " + std::to_string(c.sinkRate) +
                     " Hz sink, " + (c.chosen ? "chosen" : "the default"));
        NullSink sink("rated", "Rated", "rate=" + std::to_string(c.sinkRate) + " format=float32le");
        // PipeWire's graph runs at its own clock's rate and converts a sink of another rate
        // within the server: a desktop's sink runs at the graph's rate, so this one does too.
        const GraphRate graph(c.sinkRate);
        if (!c.chosen) commandOutput("pactl set-default-sink rated");
        const std::string mp3 = makeToneMp3(dir.path(), "t" + std::to_string(c.fileRate) + ".mp3",
                                            kToneHz, 3, {.rate = c.fileRate});
        const DecodedAudio reference = decodeWithMpg123(mp3);
        SinkRecorder recorder(sink.monitor(), SinkRecorder::defaultLatencyMs(), c.sinkRate);
        int streamRate = 0;
        {
            auto output = connectPulse(errors);
            ASSERT_TRUE(output);
            Mp3Deck deck(*output, errors, "Deck 1");
            if (c.chosen) deck.chooseOutputDevice("rated");
            deck.setFileName(mp3);
            deck.play();
            tickFor(deck, 1500ms);
            streamRate = streamRateOf("Deck 1");
            ASSERT_TRUE(waitFor(
                [&] {
                    deck.followOutput();
                    return deck.playState() == Deck::Stopped;
                },
                5s));
            std::this_thread::sleep_for(100ms);
        }
        if (!c.chosen) commandOutput("pactl set-default-sink velmor_null");
        const std::vector<float> recorded = recorder.stop();
        EXPECT_EQ(streamRate, c.sinkRate) << "the server resamples the stream";
        EXPECT_TRUE(errors.taken().empty());
        if (c.fileRate == c.sinkRate) {
            // Past the fade-in, two seconds of the file sample for sample, in eighths: one or
            // two may hold a step of silence that a busy machine's server dropped into the
            // sink, which no player can keep out; a resampled or processed stream matches none.
            const std::size_t from = 2 * DeckVoice::kFadeFrames;
            const std::size_t span = static_cast<std::size_t>(c.sinkRate) / 4;
            ASSERT_GE(reference.frames(), from + 8 * span);
            int exact = 0;
            for (std::size_t part = 0; part < 8; ++part)
                exact += exactlyAt(recorded, reference, from + part * span, span).has_value();
            EXPECT_GE(exact, 6) << "the recording is not libmpg123's decode";
            continue;
        }
        const auto left = channelOf(recorded, 2, 0);
        const std::size_t start = firstAbove(left, 1e-3f);
        ASSERT_LT(start + 2 * c.sinkRate, left.size()) << "no sound recorded";
        const std::span<const float> middle(left.data() + start + c.sinkRate / 2,
                                            static_cast<std::size_t>(c.sinkRate));
        const Spectrum spectrum = spectrumOf(middle, c.sinkRate);
        const double tone = spectrum.peakNear(kToneHz, 100);
        const double image = spectrum.peakNear(imageOf(kToneHz, c.fileRate, c.sinkRate), 100);
        const double rest = spectrum.peakOutside(kToneHz - 100, kToneHz + 100, c.sinkRate / 2.0);
        std::printf("%d Hz file on %d Hz: image at %.0f Hz %.1f dB, anything else %.1f dB\n",
                    c.fileRate, c.sinkRate, imageOf(kToneHz, c.fileRate, c.sinkRate),
                    20 * std::log10(image / tone), 20 * std::log10(rest / tone));
        EXPECT_LT(20 * std::log10(image / tone), -100);
        EXPECT_LT(20 * std::log10(rest / tone), -90);
    }
}

// Moved between sinks of 44.1 and 48 kHz while it plays, the deck's stream is made anew at the
// new sink's rate and goes on from where it was heard, at the right pitch, its clock right.
TEST_F(SinkRateMp3DeckPulse, ADeckMovedToASinkOfAnotherRateGoesOnAtThatRate) {
    constexpr double kFromHz = 1500, kToHz = 3500, kSeconds = 8;
    // sox sweeps "from-to" exponentially.
    const auto secondsAt = [&](double hz) {
        return kSeconds * std::log(hz / kFromHz) / std::log(kToHz / kFromHz);
    };
    const struct {
        int fromRate;
        int toRate;
        bool byDefault;  // the deck follows the default sink, which the server changes
        bool paused;     // moved while paused, played again there
    } cases[] = {{44100, 48000, false, false},
                 {48000, 44100, false, false},
                 {44100, 48000, true, false},
                 {44100, 48000, false, true}};
    const std::string sweep =
        makeSweepMp3(dir.path(), "sweep.mp3", kFromHz, kToHz, kSeconds, {.rate = 48000});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fromRate) + " Hz to " + std::to_string(c.toRate) + " Hz" +
                     (c.byDefault ? ", the default" : "") + (c.paused ? ", paused" : ""));
        NullSink before("before", "Before", "rate=" + std::to_string(c.fromRate));
        NullSink after("after", "After", "rate=" + std::to_string(c.toRate));
        SinkRecorder onBefore(before.monitor(), SinkRecorder::defaultLatencyMs(), c.fromRate);
        SinkRecorder onAfter(after.monitor(), SinkRecorder::defaultLatencyMs(), c.toRate);
        double positionBefore = 0, positionAfter = 0;
        std::size_t heardAfter = 0;  // on the new sink, when positionAfter was read
        int rateBefore = 0, rateAfter = 0;
        if (c.byDefault) commandOutput("pactl set-default-sink before");
        {
            auto output = connectPulse(errors);
            ASSERT_TRUE(output);
            Mp3Deck deck(*output, errors, "Deck 1");
            if (!c.byDefault) deck.chooseOutputDevice("before");
            deck.setFileName(sweep);
            deck.play();
            tickFor(deck, 1500ms);
            rateBefore = streamRateOf("Deck 1");
            if (c.paused) deck.pause();
            positionBefore = deck.currentPosition();
            if (c.byDefault)
                commandOutput("pactl set-default-sink after");
            else
                deck.chooseOutputDevice("after");
            if (c.paused) {
                tickFor(deck, 300ms);
                EXPECT_NEAR(deck.currentPosition(), positionBefore, 0.002);
                deck.play();
            }
            // A busy machine may take its time over the move; what matters is where and at
            // what rate it went on once done.
            EXPECT_TRUE(tickUntil(
                deck, [&] { return (rateAfter = streamRateOf("Deck 1")) == c.toRate; }, 20s));
            tickFor(deck, 1000ms);
            positionAfter = deck.currentPosition();
            heardAfter = onAfter.frames();
            deck.stop();
            tickFor(deck, 100ms);
        }
        commandOutput("pactl set-default-sink velmor_null");
        EXPECT_EQ(rateBefore, c.fromRate);
        EXPECT_EQ(rateAfter, c.toRate);
        EXPECT_TRUE(errors.taken().empty());
        // No restart, no jump: the clock says what the new sink had played as it was read.
        const auto right = channelOf(onAfter.stop(), 2, 0);
        const std::size_t span50 = static_cast<std::size_t>(c.toRate / 50);
        ASSERT_GT(heardAfter, span50);
        const double heardAt = secondsAt(zeroCrossingFrequency(
            std::span(right).subspan(std::min(heardAfter, right.size()) - span50, span50),
            c.toRate));
        EXPECT_NEAR(positionAfter, heardAt, 0.1) << "the clock is not what was heard";
        // The move judged by ear only where the deck chose: a server that changes its default
        // sounds its own move a moment before the stream is remade.
        if (c.byDefault) continue;
        const auto left = channelOf(onBefore.stop(), 2, 0);
        const std::size_t stoppedFrame = endOfSound(left, 0.05f);
        const std::size_t came = firstAbove(right, 0.05f);
        ASSERT_GT(stoppedFrame, static_cast<std::size_t>(c.fromRate / 50));
        ASSERT_LT(came + c.toRate / 2, right.size()) << "nothing heard on the new sink";
        // The sweep's frequency on either side of the move: made for another rate, it would
        // stand a twelfth off, and seconds off where it went on.
        const std::size_t fromSpan50 = static_cast<std::size_t>(c.fromRate / 50);
        const double stoppedAt = secondsAt(zeroCrossingFrequency(
            std::span(left).subspan(stoppedFrame - fromSpan50, fromSpan50), c.fromRate));
        const double wentOnAt = secondsAt(zeroCrossingFrequency(
            std::span(right).subspan(came, static_cast<std::size_t>(c.toRate / 50)), c.toRate));
        // The sweep's frequency half a second on: the sound keeps its pace at the new rate.
        const double laterAt = secondsAt(zeroCrossingFrequency(
            std::span(right).subspan(came + c.toRate / 2, static_cast<std::size_t>(c.toRate / 50)),
            c.toRate));
        std::printf("%d -> %d Hz: stopped at %.3f s, went on at %.3f s, %.3f s half a second on\n",
                    c.fromRate, c.toRate, stoppedAt, wentOnAt, laterAt);
        EXPECT_NEAR(stoppedAt, positionBefore, 0.1) << "the clock is not what was heard";
        EXPECT_NEAR(wentOnAt, stoppedAt, 0.06);
        EXPECT_NEAR(laterAt - wentOnAt, 0.5, 0.06);
    }
}

// A sink that changes its own rate under a playing deck (PipeWire's graph, which a sink of no
// fixed rate follows, set to another rate): the deck's stream is made anew at the new rate and
// plays on, the clock saying what was heard.
TEST_F(SinkRateMp3DeckPulse, ASinkThatChangesItsOwnRateHasItsDeckMadeAnewAtIt) {
    if (!testServerIsPipeWire())
        GTEST_SKIP() << "PulseAudio's null sink keeps the rate it was made with";
    constexpr double kFromHz = 1500, kToHz = 3500, kSeconds = 8;
    const auto secondsAt = [&](double hz) {
        return kSeconds * std::log(hz / kFromHz) / std::log(kToHz / kFromHz);
    };
    const std::string sweep =
        makeSweepMp3(dir.path(), "sweep.mp3", kFromHz, kToHz, kSeconds, {.rate = 48000});
    auto graph = std::make_unique<GraphRate>(48000);
    NullSink free("free", "Free", "");  // no rate of its own: it runs at the graph's
    SinkRecorder recorder(free.monitor(), SinkRecorder::defaultLatencyMs(), 48000);
    int rateBefore = 0, rateAfter = 0;
    double positionAfter = 0;
    std::size_t heardAfter = 0;
    {
        auto output = connectPulse(errors);
        ASSERT_TRUE(output);
        Mp3Deck deck(*output, errors, "Deck 1");
        deck.chooseOutputDevice("free");
        deck.setFileName(sweep);
        deck.play();
        tickFor(deck, 1500ms);
        rateBefore = streamRateOf("Deck 1");
        graph.reset();
        graph = std::make_unique<GraphRate>(44100);
        EXPECT_TRUE(tickUntil(
            deck, [&] { return (rateAfter = streamRateOf("Deck 1")) == 44100; }, 20s));
        tickFor(deck, 1000ms);
        positionAfter = deck.currentPosition();
        heardAfter = recorder.frames();
        EXPECT_EQ(deck.playState(), Deck::Playing);
        deck.stop();
        tickFor(deck, 100ms);
    }
    graph.reset();
    EXPECT_EQ(rateBefore, 48000);
    EXPECT_EQ(rateAfter, 44100) << "the server resamples the stream";
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
    // Heard on at the new rate, and from where it was: the server's own change of rate drops
    // out for a moment whatever plays, so the sweep is judged once it has settled, where the
    // clock is read.
    const auto left = channelOf(recorder.stop(), 2, 0);
    constexpr std::size_t kSpan = 48000 / 50;
    ASSERT_GT(heardAfter, static_cast<std::size_t>(48000)) << "too little heard";
    EXPECT_GT(
        rms(std::span(left).subspan(std::min(heardAfter, left.size()) - 48000 / 2, 48000 / 2)),
        0.3);
    const double heardAt = secondsAt(zeroCrossingFrequency(
        std::span(left).subspan(std::min(heardAfter, left.size()) - kSpan, kSpan), 48000));
    EXPECT_NEAR(positionAfter, heardAt, 0.1) << "the clock is not what was heard";
    EXPECT_GT(heardAt, 2.3) << "started over: 1.5 s were heard before the change, 1 s after";
}

// Chosen again and again before the server has made its stream, the deck leaves no stream of
// its own behind on the server: each would stay there for good, listed as the deck's.
using StreamsMp3DeckPulse = SinkRateMp3DeckPulse;
TEST_F(StreamsMp3DeckPulse, AStreamRemadeBeforeTheServerMadeItLeavesNoneBehind) {
    NullSink one("one", "One"), two("two", "Two");
    {
        auto output = connectPulse(errors);
        ASSERT_TRUE(output);
        Mp3Deck deck(*output, errors, "Deck 1");
        ASSERT_TRUE(waitFor([&] { return !deck.outputDevices().empty(); }, 3s));
        for (int i = 0; i < 5; ++i)
            for (const char* device : {"one", "two"}) deck.chooseOutputDevice(device);
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(streamsOf("Deck 1"), 1) << commandOutput("pactl list sink-inputs");
    }
    EXPECT_TRUE(waitFor([&] { return streamsOf("Deck 1") == 0; }, 2s));
    EXPECT_TRUE(errors.taken().empty());
}

}  // namespace
