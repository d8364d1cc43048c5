// A deck moved again and again between sinks of different rates, by its menu and from outside
// (pactl move-sink-input, as a desktop's sound settings move a stream), goes on each time from
// where it was heard. Null sinks of the test's own, each recorded at its own rate. The suite's
// name takes the "pulse" lock; it runs on PulseAudio and on PipeWire's pulse server.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/deck_ticks.h"
#include "support/heard_test.h"
#include "support/null_sink.h"
#include "support/output_kinds.h"
#include "support/shell_command.h"
#include "support/sink_inputs.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kFromHz = 1000, kToHz = 3000, kSweepSeconds = 40;

double sweepSecondsAt(double hz) {
    return kSweepSeconds * std::log(hz / kFromHz) / std::log(kToHz / kFromHz);
}

// Where a sink heard the deck: runs of `windowMs` windows that sound, gaps of fewer than
// `join` windows joined.
struct Heard {
    std::size_t from;
    std::size_t to;  // past the last sounding window
};
std::vector<Heard> heardRuns(const std::vector<float>& left, int rate, int windowMs,
                             std::size_t join) {
    const auto window = static_cast<std::size_t>(rate / 1000 * windowMs);
    std::vector<Heard> runs;
    for (std::size_t at = 0; at + window <= left.size(); at += window) {
        if (rms(std::span(left).subspan(at, window)) < 0.1) continue;
        if (!runs.empty() && at - runs.back().to < join * window)
            runs.back().to = at + window;
        else
            runs.push_back({at, at + window});
    }
    return runs;
}

// The sweep's second heard over 40 ms of `left` from `at`.
double sweepAt(const std::vector<float>& left, std::size_t at, int rate) {
    return sweepSecondsAt(zeroCrossingFrequency(
        std::span(left).subspan(at, static_cast<std::size_t>(rate / 25)), rate));
}

