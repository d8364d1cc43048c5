// A file on a disk that stops answering (a stalled network share, shown by a FUSE file system
// whose reads block) must never hold the caller: the window's tick and commands go on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "components/stranded_threads.h"
#include "engine/player/mp3_deck.h"
#include "support/hanging_mount.h"
#include "support/manual_deck_rig.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The threads of this process now.
int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// What the tick calls every 10 ms.
void tickOnce(Deck& deck) {
    deck.followOutput();
    static_cast<void>(deck.playState());
    static_cast<void>(deck.currentPosition());
    static_cast<void>(deck.duration());
}

// The tick until `condition` holds, for at most `timeout`; whether it came to hold.
template <typename Condition>
bool tickUntil(Deck& deck, Condition condition, std::chrono::milliseconds timeout) {
    return waitFor(
        [&] {
            tickOnce(deck);
            return condition();
        },
        timeout);
}

// On both kinds of output: one that keeps a paused deck's queue, and one that drops it, as the
// sound server's streams do (a resume is then a seek to where the deck was heard).
class Mp3DeckHungFile : public ::testing::TestWithParam<PauseQueue> {
protected:
    void SetUp() override {
        makeToneMp3(music.path(), "hang.mp3", 660, 3, {.rate = 44100});
        makeToneMp3(music.path(), "good.mp3", 440, 3, {.rate = 44100});
        std::ofstream(music.file("hang-broken.mp3"), std::ios::binary) << std::string(9000, 'x');
        mount = std::make_unique<HangingMount>(music.path(), fuse.path());
        if (!mount->available()) GTEST_SKIP() << "no FUSE here: cannot mount a stalled disk";
        // Should a call wait on the disk after all, the disk answers at last, and whatever the
        // test asks of the holds then finds none.
        watchdog = std::thread([this] {
            std::unique_lock lock(watchdogMutex);
            if (!watchdogEnd.wait_for(lock, 60s, [&] { return ended; })) mount->release();
        });
    }
    void TearDown() override {
        {
            std::lock_guard lock(watchdogMutex);
            ended = true;
        }
        watchdogEnd.notify_all();
        if (watchdog.joinable()) watchdog.join();
        if (!mount) return;
        mount->release();                    // before the decks go: their threads wait on the reads
        std::this_thread::sleep_for(300ms);  // a lane left behind ends once its read returns
    }
    Mp3Deck& deck() { return rig.deck(); }
    // The disk comes to hold a read (or a lookup) of `name`: what returned before then did not
    // wait for it, and nothing has, as long as it is held.
    bool comesToHold(const std::string& name) {
        return waitFor([&] { return mount->holds(name); }, 10s);
    }
    // Renders until the deck has had no data for `dry`: the seconds heard.
    double playUntilDry(std::chrono::milliseconds dry) {
        std::size_t frames = 0;
        while (rig.waitUntilReady(ManualDeckRig::kBuffer, dry) && frames < 20u * 44100) {
            rig.render(ManualDeckRig::kBuffer);
            frames += ManualDeckRig::kBuffer;
        }
        return static_cast<double>(frames) / 44100;
    }

    TempDir music, fuse;
    ManualDeckRig rig{44100, 1, GetParam()};
    std::unique_ptr<HangingMount> mount;  // released and gone before the rig
    std::thread watchdog;
    std::mutex watchdogMutex;
    std::condition_variable watchdogEnd;
    bool ended = false;
};

