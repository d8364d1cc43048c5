// The output the player starts on: it never waits for the sound server, and a start that fell
// back to SDL moves to the server's own streams once one answers. Each runs a server of its
// own, so they hold the "pulse" lock (the suite's name ends as the lock's filter has it).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/output/audio_output.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "support/loaded_decks.h"
#include "support/own_pulse_server.h"
#include "support/scoped_env.h"
#include "support/shell_command.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool serverLists(const std::string& mediaName) {
    return commandOutput("pactl list sink-inputs").find("media.name = \"" + mediaName + "\"") !=
           std::string::npos;
}

TEST(SwitchMp3DeckOutage, AHungServerHoldsNeitherTheStartNorAPlay) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "t.mp3", 440, 12);
    OwnPulseServer server(dir.path());
    ASSERT_TRUE(server.start());
    ScopedEnv address("PULSE_SERVER", server.address());
    ScopedEnv driver("SDL_AUDIODRIVER", "pulseaudio");
    server.freeze();
    // The server hangs past the first attempt's limit, so that the deck falls back to SDL,
    // whose device hangs on it too; it answers once the start and the play have returned.
    // Should either wait for it after all, it is thawed at last, and the test says so.
    std::atomic<bool> returned{false};
    std::atomic<bool> thawedFirst{false};
    std::thread thaw([&] {
        const auto frozenAt = Clock::now();
        thawedFirst = !waitFor([&] { return returned.load(); }, 30s);
        std::this_thread::sleep_until(frozenAt + PulseOutput::Options{}.connectLimit + 1s);
        server.thaw();
    });
    RecordingErrorSink errors;
    std::unique_ptr<AudioOutput> output = chooseAudioOutput(errors);
    Mp3Deck deck(*output, errors, "Deck 1");
    deck.setFileName(mp3);
    deck.play();
    returned = true;
    thaw.join();
    EXPECT_FALSE(thawedFirst) << "the start or the play waited for the hung server";

    // Once the server answers, the deck plays on its own stream.
    EXPECT_TRUE(waitFor([&] { return serverLists("Deck 1: t.mp3"); }, 10000ms));
    const double position = deck.currentPosition();
    EXPECT_TRUE(waitFor([&] { return deck.currentPosition() > position + 0.5; }, 5000ms));
    EXPECT_EQ(deck.playState(), Deck::Playing);
    for (const std::string& line : errors.taken())
        EXPECT_EQ(line.find("Sound output lost"), std::string::npos) << line;
}

TEST(SwitchMp3DeckOutage, DecksMoveFromSdlToTheServerOnceOneAnswers) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 12, {.rate = 48000});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 12, {.rate = 48000});
    OwnPulseServer server(dir.path());  // not there yet
    ScopedEnv address("PULSE_SERVER", server.address());
    // SDL plays where no server answers, as on bare ALSA: here into a file, in real time.
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "21");
    RecordingErrorSink errors;
    LoadedDecks decks(errors, a, b, chooseAudioOutput(errors));
    Mp3Deck& deck1 = decks.deck1;
    Mp3Deck& deck2 = decks.deck2;
    deck1.play();
    deck2.play();
    ASSERT_TRUE(waitFor([&] { return deck1.currentPosition() > 1.0; }, 5000ms))
        << "nothing played on SDL";
    deck2.pause();

    ASSERT_TRUE(server.start());
    ASSERT_TRUE(waitFor([&] { return serverLists("Deck 1: a.mp3"); }, 5000ms))
        << "deck 1 is not on the server's own stream";
    const double movedAt = deck1.currentPosition();
    const double pausedAt = deck2.currentPosition();
    SinkRecorder recorder;
    ASSERT_TRUE(waitFor([&] { return deck1.currentPosition() > movedAt + 1.0; }, 5000ms));
    const double later = deck1.currentPosition();
    EXPECT_LT(later, movedAt + 2.0) << "deck 1 did not go on from where it was";
    EXPECT_EQ(deck2.currentPosition(), pausedAt);
    deck2.play();
    EXPECT_TRUE(waitFor([&] { return deck2.currentPosition() > pausedAt + 0.3; }, 3000ms));
    EXPECT_TRUE(serverLists("Deck 2: b.mp3"));
    const auto left = channelOf(recorder.stop(), 2, 0);
    ASSERT_GT(left.size(), std::size_t(SinkRecorder::kRate / 2));
    const std::span<const float> last(left.data() + left.size() - SinkRecorder::kRate / 5,
                                      SinkRecorder::kRate / 5);
    EXPECT_GT(toneAmplitude(last, SinkRecorder::kRate, 440), 0.3);
    EXPECT_TRUE(errors.taken().empty()) << ::testing::PrintToString(errors.taken());
}

TEST(SwitchMp3DeckOutage, ADeckWithAChosenOutputStaysOffSdlsDefaultDevice) {
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 12, {.rate = 48000});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 880, 12, {.rate = 48000});
    OwnPulseServer server(dir.path());  // never there
    ScopedEnv address("PULSE_SERVER", server.address());
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", dir.file("out.raw"));
    ScopedEnv delay("SDL_DISKAUDIODELAY", "21");
    RecordingErrorSink errors;
    LoadedDecks decks(errors, a, b, chooseAudioOutput(errors));
    decks.deck2.chooseOutputDevice("phones");
    decks.deck1.play();
    decks.deck2.play();
    ASSERT_TRUE(waitFor([&] { return decks.deck1.currentPosition() > 1.0; }, 5000ms))
        << "nothing played on SDL";
    EXPECT_FALSE(decks.deck2.offersOutputChoice());
    EXPECT_EQ(decks.deck2.currentPosition(), 0) << "deck 2 played on SDL's default device";
    EXPECT_EQ(decks.deck2.playState(), Deck::Playing);
    ASSERT_EQ(errors.taken().size(), 1u);
    EXPECT_NE(errors.taken()[0].find("Deck 2 waits for its output \"phones\""), std::string::npos)
        << errors.taken()[0];
    // Left for the default output, it plays where SDL does.
    decks.deck2.chooseOutputDevice("");
    EXPECT_TRUE(waitFor([&] { return decks.deck2.currentPosition() > 0.3; }, 3000ms));
    EXPECT_EQ(errors.taken().size(), 1u);
}

}  // namespace
