// The sound server's own streams when the server or the player misbehaves: a suspended sink,
// one stream killed from outside, the player itself stopped, a deck with no data, a server
// gone with nothing playing. Each runs on a server of its own or records the private one, so
// they hold the "pulse" lock (their suites' names end as the lock's filter has them).
#include "engine/output/pulse/pulse_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "doubles/starved_source.h"
#include "engine/deck/audio_source.h"
#include "engine/player/mp3_deck.h"
#include "support/loaded_decks.h"
#include "support/null_sink.h"
#include "support/own_pulse_server.h"
#include "support/scoped_env.h"
#include "support/shell_command.h"
#include "support/sink_inputs.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

// Kills a sink input as the server's command line does (pacmd kill-sink-input), through a
// command-line socket of the test's own.
void killSinkInput(int index, const std::string& dir) {
    const std::string socket = dir + "/cli";
    const std::string module =
        commandOutput("pactl load-module module-cli-protocol-unix socket=" + socket);
    commandOutput(
        "python3 -c 'import socket, sys; s = socket.socket(socket.AF_UNIX); "
        "s.connect(sys.argv[1]); s.sendall(sys.argv[2].encode() + b\"\\n\"); "
        "s.settimeout(0.3)\ntry: s.recv(100)\nexcept OSError: pass' " +
        socket + " 'kill-sink-input " + std::to_string(index) + "'");
    commandOutput("pactl unload-module " + module);
}

class OwnServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << "cannot start a PulseAudio server"; }
    // Deck 1 on a connection of its own, a second into a 12 s tone.
    void playDeck() {
        output = connectPulse(errors);
        ASSERT_TRUE(output);
        deck.emplace(*output, errors, "Deck 1");
        deck->setFileName(makeToneMp3(dir.path(), "t.mp3", 440, 12));
        deck->play();
        ASSERT_TRUE(waitFor([&] { return deck->currentPosition() > 1.0; }, 5000ms));
    }
    TempDir dir;
    OwnPulseServer server{dir.path()};
    ScopedEnv address{"PULSE_SERVER", server.address()};
    RecordingErrorSink errors;
    std::unique_ptr<PulseOutput> output;
    std::optional<Mp3Deck> deck;
};

using PulseMp3DeckOutage = OwnServer;

// A deck whose disk does not answer costs few wakeups: its stream's retries back off to the
// watch's own pace. With nothing playing, a server gone costs none: the output comes to rest.
// (The wakeups a second: bench/run.sh.)
TEST_F(PulseMp3DeckOutage, ADeckWithoutDataAndAServerGoneCostFewWakeups) {
    auto output = connectPulse(errors);
    ASSERT_TRUE(output);
    StarvedSource source;
    output->addSource(&source);
    output->ensureOpen();
    output->follow(source);
    const auto watchRuns = [&](std::uint64_t rounds) {
        const std::uint64_t until = output->watchRounds() + rounds;
        return waitFor([&] { return output->watchRounds() >= until; }, 20s);
    };
    const auto retries = [&] { return output->timerWakeups() - output->watchRounds(); };
    // The backoff reaches its longest, the watch's period, within two rounds.
    ASSERT_TRUE(watchRuns(3));
    const std::uint64_t before = retries();
    constexpr std::uint64_t kRounds = 8;
    ASSERT_TRUE(watchRuns(kRounds));
    const std::uint64_t starved = retries() - before;
    std::printf("retries while a deck waits for data: %llu in %llu of the watch's rounds\n",
                static_cast<unsigned long long>(starved), static_cast<unsigned long long>(kRounds));
    EXPECT_LE(starved, kRounds + 2);

    source.playing = false;
    output->follow(source);
    server.kill();
    EXPECT_TRUE(waitFor([&] { return output->resting(); }, 10s)) << "a timer runs for nothing";
    output->removeSource(&source);
}