// Set and played while its disk hangs: the deck plays (at 0, length unknown), the tick never
// waits, one line after 2 s names the file, and the next file set is heard at once.
TEST_P(Mp3DeckHungFile, TheTickAndTheNextCommandNeverWait) {
    const std::string hung = mount->path("hang.mp3");
    deck().setFileName(hung);
    deck().play();
    EXPECT_TRUE(comesToHold("hang.mp3")) << "the file's name or the play waited for its disk";
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_EQ(deck().currentPosition(), 0);
    EXPECT_EQ(deck().duration(), 0);

    // The tick goes on while the disk holds the open, until the open is reported slow.
    ASSERT_TRUE(tickUntil(
        deck(), [&] { return !rig.errors.taken().empty(); }, 10s));
    EXPECT_TRUE(mount->holds("hang.mp3")) << "a tick waited for the disk";
    EXPECT_EQ(deck().playState(), Deck::Playing);  // not taken for the track's end
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Opening " + hung + " has taken more than 2 s: its disk does not answer");

    // Heard while the disk still hangs: the hung open is left behind on a thread of its own.
    deck().setFileName(mount->path("good.mp3"));
    deck().play();
    EXPECT_TRUE(mount->holds("hang.mp3")) << "the next file's name or its play waited for the disk";
    EXPECT_EQ(deck().playState(), Deck::Playing);
    const auto left = leftOf(rig.render(44100));
    EXPECT_NEAR(toneAmplitude(left, 44100, 440), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(left, 44100, 660), 0.01);
    EXPECT_EQ(rig.errors.taken().size(), 1u);  // nothing more
}

// A file that turns out not to be MP3 once its disk answers ends the play it was given, with
// its cause, as one refused at once does.
TEST_P(Mp3DeckHungFile, AFailedOpenEndsThePlayItWasGivenWithItsCause) {
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

// Play and pause pressed in turn while the open hangs: nothing is open to resume from, and
// once the disk answers the track plays from its start.
TEST_P(Mp3DeckHungFile, PlayAndPauseWhileTheOpenHangsThenPlayOnceItAnswers) {
    deck().setFileName(mount->path("hang.mp3"));
    for (int press = 0; press < 3; ++press) {
        deck().play();
        EXPECT_EQ(deck().playState(), Deck::Playing);
        deck().pause();
        EXPECT_EQ(deck().playState(), Deck::Paused);
        EXPECT_EQ(deck().currentPosition(), 0);
    }
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Playing);
    mount->release();
    const auto left = leftOf(rig.render(44100));
    EXPECT_NEAR(toneAmplitude(left, 44100, 660), 0.5, 0.05);
    EXPECT_NEAR(deck().currentPosition(), 1.0, 0.05);
    EXPECT_NEAR(deck().duration(), 3.0, 0.05);
    EXPECT_TRUE(rig.errors.taken().empty());
}

// Files on a disk that does not answer, given one after another as a user skipping on would:
// two lanes stay behind, each waiting on its read, with one thread to end it, which is as many
// threads as a disk may hold; the next file there is refused, naming the first the player still
// waits on; once the disk answers and those lanes end, the deck takes files again.
TEST_P(Mp3DeckHungFile, LanesLeftOnAHungDiskAreBounded) {
    constexpr int kFiles = 20;
    for (int i = 0; i < kFiles; ++i)
        std::filesystem::copy_file(music.file("hang.mp3"),
                                   music.file("hang-" + std::to_string(i) + ".mp3"));
    const auto hungFile = [&](int i) { return mount->path("hang-" + std::to_string(i) + ".mp3"); };
    const int before = threadCount();
    for (int i = 0; i < kFiles; ++i) {
        deck().setFileName(hungFile(i));
        deck().play();
        // Time for the open to be judged stuck (0.2 s in one call), not a measure of anything.
        std::this_thread::sleep_for(300ms);
    }
    const int during = threadCount();
    std::printf("threads: %d before, %d after %d files on a hung disk\n", before, during, kFiles);
    // The lane in use and two abandoned ones, each of those with the thread that ends it.
    EXPECT_LE(during - before, 4);
    EXPECT_EQ(deck().playState(), Deck::Stopped);  // the last file was refused
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kFiles - 3));
    for (int i = 3; i < kFiles; ++i)
        EXPECT_EQ(lines[i - 3], "Cannot play " + hungFile(i) + ": the player still waits on " +
                                    hungFile(0) + ", whose disk does not answer");

    mount->release();
    const auto deadline = Clock::now() + 10s;
    while (threadCount() > before + 1 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_LE(threadCount(), before + 1);  // the lanes left behind have ended
    deck().setFileName(mount->path("good.mp3"));
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(44100)), 44100, 440), 0.5, 0.05);
    EXPECT_EQ(rig.errors.taken().size(), static_cast<std::size_t>(kFiles - 3));
}

