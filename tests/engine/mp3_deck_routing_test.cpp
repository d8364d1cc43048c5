// Each deck on the sound server's output chosen for it: two null sinks of the test's own,
// "room" and "phones", recorded with parec. These tests hold the "pulse" lock
// (tests/CMakeLists.txt) and run on PulseAudio and on PipeWire's pulse server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "components/window_waits.h"
#include "doubles/recording_error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/heard_test.h"
#include "support/loaded_decks.h"
#include "support/null_sink.h"
#include "support/output_kinds.h"
#include "support/shell_command.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = SinkRecorder::kRate;
constexpr std::size_t kWindow = kRate / 100;  // 10 ms
// Deck 2 plays a sweep: the frequency heard says where in the file the sound stands.
constexpr double kSweepFrom = 1500, kSweepTo = 3500, kSweepSeconds = 8;

// sox sweeps "from-to" exponentially.
double sweepSecondsAt(double hz) {
    return kSweepSeconds * std::log(hz / kSweepFrom) / std::log(kSweepTo / kSweepFrom);
}

// What a recording holds, over 20 ms windows: deck 1's 440 Hz tone (its median amplitude
// where anything sounds), and the loudest window of anything else (deck 2's sweep, rms).
struct Heard {
    double tone = 0;
    double other = 0;
};
Heard heard(const std::vector<float>& recording) {
    const std::vector<float> left = channelOf(recording, 2, 0);
    const std::size_t window = kRate / 50;
    std::vector<double> tones;
    Heard result;
    // Windows wholly within the sound: a window the sound starts or ends in is no pure tone.
    const std::size_t from = firstAbove(left, 0.01f) + window;
    const std::size_t to = endOfSound(left, 0.01f);
    for (std::size_t at = from; at + 2 * window <= to; at += window) {
        const auto span = std::span(left).subspan(at, window);
        const double tone = toneAmplitude(span, kRate, 440);
        const double all = rms(span);
        tones.push_back(tone);
        result.other =
            std::max(result.other, std::sqrt(std::max(0.0, all * all - tone * tone / 2)));
    }
    if (!tones.empty()) {
        std::nth_element(tones.begin(), tones.begin() + tones.size() / 2, tones.end());
        result.tone = tones[tones.size() / 2];
    }
    return result;
}

// The 10 ms windows of a recording in which it reaches `threshold`.
std::vector<bool> soundingWindows(const std::vector<float>& recording, float threshold) {
    const std::vector<float> left = channelOf(recording, 2, 0);
    std::vector<bool> windows;
    for (std::size_t at = 0; at + kWindow <= left.size(); at += kWindow) {
        const auto window = std::span(left).subspan(at, kWindow);
        windows.push_back(std::any_of(window.begin(), window.end(),
                                      [&](float s) { return std::fabs(s) >= threshold; }));
    }
    return windows;
}

// The longest run of silent windows between the first and the last sounding one, in ms.
int longestDropoutMs(const std::vector<bool>& windows) {
    const auto first = std::find(windows.begin(), windows.end(), true);
    const auto last = std::find(windows.rbegin(), windows.rend(), true).base();
    int longest = 0, run = 0;
    for (auto it = first; it < last; ++it) {
        run = *it ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest * 10;
}

// The sweep's frequency just before (or from) frame `at` of a recording.
double frequencyBefore(const std::vector<float>& recording, std::size_t at) {
    const std::vector<float> left = channelOf(recording, 2, 0);
    const std::size_t span = kRate / 50;
    at = std::clamp(at, span, left.size());
    return zeroCrossingFrequency(std::span(left).subspan(at - span, span), kRate);
}
double frequencyFrom(const std::vector<float>& recording, std::size_t at) {
    const std::vector<float> left = channelOf(recording, 2, 0);
    const std::size_t span = kRate / 50;
    at = std::min(at, left.size() - span);
    return zeroCrossingFrequency(std::span(left).subspan(at, span), kRate);
}

class Mp3DeckRouting : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SinkRecorder::available()) GTEST_SKIP() << kNoPrivateServer;
        tone = makeToneMp3(dir.path(), "a440.mp3", 440, 8, {.rate = 48000});
        sweep = makeSweepMp3(dir.path(), "sweep.mp3", kSweepFrom, kSweepTo, kSweepSeconds,
                             {.rate = 48000});
    }
    // Both decks on the server's streams, each where `device1` and `device2` say.
    std::unique_ptr<LoadedDecks> decksOn(const std::string& device1, const std::string& device2) {
        auto decks = std::make_unique<LoadedDecks>(errors, tone, sweep, OutputKind::Pulse);
        decks->deck1.chooseOutputDevice(device1);
        decks->deck2.chooseOutputDevice(device2);
        return decks;
    }

    TempDir dir;
    std::string tone, sweep;
    RecordingErrorSink errors;

    void moveWhileBothPlay(const char* situation, std::chrono::milliseconds untilTick);
};

