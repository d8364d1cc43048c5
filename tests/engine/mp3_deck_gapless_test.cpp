// The cued next file: joined to the last sample of the current one, taken up by setting and
// playing it, and dropped by any other command as if it had never been given.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <thread>

#include "support/fade_in.h"
#include "support/manual_deck_rig.h"
#include "support/open_counter.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;

enum class From { Silence, Join };

// Largest difference between played frames and mpg123's samples of a stereo file, over the
// shorter of the two: a start from silence rises, a file joined to the last goes on as it is.
double worstAgainst(std::span<const StereoFrame> played, const DecodedAudio& reference,
                    From from = From::Silence) {
    double worst = 0;
    for (std::size_t i = 0; i < std::min(played.size(), reference.frames()); ++i) {
        const float g = from == From::Silence ? fadeInAt(i) : 1.0f;
        worst = std::max({worst, double(std::fabs(played[i].left - g * reference.samples[2 * i])),
                          double(std::fabs(played[i].right - g * reference.samples[2 * i + 1]))});
    }
    return worst;
}

class Mp3DeckGapless : public ::testing::Test {
protected:
    Mp3Deck& deck() { return rig.deck(); }
    TempDir dir;
    const std::string a = makeToneMp3(dir.path(), "a.mp3", 440, 2, {.rate = 48000});
    const std::string b = makeToneMp3(dir.path(), "b.mp3", 660, 2, {.rate = 48000});
    ManualDeckRig rig{48000};
};

TEST_F(Mp3DeckGapless, TheCuedFileFollowsTheLastSampleAndIsTakenUpWithoutOpeningItAgain) {
    const DecodedAudio referenceA = decodeWithMpg123(a);
    const DecodedAudio referenceB = decodeWithMpg123(b);
    OpenCounter opensOfB(b);
    deck().setFileName(a);
    deck().play();
    deck().cueNext(b);
    auto played = rig.renderUntilStopped(10 * 48000);
    EXPECT_EQ(deck().playState(), Deck::Stopped);  // the track ended, as always
    ASSERT_GE(played.size(), referenceA.frames());
    const std::size_t ofB = played.size() - referenceA.frames();

    // What the watch's next-file step does.
    deck().setFileName(b);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    deck().play();
    EXPECT_EQ(deck().playState(), Deck::Playing);
    EXPECT_NEAR(deck().currentPosition(), double(ofB) / 48000, 1e-9);
    EXPECT_NEAR(deck().duration(), double(referenceB.frames()) / 48000, 1e-9);
    const auto rest = rig.renderUntilStopped(10 * 48000);
    played.insert(played.end(), rest.begin(), rest.end());

    ASSERT_GE(played.size(), referenceA.frames() + referenceB.frames());
    EXPECT_LT(worstAgainst(std::span(played).first(referenceA.frames()), referenceA), 1e-6);
    EXPECT_LT(worstAgainst(std::span(played).subspan(referenceA.frames()), referenceB, From::Join),
              1e-6);
    EXPECT_EQ(opensOfB.take(), 1);
    EXPECT_TRUE(rig.errors.taken().empty());
}

// Cued after the current file has been decoded to its end (a short track): still joined.
TEST_F(Mp3DeckGapless, ACueForADecodedTrackStillJoinsIt) {
    const std::string shortA = makeToneMp3(dir.path(), "short.mp3", 440, 0.3, {.rate = 48000});
    const DecodedAudio referenceA = decodeWithMpg123(shortA);
    const DecodedAudio referenceB = decodeWithMpg123(b);
    deck().setFileName(shortA);
    deck().play();
    const DeckStream& stream = deck().stream();
    auto endPublished = [&] {
        return DeckStream::epochOf(stream.endMark()) == stream.control().epoch;
    };
    for (int i = 0; i < 5000 && !endPublished(); ++i) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(endPublished());
    deck().cueNext(b);
    for (int i = 0; i < 5000 && stream.continuation() != stream.endMark(); ++i)
        std::this_thread::sleep_for(1ms);
    auto played = rig.renderUntilStopped(10 * 48000);
    deck().setFileName(b);
    deck().play();
    const auto rest = rig.renderUntilStopped(10 * 48000);
    played.insert(played.end(), rest.begin(), rest.end());
    EXPECT_LT(worstAgainst(std::span(played).first(referenceA.frames()), referenceA), 1e-6);
    EXPECT_LT(worstAgainst(std::span(played).subspan(referenceA.frames()), referenceB, From::Join),
              1e-6);
}