// Twenty files skipped through on a disk that does not answer, then one on a disk that does:
// that one plays on the same deck, and the threads the dead disk holds stay bounded.
TEST_P(Mp3DeckHungFile, AFileOnADiskThatAnswersPlaysAfterTwentyOnAHungOne) {
    constexpr int kFiles = 20;
    const auto hungName = [](int i) {
        return "hang 1 slow " + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".mp3";
    };
    for (int i = 0; i < kFiles; ++i)
        std::filesystem::copy_file(music.file("hang.mp3"), music.file(hungName(i)));
    const std::string local = makeToneMp3(fuse.path(), "ok.mp3", 440, 3, {.rate = 44100});
    const int before = threadCount();
    for (int i = 0; i < kFiles; ++i) {
        deck().setFileName(mount->path(hungName(i)));
        deck().play();
    }
    const auto refused = rig.errors.taken();
    ASSERT_FALSE(refused.empty()) << "the dead disk never had its share";
    EXPECT_EQ(refused.back(), "Cannot play " + mount->path(hungName(kFiles - 1)) +
                                  ": the player still waits on " + mount->path(hungName(0)) +
                                  ", whose disk does not answer");

    deck().setFileName(local);
    deck().play();
    ASSERT_TRUE(tickUntil(
        deck(), [&] { return rig.waitUntilReady(ManualDeckRig::kBuffer, 0ms); }, 20s))
        << "the file on the disk that answers waits behind the dead one";
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(44100)), 44100, 440), 0.5, 0.05);
    for (const auto& line : rig.errors.taken())
        EXPECT_EQ(line.find(local), std::string::npos) << line;

    // Lanes left on the dead disk, two threads each: one more than its share at most, the lane
    // that waited there when the file that answers came.
    const int during = threadCount();
    std::printf("threads: %d before, %d after %d files on a hung disk and one local\n", before,
                during, kFiles);
    EXPECT_LE(during - before, StrandedThreads::kPerDisk + 2);
    EXPECT_LE(StrandedThreads::process().held(mount->path(hungName(0))),
              StrandedThreads::kPerDisk + 2);
    EXPECT_EQ(StrandedThreads::process().held(local), 0);
}

// While a disk holds its share of threads (kept here as a part left waiting there keeps them),
// a file on it is refused before any thread goes near it, set or cued, in the one wording; once
// those threads are let go, the file is opened when played again.
TEST_P(Mp3DeckHungFile, AFileOnADiskThatHoldsItsShareIsRefusedUnopened) {
    const std::string local = makeToneMp3(fuse.path(), "local.mp3", 440, 1, {.rate = 44100});
    const std::string hung = mount->path("hang.mp3");
    std::vector<StrandedThreads::Hold> share;
    for (int i = 0; i < StrandedThreads::kPerDisk; ++i)
        share.push_back(
            StrandedThreads::process().keep(mount->path("waiting " + std::to_string(i))));
    const std::string refusal = "Cannot play " + hung + ": the player still waits on " +
                                mount->path("waiting 0") + ", whose disk does not answer";

    deck().setFileName(hung);
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Stopped);

    deck().setFileName(local);
    deck().play();
    deck().cueNext(hung);
    rig.renderUntilStopped(3 * 44100);
    EXPECT_EQ(deck().playState(), Deck::Stopped);  // the local track played to its end
    deck().setFileName(hung);  // the cue taken up, as the watch does at a track's end
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_EQ(rig.errors.taken(), (std::vector<std::string>{refusal, refusal}));
    EXPECT_FALSE(mount->holds("hang.mp3"));

    share.clear();
    deck().play();
    EXPECT_TRUE(comesToHold("hang.mp3")) << "the file was not tried again";
}