TEST_F(Mp3DeckRouting, EachDeckIsHeardOnlyOnItsChosenOutput) {
    NullSink room("room", "Room"), phones("phones", "Phones");
    SinkRecorder onRoom(room.monitor()), onPhones(phones.monitor()), onDefault;
    {
        auto decks = decksOn("room", "phones");
        decks->deck1.play();
        decks->deck2.play();
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(decks->deck2.offersOutputChoice());
        EXPECT_EQ(decks->deck2.outputDevice(), "phones");
        const std::vector<OutputDevice> listed = decks->deck2.outputDevices();
        for (const OutputDevice& expected : {OutputDevice{"room", "Room"}, {"phones", "Phones"}})
            EXPECT_NE(std::find(listed.begin(), listed.end(), expected), listed.end())
                << expected.name;
        // The server may move neither stream elsewhere, nor remember them under one name.
        const std::string streams = commandOutput("pactl list sink-inputs");
        const bool pipeWire = testServerIsPipeWire();
        for (const char* property :
             {pipeWire ? "application.id = \"velmor-mp3-player-deck-1\""
                       : "module-stream-restore.id = \"velmor-mp3-player-deck-1\"",
              pipeWire ? "application.id = \"velmor-mp3-player-deck-2\""
                       : "module-stream-restore.id = \"velmor-mp3-player-deck-2\""})
            EXPECT_NE(streams.find(property), std::string::npos) << property << "\n" << streams;
        decks->deck1.stop();
        decks->deck2.stop();
    }
    const struct {
        const char* sink;
        Heard heard;
        double tone;  // deck 1, on room
        bool other;   // deck 2, on phones
    } sinks[] = {
        {"room", heard(onRoom.stop()), 0.5, false},
        {"phones", heard(onPhones.stop()), 0, true},
        {"default", heard(onDefault.stop()), 0, false},
    };
    for (const auto& sink : sinks) {
        std::printf("%-8s deck 1's tone %.3f, anything else (deck 2) at most %.3f rms\n", sink.sink,
                    sink.heard.tone, sink.heard.other);
        EXPECT_NEAR(sink.heard.tone, sink.tone, 0.05) << sink.sink;
        EXPECT_EQ(sink.heard.other > 0.1, sink.other) << sink.sink << ": " << sink.heard.other;
    }
    EXPECT_TRUE(errors.taken().empty());
}