TEST(MovesMp3DeckPulse, FiftyMovesBetweenRatesEachGoOnFromWhereTheyWereHeard) {
    if (!SinkRecorder::available()) GTEST_SKIP() << kNoPrivateServer;
    // On PipeWire a move from outside was measured losing 55 to 85 ms, beyond the bound, and
    // a move made while the last remake settles can be lost: not judged there until mended.
    if (testServerIsPipeWire()) GTEST_SKIP() << "moves from outside are not yet whole on PipeWire";
    TempDir dir;
    RecordingErrorSink errors;
    const std::string sweep =
        makeSweepMp3(dir.path(), "sweep.mp3", kFromHz, kToHz, kSweepSeconds, {.rate = 48000});
    const struct Side {
        const char* sink;
        int rate;
    } sides[] = {{"moves_a", 48000}, {"moves_b", 44100}};
    NullSink a(sides[0].sink, "A", "rate=48000"), b(sides[1].sink, "B", "rate=44100");
    SinkRecorder onA(a.monitor(), SinkRecorder::defaultLatencyMs(), sides[0].rate);
    SinkRecorder onB(b.monitor(), SinkRecorder::defaultLatencyMs(), sides[1].rate);
    constexpr int kMoves = 50;
    // From outside first, while the deck follows the server's default (a deck's own choice of
    // output keeps its stream where it is), then by the menu.
    const auto byMenu = [](int move) { return move >= kMoves / 2; };
    commandOutput(std::string("pactl set-default-sink ") + sides[0].sink);
    {
        auto output = connectPulse(errors);
        ASSERT_TRUE(output);
        Mp3Deck deck(*output, errors, "Deck 1");
        deck.setFileName(sweep);
        deck.play();
        tickFor(deck, 1000ms);
        for (int move = 0; move < kMoves; ++move) {
            const Side& to = sides[(move + 1) % 2];
            if (byMenu(move)) {
                deck.chooseOutputDevice(to.sink);
            } else {
                // Moved once its last remake is done: a move of the stream being replaced
                // would be lost with it.
                const Side& on = sides[move % 2];
                ASSERT_TRUE(waitFor(
                    [&] {
                        deck.followOutput();
                        return streamsOf("Deck 1") == 1 && streamRateOf("Deck 1") == on.rate;
                    },
                    5s))
                    << "move " << move << "\n"
                    << commandOutput("pactl list short sink-inputs; pactl list short sinks");
                const int input = sinkInputOf("Deck 1");
                ASSERT_GE(input, 0) << "move " << move;
                commandOutput("pactl move-sink-input " + std::to_string(input) + " " + to.sink);
            }
            tickFor(deck, 450ms);
        }
        EXPECT_EQ(deck.playState(), Deck::Playing);
        deck.stop();
        tickFor(deck, 100ms);
    }
    commandOutput("pactl set-default-sink velmor_null");
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
    const std::vector<float> heardOn[] = {channelOf(onA.stop(), 2, 0), channelOf(onB.stop(), 2, 0)};
    // A stay on a sink: one run, a dropped server step or a remake's dip within it joined.
    const std::vector<Heard> stays[] = {heardRuns(heardOn[0], sides[0].rate, 10, 20),
                                        heardRuns(heardOn[1], sides[1].rate, 10, 20)};
    ASSERT_EQ(stays[0].size(), kMoves / 2 + 1u);  // A, B, A, B ...
    ASSERT_EQ(stays[1].size(), kMoves / 2 + 0u);
    // Every stretch of sound in turn, on either sink, goes on from where the last one ended.
    // One too short to measure (70 ms) still counts as heard: the server plays a stream moved
    // from outside on its new sink for a moment before the deck has made it anew there.
    struct Stretch {
        int side;
        Heard heard;
        int move;  // the move that led to its stay
        double seconds;
    };
    std::vector<Stretch> stretches;
    for (int stay = 0; stay <= kMoves; ++stay) {
        const int side = stay % 2;
        const Heard& within = stays[side][static_cast<std::size_t>(stay / 2)];
        for (const Heard& heard : heardRuns(heardOn[side], sides[side].rate, 5, 1))
            if (heard.from < within.to && heard.to > within.from)
                stretches.push_back(
                    {side, heard, stay - 1, double(heard.to - heard.from) / sides[side].rate});
    }
    const auto frames = [&](int side, int ms) {
        return static_cast<std::size_t>(sides[side].rate / 1000 * ms);
    };
    double worst = 0;
    const Stretch* before = nullptr;
    double between = 0;  // seconds heard in short stretches since `before`
    for (const Stretch& after : stretches) {
        if (after.seconds < 0.07) {
            between += after.seconds;
            continue;
        }
        if (before) {
            // 40 ms windows 10 ms clear of the fades: their middles lie 60 ms of sound apart,
            // and more by what was heard between them.
            const double stoppedAt =
                sweepAt(heardOn[before->side], before->heard.to - frames(before->side, 50),
                        sides[before->side].rate);
            const double wentOnAt =
                sweepAt(heardOn[after.side], after.heard.from + frames(after.side, 10),
                        sides[after.side].rate);
            const double skipped = wentOnAt - stoppedAt - 0.06 - between;
            worst = std::max(worst, std::fabs(skipped));
            EXPECT_NEAR(skipped, 0, 0.05)
                << "after move " << after.move
                << (byMenu(after.move) ? " by the menu" : " from outside")
                << (before->side == after.side ? ", on one sink" : ", from sink to sink")
                << ": stopped at " << stoppedAt << " s, went on at " << wentOnAt << " s, "
                << between << " s heard between";
        }
        before = &after;
        between = 0;
    }
    std::printf(
        "%d moves between 48 and 44.1 kHz, %zu stretches of sound: at worst %.0f ms "
        "skipped or heard again\n",
        kMoves, stretches.size(), worst * 1000);
}

}  // namespace