// A read that hangs in the middle of a track holds the lane however its file opened: the next
// file, on a disk that answers, is heard at once, and nothing blames it for the hang.
TEST_P(Mp3DeckHungFile, AReadThatHangsMidTrackLeavesTheNextFileFree) {
    makeToneMp3(music.path(), "stall.mp3", 660, 8, {.rate = 44100});
    const std::string local = makeToneMp3(fuse.path(), "local.mp3", 440, 3, {.rate = 44100});
    deck().setFileName(mount->path("stall.mp3"));
    deck().play();
    // Heard until the read hangs, and the deck runs dry for a second.
    EXPECT_GT(playUntilDry(1s), 0.5);

    deck().setFileName(local);
    deck().play();
    ASSERT_TRUE(rig.waitUntilReady(ManualDeckRig::kBuffer, 5s)) << "the new file waits behind";
    const auto left = leftOf(rig.render(44100));
    EXPECT_NEAR(toneAmplitude(left, 44100, 440), 0.5, 0.05);
    EXPECT_LT(toneAmplitude(left, 44100, 660), 0.01);
    // Past the time an open is reported slow in (2 s), the tick still has nothing to say.
    tickUntil(
        deck(), [] { return false; }, 2500ms);
    EXPECT_TRUE(rig.errors.taken().empty()) << rig.errors.taken()[0];
}

// A new file given just as a read hangs mid-track waits behind it no longer than the tick takes
// to see the lane stuck; a slow line, if any, names the file that hangs.
TEST_P(Mp3DeckHungFile, AFileGivenAsAReadHangsGoesOnOnceTheLaneIsSeenStuck) {
    makeToneMp3(music.path(), "stall.mp3", 660, 8, {.rate = 44100});
    const std::string local = makeToneMp3(fuse.path(), "local.mp3", 440, 3, {.rate = 44100});
    deck().setFileName(mount->path("stall.mp3"));
    deck().play();
    // Heard until the read hangs: the decoder reads on as the ring has room.
    ASSERT_TRUE(waitFor(
        [&] {
            if (rig.waitUntilReady(ManualDeckRig::kBuffer, 0ms)) rig.render(ManualDeckRig::kBuffer);
            return mount->holds("stall.mp3");
        },
        10s));
    deck().setFileName(local);  // the read has not hung for long yet
    deck().play();
    // The tick goes on while the read holds the lane, until the new file is there to be heard.
    EXPECT_TRUE(tickUntil(
        deck(), [&] { return rig.waitUntilReady(ManualDeckRig::kBuffer, 0ms); }, 10s))
        << "the new file waits behind";
    EXPECT_TRUE(mount->holds("stall.mp3")) << "a tick waited for the disk";
    ASSERT_TRUE(rig.waitUntilReady(ManualDeckRig::kBuffer, 5s)) << "the new file waits behind";
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(44100)), 44100, 440), 0.5, 0.05);
    for (const auto& line : rig.errors.taken())
        EXPECT_EQ(line.find(local), std::string::npos) << line;
}