// At another rate the resampler runs on through the join: no gap, and the files last as long
// as they did.
TEST_F(Mp3DeckGapless, AJoinThroughTheResamplerHasNoGap) {
    const std::string c = makeToneMp3(dir.path(), "c.mp3", 440, 2, {.rate = 44100});
    const std::string d = makeToneMp3(dir.path(), "d.mp3", 440, 2, {.rate = 44100});
    const std::size_t framesC = decodeWithMpg123(c).frames();
    const std::size_t framesD = decodeWithMpg123(d).frames();
    deck().setFileName(c);
    deck().play();
    deck().cueNext(d);
    auto played = rig.renderUntilStopped(10 * 48000);
    deck().setFileName(d);
    deck().play();
    const auto rest = rig.renderUntilStopped(10 * 48000);
    played.insert(played.end(), rest.begin(), rest.end());
    const auto left = leftOf(played);
    EXPECT_NEAR(double(endOfSound(left, 1e-3f)), double(framesC + framesD) * 48000 / 44100, 2);
    const std::size_t join = std::size_t(std::llround(double(framesC) * 48000 / 44100));
    // Windows of one period of the tone (RMS 0.35) around the join: a gap of 2 ms would show.
    for (std::size_t at = join - 480; at < join + 480; at += 24)
        EXPECT_GT(rms(std::span(left).subspan(at, 109)), 0.25) << at;
}

// Whatever else happens instead, the cued file is never heard and the deck does what it
// always did.
TEST_F(Mp3DeckGapless, AnyOtherCommandDropsTheCue) {
    const std::string c = makeToneMp3(dir.path(), "c.mp3", 880, 1, {.rate = 48000});
    const DecodedAudio referenceA = decodeWithMpg123(a);
    struct Order {
        const char* name;
        std::function<void(Mp3Deck&)> give;
    };
    const Order orders[] = {
        {"stop, then play",
         [](Mp3Deck& d) {
             d.stop();
             d.play();
         }},
        {"step back", [](Mp3Deck& d) { d.stepBack(); }},
        {"another file",
         [&](Mp3Deck& d) {
             d.setFileName(c);
             d.play();
         }},
        {"withdrawn", [](Mp3Deck& d) { d.cueNext(""); }},
        {"pause and play",
         [](Mp3Deck& d) {
             d.pause();
             d.play();
         }},  // keeps it: same track
    };
    for (const Order& order : orders) {
        ManualDeckRig own(48000);
        Mp3Deck& deck = own.deck();
        deck.setFileName(a);
        deck.play();
        own.render(48000);
        deck.cueNext(b);
        own.render(4800);
        order.give(deck);
        auto played = own.renderUntilStopped(10 * 48000);
        const auto after = own.render(24000);
        played.insert(played.end(), after.begin(), after.end());
        const auto left = leftOf(played);
        const std::string name = order.name;
        EXPECT_EQ(toneAmplitude(left, 48000, 660) > 0.01, name == "pause and play") << name;
        EXPECT_EQ(deck.playState(), Deck::Stopped) << name;
        if (name == "stop, then play") {
            EXPECT_LT(worstAgainst(played, referenceA), 1e-6) << "from the start again";
        }
        if (name == "another file") {
            EXPECT_GT(toneAmplitude(left, 48000, 880), 0.2) << name;
        }
        EXPECT_TRUE(own.errors.taken().empty()) << order.name;
    }
}

// A cued file that cannot be opened changes nothing until it is set and played: then it is
// reported once, as any other, without opening it again.
TEST_F(Mp3DeckGapless, ACuedFileThatFailsIsReportedWhenItIsPlayed) {
    const std::string broken = dir.file("broken.mp3");
    std::ofstream(broken, std::ios::binary) << std::string(50000, 'x');
    OpenCounter opens(broken);
    deck().setFileName(a);
    deck().play();
    deck().cueNext(broken);
    const auto played = rig.renderUntilStopped(10 * 48000);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    EXPECT_TRUE(rig.errors.taken().empty());
    deck().setFileName(broken);
    deck().play();
    // Usually with the click; on a loaded machine a tick or two later, as the watch finds it.
    EXPECT_TRUE(
        waitFor([&] { return deck().playState() == Deck::Stopped; }, std::chrono::seconds(20)));
    const auto lines = rig.errors.taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Cannot play " + broken + ": not an MP3 file");
    EXPECT_EQ(opens.take(), 1);
}

// When nobody takes the cued file up, it falls silent within half a second, and the deck
// plays its own track again on the next play.
TEST_F(Mp3DeckGapless, ACuedFileNobodyTakesUpFallsSilent) {
    const DecodedAudio referenceA = decodeWithMpg123(a);
    deck().setFileName(a);
    deck().play();
    deck().cueNext(b);
    rig.renderUntilStopped(10 * 48000);
    EXPECT_EQ(deck().currentPosition(), 0);
    const auto left = leftOf(rig.render(48000));
    EXPECT_LE(endOfSound(left, 1e-3f), 24000u + ManualDeckRig::kBuffer);
    EXPECT_EQ(deck().playState(), Deck::Stopped);
    deck().play();
    EXPECT_LT(worstAgainst(rig.render(4800), referenceA), 1e-6);
}

}  // namespace