// Moved while both play, deck 2 is heard on its new output from where it was heard on the old,
// at once; where the window was held on a disk meanwhile (a folder looked at, a file opened),
// it goes on once its tick comes, still from where it was heard: neither skipped nor repeated.
// Each situation in a process of its own: sinks of the same names made again at once in one
// process are not what a user meets, and the server's routing of them differs.
void Mp3DeckRouting::moveWhileBothPlay(const char* situation, std::chrono::milliseconds untilTick) {
    const struct {
        const char* situation;
        std::chrono::milliseconds untilTick;  // after the move
    } c{situation, untilTick};
    {
        NullSink room("room", "Room"), phones("phones", "Phones");
        SinkRecorder onRoom(room.monitor()), onPhones(phones.monitor()), onDefault;
        double positionAfter = 0;
        std::size_t heardAfter = 0;  // on phones, when positionAfter was read
        {
            auto decks = decksOn("room", "");
            const auto tick = [&](int times) {
                for (int i = 0; i < times; ++i) {
                    decks->deck1.followOutput();
                    decks->deck2.followOutput();
                    std::this_thread::sleep_for(10ms);
                }
            };
            decks->deck1.play();
            decks->deck2.play();
            std::this_thread::sleep_for(1500ms);
            tick(20);
            decks->deck2.chooseOutputDevice("phones");
            std::this_thread::sleep_for(c.untilTick);
            tick(100);
            positionAfter = decks->deck2.currentPosition();
            heardAfter = onPhones.frames();
            EXPECT_EQ(decks->deck2.outputDevice(), "phones");
            decks->deck1.stop();
            decks->deck2.stop();
        }
        const std::vector<float> room1 = onRoom.stop();
        const std::vector<float> moved = onDefault.stop();
        const std::vector<float> arrived = onPhones.stop();
        const int dropout = longestDropoutMs(soundingWindows(room1, 0.2f));
        std::printf("move: deck 1 on room, longest dropout %d ms, anything else %.3f rms\n",
                    dropout, heard(room1).other);
        EXPECT_EQ(dropout, 0);  // deck 1 untouched
        EXPECT_LT(heard(room1).other, 0.1);
        // Deck 2's last sound on the default output and its first on phones.
        const std::size_t left = endOfSound(channelOf(moved, 2, 0), 0.05f);
        const std::size_t came = firstAbove(channelOf(arrived, 2, 0), 0.05f);
        ASSERT_GT(left, 0u);
        ASSERT_LT(came, arrived.size() / 2);
        const double gapMs = std::chrono::duration<double, std::milli>(onPhones.timeOf(came) -
                                                                       onDefault.timeOf(left))
                                 .count();
        // Where it went on is where it was heard: the sweep's frequency on either side.
        const double stoppedAt = sweepSecondsAt(frequencyBefore(moved, left));
        const double wentOnAt = sweepSecondsAt(frequencyFrom(arrived, came));
        EXPECT_NEAR(wentOnAt, stoppedAt, 0.06);
        // Once on, never back: the sweep rises through all that phones heard.
        const std::size_t last = endOfSound(channelOf(arrived, 2, 0), 0.05f);
        double before = wentOnAt;
        for (std::size_t at = came + kRate / 5; at + kRate / 50 < last; at += kRate / 5) {
            const double now = sweepSecondsAt(frequencyFrom(arrived, at));
            EXPECT_GT(now, before) << "heard again from " << now << " s after " << before << " s";
            before = now;
        }
        // The clock says what was heard: the sweep that reached phones as it was read.
        const double heardAt = sweepSecondsAt(frequencyBefore(arrived, heardAfter));
        EXPECT_NEAR(positionAfter, heardAt, 0.1);
        std::printf("move, %s: gap %.1f ms, stopped at %.3f s, went on at %.3f s\n", c.situation,
                    gapMs, stoppedAt, wentOnAt);
        EXPECT_TRUE(errors.taken().empty());
    }
}

TEST_F(Mp3DeckRouting, AMoveWhileBothPlayIsHeardFromWhereItWas) {
    moveWhileBothPlay("ticked", 0ms);
}

TEST_F(Mp3DeckRouting, AMoveWhileTheWindowIsHeldGoesOnFromWhereItWasHeard) {
    moveWhileBothPlay("the window held", kLongestWindowWait);
}