// The next file is cued on a disk that does not answer: the current track still plays to its
// last sample, then the deck stops, and setting that file later goes on without it.
TEST_P(Mp3DeckHungFile, ACueThatHangsNeitherHoldsNorCutsTheCurrentTrack) {
    const std::string local = makeToneMp3(fuse.path(), "local.mp3", 440, 4, {.rate = 44100});
    deck().setFileName(local);
    deck().play();
    rig.render(44100);
    deck().cueNext(mount->path("hang.mp3"));
    std::vector<StereoFrame> rest;
    while (deck().playState() == Deck::Playing && rest.size() < 5u * 44100) {
        ASSERT_TRUE(rig.waitUntilReady(ManualDeckRig::kBuffer, 5s)) << "decoding is held";
        const auto chunk = rig.render(ManualDeckRig::kBuffer);
        rest.insert(rest.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_NEAR(static_cast<double>(rest.size()) / 44100, 3.0, 0.03);  // to its last sample
    EXPECT_NEAR(toneAmplitude(leftOf(rest), 44100, 440), 0.5, 0.05);
    EXPECT_TRUE(rig.errors.taken().empty());
}

// A caller that said it would not wait (a skip over many entries) is not held by an open: play
// and the getters answer at once, and stillOpening() says when the file answers.
TEST_P(Mp3DeckHungFile, AnOpenNotWaitedForHoldsNoCall) {
    deck().setFileName(mount->path("hang.mp3"));
    deck().waitForOpenAtMost(0ms);
    deck().play();
    static_cast<void>(deck().playState());
    static_cast<void>(deck().duration());
    static_cast<void>(deck().currentPosition());
    EXPECT_TRUE(deck().stillOpening());
    // They returned, and the disk holds the open's read still: none of them waited for it.
    EXPECT_TRUE(comesToHold("hang.mp3"));
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_EQ(deck().duration(), 0);

    mount->release();
    const auto deadline = Clock::now() + 5s;
    while (deck().stillOpening() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(deck().stillOpening());
    EXPECT_NEAR(deck().duration(), 3.0, 0.05);
    EXPECT_NEAR(toneAmplitude(leftOf(rig.render(44100)), 44100, 660), 0.5, 0.05);
    EXPECT_TRUE(rig.errors.taken().empty());
}

// A file that fails to open after play() went on without it: the getters only read, the tick
// tells the refusal once, and so does setting the next file before any tick, as a skip does.
// A file that fails to open after play() went on without it: the getters only read, the tick
// tells the refusal once, and so does setting the next file before any tick, as a skip does.
TEST_P(Mp3DeckHungFile, ALateRefusalIsToldByTheTickOrTheNextFileNeverByAGetter) {
    const std::string good = makeToneMp3(fuse.path(), "local.mp3", 440, 3, {.rate = 44100});
    const struct {
        const char* what;
        std::function<void()> step;
        std::size_t lines;
    } cases[] = {
        {"the getters",
         [&] {
             for (int i = 0; i < 20; ++i) {
                 static_cast<void>(deck().playState());
                 static_cast<void>(deck().duration());
                 static_cast<void>(deck().currentPosition());
                 static_cast<void>(deck().fileName());
             }
         },
         0},
        {"two ticks",
         [&] {
             deck().followOutput();
             deck().followOutput();
         },
         1},
        {"the next file", [&] { deck().setFileName(good); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A share of its own: a released share holds nothing again.
        TempDir share, dir;
        std::ofstream(share.file("hang-late.mp3"), std::ios::binary) << std::string(9000, 'x');
        HangingMount late(share.path(), dir.path());
        const std::string broken = late.path("hang-late.mp3");
        const std::size_t before = rig.errors.count();
        deck().setFileName(broken);
        deck().waitForOpenAtMost(0ms);
        deck().play();
        ASSERT_TRUE(waitFor([&] { return late.holds("hang-late.mp3"); }, 10s));
        late.release();
        ASSERT_TRUE(waitFor([&] { return !deck().stillOpening(); }, 5s));
        c.step();
        const std::vector<std::string> all = rig.errors.taken();
        const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(before),
                                             all.end());
        ASSERT_EQ(lines.size(), c.lines) << ::testing::PrintToString(lines);
        for (const std::string& line : lines)
            EXPECT_EQ(line.rfind("Cannot play " + broken, 0), 0u) << line;
        deck().setFileName(good);  // off the share before it goes
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, Mp3DeckHungFile,
                         ::testing::Values(PauseQueue::Kept, PauseQueue::Dropped), pauseQueueName);

}  // namespace
