// A file on a disk that stops answering (a stalled network share, shown by a FUSE file system
// whose reads block) must never hold the caller: the window's tick and commands go on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "engine/mp3_deck.h"
#include "support/hanging_mount.h"
#include "support/manual_deck_rig.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Calls what the tick calls every 10 ms for `span`; the longest any one round took.
Clock::duration longestTick(const Deck& deck, Clock::duration span) {
    Clock::duration longest{};
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
        const auto before = Clock::now();
        static_cast<void>(deck.playState());
        static_cast<void>(deck.currentPosition());
        static_cast<void>(deck.duration());
        longest = std::max(longest, Clock::now() - before);
        std::this_thread::sleep_for(10ms);
    }
    return longest;
}

class Mp3DeckHungFile : public ::testing::Test {
protected:
    void SetUp() override {
        makeToneMp3(music.path(), "hang.mp3", 660, 3, {.rate = 44100});
        makeToneMp3(music.path(), "good.mp3", 440, 3, {.rate = 44100});
        std::ofstream(music.file("hang-broken.mp3"), std::ios::binary) << std::string(9000, 'x');
        mount = std::make_unique<HangingMount>(music.path(), fuse.path());
        if (!mount->available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
    }
    void TearDown() override {
        if (!mount) return;
        mount->release();                    // before the decks go: their threads wait on the reads
        std::this_thread::sleep_for(300ms);  // a lane left behind ends once its read returns
    }
    Mp3Deck& deck() { return rig.deck(); }
    template <typename F>
    static Clock::duration timed(F&& f) {
        const auto before = Clock::now();
        f();
        return Clock::now() - before;
    }

    TempDir music, fuse;
    ManualDeckRig rig{44100};
    std::unique_ptr<HangingMount> mount;  // declared last: released and gone before the rig
};

// Set and played while its disk hangs: the deck plays (at 0, length unknown), the tick never
// waits, one line after 2 s names the file, and the next file set is heard at once.
TEST_F(Mp3DeckHungFile, TheTickAndTheNextCommandNeverWait) {
    const std::string hung = mount->path("hang.mp3");
    EXPECT_LT(timed([&] { deck().setFileName(hung); }), 100ms);
    EXPECT_LT(timed([&] { deck().play(); }), 1s);
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_EQ(deck().currentPosition(), 0);
    EXPECT_EQ(deck().duration(), 0);

    const auto longest = longestTick(deck(), 2500ms);
    std::printf("longest tick round while the disk hung: %.2f ms\n",
                std::chrono::duration<double, std::milli>(longest).count());
    EXPECT_LT(longest, 100ms);
    EXPECT_EQ(deck().playState(), Deck::Playing);  // not taken for the track's end
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Opening " + hung + " has taken more than 2 s: its disk does not answer");

    // Heard while the disk still hangs: the hung open is left behind on a thread of its own.
    EXPECT_LT(timed([&] { deck().setFileName(mount->path("good.mp3")); }), 100ms);
    EXPECT_LT(timed([&] { deck().play(); }), 1s);
    EXPECT_EQ(deck().playState(), Deck::Playing);
    const auto left = leftOf(rig.render(44100));
    EXPECT_NEAR(toneAmplitude(left, 44100, 440), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(left, 44100, 660), 0.01);
    EXPECT_EQ(rig.errors.taken().size(), 1u);  // nothing more
}

// A file that turns out not to be MP3 once its disk answers ends the play it was given, with
// its cause, as one refused at once does.
TEST_F(Mp3DeckHungFile, AFailedOpenEndsThePlayItWasGivenWithItsCause) {
    const std::string broken = mount->path("hang-broken.mp3");
    deck().setFileName(broken);
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Playing);
    mount->release();
    rig.renderUntilStopped(44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Cannot play " + broken + ": not an MP3 file");
}

}  // namespace