TEST_F(Mp3DeckRouting, AnOutputThatGoesAwayHoldsItsDeckUntilItIsBack) {
    NullSink room("room", "Room");
    auto phones = std::make_unique<NullSink>("phones", "Phones");
    SinkRecorder onRoom(room.monitor()), onDefault;
    auto onPhones = std::make_unique<SinkRecorder>(phones->monitor());
    auto decks = decksOn("room", "phones");
    const auto tick = [&](std::chrono::milliseconds span) {
        for (auto end = Clock::now() + span; Clock::now() < end;) {
            decks->deck1.followOutput();
            decks->deck2.followOutput();
            std::this_thread::sleep_for(10ms);
        }
    };
    decks->deck1.play();
    decks->deck2.play();
    tick(1500ms);
    phones->unload();
    tick(300ms);
    const double held = decks->deck2.currentPosition();
    tick(700ms);
    // The line may come late on a busy machine; nothing is timed here.
    for (const auto end = Clock::now() + 10s; errors.count() == 0 && Clock::now() < end;)
        tick(10ms);
    // Held where it was heard, still playing as the user left it; deck 1 plays on.
    EXPECT_NEAR(decks->deck2.currentPosition(), held, 0.02);
    EXPECT_EQ(decks->deck2.playState(), Deck::Playing);
    const std::vector<std::string> lines = errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Deck 2"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Phones"), std::string::npos) << lines[0];

    // The output comes back while the decks go on: the clock, which follows the server's own
    // timing of what it played, says when and from where deck 2 is heard again.
    const auto backAt = Clock::now();
    std::thread plugging([&] { phones = std::make_unique<NullSink>("phones", "Phones"); });
    std::optional<Clock::time_point> movedAt;
    double resumedAt = 0;
    while (!movedAt && Clock::now() - backAt < 20s) {
        tick(5ms);
        const double now = decks->deck2.currentPosition();
        if (now > held + 0.02) {
            movedAt = Clock::now();
            resumedAt = now - 0.02;
        }
    }
    plugging.join();
    ASSERT_TRUE(movedAt) << "deck 2 was not heard again";
    const double backMs = std::chrono::duration<double, std::milli>(*movedAt - backAt).count();
    // PipeWire's graph moves in quanta of 1024 frames (21 ms), which its timing of the
    // stream, and so the clock, follows: there the bound carries one quantum more.
    EXPECT_NEAR(resumedAt, held, testServerIsPipeWire() ? 0.03 + 0.0213 : 0.03);
    onPhones = std::make_unique<SinkRecorder>(phones->monitor());
    tick(500ms);
    EXPECT_GT(heard(onPhones->stop()).other, 0.1);
    decks.reset();
    // Never on another output: room had deck 1 alone, the default nothing.
    const std::vector<float> roomRecording = onRoom.stop();
    const Heard room1 = heard(roomRecording);
    const Heard elsewhere = heard(onDefault.stop());
    std::printf(
        "unplugged: room: deck 1's tone %.3f, anything else %.3f rms, longest dropout "
        "%d ms; default output: %.4f rms\n",
        room1.tone, room1.other, longestDropoutMs(soundingWindows(roomRecording, 0.2f)),
        elsewhere.other);
    EXPECT_NEAR(room1.tone, 0.5, 0.05);
    EXPECT_EQ(longestDropoutMs(soundingWindows(roomRecording, 0.2f)), 0);
    EXPECT_LT(room1.other, 0.1);
    EXPECT_LT(elsewhere.other, 0.01);
    EXPECT_EQ(errors.taken().size(), 1u);
    std::printf("unplugged: held at %.3f s, back %.0f ms after the output\n", held, backMs);
}

// An output made anew under its name, the new sink listed before the old one's removal (as
// PipeWire does when it reconfigures a device): the deck that chose it plays on there, and
// waits for nothing.
TEST_F(Mp3DeckRouting, AnOutputMadeAnewUnderItsNameKeepsItsDeck) {
    if (!testServerIsPipeWire())
        GTEST_SKIP() << "PulseAudio gives a second sink of a name a name of its own";
    auto phones = std::make_unique<NullSink>("phones", "Phones");
    auto decks = decksOn("", "phones");
    const auto ticked = [&](auto&& condition) {
        return waitFor(
            [&] {
                decks->deck2.followOutput();
                return condition();
            },
            5000ms);
    };
    decks->deck2.play();
    ASSERT_TRUE(ticked([&] { return decks->deck2.currentPosition() > 0.5; }));
    NullSink again("phones", "Phones");
    phones->unload();
    const double unloadedAt = decks->deck2.currentPosition();
    EXPECT_TRUE(ticked([&] { return decks->deck2.currentPosition() > unloadedAt + 0.5; }))
        << "deck 2 waits for an output that is there";
    EXPECT_EQ(decks->deck2.playState(), Deck::Playing);
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
}

TEST_F(Mp3DeckRouting, AChosenOutputMissingAtStartIsWaitedFor) {
    SinkRecorder onDefault;
    auto decks = decksOn("", "later");
    decks->deck2.play();
    for (int i = 0; i < 50; ++i) {
        decks->deck2.followOutput();
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(decks->deck2.currentPosition(), 0);
    EXPECT_EQ(errors.taken().size(), 1u);
    NullSink later("later", "Later");
    SinkRecorder onLater(later.monitor());
    EXPECT_TRUE(waitFor([&] { return decks->deck2.currentPosition() > 0.3; }, 20s));
    // A recorder's stream may come up after the deck's: a fifth of a second of it heard.
    EXPECT_TRUE(waitFor(
        [&] {
            const auto came = onLater.firstAbove(0, 0.1f);
            return came && onLater.frames() > *came + kRate / 5;
        },
        20s));
    decks.reset();
    EXPECT_GT(heard(onLater.stop()).other, 0.1);
    EXPECT_LT(heard(onDefault.stop()).other, 0.01);
}

}  // namespace
