// The deck's threads under a storm of commands: a renderer thread stands in for the audio
// callback (always running, like a real device) while the UI thread does whatever a user
// could. Run under ASan/UBSan in the suite; the invariants are the contract's.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "doubles/recording_error_sink.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"
#include "support/temp_dir.h"
#include "support/tone_files.h"

namespace {

using namespace std::chrono_literals;

TEST(Mp3DeckStress, RandomCommandsWhileTheCallbackRuns) {
    TempDir dir;
    const std::vector<std::string> files = {
        makeToneMp3(dir.path(), "a.mp3", 440, 3, {.rate = 44100}),
        makeToneMp3(dir.path(), "b.mp3", 660, 12, {.rate = 22050, .channels = 1, .vbr = true}),
        makeToneMp3(dir.path(), "c.mp3", 880, 1, {.rate = 48000, .infoTag = false}),
    };
    RecordingErrorSink errors;
    SdlOutput::Options options;
    options.useDevice = false;
    SdlOutput output(errors, options);
    Mp3Deck deck1(output, errors);
    Mp3Deck deck2(output, errors);
    std::atomic<bool> running{true};
    std::thread callback([&] {
        std::vector<StereoFrame> buffer(256);
        while (running.load()) {
            output.render(buffer.data(), 256);  // about 50 times real time
            std::this_thread::sleep_for(100us);
        }
    });

    std::mt19937 random(12345);
    Mp3Deck* decks[] = {&deck1, &deck2};
    for (int i = 0; i < 3000; ++i) {
        Mp3Deck& deck = *decks[random() % 2];
        switch (random() % 10) {
            case 0:
                deck.setFileName(files[random() % files.size()]);
                EXPECT_EQ(deck.playState(), Deck::Stopped);
                EXPECT_EQ(deck.currentPosition(), 0);
                EXPECT_GT(deck.duration(), 0);
                break;
            case 1:
            case 2:
                deck.play();
                // Playing, unless a track near its end has already ended (50 times real time)
                EXPECT_NE(deck.playState(), Deck::Paused);
                break;
            case 3:
                deck.pause();
                EXPECT_NE(deck.playState(), Deck::Playing);
                break;
            case 4:
                deck.stop();
                EXPECT_EQ(deck.playState(), Deck::Stopped);
                EXPECT_EQ(deck.currentPosition(), 0);
                break;
            case 5:
                deck.stepForward();
                break;
            case 6:
                deck.stepBack();
                break;
            case 7:
                deck.setVolume(-static_cast<int>(random() % 12000));
                break;
            case 8:
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
                break;
            case 9:
                deck.cueNext(random() % 4 ? files[random() % files.size()] : std::string());
                break;
        }
        const double length = deck.duration();  // may grow or shrink once a scan is done
        const double position = deck.currentPosition();
        EXPECT_GE(position, 0);
        EXPECT_LE(position, length + 0.5);
        if (HasFailure()) break;
    }
    // Played to the end, each deck stops by itself.
    for (Mp3Deck* deck : decks) {
        deck->setFileName(files[2]);
        deck->play();
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((deck1.playState() != Deck::Stopped || deck2.playState() != Deck::Stopped) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(deck1.playState(), Deck::Stopped);
    EXPECT_EQ(deck2.playState(), Deck::Stopped);
    running = false;
    callback.join();
    EXPECT_TRUE(errors.taken().empty());
}

// The playback watch of the tick advances whenever deck 1 is not at 2: from play() until the
// last sample the deck must say 2, however its threads are scheduled.
TEST(Mp3DeckStress, StaysPlayingUntilTheLastSample) {
    TempDir dir;
    const std::string mp3 = makeToneMp3(dir.path(), "a.mp3", 440, 1, {.rate = 44100});
    RecordingErrorSink errors;
    SdlOutput::Options options;
    options.useDevice = false;
    SdlOutput output(errors, options);
    Mp3Deck deck(output, errors);
    // Frames the deck has sounded in, counted after each buffer (the tone is never exactly 0).
    std::atomic<std::uint64_t> sounded{0};
    std::atomic<bool> running{true};
    std::thread callback([&] {
        std::vector<StereoFrame> buffer(512);
        while (running.load()) {
            output.render(buffer.data(), 512);
            std::uint64_t n = 0;
            for (const auto& f : buffer) n += f.left != 0;
            sounded += n;
            std::this_thread::sleep_for(200us);
        }
    });
    for (int round = 0; round < 20; ++round) {
        deck.setFileName(mp3);
        const std::uint64_t before = sounded.load();
        deck.play();
        while (deck.playState() == Deck::Playing) std::this_thread::yield();
        // Stopped only once all of the second was played: the buffer that ended it may not be
        // counted yet.
        EXPECT_GE(sounded.load() - before, 48000u - 512 - 50) << round;
        std::this_thread::sleep_for(20ms);  // nothing more comes: the deck is silent now
        EXPECT_NEAR(double(sounded.load() - before), 48000.0, 50.0) << round;
    }
    running = false;
    callback.join();
}

}  // namespace