TEST_F(PulseMp3DeckOutage, ASuspendedSinkIsNoLoss) {
    ASSERT_NO_FATAL_FAILURE(playDeck());

    const double suspendedAt = deck->currentPosition();
    commandOutput("pactl suspend-sink velmor_null 1");
    ASSERT_TRUE(waitFor(
        [] {
            const std::string sinks = commandOutput("pactl list short sinks");
            const std::size_t line = sinks.find("velmor_null\t");
            return line != std::string::npos &&
                   sinks.substr(line, sinks.find('\n', line) - line).find("SUSPENDED") !=
                       std::string::npos;
        },
        5000ms));
    // Suspended while the output's watch runs past its stall limit (1 s, in 250 ms rounds): no
    // stall is seen in it, and the server's own timing stands still, no more than what the sink
    // had taken before.
    const std::uint64_t pastTheLimit = output->watchRounds() + 6;
    ASSERT_TRUE(waitFor([&] { return output->watchRounds() >= pastTheLimit; }, 20s));
    const double crept = deck->currentPosition() - suspendedAt;
    std::printf("the clock moved %.0f ms with the sink suspended\n", crept * 1000);
    EXPECT_LT(crept, 0.2) << "the clock ran through unheard sound";
    commandOutput("pactl suspend-sink velmor_null 0");
    const double resumedAt = deck->currentPosition();
    EXPECT_TRUE(waitFor([&] { return deck->currentPosition() > resumedAt + 0.5; }, 3000ms));
    EXPECT_EQ(deck->playState(), Deck::Playing);
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
}

// What the error list says when the server goes away names only what is true: the decks heard
// were lost while playing; a deck that only waited for its chosen output lost nothing.
TEST(LinesMp3DeckOutage, TheLossNamesOnlyWhatWasHeard) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 12);
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 12);
    const struct {
        const char* situation;
        const char* device1;  // "" the default; "phones" is not there
        const char* device2;  // nullptr: deck 2 does not play
        std::string line;
    } cases[] = {
        {"deck 1 plays", "", nullptr, "Sound output lost while playing " + a},
        {"deck 1 plays, deck 2 waits for its output", "", "phones",
         "Sound output lost while playing " + a},
        {"deck 1 waits for its output", "phones", nullptr,
         "The sound server went away while Deck 1 waited for its output"},
        {"both wait for their outputs", "phones", "phones",
         "The sound server went away while Deck 1 and Deck 2 waited for their outputs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        OwnPulseServer server(dir.path());
        ASSERT_TRUE(server.start()) << "cannot start a PulseAudio server";
        ScopedEnv address("PULSE_SERVER", server.address());
        RecordingErrorSink errors;
        auto output = connectPulse(errors);
        ASSERT_TRUE(output);
        LoadedDecks decks(errors, a, b, std::move(output));
        decks.deck1.chooseOutputDevice(c.device1);
        decks.deck1.play();
        if (c.device2) {
            decks.deck2.chooseOutputDevice(c.device2);
            decks.deck2.play();
        }
        const std::size_t waits = (*c.device1 ? 1u : 0u) + (c.device2 && *c.device2 ? 1u : 0u);
        if (*c.device1)
            ASSERT_TRUE(waitFor([&] { return errors.taken().size() == waits; }, 5000ms));
        else
            ASSERT_TRUE(waitFor([&] { return decks.deck1.currentPosition() > 0.3; }, 5000ms));
        ASSERT_TRUE(waitFor([&] { return errors.taken().size() >= waits; }, 5000ms));
        server.kill();
        ASSERT_TRUE(waitFor([&] { return errors.taken().size() > waits; }, 5000ms));
        const auto lines = errors.taken();
        EXPECT_EQ(lines.back(), c.line) << ::testing::PrintToString(lines);
    }
}

// The player itself stopped (Ctrl+Z, a starved machine) and continued: the server was there
// all along.
TEST_F(PulseMp3DeckOutage, ThePlayerStoppedAndContinuedIsNoLoss) {
    ASSERT_NO_FATAL_FAILURE(playDeck());
    const std::string stopper = "(sleep 0.2; kill -STOP " + std::to_string(getpid()) +
                                "; sleep 2.5; kill -CONT " + std::to_string(getpid()) + ") &";
    ASSERT_EQ(std::system(stopper.c_str()), 0);
    std::this_thread::sleep_for(3s);
    const double continuedAt = deck->currentPosition();
    EXPECT_TRUE(waitFor([&] { return deck->currentPosition() > continuedAt + 0.5; }, 3000ms));
    EXPECT_EQ(deck->playState(), Deck::Playing);
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
}

TEST(OutputMp3DeckPulse, AStreamKilledFromOutsideIsThatDecksAlone) {
    if (!SinkRecorder::available()) GTEST_SKIP() << "needs the private sound server";
    if (commandOutput("pactl info").find("PipeWire") != std::string::npos)
        GTEST_SKIP() << "kills the stream through PulseAudio's own command line";
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 8, {.rate = 48000});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 8, {.rate = 48000});
    RecordingErrorSink errors;
    auto output = connectPulse(errors);
    ASSERT_TRUE(output);
    LoadedDecks decks(errors, a, b, std::move(output));
    Mp3Deck& deck2 = decks.deck2;
    decks.deck1.play();
    deck2.play();
    ASSERT_TRUE(waitFor([&] { return deck2.currentPosition() > 1.0; }, 5000ms));
    const int killed = sinkInputOf("Deck 1");
    ASSERT_GE(killed, 0);
    SinkRecorder recorder;
    std::this_thread::sleep_for(300ms);
    const std::size_t killMark = recorder.frames();
    killSinkInput(killed, dir.path());
    EXPECT_TRUE(waitFor(
        [&] {
            const int again = sinkInputOf("Deck 1");
            return again >= 0 && again != killed;
        },
        3000ms))
        << "deck 1's stream was not made again";
    ASSERT_TRUE(waitFor(
        [&] { return recorder.frames() > killMark + SinkRecorder::kRate * 2 + 4800; }, 4000ms));
    const auto left = channelOf(recorder.stop(), 2, 0);
    ASSERT_GT(left.size(), killMark + SinkRecorder::kRate * 2);
    // Deck 2 sounds in every 20 ms from the kill on.
    double weakest = 1;
    for (std::size_t at = killMark; at + 960 <= killMark + SinkRecorder::kRate * 2; at += 960)
        weakest = std::min(
            weakest, toneAmplitude(std::span(left).subspan(at, 960), SinkRecorder::kRate, 880));
    std::printf("deck 2's weakest 20 ms after deck 1's stream was killed: %.3f\n", weakest);
    EXPECT_GT(weakest, 0.3);
    // Deck 1 sounds again.
    const std::span<const float> end(left.data() + left.size() - SinkRecorder::kRate / 5,
                                     SinkRecorder::kRate / 5);
    EXPECT_GT(toneAmplitude(end, SinkRecorder::kRate, 440), 0.3);
    EXPECT_EQ(deck2.playState(), Deck::Playing);
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
}

TEST(SlotMp3DeckPulse, ASlotHandedToAnotherDeckKeepsNothingOfTheLastOne) {
    // One deck leaves the output and another comes: the new one starts as on a fresh output,
    // whatever the last one's device, wait or sink.
    if (!SinkRecorder::available()) GTEST_SKIP() << "needs the private sound server";
    NullSink other("velmor_slot_other", "Slot", "rate=44100");
    const struct {
        const char* name;
        std::string firstDevice;   // the first deck's choice
        std::string secondDevice;  // the second's
        bool secondTold;           // the second deck's wait for its device is told
        int secondRate;            // the rate the second deck is first played at
    } cases[] = {
        {"a wait told for the last deck is told again for the next", "velmor_slot_gone",
         "velmor_slot_gone", true, 0},
        {"the last deck's sink does not choose the next one's rate", "velmor_slot_other", "", false,
         48000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingErrorSink errors;
        auto output = connectPulse(errors);
        ASSERT_TRUE(output);
        StarvedSource first, second;
        first.name = "Deck 1";
        second.name = "Deck 2";
        output->chooseDevice(first.name, c.firstDevice);
        output->chooseDevice(second.name, c.secondDevice);
        output->addSource(&first);
        output->follow(first);
        // Its stream made where it was sent (or its wait told).
        ASSERT_TRUE(waitFor(
            [&] {
                return first.lastRate.load() != 0 || !errors.taken().empty() ||
                       sinkInputOf("Deck 1") >= 0;
            },
            5s));
        std::this_thread::sleep_for(300ms);  // the server placed it and said where
        output->removeSource(&first);
        const std::size_t before = errors.taken().size();
        output->addSource(&second);
        output->follow(second);
        if (c.secondTold) {
            EXPECT_TRUE(waitFor(
                [&] {
                    const std::vector<std::string> lines = errors.taken();
                    return std::any_of(lines.begin() + static_cast<std::ptrdiff_t>(before),
                                       lines.end(), [](const std::string& line) {
                                           return line.rfind("Deck 2 waits for its output", 0) == 0;
                                       });
                },
                5s));
        }
        if (c.secondRate != 0) {
            ASSERT_TRUE(waitFor([&] { return second.lastRate.load() != 0; }, 5s));
            EXPECT_EQ(second.lastRate.load(), c.secondRate);
        }
        output->removeSource(&second);
    }
}

}  // namespace
